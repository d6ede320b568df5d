#include "tests/native/settings_file_io.h"

#include <cstdio>
#include <memory>
#include <new>

#include "settings/settings_path.h"

namespace tev {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool ReadSettingsFileOrCreate(const std::string& path, std::string& content) {
  content.clear();
  // Append mode creates a missing file and never truncates an existing one.
  if (!File(std::fopen(path.c_str(), "ab"))) return false;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  try {
    char block[65536];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file.get())) > 0) content.append(block, count);
  } catch (const std::bad_alloc&) {
    content.clear();
    return false;
  }
  return !std::ferror(file.get());
}

bool ReplaceSettingsFile(const std::string& path, const char* data, size_t size) {
  // A file we could not open for writing is not ours to replace, even though
  // its folder would let us put a new one in its place.
  if (File existing{std::fopen(path.c_str(), "rb")}) {
    if (!File(std::fopen(path.c_str(), "r+b"))) return false;
  }
  const std::string temp = path + kSettingsTempSuffix;
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(data, 1, size, file) == size;
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  // rename() replaces the target in one step: readers see old or new, never a mixture.
  if (!written || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace tev
