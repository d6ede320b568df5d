// What a frame file holds: its format, the pixel kind the plugin is given, the
// frame size and the error every frame-file failure is reported with.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tev::media {

// What the plugin sees: packed 4:2:2 (Y0 U Y1 V) or 24-bit B, G, R.
enum class PixelKind { Yuy2, Bgr24 };

enum class FileFormat { Unknown, RawYuy2, RawBgr24, Y4m, Image };

// Every failure of reading, writing or checking a frame file; the message is
// meant for the user as it stands.
class FrameFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FrameSize {
  int width = 0;
  int height = 0;
};

// Largest side accepted; keeps every byte count of a frame within 31 bits.
constexpr int kMaxSide = 16384;

size_t FrameBytes(PixelKind kind, FrameSize size);
const char* KindName(PixelKind kind);

// "yuy2", "bgr24", "y4m", "image"; "" or "auto" guesses from the file name.
// Unknown names and extensions give FileFormat::Unknown.
FileFormat ParseFileFormat(const std::string& name);
FileFormat GuessFileFormat(const std::string& path);
// Throws when the format cannot be told.
FileFormat ResolveFileFormat(const std::string& name, const std::string& path);
const char* FileFormatName(FileFormat format);
PixelKind NativeKind(FileFormat format);

// "720x576"; throws on anything else, or sizes beyond kMaxSide.
FrameSize ParseFrameSize(const std::string& text);
// Throws when the size is impossible for the kind (YUY2 pairs need an even width).
void CheckFrameSize(PixelKind kind, FrameSize size);

// The lower-case extension of a path without its dot; "" when it has none.
std::string FileExtension(const std::string& path);

}  // namespace tev::media
