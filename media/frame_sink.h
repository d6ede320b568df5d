// Writing frames to files: raw YUY2, raw 24-bit BGR, YUV4MPEG2 4:2:2 and one
// still image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/frame_format.h"
#include "media/temporary_files.h"

namespace tev::media {

// Writes frames to a temporary file of this run beside the target; Commit
// moves it into place. Destroyed without Commit, it removes the temporary, so
// a failed run leaves no partial output behind.
class FrameSink {
 public:
  FrameSink(std::string path, FileFormat format, FrameSize size, std::string y4m_params);
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // One frame of `kind`; converted to the file's pixel format as needed.
  void Put(const std::vector<uint8_t>& frame, PixelKind kind);
  void Commit();
  int64_t frames_written() const { return frames_; }

 private:
  std::string path_;
  FileFormat format_;
  FrameSize size_;
  std::string y4m_params_;
  std::unique_ptr<TemporaryFile> file_;  // frame formats; an image is written whole at Commit
  std::vector<uint8_t> image_;           // the one frame of an image output, as RGB
  int64_t frames_ = 0;
};

}  // namespace tev::media
