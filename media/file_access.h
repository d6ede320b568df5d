// Files by UTF-8 path on every system, their identity, and the system's own
// words for a failure. Windows needs the wide calls for names outside the
// ANSI code page (Cyrillic, CJK); elsewhere these are the plain calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tev::media {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fopen with a UTF-8 path; null with errno set on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Removes a file; false (errno set) when it could not.
bool RemoveFile(const std::string& path);

// Puts `from` in place of `to` in one step, replacing an existing `to`.
// On failure returns false and the system's reason in `error`.
bool MoveFileOver(const std::string& from, const std::string& to, std::string* error);

// The same file on disk, however it is named (links, "./", case on Windows):
// device and inode natively, volume serial and file index on Windows.
struct FileIdentity {
  bool exists = false;
  bool is_directory = false;
  uint64_t volume = 0;
  uint64_t index = 0;
  bool SameFileAs(const FileIdentity& other) const {
    return exists && other.exists && volume == other.volume && index == other.index;
  }
};
FileIdentity IdentifyFile(const std::string& path);

// True when the two paths name one file, also one that does not exist yet
// (then: the same folder, by identity, and the same name, ignoring case on
// Windows). For guards that must hold before anything is written.
bool NameSameFile(const std::string& a, const std::string& b);

// The system's text for an errno value ("No space left on device").
std::string ErrorText(int errno_value);

#ifdef _WIN32
// UTF-8 and the wide text of the Windows calls, both ways; and the system's
// text for a GetLastError() code.
std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const std::wstring& wide);
std::string Win32ErrorText(unsigned long code);
#endif

// The program's arguments as UTF-8: on Windows re-read from the wide command
// line (argv there is in the ANSI code page and loses characters).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace tev::media
