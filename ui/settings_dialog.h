// The modeless settings dialog (template 5000): edits the live settings value
// by value, follows channel switches, freezes the picture, and undoes every
// edit of its opening on Cancel.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

#include "processing/pipeline.h"
#include "settings/settings_index.h"
#include "settings/settings_store.h"
#include "ui/about_dialog.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_frame.h"

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

class SettingsDialog : public DialogFrame {
 public:
  SettingsDialog(SettingsStore& store, Pipeline& pipeline);
  ~SettingsDialog() override;

  // Creates the window owned by `owner`, or focuses and flashes the open one.
  void ShowOrBringForward(HWND owner);
  // Destroys the window if it exists (no restore: the edits stay).
  void CloseOnShutdown();

 private:
  struct StepControls {
    CheckBox enable;
    DialogControl shift_edit;
    SpinControl shift_spin;
    DialogControl level_edit;
    SpinControl level_spin;
  };

  void BindControls() override;
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  // Enter and Escape must never close the dialog.
  void OnOK() override {}
  void OnCancel() override {}
  void OnVScroll(int code, int position, HWND source) override;
  bool OnClose() override;
  void OnDestroy() override;
  void PostNcDestroy() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

  void OnRefreshControls(WPARAM kind);
  void OnOkButton();
  void OnCancelButton();
  void OnAboutButton();
  void OnProcEnable();
  void OnCorrEnable();
  void OnStepEnable();
  void OnFreeze();

  void PlaceWindow();
  void FlashCaption(int n);
  void PostRefresh(RefreshKind kind) { PostToSelf(WM_REFRESH_CONTROLS, kind, 0); }
  void ReloadAll();
  void ShowChannelName();
  void ShowBrightness();
  void ShowContrast();
  void UpdateEnabledStates();
  void ShowShift(int step);
  void ShowLevel(int step);
  StepControls& Row(int step) { return steps_[step - 1]; }

  SettingsStore& store_;
  Pipeline& pipeline_;
  HWND owner_ = nullptr;  // the host window that owns the dialog, while it exists
  AboutDialog about_;
  std::array<StepControls, kStepCount> steps_;
  CheckBox proc_enable_;
  CheckBox corr_enable_;
  CheckBox freeze_;
  DialogControl brightness_edit_;
  SpinControl brightness_spin_;
  DialogControl contrast_edit_;
  SpinControl contrast_spin_;
  DialogControl channel_name_;
};

}  // namespace tev
