// A test's own scratch folder in the temporary folder, removed with the files
// in it by the wide calls, since some of their names are Cyrillic and CJK.
#pragma once

#include <windows.h>

#include <string>

namespace tev::testing {

// "<temp>\<prefix><process id>\", created empty.
inline std::string MakeTestFolder(const std::string& prefix) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + prefix + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

inline void RemoveFolderAndFiles(const std::wstring& folder) {  // `folder` ends in a backslash
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do DeleteFileW((folder + found.cFileName).c_str());
    while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace tev::testing
