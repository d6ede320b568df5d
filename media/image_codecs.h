// The decoders behind DecodeImage, one set per build: libpng and libjpeg-turbo
// natively (image_codecs_libs.cpp), WIC on Windows (image_codecs_wic.cpp).
// Each throws FrameFileError naming `name` and checks the size with
// CheckImageSize before it allocates the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/image_file.h"

namespace tev::media {

enum class ImageType { Png, Jpeg, Bmp };

// Throws when a side is beyond kMaxSide or the picture has more than max_pixels.
void CheckImageSize(const std::string& name, uint64_t width, uint64_t height, size_t max_pixels);

bool CanDecode(ImageType type);
DecodedImage DecodeImageOfType(ImageType type, const std::vector<uint8_t>& bytes, const std::string& name,
                               size_t max_pixels);

#ifndef _WIN32
// libjpeg-turbo's encoder, R, G, B pixels in: stb's JPEG writer shifts signed
// values past their range, which the sanitized builds stop at.
std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, FrameSize size, int quality);
#endif

}  // namespace tev::media
