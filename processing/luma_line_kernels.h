// Internal to the line engine: kernels on a compact line of 8-bit luma (one
// byte a pixel), and the moves between a packed 4:2:2 line and such a line.
// One table per instruction set, the scalar definitions first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/brightness_contrast.h"

namespace tev::line {

// One echo step as the kernels take it: |shift| < width and gain > 0.
struct EchoLineStep {
  ptrdiff_t shift;  // s: the source of pixel x is pixel x - s of the same line
  uint16_t gain;    // m, at most 65535 (which already saturates every nonzero luma)
  bool subtract;
  alignas(64) uint8_t k[256];  // min(255, Ys * m >> 8) for every source luma Ys
};
void PrepareEchoLineStep(EchoLineStep* step, int64_t pixel_shift, int64_t gain, bool subtract);

// The brightness and contrast map as the kernels take it.
struct LumaCorrection {
  bool lanes;  // the 16-bit lane rule is exact for this map (FitsLanes)
  int16_t gain;
  int16_t biased_offset;  // offset + kLaneBias
  alignas(64) uint8_t table[256];
};
void PrepareLumaCorrection(LumaCorrection* correction, const LumaMap& map);

struct LineKernels {
  // Luma of `pixels` pixels of a 4:2:2 line to a compact line, and back
  // (chroma bytes kept).
  void (*gather)(const uint8_t* yuy2, uint8_t* luma, size_t pixels);
  void (*scatter)(const uint8_t* luma, uint8_t* yuy2, size_t pixels);
  void (*correct)(uint8_t* luma, size_t pixels, const LumaCorrection& correction);
  // gather, then correct all `pixels`, in one pass where the level can.
  void (*gather_correct)(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction);
  // One step in place on `lines` lines of `width` pixels, `stride` bytes
  // apart: a call per block, so the step's constants are set up once.
  void (*echo)(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step);
};

// Scalar, then each instruction set the CPU flags allow.
LineKernels ChooseLineKernels();

void GatherLumaScalar(const uint8_t* yuy2, uint8_t* luma, size_t pixels);
void ScatterLumaScalar(const uint8_t* luma, uint8_t* yuy2, size_t pixels);
void CorrectLumaScalar(uint8_t* luma, size_t pixels, const LumaCorrection& correction);
void GatherCorrectLumaScalar(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction);
void EchoLineScalar(uint8_t* luma, size_t width, const EchoLineStep& step);
void EchoLinesScalar(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step);

// Each overrides the entries it has.
void InitLineKernelsSse2(LineKernels* kernels);
void InitLineKernelsAvx2(LineKernels* kernels);
void InitLineKernelsAvx512Vbmi(LineKernels* kernels);

}  // namespace tev::line
