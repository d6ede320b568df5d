// The Win32 side of the settings store: registry, folders, command line and
// whole-file reading and replacing. Only the DLL build compiles it.
#pragma once

#include "settings/settings_path.h"
#include "settings/settings_store.h"

namespace tev {

SettingsPlatform Win32SettingsPlatform();

// The system's answers that BuildSettingsPath works from, as the plugin asks
// for them; a host uses them to know where the plugin will look.
SettingsPathInputs GatherSettingsPathInputs();

}  // namespace tev
