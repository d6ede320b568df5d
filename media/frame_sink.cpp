#include "media/frame_sink.h"

#include <utility>

#include "media/file_colour.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "media/y4m_stream.h"

namespace tev::media {

FrameSink::FrameSink(std::string path, FileFormat format, FrameSize size, std::string y4m_params)
    : path_(std::move(path)), format_(format), size_(size), y4m_params_(std::move(y4m_params)) {
  if (format_ == FileFormat::Unknown) throw FrameFileError("unknown output format of '" + path_ + "'");
  if (format_ == FileFormat::Y4m || format_ == FileFormat::RawYuy2) CheckFrameSize(PixelKind::Yuy2, size_);
  if (format_ == FileFormat::Image) {
    EncodeImage(path_, std::vector<uint8_t>(3, 0), {1, 1});  // rejects unknown extensions before any work
    return;
  }
  file_ = std::make_unique<TemporaryFile>(path_, "output file");
  if (format_ == FileFormat::Y4m) {
    if (y4m_params_.empty()) y4m_params_ = " F25:1 Ip A1:1";
    const std::string header = Y4mHeaderLine(size_.width, size_.height, "422", y4m_params_);
    file_->Write(header.data(), header.size());
  }
}

void FrameSink::Put(const std::vector<uint8_t>& frame, PixelKind kind) {
  if (format_ == FileFormat::Image) {
    if (frames_ > 0)
      throw FrameFileError("image output '" + path_ + "' holds one frame; the input has more (use --frames 1, "
                           "or a .yuy2, .bgr24 or .y4m output)");
    image_ = ConvertFileFrame(frame, kind, PixelKind::Bgr24, size_);
    for (size_t i = 0; i < image_.size(); i += 3) std::swap(image_[i], image_[i + 2]);
    ++frames_;
    return;
  }
  const std::vector<uint8_t> converted = ConvertFileFrame(frame, kind, NativeKind(format_), size_);
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
    const std::string frame_line = Y4mFrameLine("");
    file_->Write(frame_line.data(), frame_line.size());
    file_->Write(planes.data(), planes.size());
  } else {
    file_->Write(converted.data(), converted.size());
  }
  ++frames_;
}

void FrameSink::Commit() {
  if (format_ == FileFormat::Image) {
    if (frames_ == 0) throw FrameFileError("no frame to write to '" + path_ + "'");
    WriteWholeFile(path_, EncodeImage(path_, image_, size_));
    return;
  }
  file_->Commit();
}

}  // namespace tev::media
