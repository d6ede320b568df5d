#include "ui/settings_dialog.h"

namespace tev {

// Placeholder until the dialog lands.
SettingsDialog::SettingsDialog(SettingsStore& store, Pipeline& pipeline) : store_(store), pipeline_(pipeline) {
  pipeline_.SetFreezeState(FreezeOff);
}
void SettingsDialog::ShowOrBringForward(HWND) {}
void SettingsDialog::CloseOnShutdown() {}

}  // namespace tev
