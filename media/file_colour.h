// Colour conversion for frame files: BT.601 full range (the JFIF form) with
// 16-bit fixed point, rounded to nearest. Deliberately not the plugin's own
// 1/256 conversion, which floors: files are converted as exactly as 8 bits
// allow, and every name here says "File" so the two are never mixed up.
#pragma once

#include <cstdint>
#include <vector>

#include "media/frame_format.h"

namespace tev::media {

// A pair of pixels shares the average of their chroma.
void FileBgr24ToYuy2(const uint8_t* bgr, uint8_t* yuy2, FrameSize size);
void FileYuy2ToBgr24(const uint8_t* yuy2, uint8_t* bgr, FrameSize size);
// Converts one frame between kinds (a copy when they agree).
std::vector<uint8_t> ConvertFileFrame(const std::vector<uint8_t>& frame, PixelKind from, PixelKind to,
                                      FrameSize size);
// Luma of every pixel, whatever the kind.
std::vector<uint8_t> FileFrameLuma(const std::vector<uint8_t>& frame, PixelKind kind, FrameSize size);

}  // namespace tev::media
