// The settings dialog and the about box, live: the real DLL under Wine on a
// private X display, driven by the messages that a user's clicks and keys
// produce, read back from the windows and from the settings file.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/plugin_loader.h"
#include "support/settings_file.h"
#include "ui/resource_ids.h"

namespace tev::testing {
namespace {

constexpr UINT kRefreshControls = 0x0590;

// Xvfb runs no window manager, and Wine waits two seconds for one whenever it
// hides a window that it lets a manager handle. Wine places this program's
// windows itself instead, except for a person's live session on a desktop.
// The X11 driver reads the setting when it starts, which is after this runs.
const bool windows_placed_by_wine = [] {
  const bool on_desktop = std::getenv("TEV_LIVE_DIALOG") != nullptr;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const char* name = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
  const std::string key_name = std::string("Software\\Wine\\AppDefaults\\") + name + "\\X11 Driver";
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) {
    return false;
  }
  RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(on_desktop ? "Y" : "N"), 2);
  RegCloseKey(key);
  return !on_desktop;
}();

constexpr wchar_t kSettingsCaption[] = L"ZRL_TEVPlugin";


bool IsDialogClass(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return std::wcscmp(name, L"#32770") == 0;
}

// Runs everything queued for this thread the way a host's loop does: keys
// meant for a dialog go through IsDialogMessage.
void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsDialogClass(root) && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    Pump();
    Sleep(10);
  }
}

struct DialogSearch {
  const wchar_t* caption;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<DialogSearch*>(context);
  wchar_t text[64] = {};
  GetWindowTextW(window, text, 64);
  if (IsDialogClass(window) && std::wcscmp(text, search->caption) == 0) search->found.push_back(window);
  return TRUE;
}

// Dialog windows of this thread with the given caption.
std::vector<HWND> ThreadDialogs(const wchar_t* caption) {
  DialogSearch search{caption, {}};
  EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND MakeHostWindow(int x, int y, int width, int height) {
  static const ATOM host_class = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = L"TevTestHost";
    return RegisterClassW(&wc);
  }();
  return CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(host_class)), L"TV host",
                         WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

// Settings as the user enters them, and the texts they must show as.
struct Values {
  int proc, corr, brightness, contrast;
  int enable[8], shift[8], level[8];
};
constexpr Values kEdited = {1, 1, 37, -12, {1, 0, 1, 1, 0, 1, 0, 1},
                            {25, -1000, 0, 7, 1000, -1, 333, 12}, {-7, 100, -100, 0, 50, 1, -1, 3}};
const wchar_t* const kEditedShiftTexts[8] = {L"2.5", L"-100.0", L"0.0", L"0.7", L"100.0", L"-0.1", L"33.3", L"1.2"};
const wchar_t* const kEditedLevelTexts[8] = {L"-7", L"100", L"-100", L"0", L"50", L"1", L"-1", L"3"};
constexpr Values kDefaults = {};
const wchar_t* const kDefaultShiftTexts[8] = {L"0.0", L"0.0", L"0.0", L"0.0", L"0.0", L"0.0", L"0.0", L"0.0"};
const wchar_t* const kDefaultLevelTexts[8] = {L"0", L"0", L"0", L"0", L"0", L"0", L"0", L"0"};

// Key lines of one section of the settings file.
std::map<std::string, std::string> FileSection(const std::string& section) {
  std::map<std::string, std::string> keys;
  std::istringstream lines(ReadWholeFile(SettingsFilePath()));
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inside = line == "[" + section + "]";
    } else if (inside && line.find('=') != std::string::npos) {
      keys[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
  }
  return keys;
}

void ExpectFileHolds(const std::string& section, const Values& v) {
  std::map<std::string, std::string> keys = FileSection(section);
  ASSERT_FALSE(keys.empty()) << "no section [" << section << "] in\n" << ReadWholeFile(SettingsFilePath());
  EXPECT_EQ(keys["ProcEnable"], std::to_string(v.proc));
  EXPECT_EQ(keys["CorrEnable"], std::to_string(v.corr));
  EXPECT_EQ(keys["Brightness"], std::to_string(v.brightness));
  EXPECT_EQ(keys["Contrast"], std::to_string(v.contrast));
  for (int n = 1; n <= 8; ++n) {
    const std::string step = "Step" + std::to_string(n) + "_";
    EXPECT_EQ(keys[step + "Enable"], std::to_string(v.enable[n - 1])) << step;
    EXPECT_EQ(keys[step + "Shift"], std::to_string(v.shift[n - 1])) << step;
    EXPECT_EQ(keys[step + "Level"], std::to_string(v.level[n - 1])) << step;
  }
}

// One load of the plugin with a host window, initialised and formatted.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(""); }

  void TearDown() override { Stop(); }

  void Start(const std::string& settings_text) {
    settings_ = std::make_unique<ScopedSettingsFile>(settings_text);
    plugin_ = std::make_unique<LoadedPlugin>();
    ASSERT_TRUE(plugin_->ok()) << "cannot load " << WindowsPathFromEnv("TEV_DLL");
    host_ = MakeHostWindow(200, 150, 640, 480);
    InitKnowingEveryChannel(d());
    FrameFormat format{16, 2, 2, 0, 0};
    d().SetFormat(&format);
    shut_down_ = false;
  }

  void Stop() {
    if (plugin_ && plugin_->ok() && !shut_down_) Shutdown();
    for (HWND window : extra_windows_) DestroyWindow(window);
    extra_windows_.clear();
    if (host_) DestroyWindow(host_);
    host_ = nullptr;
    Pump();
    plugin_.reset();
    settings_.reset();
  }

  void Restart(const std::string& settings_text) {
    Stop();
    Start(settings_text);
  }

  const PluginDescriptor& d() const { return plugin_->d(); }

  void Shutdown() {
    d().FreeBuffers();
    d().Shutdown();
    shut_down_ = true;
    Pump();
  }

  HWND NewHostWindow(int x, int y, int width, int height) {
    HWND window = MakeHostWindow(x, y, width, height);
    extra_windows_.push_back(window);
    return window;
  }

  // ShowDialog as the host calls it; returns the one settings dialog window.
  HWND Show(HWND owner) {
    DialogHostInfo info{owner};
    d().ShowDialog(&info);
    Pump();
    std::vector<HWND> dialogs = ThreadDialogs(kSettingsCaption);
    dialog_ = dialogs.size() == 1 ? dialogs[0] : nullptr;
    return dialog_;
  }
  HWND Show() { return Show(host_); }

  bool DialogOpen() const { return !ThreadDialogs(kSettingsCaption).empty(); }

  void Frame(const Channel& channel) {
    FrameInfo frame = MakeFrame(pixels_.data(), channel);
    d().ProcessFrame(&frame);
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::wstring Text(int id) const {
    wchar_t text[256] = {};
    GetDlgItemTextW(dialog_, id, text, 256);
    return text;
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  int Checked(int id) const { return static_cast<int>(SendMessageW(Item(id), BM_GETCHECK, 0, 0)); }
  int SpinPosition(int id) const { return static_cast<short>(LOWORD(SendMessageW(Item(id), UDM_GETPOS, 0, 0))); }

  void Click(int id) {
    SendMessageW(Item(id), BM_CLICK, 0, 0);
    Pump();
  }
  void SetBox(int id, int state) {
    if (Checked(id) != state) Click(id);
  }
  void PressKey(HWND target, UINT key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    Pump();
  }
  // Puts the spin next to `value` and lets an arrow key on its buddy make the
  // last step, so the value arrives through the spin's own WM_VSCROLL.
  void SpinTo(int spin_id, int value) {
    HWND spin = Item(spin_id);
    HWND buddy = reinterpret_cast<HWND>(SendMessageW(spin, UDM_GETBUDDY, 0, 0));
    const LRESULT range = SendMessageW(spin, UDM_GETRANGE, 0, 0);
    const int minimum = static_cast<short>(HIWORD(range));
    const bool from_below = value > minimum;
    SendMessageW(spin, UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(from_below ? value - 1 : value + 1), 0));
    PressKey(buddy, from_below ? VK_UP : VK_DOWN);
  }
  // The dialog redrawn from the stored values, which shows what was stored.
  void Reload() {
    PostMessageW(dialog_, kRefreshControls, 0, 0);
    Pump();
  }

  void Enter(const Values& v) {
    SetBox(IDC_PROC_ENABLE, 1);
    SetBox(IDC_CORR_ENABLE, 1);
    SpinTo(IDC_BRIGHTNESS_SPIN, v.brightness);
    SpinTo(IDC_CONTRAST_SPIN, v.contrast);
    for (int n = 0; n < 8; ++n) {
      SetBox(kStepRowIds[n].enable, 1);
      SpinTo(kStepRowIds[n].shift_spin, v.shift[n]);
      SpinTo(kStepRowIds[n].level_spin, v.level[n]);
    }
    for (int n = 0; n < 8; ++n) SetBox(kStepRowIds[n].enable, v.enable[n]);
    SetBox(IDC_CORR_ENABLE, v.corr);
    SetBox(IDC_PROC_ENABLE, v.proc);
  }

  void ExpectShows(const Values& v, const wchar_t* const shifts[8], const wchar_t* const levels[8]) {
    EXPECT_EQ(Checked(IDC_PROC_ENABLE), v.proc);
    EXPECT_EQ(Checked(IDC_CORR_ENABLE), v.corr);
    EXPECT_EQ(Text(IDC_BRIGHTNESS_EDIT), std::to_wstring(v.brightness));
    EXPECT_EQ(Text(IDC_CONTRAST_EDIT), std::to_wstring(v.contrast));
    EXPECT_EQ(SpinPosition(IDC_BRIGHTNESS_SPIN), v.brightness);
    EXPECT_EQ(SpinPosition(IDC_CONTRAST_SPIN), v.contrast);
    for (int n = 0; n < 8; ++n) {
      EXPECT_EQ(Checked(kStepRowIds[n].enable), v.enable[n]) << "step " << n + 1;
      EXPECT_EQ(Text(kStepRowIds[n].shift_edit), shifts[n]) << "step " << n + 1;
      EXPECT_EQ(Text(kStepRowIds[n].level_edit), levels[n]) << "step " << n + 1;
      EXPECT_EQ(SpinPosition(kStepRowIds[n].shift_spin), v.shift[n]) << "step " << n + 1;
      EXPECT_EQ(SpinPosition(kStepRowIds[n].level_spin), v.level[n]) << "step " << n + 1;
    }
  }

  std::unique_ptr<ScopedSettingsFile> settings_;
  std::unique_ptr<LoadedPlugin> plugin_;
  HWND host_ = nullptr;
  HWND dialog_ = nullptr;
  std::vector<HWND> extra_windows_;
  std::vector<uint8_t> pixels_ = std::vector<uint8_t>(16 * 2 * 2, 0x80);
  bool shut_down_ = false;
};

// --- resources and the control table --------------------------------------

TEST_F(DialogTest, ResourcesAreRussianAndThePictureIsA32x32TrueColourDib) {
  const WORD russian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
  ASSERT_EQ(russian, 1049);
  EXPECT_NE(FindResourceExA(plugin_->module(), RT_DIALOG, MAKEINTRESOURCEA(IDD_SETTINGS), russian), nullptr);
  EXPECT_NE(FindResourceExA(plugin_->module(), RT_DIALOG, MAKEINTRESOURCEA(IDD_ABOUT), russian), nullptr);
  HRSRC picture = FindResourceExA(plugin_->module(), RT_BITMAP, MAKEINTRESOURCEA(IDB_PLUGIN_PICTURE), russian);
  ASSERT_NE(picture, nullptr);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(plugin_->module(), picture)));
  ASSERT_EQ(SizeofResource(plugin_->module(), picture), sizeof(BITMAPINFOHEADER) + 32 * 32 * 3);
  EXPECT_EQ(header->biSize, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(header->biWidth, 32);
  EXPECT_EQ(header->biHeight, 32) << "positive: rows bottom-up";
  EXPECT_EQ(header->biBitCount, 24);
  EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(header->biXPelsPerMeter, 2834);
  EXPECT_EQ(header->biYPelsPerMeter, 2834);
  EXPECT_EQ(header->biClrUsed, 0u);
}

enum Kind { Edit, Spin, Push, Group, Label, LeftCheck, Check, MultiLineCheck, NameStatic };
struct KindTraits {
  const wchar_t* window_class;
  LONG style;
  LONG mask;  // the bits that define the kind; state bits (visible, disabled) are not compared
};
const KindTraits kKinds[] = {
    {L"Edit", ES_READONLY | ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP,
     ES_READONLY | ES_NUMBER | ES_AUTOHSCROLL | ES_MULTILINE | WS_TABSTOP},
    {L"msctls_updown32", UDS_ALIGNRIGHT | UDS_ARROWKEYS,
     UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_WRAP | WS_TABSTOP},
    {L"Button", BS_PUSHBUTTON | WS_TABSTOP, BS_TYPEMASK | WS_TABSTOP},
    {L"Button", BS_GROUPBOX, BS_TYPEMASK | WS_TABSTOP},
    {L"Static", SS_LEFT, SS_TYPEMASK | WS_TABSTOP},
    {L"Button", BS_AUTOCHECKBOX | BS_LEFTTEXT | WS_TABSTOP, BS_TYPEMASK | BS_LEFTTEXT | BS_MULTILINE | WS_TABSTOP},
    {L"Button", BS_AUTOCHECKBOX | WS_TABSTOP, BS_TYPEMASK | BS_LEFTTEXT | BS_MULTILINE | WS_TABSTOP},
    {L"Button", BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP, BS_TYPEMASK | BS_LEFTTEXT | BS_MULTILINE | WS_TABSTOP},
    {L"Static", SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, SS_TYPEMASK | SS_CENTERIMAGE | SS_SUNKEN | WS_TABSTOP},
};

struct ControlRow {
  int id;  // -1: no id
  Kind kind;
  const wchar_t* text;
  RECT template_rect;  // x, y, width, height in dialog units
};

// Template order, which is the tab order.
const ControlRow kSettingsControls[] = {
    {5012, Edit, nullptr, {37, 58, 33, 12}},
    {5011, Spin, nullptr, {62, 58, 11, 12}},
    {5002, Push, L"ОК", {132, 94, 68, 13}},
    {5003, Push, L"Отмена", {132, 112, 68, 13}},
    {-1, Group, L"Настройки фильтра", {2, 38, 126, 130}},
    {5008, Push, L"О плагине", {132, 130, 68, 13}},
    {-1, Group, L"Канал", {132, 1, 68, 36}},
    {5013, NameStatic, L"Channel 1", {137, 13, 57, 20}},
    {5016, Edit, nullptr, {85, 58, 33, 12}},
    {5017, Spin, nullptr, {110, 58, 11, 12}},
    {-1, Label, L"Сдвиг (%):", {38, 48, 34, 8}},
    {-1, Label, L"Уровень (%):", {81, 48, 44, 8}},
    {5018, LeftCheck, L"1", {5, 59, 20, 10}},
    {5019, Edit, nullptr, {37, 71, 33, 12}},
    {5020, Spin, nullptr, {62, 71, 11, 12}},
    {5021, Edit, nullptr, {85, 71, 33, 12}},
    {5022, Spin, nullptr, {110, 71, 11, 12}},
    {5023, LeftCheck, L"2", {5, 72, 20, 10}},
    {5024, Edit, nullptr, {37, 84, 33, 12}},
    {5025, Spin, nullptr, {62, 84, 11, 12}},
    {5026, Edit, nullptr, {85, 84, 33, 12}},
    {5027, Spin, nullptr, {110, 84, 11, 12}},
    {5028, LeftCheck, L"3", {5, 85, 20, 10}},
    {5029, Edit, nullptr, {37, 98, 33, 12}},
    {5030, Spin, nullptr, {62, 98, 11, 12}},
    {5031, Edit, nullptr, {85, 98, 33, 12}},
    {5032, Spin, nullptr, {110, 98, 11, 12}},
    {5033, LeftCheck, L"4", {5, 99, 20, 10}},
    {5034, Edit, nullptr, {37, 111, 33, 12}},
    {5035, Spin, nullptr, {62, 111, 11, 12}},
    {5036, Edit, nullptr, {85, 111, 33, 12}},
    {5037, Spin, nullptr, {110, 111, 11, 12}},
    {5038, LeftCheck, L"5", {5, 112, 20, 10}},
    {5039, Edit, nullptr, {37, 124, 33, 12}},
    {5040, Spin, nullptr, {62, 124, 11, 12}},
    {5041, Edit, nullptr, {85, 124, 33, 12}},
    {5042, Spin, nullptr, {110, 124, 11, 12}},
    {5043, LeftCheck, L"6", {5, 125, 20, 10}},
    {5054, Edit, nullptr, {37, 138, 33, 12}},
    {5055, Spin, nullptr, {62, 138, 11, 12}},
    {5056, Edit, nullptr, {85, 138, 33, 12}},
    {5057, Spin, nullptr, {110, 138, 11, 12}},
    {5058, LeftCheck, L"7", {5, 139, 20, 10}},
    {5059, Edit, nullptr, {37, 151, 33, 12}},
    {5060, Spin, nullptr, {62, 151, 11, 12}},
    {5061, Edit, nullptr, {85, 151, 33, 12}},
    {5062, Spin, nullptr, {110, 151, 11, 12}},
    {5063, LeftCheck, L"8", {5, 152, 20, 10}},
    {-1, Label, L"Шаг:", {13, 48, 16, 8}},
    {5047, Check, L"Стоп-кадр", {140, 75, 50, 10}},
    {-1, Group, L"Предварительная коррекция", {2, 1, 126, 36}},
    {-1, Label, L"Яркость (%):", {34, 11, 43, 8}},
    {-1, Label, L"Контраст (%):", {80, 11, 46, 8}},
    {-1, Label, L"Вкл.", {14, 11, 16, 8}},
    {5064, Edit, nullptr, {37, 21, 33, 12}},
    {5065, Spin, nullptr, {62, 21, 11, 12}},
    {5066, Edit, nullptr, {85, 21, 33, 12}},
    {5067, Spin, nullptr, {110, 21, 11, 12}},
    {5068, LeftCheck, L"", {9, 23, 16, 8}},
    {5006, MultiLineCheck, L"Включить обработку", {140, 46, 53, 18}},
    {-1, Group, L"", {132, 39, 68, 28}},
    {-1, Group, L"", {132, 67, 68, 23}},
};

TEST_F(DialogTest, LiveWindowHasTheTemplatesControlsInTabOrder) {
  // Step 1 switched on, so that its shift edit can take the focus.
  Restart("[DEFAULT]\r\nProcEnable=1\r\nStep1_Enable=1\r\n");
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  EXPECT_EQ(GetWindow(dialog_, GW_OWNER), host_);
  const LONG style = GetWindowLongW(dialog_, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_POPUP | WS_CHILD), WS_CAPTION | WS_SYSMENU);
  EXPECT_TRUE(GetWindowLongW(dialog_, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(IsWindowVisible(dialog_));

  HWND child = GetWindow(dialog_, GW_CHILD);
  for (const ControlRow& row : kSettingsControls) {
    ASSERT_NE(child, nullptr) << "missing control " << row.id;
    const KindTraits& kind = kKinds[row.kind];
    SCOPED_TRACE("control " + std::to_string(row.id) + " at template x,y " +
                 std::to_string(row.template_rect.left) + "," + std::to_string(row.template_rect.top));
    EXPECT_EQ(GetDlgCtrlID(child), row.id);
    wchar_t window_class[64] = {};
    GetClassNameW(child, window_class, 64);
    EXPECT_EQ(_wcsicmp(window_class, kind.window_class), 0) << "class";
    EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & kind.mask, kind.style) << "style";
    if (row.text) {
      wchar_t text[128] = {};
      GetWindowTextW(child, text, 128);
      EXPECT_STREQ(text, row.text);
    }
    // Where the template put it; a spin moves to its buddy's right edge and
    // narrows the buddy, so those two keep only their top left corners.
    RECT expected = row.template_rect;  // x, y, width, height, each mapped on its own as the dialog manager does
    MapDialogRect(dialog_, &expected);
    expected.right += expected.left;
    expected.bottom += expected.top;
    RECT actual = WindowRect(child);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&actual), 2);
    if (row.kind != Spin) {
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
    }
    if (row.kind != Spin && row.kind != Edit) {
      EXPECT_EQ(actual.right, expected.right);
      EXPECT_EQ(actual.bottom, expected.bottom);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "an extra control";

  // Spins are attached to their edits with their ranges.
  struct Buddy {
    int spin, edit, minimum, maximum;
  } buddies[] = {{IDC_BRIGHTNESS_SPIN, IDC_BRIGHTNESS_EDIT, -100, 100}, {IDC_CONTRAST_SPIN, IDC_CONTRAST_EDIT, -100, 100}};
  for (const Buddy& b : buddies) {
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(Item(b.spin), UDM_GETBUDDY, 0, 0)), Item(b.edit));
  }
  for (const StepRowIds& row : kStepRowIds) {
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(Item(row.shift_spin), UDM_GETBUDDY, 0, 0)), Item(row.shift_edit));
    EXPECT_EQ(SendMessageW(Item(row.shift_spin), UDM_GETRANGE, 0, 0), MAKELONG(1000, -1000));
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(Item(row.level_spin), UDM_GETBUDDY, 0, 0)), Item(row.level_edit));
    EXPECT_EQ(SendMessageW(Item(row.level_spin), UDM_GETRANGE, 0, 0), MAKELONG(100, -100));
  }
  EXPECT_EQ(SendMessageW(Item(IDC_BRIGHTNESS_SPIN), UDM_GETRANGE, 0, 0), MAKELONG(100, -100));

  // Step 1's shift edit takes the focus first, and Tab goes on to OK.
  EXPECT_EQ(GetFocus(), Item(IDC_STEP1_SHIFT_EDIT));
  EXPECT_EQ(GetNextDlgTabItem(dialog_, Item(IDC_STEP1_SHIFT_EDIT), FALSE), Item(IDC_OK_BUTTON));
}

// --- values and texts -------------------------------------------------------

TEST_F(DialogTest, SpinsStoreTheirPositionsAndTheEditsShowThem) {
  // Opened before any frame: the channel placeholder gives way to the empty name.
  ASSERT_NE(Show(), nullptr);
  EXPECT_EQ(Text(IDC_CHANNEL_NAME), L"");
  ExpectShows(kDefaults, kDefaultShiftTexts, kDefaultLevelTexts);

  Channel channel(1001, "Channel 1");
  Frame(channel);
  Pump();
  EXPECT_EQ(Text(IDC_CHANNEL_NAME), L"Channel 1");

  Enter(kEdited);
  ExpectShows(kEdited, kEditedShiftTexts, kEditedLevelTexts);
  Reload();  // what the store holds, not what the controls kept
  ExpectShows(kEdited, kEditedShiftTexts, kEditedLevelTexts);

  // The spins stop at their range ends (rows that are switched on).
  struct End {
    int spin, edit, value;
    UINT key;
    const wchar_t* text;
  } ends[] = {{IDC_STEP1_SHIFT_SPIN, IDC_STEP1_SHIFT_EDIT, 1000, VK_UP, L"100.0"},
              {IDC_STEP3_SHIFT_SPIN, IDC_STEP3_SHIFT_EDIT, -1000, VK_DOWN, L"-100.0"},
              {IDC_STEP4_LEVEL_SPIN, IDC_STEP4_LEVEL_EDIT, -100, VK_DOWN, L"-100"},
              {IDC_BRIGHTNESS_SPIN, IDC_BRIGHTNESS_EDIT, 100, VK_UP, L"100"}};
  for (const End& end : ends) {
    SpinTo(end.spin, end.value);
    PressKey(Item(end.edit), end.key);
    Reload();
    EXPECT_EQ(Text(end.edit), end.text) << end.spin;
  }

  // A negative position from the spin's own message is stored sign-extended.
  SendMessageW(dialog_, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(-5)),
               reinterpret_cast<LPARAM>(Item(IDC_STEP6_LEVEL_SPIN)));
  // Other scroll codes carry no new value.
  SendMessageW(dialog_, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 77), reinterpret_cast<LPARAM>(Item(IDC_STEP6_LEVEL_SPIN)));
  Reload();
  EXPECT_EQ(Text(IDC_STEP6_LEVEL_EDIT), L"-5");

  Click(IDC_OK_BUTTON);
  Shutdown();
  Values saved = kEdited;
  saved.shift[0] = 1000;
  saved.shift[2] = -1000;
  saved.level[3] = -100;
  saved.brightness = 100;
  saved.level[5] = -5;
  ExpectFileHolds("1001", saved);
}

TEST_F(DialogTest, ProcessingSwitchGatesEveryDependentControl) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  Enter(kEdited);  // processing and correction on; steps 1, 3, 4, 6, 8 on

  auto expect_enabled = [&](bool processing) {
    EXPECT_EQ(Enabled(IDC_CORR_ENABLE), processing);
    for (int id : {IDC_BRIGHTNESS_SPIN, IDC_CONTRAST_SPIN, IDC_BRIGHTNESS_EDIT, IDC_CONTRAST_EDIT}) {
      EXPECT_EQ(Enabled(id), processing) << id;
    }
    for (int n = 0; n < 8; ++n) {
      const StepRowIds& row = kStepRowIds[n];
      EXPECT_EQ(Enabled(row.enable), processing) << "step " << n + 1;
      const bool on = processing && kEdited.enable[n];
      for (int id : {row.shift_edit, row.shift_spin, row.level_edit, row.level_spin}) {
        EXPECT_EQ(Enabled(id), on) << "step " << n + 1 << " control " << id;
      }
    }
    // Never disabled.
    for (int id : {IDC_PROC_ENABLE, IDC_FREEZE, IDC_CHANNEL_NAME, IDC_OK_BUTTON, IDC_CANCEL_BUTTON, IDC_ABOUT_BUTTON}) {
      EXPECT_TRUE(Enabled(id)) << id;
    }
  };
  expect_enabled(true);
  Click(IDC_PROC_ENABLE);
  expect_enabled(false);
  Click(IDC_PROC_ENABLE);
  expect_enabled(true);
  // The values were kept throughout.
  Reload();
  ExpectShows(kEdited, kEditedShiftTexts, kEditedLevelTexts);

  // Correction off: only its four controls go.
  Click(IDC_CORR_ENABLE);
  for (int id : {IDC_BRIGHTNESS_SPIN, IDC_CONTRAST_SPIN, IDC_BRIGHTNESS_EDIT, IDC_CONTRAST_EDIT}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(IDC_CORR_ENABLE));
  EXPECT_TRUE(Enabled(IDC_STEP1_SHIFT_EDIT));
}

TEST_F(DialogTest, OneStepClickStoresAllEightStepStates) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  Click(IDC_PROC_ENABLE);
  // Boxes 2..8 change without telling the dialog; the click on box 1 stores them all.
  const int states[8] = {1, 1, 0, 1, 0, 0, 1, 1};
  for (int n = 1; n < 8; ++n) SendMessageW(Item(kStepRowIds[n].enable), BM_SETCHECK, states[n], 0);
  Click(IDC_STEP1_ENABLE);
  Reload();
  for (int n = 0; n < 8; ++n) EXPECT_EQ(Checked(kStepRowIds[n].enable), states[n]) << "step " << n + 1;
  for (int n = 0; n < 8; ++n) EXPECT_EQ(Enabled(kStepRowIds[n].shift_spin), states[n] == 1) << "step " << n + 1;
}

// --- closing ----------------------------------------------------------------

TEST_F(DialogTest, EnterAndEscapeNeverClose) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  SpinTo(IDC_STEP1_LEVEL_SPIN, 9);
  for (int focus : {IDC_STEP1_SHIFT_EDIT, IDC_PROC_ENABLE}) {
    for (UINT key : {VK_RETURN, VK_ESCAPE}) {
      SetFocus(Item(focus));
      PressKey(Item(focus), key);
      ASSERT_TRUE(IsWindow(dialog_)) << "key " << key << " with focus on " << focus;
    }
  }
  SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  Pump();
  ASSERT_TRUE(IsWindow(dialog_));
  Reload();
  EXPECT_EQ(Text(IDC_STEP1_LEVEL_EDIT), L"9") << "nothing was undone either";
}

enum Closing { OkButton, CancelButton, CloseMessage, CloseBox };

void Close(HWND dialog, Closing how) {
  switch (how) {
    case OkButton: SendMessageW(GetDlgItem(dialog, IDC_OK_BUTTON), BM_CLICK, 0, 0); break;
    case CancelButton: SendMessageW(GetDlgItem(dialog, IDC_CANCEL_BUTTON), BM_CLICK, 0, 0); break;
    case CloseMessage: PostMessageW(dialog, WM_CLOSE, 0, 0); break;
    case CloseBox: PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); break;
  }
  Pump();
}

// Edits in two channels, one of them new, with a channel switch while open.
TEST_F(DialogTest, CancelAndTheCloseBoxUndoEveryEditOkKeepsThem) {
  const Values kSecond = {1, 0, -3, 4, {0, 1, 0, 0, 0, 0, 0, 0}, {0, 15, 0, 0, 0, 0, 0, 0}, {0, -20, 0, 0, 0, 0, 0, 0}};
  const wchar_t* const kSecondShifts[8] = {L"0.0", L"1.5", L"0.0", L"0.0", L"0.0", L"0.0", L"0.0", L"0.0"};
  const wchar_t* const kSecondLevels[8] = {L"0", L"-20", L"0", L"0", L"0", L"0", L"0", L"0"};
  for (Closing how : {OkButton, CancelButton, CloseMessage, CloseBox}) {
    SCOPED_TRACE(how);
    Restart("");
    Channel first(1001, "First"), second(1002, "Second");
    Frame(first);
    ASSERT_NE(Show(), nullptr);
    Enter(kEdited);
    Frame(second);  // new channel while open: it starts from the defaults
    Pump();
    ExpectShows(kDefaults, kDefaultShiftTexts, kDefaultLevelTexts);
    Enter(kSecond);
    Close(dialog_, how);
    ASSERT_FALSE(DialogOpen());

    const bool kept = how == OkButton;
    ASSERT_NE(Show(), nullptr);
    if (kept) ExpectShows(kSecond, kSecondShifts, kSecondLevels);
    else ExpectShows(kDefaults, kDefaultShiftTexts, kDefaultLevelTexts);
    Frame(first);
    Pump();
    if (kept) ExpectShows(kEdited, kEditedShiftTexts, kEditedLevelTexts);
    else ExpectShows(kDefaults, kDefaultShiftTexts, kDefaultLevelTexts);
    Click(IDC_OK_BUTTON);

    Shutdown();
    ExpectFileHolds("1001", kept ? kEdited : kDefaults);
    ExpectFileHolds("1002", kept ? kSecond : kDefaults);
  }
}

TEST_F(DialogTest, ShutdownWithTheDialogOpenKeepsTheEditsAndThePosition) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  Enter(kEdited);
  SetWindowPos(dialog_, nullptr, 321, 123, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Shutdown();
  EXPECT_FALSE(DialogOpen());
  ExpectFileHolds("1001", kEdited);
  std::map<std::string, std::string> position = FileSection("DIALOG");
  EXPECT_EQ(position["DlgWndPosX"], "321");
  EXPECT_EQ(position["DlgWndPosY"], "123");
}

TEST_F(DialogTest, SecondShowDialogFocusesTheOpenWindowAndKeepsItsSnapshot) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  HWND first = Show();
  ASSERT_NE(first, nullptr);
  SpinTo(IDC_STEP1_SHIFT_SPIN, 25);
  SetFocus(host_);
  HWND other_host = NewHostWindow(10, 10, 200, 100);
  EXPECT_EQ(Show(other_host), first) << "one window, the same one";
  EXPECT_EQ(ThreadDialogs(kSettingsCaption).size(), 1u);
  EXPECT_EQ(GetWindow(first, GW_OWNER), host_);
  HWND focus = GetFocus();
  EXPECT_TRUE(focus == first || IsChild(first, focus)) << "the dialog has the focus";
  // Cancel goes back to the first opening's snapshot: the edit before the second call is undone too.
  Click(IDC_CANCEL_BUTTON);
  ASSERT_FALSE(DialogOpen());

  // A later opening belongs to the window given in that call.
  ASSERT_NE(Show(other_host), nullptr);
  EXPECT_EQ(GetWindow(dialog_, GW_OWNER), other_host);
  EXPECT_EQ(Text(IDC_STEP1_SHIFT_EDIT), L"0.0");
}

// --- placement --------------------------------------------------------------

TEST_F(DialogTest, FirstOpeningIsCentredOverTheHostAndKeptOnTheScreen) {
  const int screen_width = GetSystemMetrics(SM_CXSCREEN), screen_height = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    const char* name;
    RECT host;  // left, top, width, height
  } cases[] = {{"middle", {200, 150, 640, 480}},
               {"past the bottom right", {screen_width - 100, screen_height - 80, 400, 300}},
               {"above and left of the screen", {-700, -600, 500, 400}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart("");
    HWND host = NewHostWindow(c.host.left, c.host.top, c.host.right, c.host.bottom);
    ASSERT_NE(Show(host), nullptr);
    const RECT d = WindowRect(dialog_), h = WindowRect(host);
    const int width = d.right - d.left, height = d.bottom - d.top;
    EXPECT_GE(d.left, 0);
    EXPECT_GE(d.top, 0);
    EXPECT_LE(d.right, screen_width);
    EXPECT_LE(d.bottom, screen_height);
    int x = (h.left + h.right) / 2 - width / 2, y = (h.top + h.bottom) / 2 - height / 2;
    if (x + width >= screen_width) x = screen_width - width;
    if (y + height >= screen_height) y = screen_height - height;
    EXPECT_NEAR(d.left, x < 0 ? 0 : x, 1);
    EXPECT_NEAR(d.top, y < 0 ? 0 : y, 1);
  }
}

TEST_F(DialogTest, AMovedDialogReopensWhereItWasLeft) {
  ASSERT_NE(Show(), nullptr);
  SetWindowPos(dialog_, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Click(IDC_OK_BUTTON);
  ASSERT_NE(Show(), nullptr);
  EXPECT_EQ(WindowRect(dialog_).left, 123);
  EXPECT_EQ(WindowRect(dialog_).top, 77);
}

TEST_F(DialogTest, SavedPositionsFromTheFile) {
  const int screen_width = GetSystemMetrics(SM_CXSCREEN), screen_height = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    int x, y;
    bool used;  // false: centred over the host instead
  } cases[] = {
      {412, 230, true},
      {-100, 50, true},  // only (-100, -100) means unsaved
      {-100, -100, false},
      {screen_width, 10, false},   // beyond a screen that has since shrunk
      {10, screen_height + 5, false},
      {-5000, -5000, false},  // nothing of the window would show
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    Restart("[DIALOG]\r\nDlgWndPosX=" + std::to_string(c.x) + "\r\nDlgWndPosY=" + std::to_string(c.y) + "\r\n");
    ASSERT_NE(Show(), nullptr);
    const RECT d = WindowRect(dialog_), h = WindowRect(host_);
    if (c.used) {
      EXPECT_EQ(d.left, c.x);
      EXPECT_EQ(d.top, c.y);
    } else {
      EXPECT_NEAR((d.left + d.right) / 2, (h.left + h.right) / 2, 1);
      EXPECT_NEAR((d.top + d.bottom) / 2, (h.top + h.bottom) / 2, 1);
    }
  }
}

// --- channel switches, freeze frame and the pipeline's message ----------------

TEST_F(DialogTest, ChannelSwitchWhileOpenReloadsEveryControlAndClearsTheFreeze) {
  Channel first(1001, "First"), second(1002, "Second");
  Frame(first);
  ASSERT_NE(Show(), nullptr);
  Enter(kEdited);
  Click(IDC_FREEZE);
  // Frames may come from another thread; the switch reaches the dialog as a
  // posted message (a sent one would wait here for ever).
  std::thread([&] { Frame(second); }).join();
  Pump();
  EXPECT_EQ(Text(IDC_CHANNEL_NAME), L"Second");
  EXPECT_EQ(Checked(IDC_FREEZE), 0);
  ExpectShows(kDefaults, kDefaultShiftTexts, kDefaultLevelTexts);
  EXPECT_FALSE(Enabled(IDC_CORR_ENABLE));
  Frame(first);
  Pump();
  EXPECT_EQ(Text(IDC_CHANNEL_NAME), L"First");
  ExpectShows(kEdited, kEditedShiftTexts, kEditedLevelTexts);
  EXPECT_TRUE(Enabled(IDC_STEP1_SHIFT_SPIN));
}

TEST_F(DialogTest, ClosingWhileFrozenLetsThePictureRunAgain) {
  for (Closing how : {OkButton, CloseBox}) {
    SCOPED_TRACE(how);
    Restart("");
    Channel channel(1001, "Channel 1");
    Frame(channel);
    ASSERT_NE(Show(), nullptr);
    Click(IDC_FREEZE);
    std::vector<uint8_t> frozen(pixels_.size(), 11);
    pixels_ = frozen;
    CopyCalls().clear();
    Frame(channel);  // captured
    EXPECT_EQ(CopyCalls().size(), 2u);
    pixels_.assign(pixels_.size(), 22);
    Frame(channel);  // held
    EXPECT_EQ(pixels_, frozen);

    Close(dialog_, how);
    ASSERT_FALSE(DialogOpen());
    CopyCalls().clear();
    pixels_.assign(pixels_.size(), 33);
    Frame(channel);
    EXPECT_TRUE(CopyCalls().empty());
    EXPECT_EQ(pixels_, std::vector<uint8_t>(pixels_.size(), 33));
    ASSERT_NE(Show(), nullptr);
    EXPECT_EQ(Checked(IDC_FREEZE), 0);
  }
}

TEST_F(DialogTest, FirstFramePostsOneRefreshAllAndAFurtherFrameNone) {
  ASSERT_NE(Show(), nullptr);  // its own RefreshAll is dispatched here
  Channel channel(1001, "Channel 1");
  auto take_refreshes = [&] {
    std::vector<MSG> taken;
    MSG msg;
    while (PeekMessageW(&msg, dialog_, kRefreshControls, kRefreshControls, PM_REMOVE)) taken.push_back(msg);
    return taken;
  };
  Frame(channel);
  std::vector<MSG> first = take_refreshes();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].wParam, 0u);
  EXPECT_EQ(first[0].lParam, 0);
  Frame(channel);
  EXPECT_TRUE(take_refreshes().empty());
}

// A host may open the dialog on a thread of its own and shut down from another.
TEST_F(DialogTest, ShutdownFromAnotherThreadClosesTheDialogOnItsOwnThread) {
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> done{false};
  HWND dialog = nullptr;
  std::thread ui([&] {
    DialogHostInfo info{nullptr};
    d().ShowDialog(&info);
    std::vector<HWND> dialogs = ThreadDialogs(kSettingsCaption);
    dialog = dialogs.size() == 1 ? dialogs[0] : nullptr;
    if (dialog) SetWindowPos(dialog, nullptr, 222, 111, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetEvent(opened);
    while (!done) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      Pump();
    }
  });
  WaitForSingleObject(opened, 10000);
  CloseHandle(opened);
  Shutdown();
  const bool closed = dialog && !IsWindow(dialog);
  done = true;
  ui.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(FileSection("DIALOG")["DlgWndPosX"], "222");
  EXPECT_EQ(FileSection("DIALOG")["DlgWndPosY"], "111");
}

// --- the about box ----------------------------------------------------------

enum AboutClosing { AboutOk, AboutEnter, AboutEscape };

struct AboutProbe {
  HWND settings = nullptr;
  AboutClosing closing = AboutOk;
  int boxes = 0;
  HWND first_box = nullptr;
  size_t most_boxes = 0;
  bool settings_enabled = true;
  HWND owner = nullptr;
  LONG style = 0, exstyle = 0;
  std::vector<std::wstring> texts;
  BITMAP picture{};
  SIZE picture_client{};
};
AboutProbe* probe = nullptr;

// Runs inside the about box's modal loop.
void CALLBACK ProbeAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  AboutProbe& p = *probe;
  std::vector<HWND> boxes = ThreadDialogs(L"");
  p.boxes = static_cast<int>(boxes.size());
  if (boxes.size() != 1) {
    for (HWND box : boxes) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  HWND box = p.first_box = boxes[0];
  p.settings_enabled = IsWindowEnabled(p.settings) != FALSE;
  p.owner = GetWindow(box, GW_OWNER);
  p.style = GetWindowLongW(box, GWL_STYLE);
  p.exstyle = GetWindowLongW(box, GWL_EXSTYLE);
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t window_class[16] = {};
    GetClassNameW(child, window_class, 16);
    const bool picture = _wcsicmp(window_class, L"Static") == 0 &&
                         (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
    if (!picture) {
      wchar_t text[128] = {};
      GetWindowTextW(child, text, 128);
      p.texts.push_back(text);
    } else {
      auto bitmap = reinterpret_cast<HBITMAP>(SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
      if (bitmap) GetObjectW(bitmap, sizeof(p.picture), &p.picture);
      RECT client{};
      GetClientRect(child, &client);
      p.picture_client = {client.right, client.bottom};
    }
  }
  // A second press of the about button while the box is up starts nothing
  // (a second box would run its own loop in here until the watch ends it).
  SendMessageW(p.settings, WM_COMMAND, MAKEWPARAM(IDC_ABOUT_BUTTON, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(p.settings, IDC_ABOUT_BUTTON)));
  HWND ok = GetDlgItem(box, IDOK);
  switch (p.closing) {
    case AboutOk: SendMessageW(ok, BM_CLICK, 0, 0); break;
    case AboutEnter: PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 1); break;
    case AboutEscape: PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 1); break;
  }
}

// Counts the about boxes while they run and ends every one but the first.
void CALLBACK WatchAboutBoxes(HWND, UINT, UINT_PTR, DWORD) {
  std::vector<HWND> boxes = ThreadDialogs(L"");
  probe->most_boxes = std::max(probe->most_boxes, boxes.size());
  for (HWND box : boxes) {
    if (probe->first_box && box != probe->first_box) EndDialog(box, IDCANCEL);
  }
}

// Ends a box that the probe could not close, so a failure cannot hang the run.
void CALLBACK EndStuckAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  for (HWND box : ThreadDialogs(L"")) EndDialog(box, IDCANCEL);
}

TEST_F(DialogTest, AboutBoxRunsModallyOnceAndClosesWithOkEnterOrEscape) {
  Channel channel(1001, "Channel 1");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  SpinTo(IDC_STEP1_SHIFT_SPIN, 25);
  for (AboutClosing closing : {AboutOk, AboutEnter, AboutEscape}) {
    SCOPED_TRACE(closing);
    AboutProbe p;
    p.settings = dialog_;
    p.closing = closing;
    probe = &p;
    SetTimer(nullptr, 0, 100, ProbeAboutBox);
    const UINT_PTR watch = SetTimer(nullptr, 0, 30, WatchAboutBoxes);
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, EndStuckAboutBox);
    Click(IDC_ABOUT_BUTTON);  // returns when the box is closed
    KillTimer(nullptr, guard);
    KillTimer(nullptr, watch);
    probe = nullptr;

    EXPECT_EQ(p.boxes, 1);
    EXPECT_EQ(p.most_boxes, 1u);
    EXPECT_FALSE(p.settings_enabled) << "the settings dialog waits while the box is up";
    EXPECT_EQ(p.owner, dialog_);
    EXPECT_EQ(p.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION);
    EXPECT_TRUE(p.exstyle & WS_EX_TOOLWINDOW);
    const std::vector<std::wstring> texts = {L"OK", L"© Разработчики ZRL_TEVPlugin", L"Ver.2.02",
                                             L"TEV (Tevrosa) плагин", L""};
    EXPECT_EQ(p.texts, texts);
    EXPECT_EQ(p.picture.bmWidth, 32);
    EXPECT_EQ(p.picture.bmHeight, 32);
    EXPECT_EQ(p.picture_client.cx, 32);
    EXPECT_EQ(p.picture_client.cy, 32);

    EXPECT_TRUE(ThreadDialogs(L"").empty()) << "the box is gone";
    EXPECT_TRUE(IsWindowEnabled(dialog_));
    Reload();
    EXPECT_EQ(Text(IDC_STEP1_SHIFT_EDIT), L"2.5") << "settings untouched";
  }
}

// --- live use -----------------------------------------------------------------

// Not a check: holds the dialog open for a person or for scripts/screenshots.sh.
//   TEV_LIVE_DIALOG=1: runs until the host window is closed; a click on the
//     host window opens the dialog again after OK or Cancel.
//   TEV_SCREENSHOT_DIR=<folder>: writes each window's screen rectangle to
//     settings-dialog.rect, then about-box.rect, and goes on when the matching
//     .done file appears there.
class LiveDialog : public DialogTest {
 protected:
  void SetUp() override {}
};

std::string shot_folder;

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    PumpFor(20);
  }
  return false;
}

// Shows the window to the screenshot script and waits until it has its picture.
bool HoldForShot(const std::string& shot, HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpFor(500);  // painted
  const RECT r = WindowRect(window);
  const std::string rect = shot_folder + shot + ".rect";
  std::ofstream(rect + ".tmp") << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top << '\n';
  MoveFileExA((rect + ".tmp").c_str(), rect.c_str(), MOVEFILE_REPLACE_EXISTING);
  return WaitForFile(shot_folder + shot + ".done");
}

void CALLBACK ShootAboutBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  for (HWND box : ThreadDialogs(L"")) {
    HoldForShot("about-box", box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

TEST_F(LiveDialog, HoldsTheDialogOpenWhenAsked) {
  const bool live = std::getenv("TEV_LIVE_DIALOG") != nullptr;
  shot_folder = WindowsPathFromEnv("TEV_SCREENSHOT_DIR");
  if (!live && shot_folder.empty()) GTEST_SKIP() << "set TEV_LIVE_DIALOG=1 or TEV_SCREENSHOT_DIR";
  if (!shot_folder.empty() && shot_folder.back() != '\\') shot_folder += '\\';
  Start("");
  SetWindowPos(host_, nullptr, 40, 40, 720, 560, SWP_NOZORDER);
  Channel channel(1001, "TV 21");
  Frame(channel);
  ASSERT_NE(Show(), nullptr);
  Enter(kEdited);
  SetFocus(Item(IDC_STEP1_SHIFT_EDIT));
  if (live) {
    MSG msg;
    while (IsWindow(host_) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_LBUTTONUP && msg.hwnd == host_) Show();
      HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && IsDialogClass(root) && IsDialogMessageW(root, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    host_ = nullptr;
    return;
  }
  ASSERT_TRUE(HoldForShot("settings-dialog", dialog_));
  SetTimer(nullptr, 0, 200, ShootAboutBox);
  Click(IDC_ABOUT_BUTTON);
}

}  // namespace
}  // namespace tev::testing
