// The AVX2 kernels of the echo step, chosen at run time on CPUs that have it.
// The whole file is built for AVX2 and holds nothing but these kernels, so no
// AVX2 code can reach a shared inline function that other files also use.
#if defined(__x86_64__) || defined(__i386__)
#pragma GCC target("avx2")
#include <immintrin.h>
#endif

#include "processing/echo_kernels.h"

// On some CPUs a short loop that straddles a 32-byte fetch window runs at half
// speed; start every block loop on a window.
#pragma GCC optimize("align-loops=32")

#if defined(__x86_64__) || defined(__i386__)

namespace tev::echo {
namespace {

struct Avx2 {
  using V = __m256i;
  static constexpr size_t kBytes = kAvx2Bytes;
  static V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static V Splat16(uint16_t x) { return _mm256_set1_epi16(static_cast<short>(x)); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AddSat(V a, V b) { return _mm256_adds_epu8(a, b); }
  static V SubSat(V a, V b) { return _mm256_subs_epu8(a, b); }
  static V ScaleLuma(V pixels, V gain) { return _mm256_mulhi_epu16(_mm256_slli_epi16(pixels, 8), gain); }
  static V Min255(V words, V limit) { return _mm256_min_epu16(words, limit); }
};

#include "processing/echo_kernels_impl.h"

}  // namespace

EchoKernel SelectEchoKernelAvx2(bool subtract, bool backward, bool saturate) {
  return SelectEchoKernel<Avx2>(subtract, backward, saturate);
}

}  // namespace tev::echo

#else

namespace tev::echo {
EchoKernel SelectEchoKernelAvx2(bool, bool, bool) { return nullptr; }
}  // namespace tev::echo

#endif
