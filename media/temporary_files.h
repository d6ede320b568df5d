// Output is written under a temporary name beside its target and moved into
// place only when complete. Each temporary has a name of its own run (a stale
// one of a killed run is never taken for output), and every live temporary is
// on a process-wide list, so an interrupted run can remove them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tev::media {

// Adds or drops a path on the list of temporaries to remove when the run is
// interrupted.
void RegisterTemporary(const std::string& path);
void UnregisterTemporary(const std::string& path);
// Removes every listed temporary, also one still open for writing. Meant for a
// console control handler or another thread; it takes one short lock.
void RemoveAllTemporaries();

// One output in the making. `role` names the target in messages ("output
// file", "settings file"); every failure throws FrameFileError with the
// system's reason. Destroyed without Commit, the temporary is removed.
class TemporaryFile {
 public:
  TemporaryFile(std::string target, std::string role);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Write(const void* bytes, size_t count);
  // Completes the temporary and puts it in place of the target.
  void Commit();
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void Fail(const std::string& reason);
  void CheckTargetIsWritable();
  bool Close();

  std::string target_;
  std::string role_;
  std::string path_;
  // Written straight through the system: a C runtime buffer would report a
  // full disk late, and Wine's runtime then gives a stale reason.
  intptr_t handle_ = -1;  // a HANDLE on Windows, a file descriptor elsewhere
  bool committed_ = false;
};

}  // namespace tev::media
