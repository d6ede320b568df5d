// Reading frames from files: raw YUY2, raw 24-bit BGR, YUV4MPEG2 4:2:2 and
// still images, one frame at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/frame_format.h"

namespace tev::media {

// The whole input is checked for a size that fits before the first frame is
// handed out where the format allows.
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
  // The frames were decoded from a lossy still (JPEG).
  bool lossy() const { return lossy_; }

 protected:
  FrameSize size_;
  PixelKind kind_ = PixelKind::Yuy2;
  int64_t frame_count_ = -1;
  std::string y4m_params_;
  bool lossy_ = false;
};

// `size` is required for raw formats and, when given, must match the others.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path, FileFormat format, FrameSize size);

}  // namespace tev::media
