#include "ui/dialog_frame.h"

#include <cstdint>

#include "plugin/module_context.h"

namespace tev {
namespace {

// Asks a dialog that lives on another thread to destroy itself: DestroyWindow
// only works on the window's own thread.
constexpr UINT WM_DESTROY_REQUEST = WM_APP + 0x2E1;
constexpr UINT kCrossThreadTimeoutMs = 5000;

}  // namespace

DialogFrame::~DialogFrame() {
  // A window must never outlive the object that its procedure calls into.
  HWND window = Window();
  if (!window) return;
  SetWindowLongPtrW(window, DWLP_USER, 0);
  window_.store(nullptr, std::memory_order_release);
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) DestroyWindow(window);
}

HWND DialogFrame::CreateModeless(HWND owner) {
  if (HWND existing = Window()) return existing;
  modal_ = false;
  HWND window = CreateDialogParamW(ResourceInstance(), MAKEINTRESOURCEW(template_id_), owner, Procedure,
                                   reinterpret_cast<LPARAM>(this));
  if (!window) window_.store(nullptr, std::memory_order_release);
  return window;
}

INT_PTR DialogFrame::RunModal(HWND owner) {
  // One object, one window: a second run while the first is up is refused.
  if (modal_ || Window()) return -1;
  modal_ = true;
  const INT_PTR result = DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(template_id_), owner, Procedure,
                                         reinterpret_cast<LPARAM>(this));
  modal_ = false;
  return result;
}

void DialogFrame::EndModal(INT_PTR result) {
  if (HWND window = Window()) EndDialog(window, result);
}

void DialogFrame::Destroy() {
  HWND window = Window();
  // Gone already when its thread ended without closing it.
  if (!window || !IsWindow(window)) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    SendMessageTimeoutW(window, WM_DESTROY_REQUEST, 0, 0, SMTO_ABORTIFHUNG, kCrossThreadTimeoutMs, nullptr);
  }
}

void DialogFrame::PostToSelf(UINT message, WPARAM wparam, LPARAM lparam) const {
  if (HWND window = Window()) PostMessageW(window, message, wparam, lparam);
}

void DialogFrame::OnOK() {
  if (modal_) EndModal(IDOK);
  else Destroy();
}

void DialogFrame::OnCancel() {
  if (modal_) EndModal(IDCANCEL);
  else Destroy();
}

INT_PTR CALLBACK DialogFrame::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DialogFrame* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogFrame*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->window_.store(window, std::memory_order_release);
  } else {
    self = reinterpret_cast<DialogFrame*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (and after WM_NCDESTROY) get the default handling.
  if (!self) return FALSE;

  INT_PTR handled = FALSE;
  // Called from the host's message loop: nothing may escape, and resources
  // (the about box template) must come from this module.
  try {
    ModuleContextGuard context;
    handled = self->Dispatch(message, wparam, lparam);
  } catch (...) {
    handled = FALSE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->window_.store(nullptr, std::memory_order_release);
    try {
      self->PostNcDestroy();
    } catch (...) {
    }
  }
  return handled;
}

INT_PTR DialogFrame::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      BindControls();
      return OnInitDialog();
    case WM_COMMAND: {
      const int id = LOWORD(wparam), code = HIWORD(wparam);
      if (OnCommand(id, code)) return TRUE;
      if (id == IDOK) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      return FALSE;
    }
    case WM_VSCROLL:
      // The position travels as a signed 16-bit value.
      OnVScroll(LOWORD(wparam), static_cast<int16_t>(HIWORD(wparam)), reinterpret_cast<HWND>(lparam));
      return FALSE;
    case WM_CLOSE:
      return OnClose() ? TRUE : FALSE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_DESTROY_REQUEST:
      if (HWND window = Window()) DestroyWindow(window);
      return Result(0);
    default: {
      LRESULT result = 0;
      if (OnMessage(message, wparam, lparam, result)) return Result(result);
      return FALSE;
    }
  }
}

INT_PTR DialogFrame::Result(LRESULT result) const {
  if (HWND window = Window()) SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace tev
