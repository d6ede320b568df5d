#include "media/temporary_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "media/file_access.h"
#include "media/frame_format.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tev::media {
namespace {

std::mutex g_mutex;
std::vector<std::string>& Temporaries() {
  static auto* list = new std::vector<std::string>();  // never destroyed: a late handler may still use it
  return *list;
}

#ifdef _WIN32
const intptr_t kNoHandle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);

// The C library's words for the failures of writing a file, so that both
// builds say "No space left on device".
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_NAME: return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    default: return EIO;
  }
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

// Shared for deletion, so that RemoveAllTemporaries can remove the file while
// the writing thread still holds it open.
intptr_t CreateExclusive(const std::string& path, int& error) {
  HANDLE handle = CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) error = ErrnoOf(GetLastError());
  return reinterpret_cast<intptr_t>(handle);
}

// Writes all or returns the reason; a short write is followed up, so that a
// full disk is reported by the call that meets it.
int WriteAll(intptr_t handle, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1 << 30));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), bytes, chunk, &done, nullptr)) return ErrnoOf(GetLastError());
    if (done == 0) return ENOSPC;
    bytes += done;
    count -= done;
  }
  return 0;
}

int CloseHandleOf(intptr_t handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : ErrnoOf(GetLastError());
}

// Windows refuses to replace a read-only file; Wine, run by root, does not.
// Empty when the target may be replaced, else the reason.
std::string TargetRefusal(const std::string& target) {
  const DWORD attributes = GetFileAttributesW(WideText(target).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  return attributes & FILE_ATTRIBUTE_READONLY ? ErrorText(EACCES) + " (the file is read-only)" : std::string();
}
#else
constexpr intptr_t kNoHandle = -1;

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

intptr_t CreateExclusive(const std::string& path, int& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) error = errno;
  return fd;
}

int WriteAll(intptr_t fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t done = write(static_cast<int>(fd), bytes, count);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return errno;
    if (done == 0) return ENOSPC;
    bytes += done;
    count -= static_cast<size_t>(done);
  }
  return 0;
}

int CloseHandleOf(intptr_t fd) { return close(static_cast<int>(fd)) == 0 ? 0 : errno; }

// rename() would replace a read-only file without a word.
std::string TargetRefusal(const std::string& target) {
  struct stat info{};
  if (stat(target.c_str(), &info) != 0) return {};
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  return access(target.c_str(), W_OK) == 0 ? std::string() : ErrorText(errno);
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
  CheckTargetIsWritable();  // before any work, not after a long run
  static std::atomic<unsigned> counter{0};
  // A name of this process that no file has yet: a leftover of another run
  // (even one that had this process id) is skipped, never reused or committed.
  for (int attempt = 0; attempt < 100 && handle_ == kNoHandle; ++attempt) {
    path_ = target_ + ".tev-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter) + ".part";
    int error = 0;
    handle_ = CreateExclusive(path_, error);
    if (handle_ == kNoHandle && error != EEXIST) Fail(ErrorText(error));
  }
  if (handle_ == kNoHandle) Fail("no free temporary name beside it");
  RegisterTemporary(path_);
}

TemporaryFile::~TemporaryFile() {
  if (committed_) return;
  Close();
  RemoveFile(path_);
  UnregisterTemporary(path_);
}

void TemporaryFile::Fail(const std::string& reason) {
  throw FrameFileError("cannot write " + role_ + " '" + target_ + "': " + reason);
}

void TemporaryFile::CheckTargetIsWritable() {
  const std::string refusal = TargetRefusal(target_);
  if (!refusal.empty()) Fail(refusal);
}

bool TemporaryFile::Close() {
  if (handle_ == kNoHandle) return true;
  const int error = CloseHandleOf(handle_);
  handle_ = kNoHandle;
  errno = error;
  return error == 0;
}

void TemporaryFile::Write(const void* bytes, size_t count) {
  const int error = WriteAll(handle_, static_cast<const uint8_t*>(bytes), count);
  if (error) Fail(ErrorText(error));
}

void TemporaryFile::Commit() {
  if (!Close()) Fail(ErrorText(errno));
  CheckTargetIsWritable();
  std::string error;
  if (!MoveFileOver(path_, target_, &error)) Fail(error);
  committed_ = true;
  UnregisterTemporary(path_);
}

}  // namespace tev::media
