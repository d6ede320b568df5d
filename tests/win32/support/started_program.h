// A program a test starts (tevhost.exe), its stdout and stderr together in a
// log file of its own. For tests that link the media library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "media/file_access.h"
#include "support/child_process.h"
#include "media/whole_file.h"

namespace tev::testing {

struct ProgramRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;  // stdout and stderr together
};

struct StartedProgram {
  ChildProcess process;
  std::string log;
};

// `command_line` is UTF-8, given to the wide call.
inline StartedProgram StartProgram(const std::string& command_line, const std::string& log) {
  StartedProgram started;
  started.log = log;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE out = CreateFileW(media::WideText(log).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = out;
  std::wstring command = media::WideText(command_line);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    started.process = ChildProcess(process);
  CloseHandle(out);
  return started;
}

// Waits two minutes at most, then ends the program; the output is
// "<no log>" when there is none.
inline ProgramRun FinishProgram(StartedProgram& started) {
  ProgramRun run;
  if (started.process.handle()) run.exit_code = started.process.Await(120000);
  try {
    const std::vector<uint8_t> bytes = media::ReadWholeFile(started.log, "log file");
    run.output.assign(bytes.begin(), bytes.end());
  } catch (const std::exception& error) {
    run.output = std::string("<no log> ") + error.what();
  }
  return run;
}

}  // namespace tev::testing
