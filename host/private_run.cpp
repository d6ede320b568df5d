#include "host/private_run.h"

#include <windows.h>

#include <string>

#include "host/interrupt.h"
#include "media/file_access.h"
#include "media/whole_file.h"
#include "settings/settings_platform_win32.h"

namespace tev::host {
namespace {

constexpr wchar_t kFolderPrefix[] = L"tevhost-run-";
// Held open by the run that owns the folder and deleted when that run's
// handles close, however it ends: a folder without it is stale.
constexpr wchar_t kOwnerMark[] = L"owner.lock";
constexpr wchar_t kHostCopy[] = L"tevhost.exe";
// A folder this young may belong to a run that has not marked it yet.
constexpr ULONGLONG kStaleAfter100ns = 60ull * 10000000ull;

// The plugin sees 8-bit text in the ANSI code page.
std::wstring FromAnsi(const std::string& text) {
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string ToAnsi(const std::wstring& text) {
  std::string ansi(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                                           0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), static_cast<int>(ansi.size()),
                      nullptr, nullptr);
  return ansi;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// This process's command line after its program name, exactly as given.
std::wstring ArgumentsText() {
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line && *line != L'"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != L' ' && *line != L'\t') ++line;
  }
  return line;
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(folder + name + L"\\");
      } else {
        SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((folder + name).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

// Folders of runs that died: no owner mark, older than a minute, and a host
// copy that is not running (a running image cannot be deleted).
void RemoveStaleFolders(const std::wstring& temp) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + kFolderPrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  const ULONGLONG now = (static_cast<ULONGLONG>(now_time.dwHighDateTime) << 32) | now_time.dwLowDateTime;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const ULONGLONG created =
        (static_cast<ULONGLONG>(found.ftCreationTime.dwHighDateTime) << 32) | found.ftCreationTime.dwLowDateTime;
    if (now < created + kStaleAfter100ns) continue;
    const std::wstring folder = temp + found.cFileName + L"\\";
    if (GetFileAttributesW((folder + kOwnerMark).c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    const std::wstring copy = folder + kHostCopy;
    if (GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileW(copy.c_str())) continue;
    RemoveTree(folder);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

struct Handle {
  HANDLE value = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (value && value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
};

// Creates every missing folder from `from` (which exists) down to `to`.
void CreateFoldersBelow(const std::wstring& from, const std::wstring& to) {
  for (size_t at = to.find(L'\\', from.size()); at != std::wstring::npos; at = to.find(L'\\', at + 1))
    CreateDirectoryW(to.substr(0, at).c_str(), nullptr);
}

}  // namespace

std::wstring HostExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

std::string PluginTextToUtf8(const std::string& text) { return media::Utf8Text(FromAnsi(text)); }

SettingsPaths PluginSettingsPaths(const std::string& plugin_path, bool without_instance) {
  SettingsPathInputs inputs = GatherSettingsPathInputs();
  if (without_instance) inputs.CommandLine.clear();
  return BuildSettingsPath(BaseName(plugin_path), inputs, nullptr);
}

int RunWithPrivateSettings(const std::vector<uint8_t>& settings, const std::string& plugin_path, bool plugin_given) {
  std::wstring temp(MAX_PATH + 1, L'\0');
  temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
  if (temp.empty()) throw SettingsFileError("cannot find the folder for temporary files: " + media::Win32ErrorText(GetLastError()));
  RemoveStaleFolders(temp);

  // A new folder of our own, marked as owned before anything goes in.
  std::wstring folder;
  for (unsigned attempt = 0;; ++attempt) {
    folder = temp + kFolderPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L"\\";
    if (CreateDirectoryW(folder.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 1000)
      throw SettingsFileError("cannot create a private settings folder in '" + media::Utf8Text(temp) +
                              "': " + media::Win32ErrorText(GetLastError()));
  }
  Handle mark;
  mark.value = CreateFileW((folder + kOwnerMark).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  struct Cleanup {
    const std::wstring& folder;
    Handle& mark;
    ~Cleanup() {
      if (mark.value != INVALID_HANDLE_VALUE) CloseHandle(mark.value);
      mark.value = INVALID_HANDLE_VALUE;
      // The copy's image may be released a moment after its process ends.
      for (int attempt = 0; attempt < 50; ++attempt) {
        RemoveTree(folder);
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        Sleep(20);
      }
    }
  } cleanup{folder, mark};

  const std::wstring copy = folder + kHostCopy;
  if (!CopyFileW(HostExecutablePath().c_str(), copy.c_str(), TRUE))
    throw SettingsFileError("cannot copy the host into its private folder '" + media::Utf8Text(folder) +
                            "': " + media::Win32ErrorText(GetLastError()));

  std::wstring command = L"\"" + copy + L"\"" + ArgumentsText() + L" --" + media::WideText(kPrivateRunOption) + L" " +
                         std::to_wstring(GetCurrentProcessId());
  if (!plugin_given) command += L" --plugin \"" + media::WideText(plugin_path) + L"\"";

  // Where the plugin will look when the copy loads it: its own rule, given
  // what the copy's process will tell it (8-bit path and command line).
  SettingsPathInputs inputs = GatherSettingsPathInputs();
  inputs.ExecutablePath = ToAnsi(copy);
  inputs.CommandLine = ToAnsi(command);
  const SettingsPaths paths = BuildSettingsPath(BaseName(plugin_path), inputs, nullptr);
  const std::string ansi_folder = ToAnsi(folder);
  if (paths.SettingsFilePath.empty())
    throw SettingsFileError("the plugin would keep no settings file under the private folder '" + media::Utf8Text(folder) +
                            "' (its path is too long for the plugin)");
  if (paths.SettingsFilePath.compare(0, ansi_folder.size(), ansi_folder) != 0)
    throw SettingsFileError(
        "--settings cannot be kept apart from the plugin's own file: this installation keeps the plugin's settings "
        "in the user's application-data folder (HKLM\\SOFTWARE\\Korvanta StoreInUsersFolder), not beside the host");

  const std::wstring settings_path = FromAnsi(paths.SettingsFilePath);
  CreateFoldersBelow(folder, FromAnsi(paths.SettingsDirectory));
  media::WriteWholeFile(media::Utf8Text(settings_path), settings, "private copy of the settings file");

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    throw SettingsFileError("cannot start the host's private run: " + media::Win32ErrorText(GetLastError()));
  CloseHandle(process.hThread);
  // The copy gets the same event and ends within its unwinding time; one that
  // does not (the event lost, the copy stuck) is ended, so that Ctrl+C always
  // ends the run instead of leaving it waiting.
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (!InterruptRequested()) continue;
    if (WaitForSingleObject(process.hProcess, 2 * kUnwindMilliseconds) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, kExitInterrupted);
      WaitForSingleObject(process.hProcess, 10000);
    }
    break;
  }
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}

}  // namespace tev::host
