#include "host/live_view.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "media/file_colour.h"
#include "media/file_access.h"

namespace tev::host {
namespace {

constexpr UINT_PTR kFrameTimer = 1;
constexpr char kWindowClass[] = "TevHostLiveView";

struct LiveView {
  PluginHost* plugin = nullptr;
  const HostChannel* channel = nullptr;
  const LiveViewInput* input = nullptr;
  std::vector<uint8_t> frame;    // the plugin's frame, processed in place
  std::vector<uint8_t> display;  // bottom-up-free DIB rows, each padded to 4 bytes
  size_t stride = 0;
  size_t next = 0;
  int64_t shown = 0;
  bool paused = false;
  HWND window = nullptr;

  void Advance() {
    frame = input->frames[next];
    next = (next + 1) % input->frames.size();
    plugin->ProcessFrame(frame.data(), *channel);
    const std::vector<uint8_t> bgr = media::ConvertFileFrame(frame, input->kind, media::PixelKind::Bgr24, input->size);
    const size_t row = static_cast<size_t>(input->size.width) * 3;
    for (int y = 0; y < input->size.height; ++y) std::memcpy(&display[y * stride], &bgr[y * row], row);
    ++shown;
  }

  void Paint(HDC dc) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = input->size.width;
    info.bmiHeader.biHeight = -input->size.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    RECT client;
    GetClientRect(window, &client);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, input->size.width, input->size.height,
                  display.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  }
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* view = reinterpret_cast<LiveView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_TIMER:
      if (view && !view->paused) {
        view->Advance();
        InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (view) view->Paint(dc);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_KEYDOWN:
      if (!view) break;
      if (wparam == VK_F2 || wparam == 'S') view->plugin->ShowDialog(window);
      if (wparam == VK_SPACE) view->paused = !view->paused;
      return 0;
    case WM_LBUTTONDBLCLK:
      if (view) view->plugin->ShowDialog(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kFrameTimer);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int64_t RunLiveView(PluginHost& plugin, const HostChannel& channel, const LiveViewInput& input, const char* title) {
  LiveView view;
  view.plugin = &plugin;
  view.channel = &channel;
  view.input = &input;
  view.stride = (static_cast<size_t>(input.size.width) * 3 + 3) & ~size_t{3};
  view.display.assign(view.stride * input.size.height, 0);

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class{};
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClass;
  RegisterClassA(&window_class);

  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame{0, 0, input.size.width, input.size.height};
  AdjustWindowRect(&frame, style, FALSE);
  view.window = CreateWindowA(kWindowClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, &view);
  if (!view.window) throw PluginError("cannot create the live window");
  // The title names the input, which may be any Unicode name.
  SetWindowTextW(view.window, media::WideText(title).c_str());
  view.Advance();
  ShowWindow(view.window, SW_SHOWNORMAL);
  UpdateWindow(view.window);
  plugin.ShowDialog(view.window);
  SetTimer(view.window, kFrameTimer, static_cast<UINT>(1000 / std::max(1, input.frames_per_second)), nullptr);

  MSG message;
  // The plugin's dialog is a Unicode window: the loop is Unicode too.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Keyboard navigation inside the plugin's modeless dialog.
    HWND active = GetActiveWindow();
    if (active && active != view.window && IsDialogMessageW(active, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return view.shown;
}

}  // namespace tev::host
