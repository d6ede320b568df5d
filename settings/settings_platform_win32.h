// The Win32 side of the settings store: registry, folders, command line and
// whole-file reading and replacing. Only the DLL build compiles it.
#pragma once

#include "settings/settings_store.h"

namespace tev {

SettingsPlatform Win32SettingsPlatform();

}  // namespace tev
