#include "settings/settings_platform_win32.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "settings/settings_path.h"

namespace tev {
namespace {

bool QueryVersion(uint32_t& platform_id) {
  // The extended record first; older systems accept only the basic one.
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof extended;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
    platform_id = extended.dwPlatformId;
    return true;
  }
  OSVERSIONINFOA basic{};
  basic.dwOSVersionInfoSize = sizeof basic;
  if (GetVersionExA(&basic)) {
    platform_id = basic.dwPlatformId;
    return true;
  }
  return false;
}

uint32_t StoreInUsersFolder() {
  DWORD value = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvanta", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD size = sizeof value;
    // A value of another size leaves the buffer undefined: take it as absent.
    if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS) {
      value = 0;
    }
    RegCloseKey(key);
  }
  return value;
}

std::string AppDataFolder() {
  // Far wider than the MAX_PATH the call may write, and always terminated.
  std::vector<char> path(4 * MAX_PATH, '\0');
  if (!SHGetSpecialFolderPathA(nullptr, path.data(), CSIDL_APPDATA, FALSE)) return {};
  return std::string(path.data(), strnlen(path.data(), path.size() - 1));
}

std::string ExecutablePath() {
  // Grows until the whole path fits: a truncated path would name another folder.
  std::vector<char> path(MAX_PATH);
  while (path.size() <= 65536) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size() - 1) return std::string(path.data(), length);
    path.resize(path.size() * 2);
  }
  return {};
}

void CreateFolder(const std::string& folder) { CreateDirectoryA(folder.c_str(), nullptr); }

struct Handle {
  HANDLE value;
  explicit Handle(HANDLE h) : value(h) {}
  ~Handle() {
    if (value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

bool ReadOrCreate(const std::string& path, std::string& content) {
  content.clear();
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.value == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.value, &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > content.max_size()) {
    return false;
  }
  try {
    content.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    content.clear();
    return false;
  }
  size_t done = 0;
  while (done < content.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    DWORD read = 0;
    if (!ReadFile(file.value, &content[done], chunk, &read, nullptr)) break;
    if (read == 0) break;
    done += read;
  }
  // A file that shrank meanwhile is read as far as it goes.
  content.resize(done);
  return true;
}

bool Replace(const std::string& path, const char* data, size_t size) {
  // A file we could not open for writing (read-only, denied) is not ours to
  // replace, even though its folder would let us put a new one in its place.
  // The attribute is tested on its own as well: an administrator under Wine
  // may open a read-only file for writing.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return false;
    Handle existing(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (existing.value == INVALID_HANDLE_VALUE) return false;
  }
  const std::string temp = path + kSettingsTempSuffix;
  // A leftover of an earlier save is ours to overwrite.
  SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  bool written = false;
  {
    Handle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.value == INVALID_HANDLE_VALUE) return false;
    size_t done = 0;
    written = true;
    while (written && done < size) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
      DWORD count = 0;
      written = WriteFile(file.value, data + done, chunk, &count, nullptr) && count == chunk;
      done += count;
    }
    // On disk before it takes the old file's name.
    written = written && FlushFileBuffers(file.value);
  }
  if (!written || !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

SettingsPathInputs GatherSettingsPathInputs() {
  SettingsPathInputs inputs;
  inputs.VersionKnown = QueryVersion(inputs.PlatformId);
  if (!inputs.VersionKnown) return inputs;
  inputs.StoreInUsersFolder = StoreInUsersFolder();
  if (inputs.PlatformId == kPlatformWin32Nt && inputs.StoreInUsersFolder != 0) inputs.AppDataFolder = AppDataFolder();
  inputs.ExecutablePath = ExecutablePath();
  const char* command_line = GetCommandLineA();
  inputs.CommandLine = command_line ? command_line : "";
  inputs.MaxPath = MAX_PATH;
  return inputs;
}

SettingsPlatform Win32SettingsPlatform() {
  SettingsPlatform platform;
  platform.PathInputs = GatherSettingsPathInputs;
  platform.CreateFolder = CreateFolder;
  platform.ReadOrCreate = ReadOrCreate;
  platform.Replace = Replace;
  return platform;
}

}  // namespace tev
