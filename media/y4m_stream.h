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
  std::string chroma_tag;  // the C parameter's text ("420jpeg"); "" when the header has none
  std::string params;      // every parameter but W, H and C, in order, each after a space
  std::string header;      // the stream's header line without its '\n'
  size_t luma_bytes = 0;
  size_t chroma_plane_bytes = 0;  // each of the two chroma planes; 0 for mono
  size_t frame_bytes = 0;
};

// The chroma layouts read, as the C parameter spells them; no C means 420jpeg.
extern const char kY4mSupportedChroma[];

// Why a header was refused, for callers that word their own messages.
enum class Y4mRefusal { None, Empty, NotY4m, EndsEarly, BadSize, TooLarge, Chroma };

// Checks a stream header line (without its '\n'). Returns "" and fills
// `format`, or a one-line reason, naming what is supported when the stream is
// of a kind we do not read (more than 8 bits, alpha, an unknown layout). On a
// refusal for its chroma layout, `format.chroma_tag` still names the layout.
std::string ParseY4mHeader(std::string_view line, Y4mFormat& format, Y4mRefusal* refusal = nullptr);

// The lines as a stream holds them, each with its '\n'.
std::string Y4mHeaderLine(int32_t width, int32_t height, std::string_view chroma_tag, std::string_view params);
std::string Y4mFrameLine(std::string_view params);

class Y4mReader {
 public:
  enum class Result { Frame, End, Error };

  explicit Y4mReader(std::FILE* in) : in_(in) {}

  // False with error() set when the header is missing, malformed or of an
  // unsupported kind.
  bool ReadHeader();
  const Y4mFormat& format() const { return format_; }
  Y4mRefusal refusal() const { return refusal_; }

  // The next frame: its line's text after "FRAME" (parameters, usually empty)
  // and format().frame_bytes of planes. End only at a clean frame boundary;
  // a frame cut short or a line that is not a frame's is an Error naming the
  // frame by its number (from 1).
  Result ReadFrame(std::string& params, std::vector<uint8_t>& planes);
  const std::string& error() const { return error_; }
  // After an Error: whether the input ended inside the frame (not a damaged one).
  bool truncated() const { return truncated_; }
  int64_t frames_read() const { return frames_; }

 private:
  // A line up to '\n' (not included), at most `limit` bytes; false at the end
  // of input or on a longer line. `got_any` says whether any byte came.
  bool ReadLine(std::string& line, size_t limit, bool& got_any);

  std::FILE* in_;
  Y4mFormat format_;
  std::string error_;
  Y4mRefusal refusal_ = Y4mRefusal::None;
  bool truncated_ = false;
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
