// Still images: decoding a file's bytes to 24-bit BGR and encoding RGB by the
// file's extension. Natively PNG and JPEG are read by libpng and
// libjpeg-turbo; on Windows PNG, JPEG and BMP by the system's own decoders
// (WIC). Anything else, and any damaged or truncated image, is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/frame_format.h"

namespace tev::media {

struct DecodedImage {
  FrameSize size;
  std::vector<uint8_t> bgr;  // B, G, R per pixel, rows top down, no padding
  bool lossy = false;        // decoded from JPEG: compression dropped weak fine detail
};

// The formats this build reads, for messages: "PNG, JPEG" or "PNG, JPEG, BMP".
const char* ReadableImageFormats();

// Decodes one image; `name` names the file in errors. Sides beyond kMaxSide,
// or more than `max_pixels` pixels, are refused before any pixel is decoded.
DecodedImage DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name,
                         size_t max_pixels = size_t{kMaxSide} * kMaxSide);

// Encodes R, G, B pixels as the path's extension says (.png, .bmp, .jpg, .tga).
std::vector<uint8_t> EncodeImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size);
// Encodes and writes through a temporary, as WriteWholeFile.
void WriteRgbImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size);

}  // namespace tev::media
