#include "media/file_colour.h"

namespace tev::media {
namespace {

uint8_t Clamp255(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Fixed point with 16 fraction bits, rounded to nearest.
constexpr int kOne = 1 << 16;
constexpr int kHalf = 1 << 15;
constexpr int Fix(double value) { return static_cast<int>(value * kOne + (value < 0 ? -0.5 : 0.5)); }

// Floor division by 2^16 with rounding to nearest, also for negative values.
int Round16(int value) { return (value + kHalf) >> 16; }

int LumaFix(int b, int g, int r) { return Fix(0.114) * b + Fix(0.587) * g + Fix(0.299) * r; }

}  // namespace

void FileBgr24ToYuy2(const uint8_t* bgr, uint8_t* yuy2, FrameSize size) {
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

void FileYuy2ToBgr24(const uint8_t* yuy2, uint8_t* bgr, FrameSize size) {
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

std::vector<uint8_t> ConvertFileFrame(const std::vector<uint8_t>& frame, PixelKind from, PixelKind to,
                                      FrameSize size) {
  if (from == to) return frame;
  std::vector<uint8_t> out(FrameBytes(to, size));
  if (to == PixelKind::Yuy2) {
    CheckFrameSize(to, size);
    FileBgr24ToYuy2(frame.data(), out.data(), size);
  } else {
    FileYuy2ToBgr24(frame.data(), out.data(), size);
  }
  return out;
}

std::vector<uint8_t> FileFrameLuma(const std::vector<uint8_t>& frame, PixelKind kind, FrameSize size) {
  const size_t pixels = static_cast<size_t>(size.width) * size.height;
  std::vector<uint8_t> luma(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    luma[i] = kind == PixelKind::Yuy2
                  ? frame[2 * i]
                  : Clamp255(Round16(LumaFix(frame[3 * i], frame[3 * i + 1], frame[3 * i + 2])));
  }
  return luma;
}

}  // namespace tev::media
