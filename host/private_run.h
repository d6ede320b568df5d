// A run with its own settings file never touches the plugin's own file or
// folder: the host copies itself into a private folder, puts the settings
// where the plugin's location rule looks for a host in that folder, runs the
// copy there with the same arguments and removes the folder afterwards. A
// run that dies leaves at most that stale folder, which a later run removes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/settings_path.h"

namespace tev::host {

class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The option that marks the private copy's run, with the starting host's
// process id.
constexpr char kPrivateRunOption[] = "private-run";

// Where the plugin at `plugin_path` looks for its settings when this process
// loads it; empty when it keeps them in memory (see the plugin's rule).
// `without_instance`: as if the command line carried no instance option.
SettingsPaths PluginSettingsPaths(const std::string& plugin_path, bool without_instance = false);

// This program's own full path.
std::wstring HostExecutablePath();

// The plugin's 8-bit text (ANSI code page) as UTF-8.
std::string PluginTextToUtf8(const std::string& text);

// Runs this host's command line again from a private folder with `settings`
// as the plugin's settings file; `plugin_path` is added when the command line
// names no plugin. Returns the private run's exit status.
int RunWithPrivateSettings(const std::vector<uint8_t>& settings, const std::string& plugin_path, bool plugin_given);

}  // namespace tev::host
