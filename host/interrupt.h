// Ending a run early without leaving a user anything half made: Ctrl+C,
// Ctrl+Break or a closed console, and for a private run the death of the
// host process that started it. The main thread polls between frames and
// unwinds (its destructors remove partial output); if unwinding stalls, the
// handler removes every temporary on the media library's list.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace tev::host {

class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted; no output was written") {}
};

// Exit status of an interrupted run (128 + SIGINT, as shells report it).
constexpr int kExitInterrupted = 130;
// After the event, how long a run gets to reach its next check and unwind.
constexpr DWORD kUnwindMilliseconds = 5000;

// `forward_only`: this process only waits for a child that shares the
// console and ends on the same event, so the event itself is ignored here.
void InstallInterruptHandler(bool forward_only);
// A private run ends as if interrupted when the process `parent_id` is gone.
void EndWithParent(DWORD parent_id);

bool InterruptRequested();
// Throws Interrupted once an interrupt has been asked for.
void CheckInterrupt();

}  // namespace tev::host
