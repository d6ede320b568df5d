#include "ui/settings_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "ui/resource_ids.h"

namespace tev {
namespace {

constexpr DWORD kFlashPauseMs = 60;

// What the spin controls offer: shifts in tenths of a percent, levels in percent.
constexpr int32_t kShiftMinimum = -1000, kShiftMaximum = 1000;
constexpr int32_t kPercentMinimum = -100, kPercentMaximum = 100;

std::wstring Widen(const char* ascii) {
  std::wstring text;
  for (; *ascii; ++ascii) text.push_back(static_cast<wchar_t>(*ascii));
  return text;
}

int32_t Centre(int32_t low, int32_t high) {
  return static_cast<int32_t>((static_cast<int64_t>(low) + high) / 2);
}

// A shift in tenths of a percent of the line width, shown in percent.
std::wstring ShiftText(int32_t shift) {
  char text[64];
  std::snprintf(text, sizeof(text), "%0.1f", static_cast<double>(shift) * 0.1);
  return Widen(text);
}

std::wstring LevelText(int32_t level) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", static_cast<int>(level));
  return Widen(text);
}

}  // namespace

SettingsDialog::SettingsDialog(SettingsStore& store, Pipeline& pipeline)
    : DialogFrame(IDD_SETTINGS), store_(store), pipeline_(pipeline) {
  pipeline_.SetFreezeState(FreezeOff);
}

SettingsDialog::~SettingsDialog() {
  // Unloaded without Shutdown: the window's procedure is about to go away.
  CloseOnShutdown();
}

void SettingsDialog::ShowOrBringForward(HWND owner) {
  if (HWND window = Window()) {
    SetFocus(window);
    FlashCaption(2);
    return;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  // A stale handle from the host would make creation fail; an unowned
  // dialog is still usable.
  owner_ = owner && IsWindow(owner) ? owner : nullptr;
  HWND window = CreateModeless(owner_);
  if (!window) {
    owner_ = nullptr;
    return;
  }
  ShowWindow(window, SW_SHOW);
}

void SettingsDialog::CloseOnShutdown() { Destroy(); }

void SettingsDialog::FlashCaption(int n) {
  HWND window = Window();
  for (int i = 0; i < 2 * n; ++i) {
    FlashWindow(window, TRUE);
    Sleep(kFlashPauseMs);
  }
}

void SettingsDialog::BindControls() {
  HWND window = Window();
  for (int step = 1; step <= kStepCount; ++step) {
    const StepRowIds& ids = kStepRowIds[step - 1];
    StepControls& row = Row(step);
    row.enable.Bind(window, ids.enable);
    row.shift_edit.Bind(window, ids.shift_edit);
    row.shift_spin.Bind(window, ids.shift_spin);
    row.level_edit.Bind(window, ids.level_edit);
    row.level_spin.Bind(window, ids.level_spin);
  }
  proc_enable_.Bind(window, IDC_PROC_ENABLE);
  corr_enable_.Bind(window, IDC_CORR_ENABLE);
  freeze_.Bind(window, IDC_FREEZE);
  brightness_edit_.Bind(window, IDC_BRIGHTNESS_EDIT);
  brightness_spin_.Bind(window, IDC_BRIGHTNESS_SPIN);
  contrast_edit_.Bind(window, IDC_CONTRAST_EDIT);
  contrast_spin_.Bind(window, IDC_CONTRAST_SPIN);
  channel_name_.Bind(window, IDC_CHANNEL_NAME);
}

BOOL SettingsDialog::OnInitDialog() {
  PlaceWindow();
  store_.SnapshotChannels();
  for (int step = 1; step <= kStepCount; ++step) {
    StepControls& row = Row(step);
    row.shift_spin.SetBuddy(row.shift_edit);
    row.shift_spin.SetRange(kShiftMinimum, kShiftMaximum);
    row.level_spin.SetBuddy(row.level_edit);
    row.level_spin.SetRange(kPercentMinimum, kPercentMaximum);
  }
  brightness_spin_.SetBuddy(brightness_edit_);
  brightness_spin_.SetRange(kPercentMinimum, kPercentMaximum);
  contrast_spin_.SetBuddy(contrast_edit_);
  contrast_spin_.SetRange(kPercentMinimum, kPercentMaximum);
  PostRefresh(RefreshAll);
  return TRUE;
}

// The saved place, or centred over the host window and kept on the primary screen.
void SettingsDialog::PlaceWindow() {
  HWND window = Window();
  const DialogPosition saved = store_.GetDialogPosition();
  const int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
  const int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
  RECT dialog{};
  GetWindowRect(window, &dialog);
  const int32_t width = dialog.right - dialog.left;
  const int32_t height = dialog.bottom - dialog.top;

  int32_t x = saved.X, y = saved.Y;
  // Only this exact pair means unsaved: (-100, 50) is a place like any other.
  const bool unsaved = x == kNoDialogPosition && y == kNoDialogPosition;
  const bool beyond_screen = x >= screen_width || y >= screen_height;
  // A place where not one pixel of the window would show (a hand-edited or
  // hostile file) would leave the user nothing to click: centre instead.
  const bool out_of_sight = static_cast<int64_t>(x) + width <= 0 || static_cast<int64_t>(y) + height <= 0;
  if (unsaved || beyond_screen || out_of_sight) {
    RECT host{0, 0, screen_width, screen_height};
    if (!owner_ || !GetWindowRect(owner_, &host)) host = RECT{0, 0, screen_width, screen_height};
    x = dialog.left + Centre(host.left, host.right) - Centre(dialog.left, dialog.right);
    y = dialog.top + Centre(host.top, host.bottom) - Centre(dialog.top, dialog.bottom);
    if (x + width >= screen_width) x = screen_width - width;
    if (y + height >= screen_height) y = screen_height - height;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
  }
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool SettingsDialog::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_CANCEL_BUTTON: OnCancelButton(); return true;
    case IDC_OK_BUTTON: OnOkButton(); return true;
    case IDC_ABOUT_BUTTON: OnAboutButton(); return true;
    case IDC_CORR_ENABLE: OnCorrEnable(); return true;
    case IDC_PROC_ENABLE: OnProcEnable(); return true;
    case IDC_FREEZE: OnFreeze(); return true;
    case IDC_STEP1_ENABLE:
    case IDC_STEP2_ENABLE:
    case IDC_STEP3_ENABLE:
    case IDC_STEP4_ENABLE:
    case IDC_STEP5_ENABLE:
    case IDC_STEP6_ENABLE:
    case IDC_STEP7_ENABLE:
    case IDC_STEP8_ENABLE: OnStepEnable(); return true;
    default: return false;
  }
}

bool SettingsDialog::OnMessage(UINT message, WPARAM wparam, LPARAM, LRESULT& result) {
  if (message != WM_REFRESH_CONTROLS) return false;
  OnRefreshControls(wparam);
  result = 1;
  return true;
}

void SettingsDialog::OnVScroll(int code, int position, HWND source) {
  // Spins report every change of position this way; other codes carry nothing new.
  if (code != SB_THUMBPOSITION || !source) return;
  for (int step = 1; step <= kStepCount; ++step) {
    if (source == Row(step).shift_spin.Handle()) {
      store_.SetSetting(StepShiftIndex(step), position);
      ShowShift(step);
    }
  }
  for (int step = 1; step <= kStepCount; ++step) {
    if (source == Row(step).level_spin.Handle()) {
      store_.SetSetting(StepLevelIndex(step), position);
      ShowLevel(step);
    }
  }
  if (source == brightness_spin_.Handle()) {
    store_.SetSetting(Brightness, position);
    PostRefresh(RefreshBrightness);
  }
  if (source == contrast_spin_.Handle()) {
    store_.SetSetting(Contrast, position);
    PostRefresh(RefreshContrast);
  }
}

void SettingsDialog::OnProcEnable() {
  store_.SetSetting(ProcEnable, proc_enable_.CheckState());
  PostRefresh(RefreshEnabling);
}

void SettingsDialog::OnCorrEnable() {
  store_.SetSetting(CorrEnable, corr_enable_.CheckState());
  PostRefresh(RefreshEnabling);
}

// Whichever box was clicked, all eight are stored.
void SettingsDialog::OnStepEnable() {
  for (int step = 1; step <= kStepCount; ++step) {
    store_.SetSetting(StepEnableIndex(step), Row(step).enable.CheckState());
  }
  PostRefresh(RefreshEnabling);
}

void SettingsDialog::OnFreeze() {
  pipeline_.SetFreezeState(freeze_.CheckState() != 0 ? FreezeCapture : FreezeOff);
}

void SettingsDialog::OnOkButton() { Destroy(); }

void SettingsDialog::OnCancelButton() { PostToSelf(WM_CLOSE, 0, 0); }

void SettingsDialog::OnAboutButton() {
  // Owned by this dialog, which is disabled while the box runs; the frame
  // also refuses a second run of the same box.
  about_.DoModal(Window());
}

// Cancel, the close box and Alt+F4 all end here: every edit of this opening is undone.
bool SettingsDialog::OnClose() {
  store_.RestoreChannels();
  Destroy();
  return true;
}

void SettingsDialog::OnDestroy() {
  RECT rect{};
  if (GetWindowRect(Window(), &rect)) store_.SetDialogPosition(rect.left, rect.top);
  // A frozen picture never outlives the dialog.
  pipeline_.SetFreezeState(FreezeOff);
}

void SettingsDialog::PostNcDestroy() {
  owner_ = nullptr;
  // Window handles are reused by the system: forget the dead ones.
  steps_.fill(StepControls{});
  proc_enable_ = corr_enable_ = freeze_ = CheckBox{};
  brightness_spin_ = contrast_spin_ = SpinControl{};
  brightness_edit_ = contrast_edit_ = channel_name_ = DialogControl{};
}

void SettingsDialog::OnRefreshControls(WPARAM kind) {
  switch (kind) {
    case RefreshAll: ReloadAll(); break;
    case RefreshChannelName: ShowChannelName(); break;
    case RefreshBrightness: ShowBrightness(); break;
    case RefreshContrast: ShowContrast(); break;
    case RefreshEnabling: UpdateEnabledStates(); break;
    default: break;
  }
}

// Texts always come from the stored values, never from the spins, so a value
// outside a spin's range is shown as it is.
void SettingsDialog::ReloadAll() {
  freeze_.SetCheckState(BST_UNCHECKED);
  // A switch is on when nonzero, whatever number a settings file put there.
  proc_enable_.SetCheckState(store_.Setting(ProcEnable) != 0 ? BST_CHECKED : BST_UNCHECKED);
  corr_enable_.SetCheckState(store_.Setting(CorrEnable) != 0 ? BST_CHECKED : BST_UNCHECKED);
  brightness_spin_.SetPosition(store_.Setting(Brightness));
  contrast_spin_.SetPosition(store_.Setting(Contrast));
  for (int step = 1; step <= kStepCount; ++step) {
    StepControls& row = Row(step);
    row.enable.SetCheckState(store_.Setting(StepEnableIndex(step)) != 0 ? BST_CHECKED : BST_UNCHECKED);
    row.shift_spin.SetPosition(store_.Setting(StepShiftIndex(step)));
    row.level_spin.SetPosition(store_.Setting(StepLevelIndex(step)));
    ShowShift(step);
    ShowLevel(step);
  }
  ShowChannelName();
  ShowBrightness();
  ShowContrast();
  UpdateEnabledStates();
}

void SettingsDialog::ShowChannelName() {
  const std::string name = pipeline_.CurrentChannelName();
  channel_name_.SetTextAnsi(name.c_str());
}

void SettingsDialog::ShowBrightness() { brightness_edit_.SetText(LevelText(store_.Setting(Brightness)).c_str()); }

void SettingsDialog::ShowContrast() { contrast_edit_.SetText(LevelText(store_.Setting(Contrast)).c_str()); }

// A control is enabled when every switch above it is on (nonzero), the same
// test the pipeline makes before it runs the stage.
void SettingsDialog::UpdateEnabledStates() {
  const bool processing = store_.Setting(ProcEnable) != 0;
  corr_enable_.Enable(processing);
  const bool correction = processing && store_.Setting(CorrEnable) != 0;
  brightness_spin_.Enable(correction);
  contrast_spin_.Enable(correction);
  brightness_edit_.Enable(correction);
  contrast_edit_.Enable(correction);
  for (int step = 1; step <= kStepCount; ++step) {
    StepControls& row = Row(step);
    row.enable.Enable(processing);
    const bool step_on = processing && store_.Setting(StepEnableIndex(step)) != 0;
    row.shift_spin.Enable(step_on);
    row.level_spin.Enable(step_on);
    row.shift_edit.Enable(step_on);
    row.level_edit.Enable(step_on);
  }
}

void SettingsDialog::ShowShift(int step) {
  Row(step).shift_edit.SetText(ShiftText(store_.Setting(StepShiftIndex(step))).c_str());
}

void SettingsDialog::ShowLevel(int step) {
  Row(step).level_edit.SetText(LevelText(store_.Setting(StepLevelIndex(step))).c_str());
}

}  // namespace tev
