// The estimator's innermost loops, each built twice: for the build's own
// target and, on x86-64, for AVX, chosen once as the program runs. Every
// kernel does the same arithmetic element for element in both builds (no
// fused multiply-add, no reordered sums), so every machine gives the same
// bits; the tests hold the two builds to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tev::estimate {

// Sums run in eight lanes of floats: two four-float vectors (SSE, NEON), or
// one AVX register where the processor has it.
using Float4 = float __attribute__((vector_size(16)));
#if defined(__x86_64__) && defined(__GNUC__)
#define TEV_EIGHT_LANES 1
using Float8 = float __attribute__((vector_size(32)));
#endif

// Loaded from any address, into a reference: a vector returned by value has
// another ABI with AVX than without.
template <typename Vec>
inline __attribute__((always_inline)) void LoadFloats(Vec& v, const float* p) {
  std::memcpy(&v, p, sizeof v);
}

// Runs Kernel::Run<Vec> compiled for AVX (Vec: eight floats) where the
// processor has it, checked once, else for the build's own target (Vec: four
// floats). A kernel does the same arithmetic element for element either way:
// only how many elements an instruction takes differs.
inline bool HasAvx() {
#ifdef TEV_EIGHT_LANES
  static const bool avx = __builtin_cpu_supports("avx");
  return avx;
#else
  return false;
#endif
}
template <typename Kernel, typename... Args>
void RunPlain(Args... args) {
  Kernel::template Run<Float4>(args...);
}
#ifdef TEV_EIGHT_LANES
template <typename Kernel, typename... Args>
__attribute__((target("avx"))) void RunAvx(Args... args) {
  Kernel::template Run<Float8>(args...);
}
#endif
template <typename Kernel, typename... Args>
void RunFast(Args... args) {
#ifdef TEV_EIGHT_LANES
  if (HasAvx()) return RunAvx<Kernel>(args...);
#endif
  RunPlain<Kernel>(args...);
}

// For each lag k of `lags`, the sums of a[x] b[x + k] (into ab) and of
// b[x] a[x + k] (into ba) for x in [from, to) while x + k stays on the line.
// Each sum runs in eight lanes (as kParts vectors), the last few products go
// to the first lane, and the lanes are added at the end, always in that
// order: the same bits whichever lags are asked together, and with or
// without AVX. The sums of several lags run interleaved: one alone waits on
// its own additions, which made these products most of the estimate's time.
template <typename Vec, int kLags>
inline __attribute__((always_inline)) void CrossProductGroup(const float* a, const float* b, int n, const int* lags,
                                                             int from, int to, double* ab, double* ba) {
  constexpr int kWidth = sizeof(Vec) / sizeof(float), kParts = 8 / kWidth;
  Vec sab[kLags][kParts] = {}, sba[kLags][kParts] = {};
  int end[kLags];
  int common = to;
  for (int j = 0; j < kLags; ++j) common = std::min(common, end[j] = std::min(to, n - lags[j]));
  // Adds the products of the eight samples from x to lag j's lanes.
  auto add8 = [&](int j, int x) {
    for (int p = 0; p < kParts; ++p) {
      Vec va, vb, vak, vbk;
      LoadFloats(va, a + x + p * kWidth);
      LoadFloats(vb, b + x + p * kWidth);
      LoadFloats(vak, a + x + lags[j] + p * kWidth);
      LoadFloats(vbk, b + x + lags[j] + p * kWidth);
      sab[j][p] += va * vbk;
      sba[j][p] += vb * vak;
    }
  };
  int x = from;
  for (; x + 7 < common; x += 8)
    for (int j = 0; j < kLags; ++j) add8(j, x);
  // Each lag's own end, then its lanes' sum.
  for (int j = 0; j < kLags; ++j) {
    const int k = lags[j];
    int xj = x;
    for (; xj + 7 < end[j]; xj += 8) add8(j, xj);
    float tab = sab[j][0][0], tba = sba[j][0][0];
    for (; xj < end[j]; ++xj) {
      tab += a[xj] * b[xj + k];
      tba += b[xj] * a[xj + k];
    }
    double sum_ab = tab, sum_ba = tba;
    for (int lane = 1; lane < 8; ++lane) {
      sum_ab += sab[j][lane / kWidth][lane % kWidth];
      sum_ba += sba[j][lane / kWidth][lane % kWidth];
    }
    ab[j] = sum_ab;
    ba[j] = sum_ba;
  }
}

template <int kLags>
struct CrossProductKernel {
  template <typename Vec>
  static inline __attribute__((always_inline)) void Run(const float* a, const float* b, int n, const int* lags,
                                                        int from, int to, double* ab, double* ba) {
    CrossProductGroup<Vec, kLags>(a, b, n, lags, from, to, ab, ba);
  }
};

// Groups of lags that keep their sums in registers: eight of four floats, or
// eight of eight with AVX.
inline void CrossProducts(const float* a, const float* b, int n, const int* lags, int count, int from, int to,
                          double* ab, double* ba) {
  int i = 0;
  if (HasAvx())
    for (; i + 4 <= count; i += 4) RunFast<CrossProductKernel<4>>(a, b, n, lags + i, from, to, ab + i, ba + i);
  for (; i + 2 <= count; i += 2) RunFast<CrossProductKernel<2>>(a, b, n, lags + i, from, to, ab + i, ba + i);
  if (i < count) RunFast<CrossProductKernel<1>>(a, b, n, lags + i, from, to, ab + i, ba + i);
}

// Adds sum_q w[q] v_q v_q' to m (its upper triangle) and -sum_q wd[q] v_q to
// b over the `count` rows v_q of k floats each, four rows at a time.
struct WeightedOuterKernel {
  template <typename Vec>
  static inline __attribute__((always_inline)) void Run(const float* v, const float* w, const float* wd, size_t count,
                                                        int k, float* m, float* b) {
    constexpr size_t kBlock = 4;
    for (size_t q0 = 0; q0 < count; q0 += kBlock) {
      const size_t n = std::min<size_t>(kBlock, count - q0);
      const float* v0 = v + q0 * k;
      for (int i = 0; i < k; ++i) {
        float* row = &m[static_cast<size_t>(i) * k];
        if (n == kBlock) {
          const float* v1 = v0 + k;
          const float* v2 = v0 + 2 * k;
          const float* v3 = v0 + 3 * k;
          const float wv0 = w[q0] * v0[i], wv1 = w[q0 + 1] * v1[i], wv2 = w[q0 + 2] * v2[i], wv3 = w[q0 + 3] * v3[i];
          for (int j = i; j < k; ++j) row[j] = row[j] + wv0 * v0[j] + wv1 * v1[j] + wv2 * v2[j] + wv3 * v3[j];
        } else {
          for (size_t q = 0; q < n; ++q) {
            const float* vq = v0 + q * k;
            const float wv = w[q0 + q] * vq[i];
            for (int j = i; j < k; ++j) row[j] += wv * vq[j];
          }
        }
        for (size_t q = 0; q < n; ++q) b[i] -= wd[q0 + q] * v0[q * k + i];
      }
    }
  }
};

// r[q] = d[low + q] + sum_j c[j] d[low + q - lags[j]], each r[q] adding its
// taps in their order.
struct ResidualKernel {
  template <typename Vec>
  static inline __attribute__((always_inline)) void Run(const float* d, int low, size_t samples, const int* lags,
                                                        const double* c, int k, double* r) {
    for (size_t q = 0; q < samples; ++q) r[q] = d[low + q];
    for (int j = 0; j < k; ++j) {
      const double cj = c[j];
      const float* from = d + low - lags[j];
      for (size_t q = 0; q < samples; ++q) r[q] += cj * from[q];
    }
  }
};

// w[x] = sum_i a[i] d[x - i] for 4 <= x < n, each adding its five taps in
// order, so that samples run side by side.
struct WhitenKernel {
  template <typename Vec>
  static inline __attribute__((always_inline)) void Run(const float* d, int n, const double* a, float* w) {
    const double a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4];
    for (int x = 4; x < n; ++x) {
      double s = 0;
      s += a0 * d[x];
      s += a1 * d[x - 1];
      s += a2 * d[x - 2];
      s += a3 * d[x - 3];
      s += a4 * d[x - 4];
      w[x] = static_cast<float>(s);
    }
  }
};

// sum[u] += d[u] d[u + delta] for u < count.
struct LaggedProductKernel {
  template <typename Vec>
  static inline __attribute__((always_inline)) void Run(const float* d, int delta, int count, double* sum) {
    for (int u = 0; u < count; ++u) sum[u] += static_cast<double>(d[u]) * d[u + delta];
  }
};

}  // namespace tev::estimate
