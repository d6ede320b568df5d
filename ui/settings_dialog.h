// The modeless settings dialog (template 5000).
#pragma once

#include <windows.h>

#include "processing/pipeline.h"
#include "settings/settings_store.h"

namespace tev {

// Posted to the dialog window; wParam selects what is refreshed, lParam is 0.
constexpr UINT WM_REFRESH_CONTROLS = WM_USER + 400;
enum RefreshKind : WPARAM {
  RefreshAll = 0,
  RefreshChannelName = 1,
  RefreshBrightness = 2,
  RefreshContrast = 3,
  RefreshEnabling = 4,
};

class SettingsDialog {
 public:
  SettingsDialog(SettingsStore& store, Pipeline& pipeline);
  // Creates the window owned by `owner`, or focuses and flashes the open one.
  void ShowOrBringForward(HWND owner);
  // Destroys the window if it exists (no restore: the edits stay).
  void CloseOnShutdown();
  // The dialog window, or null while it is closed.
  HWND Window() const { return window_; }

 private:
  SettingsStore& store_;
  Pipeline& pipeline_;
  HWND window_ = nullptr;
};

}  // namespace tev
