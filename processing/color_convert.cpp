#include "processing/color_convert.h"

#include "processing/color_convert_kernels.h"
#include "processing/cpu_features.h"

namespace tev {
namespace {

static_assert((-1 >> 1) == -1, "the rules need an arithmetic shift that rounds down");

inline uint8_t Clamp255(int value) {
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// P = (W*H)/2; a format without pixels has no pairs.
size_t PairCount(const FrameFormat* format) {
  if (!format || format->Width <= 0 || format->Height <= 0) return 0;
  return static_cast<size_t>(static_cast<int64_t>(format->Width) * format->Height / 2);
}

}  // namespace

namespace color {

ColorKernels ChooseColorKernels() {
  ColorKernels kernels{Rgb24ToYuy2RowScalar, Yuy2ToRgb24RowScalar};
  if (CpuHas(kCpuSse2)) kernels = {Rgb24ToYuy2RowSse2, Yuy2ToRgb24RowSse2};
  if (CpuHas(kCpuSsse3)) kernels = {Rgb24ToYuy2RowSsse3, Yuy2ToRgb24RowSsse3};
  if (CpuHas(kCpuAvx2)) kernels = {Rgb24ToYuy2RowAvx2, Yuy2ToRgb24RowAvx2};
  if (CpuHas(kCpuAvx512Vbmi)) kernels = {Rgb24ToYuy2RowAvx512Vbmi, Yuy2ToRgb24RowAvx512Vbmi};
  return kernels;
}

size_t Rgb24ToYuy2RowScalar(const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  for (size_t i = 0; i < pairs; ++i, rgb += 6, yuy2 += 4) {
    const int b0 = rgb[0], g0 = rgb[1], r0 = rgb[2];
    const int b1 = rgb[3], g1 = rgb[4], r1 = rgb[5];
    // Chroma comes from the pair's averaged colour, not from two averaged chromas.
    const int b = (b0 + b1) >> 1, g = (g0 + g1) >> 1, r = (r0 + r1) >> 1;
    yuy2[0] = static_cast<uint8_t>((29 * b0 + 150 * g0 + 77 * r0) >> 8);
    yuy2[1] = Clamp255(((128 * b - 85 * g - 43 * r) >> 8) + 128);
    yuy2[2] = static_cast<uint8_t>((29 * b1 + 150 * g1 + 77 * r1) >> 8);
    yuy2[3] = Clamp255(((128 * r - 107 * g - 21 * b) >> 8) + 128);
  }
  return pairs;
}

size_t Yuy2ToRgb24RowScalar(const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  for (size_t i = 0; i < pairs; ++i, yuy2 += 4, rgb += 6) {
    const int y0 = yuy2[0], cb = yuy2[1] - 128, y1 = yuy2[2], cr = yuy2[3] - 128;
    // Each term is rounded down on its own.
    const int tb = (454 * cb) >> 8;
    const int tg = ((-86 * cb) >> 8) + ((-183 * cr) >> 8);
    const int tr = (359 * cr) >> 8;
    rgb[0] = Clamp255(y0 + tb);
    rgb[1] = Clamp255(y0 + tg);
    rgb[2] = Clamp255(y0 + tr);
    rgb[3] = Clamp255(y1 + tb);
    rgb[4] = Clamp255(y1 + tg);
    rgb[5] = Clamp255(y1 + tr);
  }
  return pairs;
}

void ConvertRgb24ToYuy2With(Rgb24ToYuy2Row row, const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  const size_t done = pairs == 0 ? 0 : row(rgb, yuy2, pairs);
  Rgb24ToYuy2RowScalar(rgb + 6 * done, yuy2 + 4 * done, pairs - done);
}

void ConvertYuy2ToRgb24With(Yuy2ToRgb24Row row, const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  const size_t done = pairs == 0 ? 0 : row(yuy2, rgb, pairs);
  Yuy2ToRgb24RowScalar(yuy2 + 4 * done, rgb + 6 * done, pairs - done);
}

}  // namespace color

void ConvertRgb24ToYuy2Scalar(const uint8_t* rgb, uint8_t* yuy2, const FrameFormat* format) {
  color::Rgb24ToYuy2RowScalar(rgb, yuy2, PairCount(format));
}

void ConvertYuy2ToRgb24Scalar(const uint8_t* yuy2, uint8_t* rgb, const FrameFormat* format) {
  color::Yuy2ToRgb24RowScalar(yuy2, rgb, PairCount(format));
}

void ConvertRgb24ToYuy2(const uint8_t* rgb, uint8_t* yuy2, const FrameFormat* format) {
  color::ConvertRgb24ToYuy2With(color::ChooseColorKernels().forward, rgb, yuy2, PairCount(format));
}

void ConvertYuy2ToRgb24(const uint8_t* yuy2, uint8_t* rgb, const FrameFormat* format) {
  color::ConvertYuy2ToRgb24With(color::ChooseColorKernels().inverse, yuy2, rgb, PairCount(format));
}

}  // namespace tev
