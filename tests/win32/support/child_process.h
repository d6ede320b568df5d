// A program a test started. A child that outlives its test keeps Wine's server
// for the prefix alive, and with it every later test's wait for that server;
// so a child still running when the test gives up on it is ended.
#pragma once

#include <windows.h>

namespace tev::testing {

// Exit code of a child the test had to end.
constexpr DWORD kEndedByTest = 0xE4D;

class ChildProcess {
 public:
  ChildProcess() = default;
  explicit ChildProcess(const PROCESS_INFORMATION& process) : process_(process) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&& other) noexcept : process_(other.process_) { other.process_ = {}; }
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
      Await(0);
      process_ = other.process_;
      other.process_ = {};
    }
    return *this;
  }
  ~ChildProcess() { Await(0); }

  HANDLE handle() const { return process_.hProcess; }
  const PROCESS_INFORMATION& info() const { return process_; }

  // Waits up to `milliseconds`; a child still running then is ended with
  // kEndedByTest. Returns its exit code and lets go of it.
  DWORD Await(DWORD milliseconds) {
    if (!process_.hProcess) return kEndedByTest;
    if (WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, kEndedByTest);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    DWORD exit_code = kEndedByTest;
    GetExitCodeProcess(process_.hProcess, &exit_code);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
    return exit_code;
  }

 private:
  PROCESS_INFORMATION process_{};
};

}  // namespace tev::testing
