// Test support: the store's pair of file operations in portable C++, for the
// native tests (the DLL passes its Win32 versions).
#pragma once

#include <cstddef>
#include <string>

namespace tev {

// Reads the whole file, creating it empty when it does not exist (an existing
// file is not truncated). False when it cannot be opened or read.
bool ReadSettingsFileOrCreate(const std::string& path, std::string& content);

// Writes `size` bytes to a temporary file beside `path` and moves it over
// `path` in one step; on any failure the old file is left as it was.
bool ReplaceSettingsFile(const std::string& path, const char* data, size_t size);

}  // namespace tev
