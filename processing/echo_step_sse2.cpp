// The SSE2 kernels of the echo step: the baseline of both builds.
#include "processing/echo_kernels.h"

// On some CPUs a short loop that straddles a 32-byte fetch window runs at half
// speed; start every block loop on a window.
#pragma GCC optimize("align-loops=32")

#if defined(__SSE2__)
#include <emmintrin.h>

namespace tev::echo {
namespace {

struct Sse2 {
  using V = __m128i;
  static constexpr size_t kBytes = kSse2Bytes;
  static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static V Splat16(uint16_t x) { return _mm_set1_epi16(static_cast<short>(x)); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AddSat(V a, V b) { return _mm_adds_epu8(a, b); }
  static V SubSat(V a, V b) { return _mm_subs_epu8(a, b); }
  // Moving the luma byte up drops chroma; the high half of luma*256*gain is
  // then luma*gain/256, rounded down.
  static V ScaleLuma(V pixels, V gain) { return _mm_mulhi_epu16(_mm_slli_epi16(pixels, 8), gain); }
  static V Min255(V words, V limit) { return _mm_sub_epi16(words, _mm_subs_epu16(words, limit)); }
};

#include "processing/echo_kernels_impl.h"

}  // namespace

EchoKernel SelectEchoKernelSse2(bool subtract, bool backward, bool saturate) {
  return SelectEchoKernel<Sse2>(subtract, backward, saturate);
}

}  // namespace tev::echo

#else

namespace tev::echo {
EchoKernel SelectEchoKernelSse2(bool, bool, bool) { return nullptr; }
}  // namespace tev::echo

#endif
