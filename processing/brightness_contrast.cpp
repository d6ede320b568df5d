#include "processing/brightness_contrast.h"

#include <algorithm>

#include "processing/brightness_contrast_kernels.h"
#include "processing/cpu_features.h"
#include "processing/mul_div.h"

namespace tev {
namespace {

// MulDiv's rounding (halves away from zero) for a first factor that may
// already be beyond 32 bits: Contrast + 100 and the gain derived from it can
// be, when the settings file holds values near the 32-bit limits.
int64_t MulDivOfWide(int64_t x, int32_t y, int32_t z) {
  const int64_t product = x * y;  // |x| < 2^34 and |y| <= 512 here
  const int64_t half = z / 2;
  return (product >= 0 ? product + half : product - half) / z;
}

// Luma bytes are every other byte of whole groups of four pixels; a trailing
// part group keeps its bytes.
size_t GroupBytes(const FrameFormat* format) {
  if (!format || format->Width <= 0 || format->Height <= 0) return 0;
  const int64_t pixels = static_cast<int64_t>(format->Width) * format->Height;
  return static_cast<size_t>(pixels / 4) * 8;
}

using LaneKernel = void (*)(uint8_t*, size_t, const LumaMap&);

// Null: no lane kernel at this level, the table does it.
LaneKernel ChooseLaneKernel() {
  LaneKernel kernel = nullptr;
  if (CpuHas(kCpuSse2)) kernel = brightness::AdjustLumaSse2;
  if (CpuHas(kCpuAvx2)) kernel = brightness::AdjustLumaAvx2;
  return kernel;
}

}  // namespace

LumaMap LumaMapFor(int32_t brightness, int32_t contrast) {
  LumaMap map;
  map.gain = MulDivOfWide(static_cast<int64_t>(contrast) + 100, 512, 200);
  map.offset = MulDivWide(brightness, 256, 100) - MulDivOfWide(map.gain, 128, 256) +
               MulDivWide(contrast, 512, 400) + 128;
  return map;
}

uint8_t ApplyLumaMap(const LumaMap& map, uint8_t luma) {
  // An arithmetic shift: the product term rounds down, also when gain < 0.
  const int64_t value = ((luma * map.gain) >> 8) + map.offset;
  return static_cast<uint8_t>(std::min<int64_t>(255, std::max<int64_t>(0, value)));
}

void AdjustBrightnessContrastScalar(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                                    int32_t contrast) {
  const LumaMap map = LumaMapFor(brightness, contrast);
  const size_t bytes = GroupBytes(format);
  for (size_t i = 0; i < bytes; i += 2) buffer[i] = ApplyLumaMap(map, buffer[i]);
}

void AdjustBrightnessContrast(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                              int32_t contrast) {
  const LaneKernel lane_kernel = ChooseLaneKernel();
  const LumaMap map = LumaMapFor(brightness, contrast);
  const size_t bytes = GroupBytes(format);
  if (bytes == 0) return;
  if (lane_kernel && brightness::FitsLanes(map)) {
    lane_kernel(buffer, bytes, map);
    return;
  }
  // Settings far outside the dialog's range (or no vector unit): one table
  // per call keeps the wide rule exact without slowing the ordinary case.
  uint8_t table[256];
  for (int y = 0; y < 256; ++y) table[y] = ApplyLumaMap(map, static_cast<uint8_t>(y));
  for (size_t i = 0; i < bytes; i += 2) buffer[i] = table[buffer[i]];
}

namespace brightness {

bool FitsLanes(const LumaMap& map) {
  return map.gain >= 0 && map.gain <= 32767 && map.offset >= -kLaneBias && map.offset <= 255;
}

}  // namespace brightness
}  // namespace tev
