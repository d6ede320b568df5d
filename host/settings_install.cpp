#include "host/settings_install.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>

#include "media/whole_file.h"

namespace tev::host {
namespace {

bool StoreInUsersFolder() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  HKEY key = nullptr;
  DWORD value = 0, size = sizeof(value);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvanta", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return value != 0;
}

std::string ExecutableFolder() {
  char path[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

std::string InstanceTag(const std::string& command_line) {
  std::string line = command_line;
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string tag;
  for (const char* prefix : {"-inst:", "/inst:"}) {
    const size_t at = line.find(prefix);
    if (at != std::string::npos) tag = line.substr(at + 6, 1);
  }
  return tag;
}

std::string PluginSettingsPath(const std::string& plugin_path) {
  std::string folder;
  if (StoreInUsersFolder()) {
    char appdata[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, appdata, CSIDL_APPDATA, FALSE);
    folder = std::string(appdata) + "\\Korvanta\\";
  } else {
    folder = ExecutableFolder();
  }
  const std::string tag = InstanceTag(GetCommandLineA());
  if (!tag.empty()) folder += "Instances\\" + tag + "\\";
  return folder + "Plugins\\" + BaseName(plugin_path) + ".ini";
}

void CreateParentFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);  // existing folders are fine
}

ScopedSettingsFile::ScopedSettingsFile(const std::string& plugin_settings_path, const std::string& source)
    : path_(plugin_settings_path) {
  const std::vector<uint8_t> wanted = media::ReadWholeFile(source, "settings file");
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const std::vector<uint8_t> previous = media::ReadWholeFile(path_);
    previous_.assign(previous.begin(), previous.end());
    had_file_ = true;
  }
  CreateParentFolders(path_);
  media::WriteWholeFile(path_, wanted);
}

ScopedSettingsFile::~ScopedSettingsFile() {
  try {
    if (had_file_)
      media::WriteWholeFile(path_, std::vector<uint8_t>(previous_.begin(), previous_.end()));
    else
      DeleteFileA(path_.c_str());
  } catch (const std::exception&) {
    // Nothing more can be done for the old file while unwinding.
  }
}

}  // namespace tev::host
