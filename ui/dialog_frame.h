// The dialog layer: one dialog window driven by a C++ object. A derived dialog
// overrides the named handlers it needs; the window procedure routes each
// message to one of them. Modeless dialogs close with DestroyWindow, modal
// ones with EndDialog.
#pragma once

#include <windows.h>

#include <atomic>

namespace tev {

class DialogFrame {
 public:
  explicit DialogFrame(int template_id) : template_id_(template_id) {}
  virtual ~DialogFrame();
  DialogFrame(const DialogFrame&) = delete;
  DialogFrame& operator=(const DialogFrame&) = delete;

  // Creates the window from the template, owned by `owner`, without showing it.
  // OnInitDialog has run when this returns. Null when the window cannot be made.
  HWND CreateModeless(HWND owner);
  // Runs the dialog modally; the result passed to EndModal, or -1 when the
  // window cannot be made.
  INT_PTR RunModal(HWND owner);

  // The window, or null while there is none. Safe to read from any thread.
  HWND Window() const { return window_.load(std::memory_order_acquire); }

 protected:
  // Ends the dialog the way that suits how it runs.
  void EndModal(INT_PTR result);
  void Destroy();
  void PostToSelf(UINT message, WPARAM wparam, LPARAM lparam) const;

  // Binds the control wrappers by id; runs first in WM_INITDIALOG.
  virtual void BindControls() {}
  // TRUE lets the dialog manager give the focus to the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_COMMAND other than IDOK and IDCANCEL; true when handled.
  virtual bool OnCommand(int /*id*/, int /*code*/) { return false; }
  // IDOK and IDCANCEL, which the Enter and Escape keys also produce.
  virtual void OnOK();
  virtual void OnCancel();
  // The default handling of WM_VSCROLL runs after this.
  virtual void OnVScroll(int /*code*/, int /*position*/, HWND /*source*/) {}
  // WM_CLOSE (close box, Alt+F4); false leaves it to the default, which is IDCANCEL.
  virtual bool OnClose() { return false; }
  virtual void OnDestroy() {}
  // The last message the window gets; the object itself stays.
  virtual void PostNcDestroy() {}
  // Any other message; true when handled, with its result in `result`.
  virtual bool OnMessage(UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/, LRESULT& /*result*/) {
    return false;
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Result(LRESULT result) const;

  const int template_id_;
  std::atomic<HWND> window_{nullptr};
  bool modal_ = false;
};

}  // namespace tev
