#include "media/frame_source.h"

#include <cerrno>
#include <sstream>

#include "media/file_access.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "media/y4m_stream.h"

namespace tev::media {
namespace {

FrameFileError CannotRead(const std::string& path, const std::string& reason) {
  return FrameFileError("cannot read input file '" + path + "': " + reason);
}

FilePtr OpenForReading(const std::string& path) {
  if (IdentifyFile(path).is_directory) throw CannotRead(path, "it is a folder");
  FilePtr file(OpenFile(path, "rb"));
  if (!file) throw CannotRead(path, ErrorText(errno));
  return file;
}

// Bytes from the current position to the end, the position kept; -1 when
// the file cannot tell (a pipe).
int64_t BytesLeft(std::FILE* file) {
#ifdef _WIN32
  const int64_t at = _ftelli64(file);
  if (at < 0 || _fseeki64(file, 0, SEEK_END) != 0) return -1;
  const int64_t end = _ftelli64(file);
  _fseeki64(file, at, SEEK_SET);
#else
  const int64_t at = ftello(file);
  if (at < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
  const int64_t end = ftello(file);
  fseeko(file, at, SEEK_SET);
#endif
  return end - at;
}

void CheckWantedSize(const std::string& path, FrameSize has, FrameSize wanted) {
  if (wanted.width && (wanted.width != has.width || wanted.height != has.height)) {
    std::ostringstream text;
    text << "size does not match: '" << path << "' is " << has.width << "x" << has.height << ", not " << wanted.width
         << "x" << wanted.height;
    throw FrameFileError(text.str());
  }
}

class RawSource : public FrameSource {
 public:
  RawSource(const std::string& path, PixelKind kind, FrameSize size) : path_(path), file_(OpenForReading(path)) {
    kind_ = kind;
    size_ = size;
    const int64_t bytes = BytesLeft(file_.get());
    const int64_t frame = static_cast<int64_t>(FrameBytes(kind, size));
    if (bytes < 0) throw CannotRead(path, ErrorText(errno));
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
    throw CannotRead(path_, std::ferror(file_.get()) ? ErrorText(errno) : "truncated frame");
  }

 private:
  std::string path_;
  FilePtr file_;
};

// YUV4MPEG2 with planar 4:2:2 (FFmpeg's yuv422p), delivered as YUY2. The
// stream's rules are y4m_stream's; this says them in the host's words.
class Y4mSource : public FrameSource {
 public:
  Y4mSource(const std::string& path, FrameSize wanted)
      : path_(path), file_(OpenForReading(path)), reader_(file_.get()) {
    kind_ = PixelKind::Yuy2;
    if (!reader_.ReadHeader()) {
      switch (reader_.refusal()) {
        case Y4mRefusal::NotY4m: throw FrameFileError("'" + path + "' is not a YUV4MPEG2 file");
        case Y4mRefusal::Empty:
        case Y4mRefusal::EndsEarly: throw FrameFileError("'" + path + "': Y4M stream header ends early");
        case Y4mRefusal::BadSize: throw FrameFileError("'" + path + "': Y4M header lacks a valid width and height");
        case Y4mRefusal::Chroma: throw UnsupportedChroma(reader_.format().chroma_tag);
        default: throw FrameFileError("'" + path + "': " + reader_.error());
      }
    }
    const Y4mFormat& format = reader_.format();
    if (format.chroma != Y4mChroma::C422)
      throw UnsupportedChroma(format.chroma_tag.empty() ? "420jpeg" : format.chroma_tag);
    size_ = {format.width, format.height};
    y4m_params_ = format.params;
    CheckFrameSize(kind_, size_);
    CheckWantedSize(path, size_, wanted);
    // A few bytes of header may claim a frame of a quarter of a gigabyte; a
    // file too short for one frame is refused before that is allocated.
    const int64_t left = BytesLeft(file_.get());
    if (left > 0 && static_cast<uint64_t>(left) < format.frame_bytes + 6) throw CannotRead(path, "truncated Y4M frame");
  }

  bool Next(std::vector<uint8_t>& frame) override {
    switch (reader_.ReadFrame(frame_params_, planes_)) {
      case Y4mReader::Result::End: return false;
      case Y4mReader::Result::Error:
        if (reader_.truncated()) throw CannotRead(path_, "truncated Y4M frame");
        if (std::ferror(file_.get())) throw CannotRead(path_, ErrorText(errno));
        throw FrameFileError("'" + path_ + "': damaged Y4M frame header");
      case Y4mReader::Result::Frame: break;
    }
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
  FrameFileError UnsupportedChroma(const std::string& tag) const {
    return FrameFileError("'" + path_ + "': Y4M chroma '" + tag +
                          "' is not supported; use 8-bit 4:2:2 (FFmpeg: -pix_fmt yuv422p)");
  }

  std::string path_;
  FilePtr file_;
  Y4mReader reader_;
  std::string frame_params_;
  std::vector<uint8_t> planes_;
};

class ImageSource : public FrameSource {
 public:
  ImageSource(const std::string& path, FrameSize wanted) {
    kind_ = PixelKind::Bgr24;
    DecodedImage image = DecodeImage(ReadWholeFile(path), path);
    size_ = image.size;
    CheckWantedSize(path, size_, wanted);
    frame_.swap(image.bgr);
    frame_count_ = 1;
    lossy_ = image.lossy;
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

}  // namespace

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

}  // namespace tev::media
