// The about box (template 5002): picture, name, version and the maker's line.
// The dialog layer's own handling does everything: OK, Enter and Escape end it.
#pragma once

#include "ui/dialog_frame.h"
#include "ui/resource_ids.h"

namespace tev {

class AboutDialog : public DialogFrame {
 public:
  AboutDialog() : DialogFrame(IDD_ABOUT) {}
  // Runs modally and returns when the box is closed; refused while it is already open.
  INT_PTR DoModal(HWND owner) { return RunModal(owner); }
};

}  // namespace tev
