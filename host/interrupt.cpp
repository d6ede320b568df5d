#include "host/interrupt.h"

#include <atomic>

#include "media/temporary_files.h"

namespace tev::host {
namespace {

std::atomic<bool> g_interrupted{false};
bool g_forward_only = false;

// Runs on a thread of its own; returning ends the process (the default handler).
void EndAfterUnwinding() {
  g_interrupted = true;
  Sleep(kUnwindMilliseconds);
  media::RemoveAllTemporaries();
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

}  // namespace tev::host
