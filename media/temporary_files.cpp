#include "media/temporary_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "media/file_access.h"
#include "media/frame_format.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileA, which would rename our own function.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tev::media {
namespace {

std::mutex g_mutex;
std::vector<std::string>& Temporaries() {
  static auto* list = new std::vector<std::string>();  // never destroyed: a late handler may still use it
  return *list;
}

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  return wide;
}

// Shared for deletion, so that RemoveAllTemporaries can remove it while the
// writing thread still holds it open; the C runtime's own open cannot ask for that.
std::FILE* CreateExclusive(const std::string& path, bool& exists) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    errno = code == ERROR_ACCESS_DENIED ? EACCES : code == ERROR_PATH_NOT_FOUND ? ENOENT
          : code == ERROR_DISK_FULL ? ENOSPC : code == ERROR_WRITE_PROTECT ? EROFS : EIO;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) _close(fd);
  return file;
}
#else
std::FILE* CreateExclusive(const std::string& path, bool& exists) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}
#endif

}  // namespace

void RegisterTemporary(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Temporaries().push_back(path);
}

void UnregisterTemporary(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& list = Temporaries();
  list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

void RemoveAllTemporaries() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string& path : Temporaries()) RemoveFile(path);
  Temporaries().clear();
}

TemporaryFile::TemporaryFile(std::string target, std::string role) : target_(std::move(target)), role_(std::move(role)) {
  static std::atomic<unsigned> counter{0};
  // A name of this process that no file has yet: a leftover of another run
  // (even one that had this process id) is skipped, never reused or committed.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = target_ + ".tev-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter) + ".part";
    bool exists = false;
    file_ = CreateExclusive(path_, exists);
    if (file_) break;
    if (!exists) Fail(ErrorText(errno));
  }
  if (!file_) Fail("no free temporary name beside it");
  RegisterTemporary(path_);
}

TemporaryFile::~TemporaryFile() {
  if (committed_) return;
  if (file_) std::fclose(file_);
  RemoveFile(path_);
  UnregisterTemporary(path_);
}

void TemporaryFile::Fail(const std::string& reason) {
  throw FrameFileError("cannot write " + role_ + " '" + target_ + "': " + reason);
}

void TemporaryFile::Write(const void* bytes, size_t count) {
  if (count && std::fwrite(bytes, 1, count, file_) != count) Fail(ErrorText(errno));
}

void TemporaryFile::Commit() {
  if (std::fflush(file_) != 0) Fail(ErrorText(errno));
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) Fail(ErrorText(errno));
#ifndef _WIN32
  // rename() would replace a read-only target; Windows refuses that by itself.
  if (access(target_.c_str(), F_OK) == 0 && access(target_.c_str(), W_OK) != 0) Fail(ErrorText(errno));
#endif
  std::string error;
  if (!ReplaceFile(path_, target_, &error)) Fail(error);
  committed_ = true;
  UnregisterTemporary(path_);
}

}  // namespace tev::media
