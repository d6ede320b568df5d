// The plugin's settings file beside the test program, as a host would have it.
#pragma once

#include <string>

namespace tev::testing {

// <test exe folder>\Plugins\ZRL_TEVPlugin.ini
std::string SettingsFilePath();
std::string ReadWholeFile(const std::string& path);

// Writes the settings file for one test and puts back what was there before.
class ScopedSettingsFile {
 public:
  explicit ScopedSettingsFile(const std::string& text);
  ~ScopedSettingsFile();
  ScopedSettingsFile(const ScopedSettingsFile&) = delete;
  ScopedSettingsFile& operator=(const ScopedSettingsFile&) = delete;

 private:
  bool had_file_ = false;
  std::string previous_;
};

}  // namespace tev::testing
