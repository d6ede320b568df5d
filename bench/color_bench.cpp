// The brightness and contrast correction and both colour conversions beside,
// in the same run, the in-place floor (floor_bench.cpp), their scalar
// definitions and the closest full-range conversions of libyuv and libswscale.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_support.h"
#include "processing/brightness_contrast.h"
#include "processing/brightness_contrast_kernels.h"
#include "processing/color_convert.h"
#include "processing/color_convert_kernels.h"
#include "processing/cpu_features.h"

#if TEV_HAVE_LIBYUV
#include <libyuv.h>
#endif
#if TEV_HAVE_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

namespace tev::bench {
namespace {

size_t Pixels(const benchmark::State& state) { return static_cast<size_t>(state.range(0)) * state.range(1); }

FrameFormat FormatOf(const benchmark::State& state, int32_t kind) {
  return {static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)), kind == FrameKindRgb24 ? 3 : 2,
          kind, 0};
}

// Brightness 10, Contrast -10: gain 230, offset 26, within the lane kernels.
constexpr int32_t kBrightness = 10, kContrast = -10;

void Correction(benchmark::State& state, void (*adjust)(uint8_t*, const FrameFormat*, int32_t, int32_t)) {
  const FrameFormat format = FormatOf(state, 0);
  AlignedBytes frame(Pixels(state) * 2);
  for (auto _ : state) {
    adjust(frame.data, &format, kBrightness, kContrast);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size));
}

void CorrectionLanes(benchmark::State& state, void (*kernel)(uint8_t*, size_t, const LumaMap&)) {
  const LumaMap map = LumaMapFor(kBrightness, kContrast);
  AlignedBytes frame(Pixels(state) * 2);
  for (auto _ : state) {
    kernel(frame.data, frame.size, map);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size));
}

void BM_Correction(benchmark::State& state) { Correction(state, AdjustBrightnessContrast); }
void BM_CorrectionScalar(benchmark::State& state) { Correction(state, AdjustBrightnessContrastScalar); }
void BM_CorrectionSse2(benchmark::State& state) { CorrectionLanes(state, brightness::AdjustLumaSse2); }
void BM_CorrectionAvx2(benchmark::State& state) {
  if (!CpuHas(kCpuAvx2)) return state.SkipWithError("no AVX2");
  CorrectionLanes(state, brightness::AdjustLumaAvx2);
}

void Forward(benchmark::State& state, color::Rgb24ToYuy2Row row) {
  const size_t pixels = Pixels(state);
  AlignedBytes rgb(pixels * 3), yuy2(pixels * 2);
  for (auto _ : state) {
    color::ConvertRgb24ToYuy2With(row, rgb.data, yuy2.data, pixels / 2);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
}

void Inverse(benchmark::State& state, color::Yuy2ToRgb24Row row) {
  const size_t pixels = Pixels(state);
  AlignedBytes yuy2(pixels * 2), rgb(pixels * 3);
  for (auto _ : state) {
    color::ConvertYuy2ToRgb24With(row, yuy2.data, rgb.data, pixels / 2);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
}

void BM_Rgb24ToYuy2(benchmark::State& state) {
  const FrameFormat format = FormatOf(state, FrameKindRgb24);
  AlignedBytes rgb(Pixels(state) * 3), yuy2(Pixels(state) * 2);
  for (auto _ : state) {
    ConvertRgb24ToYuy2(rgb.data, yuy2.data, &format);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Pixels(state)));
}
void BM_Rgb24ToYuy2Avx512Vbmi(benchmark::State& state) {
  if (!CpuHas(kCpuAvx512Vbmi)) return state.SkipWithError("no AVX-512 VBMI");
  Forward(state, color::Rgb24ToYuy2RowAvx512Vbmi);
}
void BM_Rgb24ToYuy2Scalar(benchmark::State& state) { Forward(state, color::Rgb24ToYuy2RowScalar); }
void BM_Rgb24ToYuy2Sse2(benchmark::State& state) { Forward(state, color::Rgb24ToYuy2RowSse2); }
void BM_Rgb24ToYuy2Ssse3(benchmark::State& state) {
  if (!CpuHas(kCpuSsse3)) return state.SkipWithError("no SSSE3");
  Forward(state, color::Rgb24ToYuy2RowSsse3);
}
void BM_Rgb24ToYuy2Avx2(benchmark::State& state) {
  if (!CpuHas(kCpuAvx2)) return state.SkipWithError("no AVX2");
  Forward(state, color::Rgb24ToYuy2RowAvx2);
}

void BM_Yuy2ToRgb24(benchmark::State& state) {
  const FrameFormat format = FormatOf(state, FrameKindRgb24);
  AlignedBytes yuy2(Pixels(state) * 2), rgb(Pixels(state) * 3);
  for (auto _ : state) {
    ConvertYuy2ToRgb24(yuy2.data, rgb.data, &format);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Pixels(state)));
}
void BM_Yuy2ToRgb24Avx512Vbmi(benchmark::State& state) {
  if (!CpuHas(kCpuAvx512Vbmi)) return state.SkipWithError("no AVX-512 VBMI");
  Inverse(state, color::Yuy2ToRgb24RowAvx512Vbmi);
}
void BM_Yuy2ToRgb24Scalar(benchmark::State& state) { Inverse(state, color::Yuy2ToRgb24RowScalar); }
void BM_Yuy2ToRgb24Sse2(benchmark::State& state) { Inverse(state, color::Yuy2ToRgb24RowSse2); }
void BM_Yuy2ToRgb24Ssse3(benchmark::State& state) {
  if (!CpuHas(kCpuSsse3)) return state.SkipWithError("no SSSE3");
  Inverse(state, color::Yuy2ToRgb24RowSsse3);
}
void BM_Yuy2ToRgb24Avx2(benchmark::State& state) {
  if (!CpuHas(kCpuAvx2)) return state.SkipWithError("no AVX2");
  Inverse(state, color::Yuy2ToRgb24RowAvx2);
}

#if TEV_HAVE_LIBYUV
// libyuv has no direct full-range BGR24 <-> YUY2; its closest chains go
// through ARGB and planar J422 (JPEG full range).
void BM_LibyuvRgb24ToYuy2J(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  AlignedBytes rgb(Pixels(state) * 3), argb(Pixels(state) * 4), y(Pixels(state)), u(Pixels(state) / 2),
      v(Pixels(state) / 2), yuy2(Pixels(state) * 2);
  for (auto _ : state) {
    libyuv::RGB24ToARGB(rgb.data, w * 3, argb.data, w * 4, w, h);
    libyuv::ARGBToJ422(argb.data, w * 4, y.data, w, u.data, w / 2, v.data, w / 2, w, h);
    libyuv::I422ToYUY2(y.data, w, u.data, w / 2, v.data, w / 2, yuy2.data, w * 2, w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Pixels(state)));
}

void BM_LibyuvYuy2ToRgb24J(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  AlignedBytes yuy2(Pixels(state) * 2), y(Pixels(state)), u(Pixels(state) / 2), v(Pixels(state) / 2),
      rgb(Pixels(state) * 3);
  for (auto _ : state) {
    libyuv::YUY2ToI422(yuy2.data, w * 2, y.data, w, u.data, w / 2, v.data, w / 2, w, h);
    libyuv::I422ToRGB24Matrix(y.data, w, u.data, w / 2, v.data, w / 2, rgb.data, w * 3, &libyuv::kYuvJPEGConstants,
                              w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Pixels(state)));
}
#endif

#if TEV_HAVE_SWSCALE
void Swscale(benchmark::State& state, AVPixelFormat from, int from_bpp, AVPixelFormat to, int to_bpp) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  SwsContext* context = sws_getContext(w, h, from, w, h, to, SWS_POINT, nullptr, nullptr, nullptr);
  if (!context) return state.SkipWithError("no swscale context");
  // Full range on both sides: RGB is always full, the 4:2:2 side is asked for it.
  const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(context, bt601, 1, bt601, 1, 0, 1 << 16, 1 << 16);
  AlignedBytes in(Pixels(state) * from_bpp), out(Pixels(state) * to_bpp);
  const uint8_t* const in_planes[4] = {in.data, nullptr, nullptr, nullptr};
  uint8_t* const out_planes[4] = {out.data, nullptr, nullptr, nullptr};
  const int in_strides[4] = {w * from_bpp, 0, 0, 0}, out_strides[4] = {w * to_bpp, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(context, in_planes, in_strides, 0, h, out_planes, out_strides);
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Pixels(state)));
}
void BM_SwscaleBgr24ToYuyv422(benchmark::State& state) {
  Swscale(state, AV_PIX_FMT_BGR24, 3, AV_PIX_FMT_YUYV422, 2);
}
void BM_SwscaleYuyv422ToBgr24(benchmark::State& state) {
  Swscale(state, AV_PIX_FMT_YUYV422, 2, AV_PIX_FMT_BGR24, 3);
}
#endif

#define TEV_FRAME_SIZES Args({720, 576})->Args({1920, 1080})
BENCHMARK(BM_Correction)->TEV_FRAME_SIZES;
BENCHMARK(BM_CorrectionSse2)->TEV_FRAME_SIZES;
BENCHMARK(BM_CorrectionAvx2)->TEV_FRAME_SIZES;
BENCHMARK(BM_CorrectionScalar)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2Sse2)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2Ssse3)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2Avx2)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2Avx512Vbmi)->TEV_FRAME_SIZES;
BENCHMARK(BM_Rgb24ToYuy2Scalar)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24Sse2)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24Ssse3)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24Avx2)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24Avx512Vbmi)->TEV_FRAME_SIZES;
BENCHMARK(BM_Yuy2ToRgb24Scalar)->TEV_FRAME_SIZES;
#if TEV_HAVE_LIBYUV
BENCHMARK(BM_LibyuvRgb24ToYuy2J)->TEV_FRAME_SIZES;
BENCHMARK(BM_LibyuvYuy2ToRgb24J)->TEV_FRAME_SIZES;
#endif
#if TEV_HAVE_SWSCALE
BENCHMARK(BM_SwscaleBgr24ToYuyv422)->TEV_FRAME_SIZES;
BENCHMARK(BM_SwscaleYuyv422ToBgr24)->TEV_FRAME_SIZES;
#endif

}  // namespace
}  // namespace tev::bench
