// Frame files the substitute host reads and writes: raw YUY2, raw 24-bit BGR,
// YUV4MPEG2 4:2:2 and common still images. Portable: the demo tools and the
// native tests use the same code as tevhost.exe.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tev::host {

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

// BT.601 full-range conversions (the JFIF form), rounded to nearest. A pair of
// pixels shares the average of their chroma.
void Bgr24ToYuy2(const uint8_t* bgr, uint8_t* yuy2, FrameSize size);
void Yuy2ToBgr24(const uint8_t* yuy2, uint8_t* bgr, FrameSize size);
// Converts one frame between kinds (a copy when they agree).
std::vector<uint8_t> ConvertFrame(const std::vector<uint8_t>& frame, PixelKind from, PixelKind to,
                                  FrameSize size);
// Luma of every pixel, whatever the kind.
std::vector<uint8_t> LumaOf(const std::vector<uint8_t>& frame, PixelKind kind, FrameSize size);

// Reads frames one at a time; the whole input is checked for a size that fits
// before the first frame is handed out where the format allows.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  FrameSize size() const { return size_; }
  PixelKind kind() const { return kind_; }
  // -1 when unknown until read.
  int64_t frame_count() const { return frame_count_; }
  // Frame bytes in kind(); false at the end. Throws on a damaged file.
  virtual bool Next(std::vector<uint8_t>& frame) = 0;
  // Y4M stream parameters to carry over to a Y4M output (rate, aspect...).
  const std::string& y4m_params() const { return y4m_params_; }

 protected:
  FrameSize size_;
  PixelKind kind_ = PixelKind::Yuy2;
  int64_t frame_count_ = -1;
  std::string y4m_params_;
};

// `size` is required for raw formats and, when given, must match the others.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path, FileFormat format, FrameSize size);

// Writes frames to a temporary file beside the target; Commit moves it into
// place. Destroyed without Commit, it removes the temporary, so a failed run
// leaves no partial output behind.
class FrameSink {
 public:
  FrameSink(std::string path, FileFormat format, FrameSize size, std::string y4m_params);
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // One frame of `kind`; converted to the file's pixel format as needed.
  void Put(const std::vector<uint8_t>& frame, PixelKind kind);
  void Commit();
  int64_t frames_written() const { return frames_; }

 private:
  std::string path_;
  std::string temp_path_;
  FileFormat format_;
  FrameSize size_;
  std::string y4m_params_;
  std::FILE* file_ = nullptr;
  std::vector<uint8_t> image_;  // the one frame of an image output, as RGB
  int64_t frames_ = 0;
  bool committed_ = false;
};

// Whole-file helpers; errors carry the path.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Writes through a temporary and a rename, so the target is never half written.
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Still images as RGB (R, G, B per pixel) for the demo's pictures.
void WriteRgbImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size);

}  // namespace tev::host
