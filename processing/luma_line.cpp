// The scalar line kernels (the definitions the vector ones are held to), the
// per-frame preparation of their parameters, and the choice of kernels.
#include <algorithm>

#include "processing/brightness_contrast_kernels.h"
#include "processing/cpu_features.h"
#include "processing/luma_line_kernels.h"

namespace tev::line {

void PrepareEchoLineStep(EchoLineStep* step, int64_t pixel_shift, int64_t gain, bool subtract) {
  step->shift = static_cast<ptrdiff_t>(pixel_shift);
  step->gain = static_cast<uint16_t>(std::min<int64_t>(gain, 65535));
  step->subtract = subtract;
  for (uint32_t y = 0; y < 256; ++y) step->k[y] = static_cast<uint8_t>(std::min<uint32_t>(255, (y * step->gain) >> 8));
}

void PrepareLumaCorrection(LumaCorrection* correction, const LumaMap& map) {
  correction->lanes = brightness::FitsLanes(map);
  correction->gain = correction->lanes ? static_cast<int16_t>(map.gain) : 0;
  correction->biased_offset = correction->lanes ? static_cast<int16_t>(map.offset + brightness::kLaneBias) : 0;
  for (int y = 0; y < 256; ++y) correction->table[y] = ApplyLumaMap(map, static_cast<uint8_t>(y));
}

void GatherLumaScalar(const uint8_t* yuy2, uint8_t* luma, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i) luma[i] = yuy2[2 * i];
}

void ScatterLumaScalar(const uint8_t* luma, uint8_t* yuy2, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i) yuy2[2 * i] = luma[i];
}

void CorrectLumaScalar(uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  for (size_t i = 0; i < pixels; ++i) luma[i] = correction.table[luma[i]];
}

void GatherCorrectLumaScalar(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  for (size_t i = 0; i < pixels; ++i) luma[i] = correction.table[yuy2[2 * i]];
}

// Walked away from the sources, so that each is read before it is written.
void EchoLineScalar(uint8_t* luma, size_t width, const EchoLineStep& step) {
  const ptrdiff_t s = step.shift;
  const size_t count = width - static_cast<size_t>(s < 0 ? -s : s);
  auto combine = [&](uint8_t* d) {
    const int k = step.k[d[-s]];
    *d = static_cast<uint8_t>(step.subtract ? std::max(0, *d - k) : std::min(255, *d + k));
  };
  if (s > 0) {
    for (size_t i = count; i-- != 0;) combine(luma + s + i);
  } else {
    for (size_t i = 0; i < count; ++i) combine(luma + i);
  }
}

void EchoLinesScalar(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  for (int32_t j = 0; j < lines; ++j) EchoLineScalar(luma + j * stride, width, step);
}

LineKernels ChooseLineKernels() {
  LineKernels kernels{GatherLumaScalar, ScatterLumaScalar, CorrectLumaScalar, GatherCorrectLumaScalar,
                      EchoLinesScalar};
  if (CpuHas(kCpuSse2)) InitLineKernelsSse2(&kernels);
  if (CpuHas(kCpuAvx2)) InitLineKernelsAvx2(&kernels);
  if (CpuHas(kCpuAvx512Vbmi)) InitLineKernelsAvx512Vbmi(&kernels);
  return kernels;
}

}  // namespace tev::line
