// Small wrappers for the controls of a dialog, bound to their windows by id
// once the dialog exists. Only what the plugin's dialogs use.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

namespace tev {

class DialogControl {
 public:
  // Binds to the control `id` of `dialog`; an id the template lacks binds to nothing.
  void Bind(HWND dialog, int id) {
    id_ = id;
    window_ = GetDlgItem(dialog, id);
  }
  HWND Handle() const { return window_; }
  int Id() const { return id_; }

  void Enable(bool enabled) const {
    if (window_) EnableWindow(window_, enabled ? TRUE : FALSE);
  }
  void SetText(const wchar_t* text) const {
    if (window_) SetWindowTextW(window_, text);
  }
  // 8-bit text in the system code page, as the host hands it over.
  void SetTextAnsi(const char* text) const {
    if (window_) SetWindowTextA(window_, text);
  }

 protected:
  LRESULT Send(UINT message, WPARAM wparam, LPARAM lparam) const {
    return window_ ? SendMessageW(window_, message, wparam, lparam) : 0;
  }

 private:
  HWND window_ = nullptr;
  int id_ = 0;
};

class CheckBox : public DialogControl {
 public:
  // BST_UNCHECKED (0) or BST_CHECKED (1), as the control reports it.
  int32_t CheckState() const { return static_cast<int32_t>(Send(BM_GETCHECK, 0, 0)); }
  void SetCheckState(int32_t state) const { Send(BM_SETCHECK, static_cast<WPARAM>(state), 0); }
};

// An up-down control that keeps a position inside its range; it never touches
// its buddy's text (no UDS_SETBUDDYINT), the dialog writes that.
class SpinControl : public DialogControl {
 public:
  void SetBuddy(const DialogControl& buddy) const {
    Send(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy.Handle()), 0);
  }
  void SetRange(int32_t minimum, int32_t maximum) const {
    Send(UDM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
  }
  // The control holds 16-bit positions: only the value's low 16 bits are passed.
  void SetPosition(int32_t value) const {
    Send(UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(value & 0xFFFF), 0));
  }
};

}  // namespace tev
