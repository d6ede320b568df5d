#include "media/file_access.h"

#include <cerrno>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <sys/stat.h>
#endif

namespace tev::media {

std::string ErrorText(int errno_value) { return std::strerror(errno_value); }

namespace {

bool SameName(const std::string& a, const std::string& b);

// The folder part ("." when there is none) and the last name of a path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
#ifdef _WIN32
  const size_t cut = path.find_last_of("\\/:");
  if (cut != std::string::npos && path[cut] == ':') return {path.substr(0, cut + 1) + ".", path.substr(cut + 1)};
#else
  const size_t cut = path.find_last_of('/');
#endif
  if (cut == std::string::npos) return {".", path};
  // The root ("/", "C:\\") keeps its separator.
  const bool root = cut == 0 || path[cut - 1] == ':';
  return {path.substr(0, root ? cut + 1 : cut), path.substr(cut + 1)};
}

}  // namespace

bool NameSameFile(const std::string& a, const std::string& b) {
  const FileIdentity file_a = IdentifyFile(a), file_b = IdentifyFile(b);
  if (file_a.exists || file_b.exists) return file_a.SameFileAs(file_b);
  const auto [folder_a, name_a] = SplitPath(a);
  const auto [folder_b, name_b] = SplitPath(b);
  return SameName(name_a, name_b) && IdentifyFile(folder_a).SameFileAs(IdentifyFile(folder_b));
}

#ifdef _WIN32

std::wstring WideText(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8Text(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::string Win32ErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? Utf8Text(text) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

namespace {

bool SameName(const std::string& a, const std::string& b) {
  const std::wstring wide_a = WideText(a), wide_b = WideText(b);
  return CompareStringOrdinal(wide_a.c_str(), static_cast<int>(wide_a.size()), wide_b.c_str(),
                              static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(WideText(path).c_str(), WideText(mode).c_str());
}

bool RemoveFile(const std::string& path) { return _wremove(WideText(path).c_str()) == 0; }

bool MoveFileOver(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  if (error) *error = Win32ErrorText(GetLastError());
  return false;
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity id;
  // Backup semantics let a folder be opened too, so a folder is told apart.
  HANDLE handle = CreateFileW(WideText(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle, &info)) {
    id.exists = true;
    id.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(handle);
  return id;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8Text(wide[i]));
  LocalFree(wide);
  return args;
}

#else

namespace {
bool SameName(const std::string& a, const std::string& b) { return a == b; }
}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool MoveFileOver(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  if (error) *error = ErrorText(errno);
  return false;
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity id;
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return id;
  id.exists = true;
  id.is_directory = S_ISDIR(info.st_mode);
  id.volume = static_cast<uint64_t>(info.st_dev);
  id.index = static_cast<uint64_t>(info.st_ino);
  return id;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

#endif

}  // namespace tev::media
