// YUV4MPEG2 streams read and written one frame at a time, for pipes of any
// length: planar 8-bit streams of every common chroma layout. The header line
// and every frame's own line are kept as text and written back unchanged, so
// whatever they carry (rate, aspect, interlacing, X-parameters) survives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tev::media {

enum class Y4mChroma { Mono, C420, C422, C444, C411 };

struct Y4mFormat {
  int32_t width = 0;
  int32_t height = 0;
  Y4mChroma chroma = Y4mChroma::C420;
  std::string header;  // the stream's header line without its '\n'
  size_t luma_bytes = 0;
  size_t chroma_plane_bytes = 0;  // each of the two chroma planes; 0 for mono
  size_t frame_bytes = 0;
};

// The chroma layouts read, as the C parameter spells them; no C means 420jpeg.
extern const char kY4mSupportedChroma[];

// Checks a stream header line (without its '\n'). Returns "" and fills
// `format`, or a one-line reason, naming what is supported when the stream is
// of a kind we do not read (more than 8 bits, alpha, an unknown layout).
std::string ParseY4mHeader(std::string_view line, Y4mFormat& format);

class Y4mReader {
 public:
  enum class Result { Frame, End, Error };

  explicit Y4mReader(std::FILE* in) : in_(in) {}

  // False with error() set when the header is missing, malformed or of an
  // unsupported kind.
  bool ReadHeader();
  const Y4mFormat& format() const { return format_; }

  // The next frame: its line's text after "FRAME" (parameters, usually empty)
  // and format().frame_bytes of planes. End only at a clean frame boundary;
  // a frame cut short or a line that is not a frame's is an Error naming the
  // frame by its number (from 1).
  Result ReadFrame(std::string& params, std::vector<uint8_t>& planes);
  const std::string& error() const { return error_; }
  int64_t frames_read() const { return frames_; }

 private:
  // A line up to '\n' (not included), at most `limit` bytes; false at the end
  // of input or on a longer line. `got_any` says whether any byte came.
  bool ReadLine(std::string& line, size_t limit, bool& got_any);

  std::FILE* in_;
  Y4mFormat format_;
  std::string error_;
  int64_t frames_ = 0;
};

class Y4mWriter {
 public:
  explicit Y4mWriter(std::FILE* out) : out_(out) {}
  bool WriteHeader(const Y4mFormat& format);
  // Writes one frame and flushes it, so a reader downstream gets it at once.
  bool WriteFrame(std::string_view params, const uint8_t* planes, size_t size);

 private:
  std::FILE* out_;
};

}  // namespace tev::media
