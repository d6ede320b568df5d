#include "host/interrupt.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "media/file_access.h"

namespace tev::host {
namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mutex;
std::vector<std::string> g_partial_files;
bool g_forward_only = false;
// The main thread gets this long to reach its next check and unwind.
constexpr DWORD kUnwindMilliseconds = 5000;

void RemovePartialFiles() {
  std::lock_guard<std::mutex> guard(g_mutex);
  for (const std::string& path : g_partial_files) media::RemoveFile(path);
  g_partial_files.clear();
}

// Runs on a thread of its own; returning ends the process (the default handler).
void EndAfterUnwinding() {
  g_interrupted = true;
  Sleep(kUnwindMilliseconds);
  RemovePartialFiles();
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (g_forward_only) {
    g_interrupted = true;
    return TRUE;
  }
  EndAfterUnwinding();
  return FALSE;
}

DWORD WINAPI WatchParent(void* parent) {
  WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
  EndAfterUnwinding();
  ExitProcess(kExitInterrupted);
}

}  // namespace

void InstallInterruptHandler(bool forward_only) {
  g_forward_only = forward_only;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndWithParent(DWORD parent_id) {
  HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parent_id);
  // Already gone: nothing waits for this run's output.
  if (!parent) {
    g_interrupted = true;
    return;
  }
  HANDLE thread = CreateThread(nullptr, 0, WatchParent, parent, 0, nullptr);
  if (thread) CloseHandle(thread);
}

bool InterruptRequested() { return g_interrupted; }

void CheckInterrupt() {
  if (g_interrupted) throw Interrupted();
}

void RemoveOnInterrupt(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_partial_files.push_back(path);
}

void KeepOnInterrupt(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_partial_files.erase(std::remove(g_partial_files.begin(), g_partial_files.end(), path), g_partial_files.end());
}

}  // namespace tev::host
