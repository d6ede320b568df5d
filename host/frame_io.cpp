#include "host/frame_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include "stb_image.h"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
#pragma GCC diagnostic pop

namespace tev::host {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot + 1));
}

uint8_t Clamp255(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Fixed point with 16 fraction bits, rounded to nearest.
constexpr int kOne = 1 << 16;
constexpr int kHalf = 1 << 15;
constexpr int Fix(double value) { return static_cast<int>(value * kOne + (value < 0 ? -0.5 : 0.5)); }

// Floor division by 2^16 with rounding to nearest, also for negative values.
int Round16(int value) { return (value + kHalf) >> 16; }

int LumaFix(int b, int g, int r) { return Fix(0.114) * b + Fix(0.587) * g + Fix(0.299) * r; }

std::string ErrnoText() { return std::strerror(errno); }

int64_t FileSize(std::FILE* file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  const int64_t size = _ftelli64(file);
  _fseeki64(file, 0, SEEK_SET);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  const int64_t size = ftello(file);
  fseeko(file, 0, SEEK_SET);
#endif
  return size;
}

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) throw FrameFileError("cannot open input file '" + path + "': " + ErrnoText());
  return file;
}

void ReplaceFile(const std::string& temp, const std::string& target) {
  // Windows' rename never replaces an existing file.
  std::remove(target.c_str());
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    const std::string reason = ErrnoText();
    std::remove(temp.c_str());
    throw FrameFileError("cannot write output file '" + target + "': " + reason);
  }
}

class RawSource : public FrameSource {
 public:
  RawSource(const std::string& path, PixelKind kind, FrameSize size) : path_(path), file_(OpenForReading(path)) {
    kind_ = kind;
    size_ = size;
    const int64_t bytes = FileSize(file_.get());
    const int64_t frame = static_cast<int64_t>(FrameBytes(kind, size));
    if (bytes < 0) throw FrameFileError("cannot read input file '" + path + "'");
    if (bytes == 0) throw FrameFileError("input file '" + path + "' is empty");
    if (bytes % frame != 0) {
      std::ostringstream text;
      text << "size does not match: '" << path << "' has " << bytes << " bytes, which is not a whole number of "
           << size.width << "x" << size.height << " " << KindName(kind) << " frames (" << frame << " bytes each)";
      throw FrameFileError(text.str());
    }
    frame_count_ = bytes / frame;
  }

  bool Next(std::vector<uint8_t>& frame) override {
    frame.resize(FrameBytes(kind_, size_));
    const size_t got = std::fread(frame.data(), 1, frame.size(), file_.get());
    if (got == frame.size()) return true;
    if (got == 0 && std::feof(file_.get())) return false;
    throw FrameFileError("cannot read input file '" + path_ + "': truncated frame");
  }

 private:
  std::string path_;
  FilePtr file_;
};

// YUV4MPEG2 with planar 4:2:2 (FFmpeg's yuv422p), delivered as YUY2.
class Y4mSource : public FrameSource {
 public:
  Y4mSource(const std::string& path, FrameSize wanted) : path_(path), file_(OpenForReading(path)) {
    kind_ = PixelKind::Yuy2;
    const std::string header = ReadHeaderLine("stream header");
    std::istringstream tokens(header);
    std::string magic, token, chroma = "420jpeg";
    tokens >> magic;
    if (magic != "YUV4MPEG2") throw FrameFileError("'" + path + "' is not a YUV4MPEG2 file");
    std::ostringstream keep;
    while (tokens >> token) {
      switch (token[0]) {
        case 'W': size_.width = ParseSide(token.substr(1)); break;
        case 'H': size_.height = ParseSide(token.substr(1)); break;
        case 'C': chroma = token.substr(1); break;
        default: keep << ' ' << token; break;  // rate, interlacing, aspect, extensions
      }
    }
    y4m_params_ = keep.str();
    if (size_.width <= 0 || size_.height <= 0)
      throw FrameFileError("'" + path + "': Y4M header lacks a valid width and height");
    if (chroma != "422")
      throw FrameFileError("'" + path + "': Y4M chroma '" + chroma +
                           "' is not supported; use 8-bit 4:2:2 (FFmpeg: -pix_fmt yuv422p)");
    CheckFrameSize(kind_, size_);
    if (wanted.width && (wanted.width != size_.width || wanted.height != size_.height)) {
      std::ostringstream text;
      text << "size does not match: '" << path << "' is " << size_.width << "x" << size_.height << ", not "
           << wanted.width << "x" << wanted.height;
      throw FrameFileError(text.str());
    }
    planes_.resize(static_cast<size_t>(size_.width) * size_.height * 2);
  }

  bool Next(std::vector<uint8_t>& frame) override {
    const int first = std::fgetc(file_.get());
    if (first == EOF) return false;
    std::ungetc(first, file_.get());
    const std::string header = ReadHeaderLine("frame header");
    if (header.compare(0, 5, "FRAME") != 0 || (header.size() > 5 && header[5] != ' '))
      throw FrameFileError("'" + path_ + "': damaged Y4M frame header");
    if (std::fread(planes_.data(), 1, planes_.size(), file_.get()) != planes_.size())
      throw FrameFileError("cannot read input file '" + path_ + "': truncated Y4M frame");
    const size_t w = size_.width, h = size_.height, cw = w / 2;
    const uint8_t* y = planes_.data();
    const uint8_t* u = y + w * h;
    const uint8_t* v = u + cw * h;
    frame.resize(w * h * 2);
    uint8_t* out = frame.data();
    for (size_t row = 0; row < h; ++row) {
      for (size_t pair = 0; pair < cw; ++pair) {
        *out++ = y[row * w + 2 * pair];
        *out++ = u[row * cw + pair];
        *out++ = y[row * w + 2 * pair + 1];
        *out++ = v[row * cw + pair];
      }
    }
    return true;
  }

 private:
  std::string ReadHeaderLine(const char* what) {
    std::string line;
    for (;;) {
      const int c = std::fgetc(file_.get());
      if (c == EOF) throw FrameFileError("'" + path_ + "': Y4M " + what + " ends early");
      if (c == '\n') return line;
      // A header is a short line; anything longer is not a Y4M stream.
      if (line.size() > 4096) throw FrameFileError("'" + path_ + "': Y4M " + what + " is too long");
      line.push_back(static_cast<char>(c));
    }
  }

  int ParseSide(const std::string& digits) {
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return -1;
    return std::stoi(digits);
  }

  std::string path_;
  FilePtr file_;
  std::vector<uint8_t> planes_;
};

class ImageSource : public FrameSource {
 public:
  ImageSource(const std::string& path, FrameSize wanted) {
    kind_ = PixelKind::Bgr24;
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    int w = 0, h = 0, channels = 0;
    if (bytes.size() > INT32_MAX ||
        !stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels))
      throw FrameFileError("'" + path + "' is not an image this host can read (PNG, JPEG, BMP, TGA, PNM, GIF)");
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) {
      std::ostringstream text;
      text << "'" << path << "': image size " << w << "x" << h << " is outside 1.." << kMaxSide;
      throw FrameFileError(text.str());
    }
    size_ = {w, h};
    if (wanted.width && (wanted.width != w || wanted.height != h)) {
      std::ostringstream text;
      text << "size does not match: '" << path << "' is " << w << "x" << h << ", not " << wanted.width << "x"
           << wanted.height;
      throw FrameFileError(text.str());
    }
    unsigned char* rgb = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 3);
    if (!rgb) throw FrameFileError("cannot decode image '" + path + "': " + stbi_failure_reason());
    frame_.assign(rgb, rgb + static_cast<size_t>(w) * h * 3);
    stbi_image_free(rgb);
    for (size_t i = 0; i < frame_.size(); i += 3) std::swap(frame_[i], frame_[i + 2]);
    frame_count_ = 1;
  }

  bool Next(std::vector<uint8_t>& frame) override {
    if (done_) return false;
    frame.swap(frame_);
    done_ = true;
    return true;
  }

 private:
  std::vector<uint8_t> frame_;
  bool done_ = false;
};

void AppendToVector(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

std::vector<uint8_t> EncodeImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size) {
  std::vector<uint8_t> encoded;
  const std::string ext = Extension(path);
  int ok = 0;
  if (ext == "png") {
    ok = stbi_write_png_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data(), size.width * 3);
  } else if (ext == "bmp") {
    ok = stbi_write_bmp_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data());
  } else if (ext == "jpg" || ext == "jpeg") {
    ok = stbi_write_jpg_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data(), 95);
  } else if (ext == "tga") {
    ok = stbi_write_tga_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data());
  } else {
    throw FrameFileError("cannot write image '" + path + "': use a .png, .bmp, .jpg or .tga name");
  }
  if (!ok) throw FrameFileError("cannot encode image '" + path + "'");
  return encoded;
}

}  // namespace

size_t FrameBytes(PixelKind kind, FrameSize size) {
  return static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * (kind == PixelKind::Yuy2 ? 2 : 3);
}

const char* KindName(PixelKind kind) { return kind == PixelKind::Yuy2 ? "YUY2" : "BGR24"; }

FileFormat ParseFileFormat(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "yuy2" || n == "yuyv" || n == "yuyv422") return FileFormat::RawYuy2;
  if (n == "bgr24" || n == "bgr") return FileFormat::RawBgr24;
  if (n == "y4m") return FileFormat::Y4m;
  if (n == "image") return FileFormat::Image;
  return FileFormat::Unknown;
}

FileFormat GuessFileFormat(const std::string& path) {
  const std::string ext = Extension(path);
  if (ext == "yuy2" || ext == "yuyv") return FileFormat::RawYuy2;
  if (ext == "bgr" || ext == "bgr24") return FileFormat::RawBgr24;
  if (ext == "y4m") return FileFormat::Y4m;
  for (const char* image : {"png", "bmp", "jpg", "jpeg", "tga", "ppm", "pgm", "pnm", "gif"})
    if (ext == image) return FileFormat::Image;
  return FileFormat::Unknown;
}

FileFormat ResolveFileFormat(const std::string& name, const std::string& path) {
  if (!name.empty() && Lower(name) != "auto") {
    const FileFormat format = ParseFileFormat(name);
    if (format == FileFormat::Unknown)
      throw FrameFileError("unknown format '" + name + "': use yuy2, bgr24, y4m or image");
    return format;
  }
  const FileFormat format = GuessFileFormat(path);
  if (format == FileFormat::Unknown)
    throw FrameFileError("unknown format of '" + path +
                         "': name it .yuy2, .bgr24, .y4m or an image (.png, .bmp, .jpg), or give the format");
  return format;
}

const char* FileFormatName(FileFormat format) {
  switch (format) {
    case FileFormat::RawYuy2: return "raw YUY2";
    case FileFormat::RawBgr24: return "raw BGR24";
    case FileFormat::Y4m: return "Y4M 4:2:2";
    case FileFormat::Image: return "image";
    default: return "unknown";
  }
}

PixelKind NativeKind(FileFormat format) {
  return format == FileFormat::RawBgr24 || format == FileFormat::Image ? PixelKind::Bgr24 : PixelKind::Yuy2;
}

FrameSize ParseFrameSize(const std::string& text) {
  const size_t x = Lower(text).find('x');
  auto side = [&](const std::string& digits) {
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      throw FrameFileError("bad frame size '" + text + "': expected WIDTHxHEIGHT, e.g. 720x576");
    return std::stoi(digits);
  };
  if (x == std::string::npos) side("");
  FrameSize size{side(text.substr(0, x)), side(text.substr(x + 1))};
  if (size.width < 1 || size.height < 1 || size.width > kMaxSide || size.height > kMaxSide)
    throw FrameFileError("bad frame size '" + text + "': each side must be 1.." + std::to_string(kMaxSide));
  return size;
}

void CheckFrameSize(PixelKind kind, FrameSize size) {
  if (size.width < 1 || size.height < 1 || size.width > kMaxSide || size.height > kMaxSide)
    throw FrameFileError("frame size " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                         " is outside 1.." + std::to_string(kMaxSide));
  if (kind == PixelKind::Yuy2 && size.width % 2 != 0)
    throw FrameFileError("YUY2 frames need an even width, not " + std::to_string(size.width));
}

void Bgr24ToYuy2(const uint8_t* bgr, uint8_t* yuy2, FrameSize size) {
  const size_t pairs = static_cast<size_t>(size.width) * size.height / 2;
  for (size_t i = 0; i < pairs; ++i, bgr += 6, yuy2 += 4) {
    const int b = bgr[0] + bgr[3], g = bgr[1] + bgr[4], r = bgr[2] + bgr[5];  // twice the pair's mean
    yuy2[0] = Clamp255(Round16(LumaFix(bgr[0], bgr[1], bgr[2])));
    yuy2[2] = Clamp255(Round16(LumaFix(bgr[3], bgr[4], bgr[5])));
    const int cb = Fix(0.5) * b - Fix(0.331264) * g - Fix(0.168736) * r;
    const int cr = Fix(0.5) * r - Fix(0.418688) * g - Fix(0.081312) * b;
    yuy2[1] = Clamp255(128 + ((cb + kOne) >> 17));
    yuy2[3] = Clamp255(128 + ((cr + kOne) >> 17));
  }
}

void Yuy2ToBgr24(const uint8_t* yuy2, uint8_t* bgr, FrameSize size) {
  const size_t pairs = static_cast<size_t>(size.width) * size.height / 2;
  for (size_t i = 0; i < pairs; ++i, yuy2 += 4, bgr += 6) {
    const int cb = yuy2[1] - 128, cr = yuy2[3] - 128;
    const int tb = Fix(1.772) * cb, tg = -Fix(0.344136) * cb - Fix(0.714136) * cr, tr = Fix(1.402) * cr;
    for (int p = 0; p < 2; ++p) {
      const int y = yuy2[2 * p] * kOne;
      bgr[3 * p + 0] = Clamp255(Round16(y + tb));
      bgr[3 * p + 1] = Clamp255(Round16(y + tg));
      bgr[3 * p + 2] = Clamp255(Round16(y + tr));
    }
  }
}

std::vector<uint8_t> ConvertFrame(const std::vector<uint8_t>& frame, PixelKind from, PixelKind to, FrameSize size) {
  if (from == to) return frame;
  std::vector<uint8_t> out(FrameBytes(to, size));
  if (to == PixelKind::Yuy2) {
    CheckFrameSize(to, size);
    Bgr24ToYuy2(frame.data(), out.data(), size);
  } else {
    Yuy2ToBgr24(frame.data(), out.data(), size);
  }
  return out;
}

std::vector<uint8_t> LumaOf(const std::vector<uint8_t>& frame, PixelKind kind, FrameSize size) {
  const size_t pixels = static_cast<size_t>(size.width) * size.height;
  std::vector<uint8_t> luma(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    luma[i] = kind == PixelKind::Yuy2
                  ? frame[2 * i]
                  : Clamp255(Round16(LumaFix(frame[3 * i], frame[3 * i + 1], frame[3 * i + 2])));
  }
  return luma;
}

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path, FileFormat format, FrameSize size) {
  switch (format) {
    case FileFormat::RawYuy2:
    case FileFormat::RawBgr24: {
      if (!size.width) throw FrameFileError("raw input '" + path + "' needs a frame size (--size WIDTHxHEIGHT)");
      const PixelKind kind = NativeKind(format);
      CheckFrameSize(kind, size);
      return std::make_unique<RawSource>(path, kind, size);
    }
    case FileFormat::Y4m: return std::make_unique<Y4mSource>(path, size);
    case FileFormat::Image: return std::make_unique<ImageSource>(path, size);
    default: throw FrameFileError("unknown input format of '" + path + "'");
  }
}

FrameSink::FrameSink(std::string path, FileFormat format, FrameSize size, std::string y4m_params)
    : path_(std::move(path)), temp_path_(path_ + ".part"), format_(format), size_(size),
      y4m_params_(std::move(y4m_params)) {
  if (format_ == FileFormat::Unknown) throw FrameFileError("unknown output format of '" + path_ + "'");
  if (format_ == FileFormat::Y4m || format_ == FileFormat::RawYuy2) CheckFrameSize(PixelKind::Yuy2, size_);
  if (format_ == FileFormat::Image) {
    EncodeImage(path_, std::vector<uint8_t>(3, 0), {1, 1});  // rejects unknown extensions before any work
    return;
  }
  file_ = std::fopen(temp_path_.c_str(), "wb");
  if (!file_) throw FrameFileError("cannot create output file '" + path_ + "': " + ErrnoText());
  if (format_ == FileFormat::Y4m) {
    if (y4m_params_.empty()) y4m_params_ = " F25:1 Ip A1:1";
    const std::string header = "YUV4MPEG2 W" + std::to_string(size_.width) + " H" + std::to_string(size_.height) +
                               y4m_params_ + " C422\n";
    std::fwrite(header.data(), 1, header.size(), file_);
  }
}

FrameSink::~FrameSink() {
  if (file_) std::fclose(file_);
  if (!committed_ && format_ != FileFormat::Image) std::remove(temp_path_.c_str());
}

void FrameSink::Put(const std::vector<uint8_t>& frame, PixelKind kind) {
  if (format_ == FileFormat::Image) {
    if (frames_ > 0)
      throw FrameFileError("image output '" + path_ + "' holds one frame; the input has more (use --frames 1, "
                           "or a .yuy2, .bgr24 or .y4m output)");
    image_ = ConvertFrame(frame, kind, PixelKind::Bgr24, size_);
    for (size_t i = 0; i < image_.size(); i += 3) std::swap(image_[i], image_[i + 2]);
    ++frames_;
    return;
  }
  const PixelKind file_kind = NativeKind(format_);
  const std::vector<uint8_t> converted = ConvertFrame(frame, kind, file_kind, size_);
  bool ok = true;
  if (format_ == FileFormat::Y4m) {
    const size_t w = size_.width, h = size_.height, cw = w / 2;
    std::vector<uint8_t> planes(w * h * 2);
    uint8_t* y = planes.data();
    uint8_t* u = y + w * h;
    uint8_t* v = u + cw * h;
    const uint8_t* in = converted.data();
    for (size_t pair = 0; pair < cw * h; ++pair, in += 4) {
      y[2 * pair] = in[0];
      u[pair] = in[1];
      y[2 * pair + 1] = in[2];
      v[pair] = in[3];
    }
    ok = std::fwrite("FRAME\n", 1, 6, file_) == 6 && std::fwrite(planes.data(), 1, planes.size(), file_) == planes.size();
  } else {
    ok = std::fwrite(converted.data(), 1, converted.size(), file_) == converted.size();
  }
  if (!ok) throw FrameFileError("cannot write output file '" + path_ + "': " + ErrnoText());
  ++frames_;
}

void FrameSink::Commit() {
  if (format_ == FileFormat::Image) {
    if (frames_ == 0) throw FrameFileError("no frame to write to '" + path_ + "'");
    WriteWholeFile(path_, EncodeImage(path_, image_, size_));
    committed_ = true;
    return;
  }
  const bool ok = std::fflush(file_) == 0;
  std::fclose(file_);
  file_ = nullptr;
  if (!ok) throw FrameFileError("cannot write output file '" + path_ + "': " + ErrnoText());
  ReplaceFile(temp_path_, path_);
  committed_ = true;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  FilePtr file = OpenForReading(path);
  const int64_t size = FileSize(file.get());
  if (size < 0 || size > (int64_t{1} << 30)) throw FrameFileError("cannot read '" + path + "': too large or unreadable");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    throw FrameFileError("cannot read '" + path + "': " + ErrnoText());
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string temp = path + ".part";
  FilePtr file(std::fopen(temp.c_str(), "wb"));
  if (!file) throw FrameFileError("cannot create '" + path + "': " + ErrnoText());
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                  std::fflush(file.get()) == 0;
  file.reset();
  if (!ok) {
    std::remove(temp.c_str());
    throw FrameFileError("cannot write '" + path + "'");
  }
  ReplaceFile(temp, path);
}

void WriteRgbImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size) {
  WriteWholeFile(path, EncodeImage(path, rgb, size));
}

}  // namespace tev::host
