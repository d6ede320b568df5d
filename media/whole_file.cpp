#include "media/whole_file.h"

#include <cerrno>

#include "media/file_access.h"
#include "media/frame_format.h"
#include "media/temporary_files.h"

namespace tev::media {

std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& role) {
  const auto fail = [&](const std::string& reason) -> FrameFileError {
    return FrameFileError("cannot read " + role + " '" + path + "': " + reason);
  };
  if (IdentifyFile(path).is_directory) throw fail("it is a folder");
  FilePtr file(OpenFile(path, "rb"));
  if (!file) throw fail(ErrorText(errno));
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof(chunk), file.get());
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof(chunk)) break;
    // Whole files are settings and single pictures; anything this big is a mistake.
    if (bytes.size() > (size_t{1} << 30)) throw fail("larger than 1 GiB");
  }
  if (std::ferror(file.get())) throw fail(ErrorText(errno));
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& role) {
  TemporaryFile temporary(path, role);
  temporary.Write(bytes.data(), bytes.size());
  temporary.Commit();
}

}  // namespace tev::media
