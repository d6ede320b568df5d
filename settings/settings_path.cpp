#include "settings/settings_path.h"

#include <cstring>

namespace tev {
namespace {

std::string ToLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The character after the first occurrence of `prefix`; "" when absent or at the end.
bool TagAfter(const std::string& line, const char* prefix, std::string& tag) {
  const size_t at = line.find(prefix);
  if (at == std::string::npos) return false;
  const size_t next = at + std::strlen(prefix);
  tag = next < line.size() ? line.substr(next, 1) : std::string();
  return true;
}

// A tag that cannot be a folder name of its own would land the file in
// another folder ("\", "/", ".") or fail in odd ways; such an instance keeps
// its settings in memory rather than share or spoil another instance's file.
bool IsFolderNameCharacter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && !std::strchr("<>:\"/\\|?*. ", c);
}

}  // namespace

std::string InstanceTagOf(const std::string& command_line) {
  const std::string line = ToLowerAscii(command_line);
  std::string tag;
  TagAfter(line, "-inst:", tag);
  TagAfter(line, "/inst:", tag);
  return tag;
}

SettingsPaths BuildSettingsPath(const std::string& module_base_name, const SettingsPathInputs& inputs,
                                const std::function<void(const std::string& folder)>& create_folder) {
  SettingsPaths paths;
  if (!inputs.VersionKnown) return paths;

  std::string folder;
  const bool per_user = inputs.PlatformId == kPlatformWin32Nt && inputs.StoreInUsersFolder != 0;
  // Without the application-data folder the path would start at the root of
  // the current drive; the host folder is the better place then.
  if (per_user && !inputs.AppDataFolder.empty()) {
    folder = inputs.AppDataFolder + "\\Korvanta\\";
  } else {
    const size_t slash = inputs.ExecutablePath.find_last_of('\\');
    // No folder in the path: a relative path would follow the current directory.
    if (slash == std::string::npos) return paths;
    folder = inputs.ExecutablePath.substr(0, slash + 1);
  }

  const std::string tag = InstanceTagOf(inputs.CommandLine);
  if (!tag.empty()) {
    if (!IsFolderNameCharacter(tag[0])) return paths;
    folder += "Instances\\" + tag + "\\";
  }
  folder += "Plugins\\";

  const std::string file_name = module_base_name + ".ini";
  const std::string file_path = folder + file_name;
  // A path the platform cannot open is no path: never a truncated one.
  if (inputs.MaxPath != 0 && file_path.size() + std::strlen(kSettingsTempSuffix) >= inputs.MaxPath) return paths;

  if (create_folder) create_folder(folder);
  paths.InstanceTag = tag;
  paths.SettingsDirectory = folder;
  paths.SettingsFileName = file_name;
  paths.SettingsFilePath = file_path;
  return paths;
}

}  // namespace tev
