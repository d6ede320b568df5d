// Where the plugin keeps its settings file for this host process, and a
// scoped installation of a user's settings file there for one run.
#pragma once

#include <string>
#include <vector>

namespace tev::host {

// The plugin's own rule: the host's folder (or, when HKLM\SOFTWARE\Korvanta
// StoreInUsersFolder is set on NT, the per-user application-data folder plus
// "\Korvanta\"), then "Instances\<tag>\" when the command line carries
// "/inst:<tag>" or "-inst:<tag>", then "Plugins\<plugin base name>.ini".
std::string PluginSettingsPath(const std::string& plugin_path);

// The one-character instance tag of a command line ("" when none), the way
// the plugin reads it: lower-cased, "/inst:" winning over "-inst:".
std::string InstanceTag(const std::string& command_line);

// Puts `source`'s bytes in place of the plugin's settings file; on
// destruction puts back what was there before (or removes the file), so the
// user's file is never rewritten and the host folder is left as it was.
class ScopedSettingsFile {
 public:
  ScopedSettingsFile(const std::string& plugin_settings_path, const std::string& source);
  ~ScopedSettingsFile();
  ScopedSettingsFile(const ScopedSettingsFile&) = delete;
  ScopedSettingsFile& operator=(const ScopedSettingsFile&) = delete;

 private:
  std::string path_;
  bool had_file_ = false;
  std::vector<unsigned char> previous_;
};

// Creates every missing folder of `path`'s parent.
void CreateParentFolders(const std::string& path);

}  // namespace tev::host
