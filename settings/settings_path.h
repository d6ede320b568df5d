// Where the settings file lives: beside the host or under the user's
// application-data folder, per host instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tev {

constexpr uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT
// Saves write this next to the settings file and then move it into place.
constexpr char kSettingsTempSuffix[] = ".tmp";

// What the system tells about itself; gathered by the platform glue.
struct SettingsPathInputs {
  bool VersionKnown = false;
  uint32_t PlatformId = 0;
  uint32_t StoreInUsersFolder = 0;  // the registry value, 0 when absent
  std::string AppDataFolder;        // without trailing backslash; empty when unavailable
  std::string ExecutablePath;       // the host's full path; empty when unavailable
  std::string CommandLine;
  // Longest path the platform's file calls accept, terminator included
  // (MAX_PATH for the 8-bit Win32 calls); 0 means no limit.
  size_t MaxPath = 0;
};

struct SettingsPaths {
  std::string InstanceTag;
  std::string SettingsDirectory;  // ends in a backslash
  std::string SettingsFileName;
  std::string SettingsFilePath;  // empty: no file, the settings live in memory
};

// The one-character tag after "/inst:" (or else "-inst:") on the lower-cased
// command line; empty when neither occurs or the prefix ends the line.
std::string InstanceTagOf(const std::string& command_line);

// Works out the paths and creates the final "Plugins" folder (one level; its
// parents are not created, failures are ignored).
SettingsPaths BuildSettingsPath(const std::string& module_base_name, const SettingsPathInputs& inputs,
                                const std::function<void(const std::string& folder)>& create_folder);

}  // namespace tev
