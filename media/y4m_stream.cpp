#include "media/y4m_stream.h"


namespace tev::media {
namespace {

constexpr char kMagic[] = "YUV4MPEG2";
// Long enough for any real header with X-parameters; a longer line is not a
// Y4M header, and reading on would only buffer garbage.
constexpr size_t kHeaderLimit = 64 * 1024;
constexpr char kFrameTag[] = "FRAME";
// Sizes whose frame stays well inside memory and 32-bit pixel arithmetic.
constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxPixels = int64_t{1} << 27;

struct ChromaTag {
  const char* name;
  Y4mChroma chroma;
};
constexpr ChromaTag kChromaTags[] = {
    {"mono", Y4mChroma::Mono},     {"420jpeg", Y4mChroma::C420}, {"420mpeg2", Y4mChroma::C420},
    {"420paldv", Y4mChroma::C420}, {"420", Y4mChroma::C420},     {"422", Y4mChroma::C422},
    {"444", Y4mChroma::C444},      {"411", Y4mChroma::C411},
};

bool ParseSide(std::string_view text, int32_t& value) {
  if (text.empty() || text.size() > 6) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > kMaxSide) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// Tags of deeper samples end in p<bits> ("420p10") or follow "mono" ("mono16").
bool IsDeepTag(std::string_view tag) {
  if (tag.size() > 4 && tag.substr(0, 4) == "mono") return true;
  const size_t p = tag.rfind('p');
  if (p == std::string_view::npos || p + 1 == tag.size()) return false;
  for (size_t i = p + 1; i < tag.size(); ++i)
    if (tag[i] < '0' || tag[i] > '9') return false;
  return true;
}

size_t CeilShift(int32_t v, int shift) { return (static_cast<size_t>(v) + (size_t{1} << shift) - 1) >> shift; }

}  // namespace

const char kY4mSupportedChroma[] = "8-bit C420jpeg, C420mpeg2, C420paldv, C420, C422, C444, C411 and Cmono";

std::string ParseY4mHeader(std::string_view line, Y4mFormat& format, Y4mRefusal* refusal) {
  Y4mRefusal ignored;
  Y4mRefusal& why = refusal ? *refusal : ignored;
  why = Y4mRefusal::None;
  const size_t magic = sizeof(kMagic) - 1;
  if (line.substr(0, magic) != kMagic || (line.size() > magic && line[magic] != ' ')) {
    why = Y4mRefusal::NotY4m;
    return "not a YUV4MPEG2 stream (no YUV4MPEG2 header)";
  }
  Y4mFormat f;
  f.header.assign(line);
  bool have_w = false, have_h = false;
  std::string_view rest = line.substr(magic);
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    const std::string_view token = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    if (token.empty()) continue;
    const std::string_view value = token.substr(1);
    switch (token[0]) {
      case 'W':
        if (!ParseSide(value, f.width)) {
          why = Y4mRefusal::BadSize;
          return "bad width '" + std::string(value) + "' in the YUV4MPEG2 header";
        }
        have_w = true;
        break;
      case 'H':
        if (!ParseSide(value, f.height)) {
          why = Y4mRefusal::BadSize;
          return "bad height '" + std::string(value) + "' in the YUV4MPEG2 header";
        }
        have_h = true;
        break;
      case 'C': {
        f.chroma_tag.assign(value);
        const ChromaTag* found = nullptr;
        for (const ChromaTag& tag : kChromaTags)
          if (value == tag.name) found = &tag;
        if (!found) {
          why = Y4mRefusal::Chroma;
          format.chroma_tag.assign(value);
          const std::string what = IsDeepTag(value)                       ? "samples of more than 8 bits"
                                   : value.find("alpha") != value.npos ? "an alpha plane"
                                                                         : "an unknown chroma layout";
          return "unsupported stream: C" + std::string(value) + " has " + what + "; supported: " +
                 kY4mSupportedChroma;
        }
        f.chroma = found->chroma;
        break;
      }
      default:  // rate, interlacing, aspect and X-parameters only pass through
        f.params += ' ';
        f.params += token;
        break;
    }
  }
  if (!have_w || !have_h) {
    why = Y4mRefusal::BadSize;
    return "YUV4MPEG2 header without W and H";
  }
  if (int64_t{f.width} * f.height > kMaxPixels) {
    why = Y4mRefusal::TooLarge;
    return "frame too large for this program";
  }

  f.luma_bytes = static_cast<size_t>(f.width) * static_cast<size_t>(f.height);
  switch (f.chroma) {
    case Y4mChroma::Mono: f.chroma_plane_bytes = 0; break;
    case Y4mChroma::C420: f.chroma_plane_bytes = CeilShift(f.width, 1) * CeilShift(f.height, 1); break;
    case Y4mChroma::C422: f.chroma_plane_bytes = CeilShift(f.width, 1) * static_cast<size_t>(f.height); break;
    case Y4mChroma::C444: f.chroma_plane_bytes = f.luma_bytes; break;
    case Y4mChroma::C411: f.chroma_plane_bytes = CeilShift(f.width, 2) * static_cast<size_t>(f.height); break;
  }
  f.frame_bytes = f.luma_bytes + 2 * f.chroma_plane_bytes;
  format = std::move(f);
  return "";
}

bool Y4mReader::ReadLine(std::string& line, size_t limit, bool& got_any) {
  line.clear();
  got_any = false;
  for (;;) {
    const int c = std::getc(in_);
    if (c == EOF) return false;
    got_any = true;
    if (c == '\n') return true;
    if (line.size() == limit) return false;
    line.push_back(static_cast<char>(c));
  }
}

bool Y4mReader::ReadHeader() {
  std::string line;
  bool got_any = false;
  if (!ReadLine(line, kHeaderLimit, got_any)) {
    const bool ours = line.size() < kHeaderLimit && line.compare(0, sizeof(kMagic) - 1, kMagic) == 0;
    error_ = !got_any ? "empty input: no YUV4MPEG2 stream"
             : ours   ? "input ends inside the YUV4MPEG2 header"
                      : "not a YUV4MPEG2 stream (no YUV4MPEG2 header)";
    refusal_ = !got_any ? Y4mRefusal::Empty : ours ? Y4mRefusal::EndsEarly : Y4mRefusal::NotY4m;
    return false;
  }
  error_ = ParseY4mHeader(line, format_, &refusal_);
  return error_.empty();
}

Y4mReader::Result Y4mReader::ReadFrame(std::string& params, std::vector<uint8_t>& planes) {
  const std::string frame = "frame " + std::to_string(frames_ + 1);
  truncated_ = false;
  std::string line;
  bool got_any = false;
  const bool whole_line = ReadLine(line, kHeaderLimit, got_any);
  if (!got_any) {
    if (!std::ferror(in_)) return Result::End;
    error_ = "cannot read " + frame;
    return Result::Error;
  }
  const size_t tag = sizeof(kFrameTag) - 1;
  if (line.compare(0, tag, kFrameTag) != 0 || (line.size() > tag && line[tag] != ' ')) {
    // A cut-off "FRA" at the end is a truncated frame; anything else is not a frame.
    const bool cut = !whole_line && line.size() < tag && std::string(kFrameTag).compare(0, line.size(), line) == 0;
    truncated_ = cut;
    error_ = frame + (cut ? " is truncated (input ends in its FRAME line)" : ": expected a FRAME line");
    return Result::Error;
  }
  if (!whole_line) {
    truncated_ = line.size() < kHeaderLimit;
    error_ = frame + (line.size() == kHeaderLimit ? ": FRAME line too long" : " is truncated (input ends in its FRAME line)");
    return Result::Error;
  }
  params.assign(line, tag, std::string::npos);
  planes.resize(format_.frame_bytes);
  const size_t got = std::fread(planes.data(), 1, planes.size(), in_);
  if (got != planes.size()) {
    truncated_ = !std::ferror(in_);
    error_ = frame + " is truncated (" + std::to_string(got) + " of " + std::to_string(planes.size()) + " bytes)";
    return Result::Error;
  }
  ++frames_;
  return Result::Frame;
}

std::string Y4mHeaderLine(int32_t width, int32_t height, std::string_view chroma_tag, std::string_view params) {
  std::string line = std::string(kMagic) + " W" + std::to_string(width) + " H" + std::to_string(height);
  line += params;
  if (!chroma_tag.empty()) line += " C" + std::string(chroma_tag);
  return line + "\n";
}

std::string Y4mFrameLine(std::string_view params) { return kFrameTag + std::string(params) + "\n"; }

bool Y4mWriter::WriteHeader(const Y4mFormat& format) {
  return std::fwrite(format.header.data(), 1, format.header.size(), out_) == format.header.size() &&
         std::fputc('\n', out_) != EOF && std::fflush(out_) == 0;
}

bool Y4mWriter::WriteFrame(std::string_view params, const uint8_t* planes, size_t size) {
  const std::string line = Y4mFrameLine(params);
  return std::fwrite(line.data(), 1, line.size(), out_) == line.size() &&
         std::fwrite(planes, 1, size, out_) == size && std::fflush(out_) == 0;
}

}  // namespace tev::media
