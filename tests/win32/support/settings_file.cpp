#include "support/settings_file.h"

#include <windows.h>

#include <fstream>
#include <sstream>

#include "support/plugin_loader.h"

namespace tev::testing {

std::string SettingsFilePath() { return ExecutableFolder() + "Plugins\\ZRL_TEVPlugin.ini"; }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ScopedSettingsFile::ScopedSettingsFile(const std::string& text) {
  const std::string path = SettingsFilePath();
  had_file_ = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (had_file_) previous_ = ReadWholeFile(path);
  CreateDirectoryA((ExecutableFolder() + "Plugins").c_str(), nullptr);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

ScopedSettingsFile::~ScopedSettingsFile() {
  const std::string path = SettingsFilePath();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (had_file_) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << previous_;
  } else {
    DeleteFileA(path.c_str());
  }
}

}  // namespace tev::testing
