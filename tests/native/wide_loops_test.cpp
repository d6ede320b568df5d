// The estimator's inner loops give the same bits built for AVX as built
// without it, and the sums they are meant to give.
#include "estimate/wide_loops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace tev::estimate {
namespace {

std::vector<float> Samples(size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-255, 255);
  std::vector<float> out(count);
  for (float& v : out) v = value(rng);
  return out;
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

TEST(WideLoops, CrossProductsAreTheSumsTheyNameInEveryGrouping) {
  const int n = 103;  // not a multiple of eight, so every lag has a tail
  const std::vector<float> a = Samples(n, 1), b = Samples(n, 2);
  const std::vector<int> lags = {0, 1, 5, 7, 8, 9, 40, 95, 102};
  for (const auto& [from, to] : {std::pair{0, n}, std::pair{3, 60}}) {
    std::vector<double> ab(lags.size()), ba(lags.size());
    CrossProducts(a.data(), b.data(), n, lags.data(), static_cast<int>(lags.size()), from, to, ab.data(), ba.data());
    for (size_t j = 0; j < lags.size(); ++j) {
      double want_ab = 0, want_ba = 0, scale = 0;
      for (int x = from; x < std::min(to, n - lags[j]); ++x) {
        want_ab += static_cast<double>(a[x]) * b[x + lags[j]];
        want_ba += static_cast<double>(b[x]) * a[x + lags[j]];
        scale += std::fabs(static_cast<double>(a[x]) * b[x + lags[j]]);
      }
      EXPECT_NEAR(ab[j], want_ab, 1e-5 * scale + 1e-9) << lags[j];
      EXPECT_NEAR(ba[j], want_ba, 1e-5 * scale + 1e-9) << lags[j];
      // Alone, the lag gives the very same sums.
      double alone_ab = 0, alone_ba = 0;
      CrossProducts(a.data(), b.data(), n, &lags[j], 1, from, to, &alone_ab, &alone_ba);
      EXPECT_EQ(alone_ab, ab[j]);
      EXPECT_EQ(alone_ba, ba[j]);
    }
  }
}

#ifdef TEV_EIGHT_LANES
template <int kLags>
bool CrossProductsAgree(const std::vector<float>& a, const std::vector<float>& b, const int* lags, int from, int to) {
  const int n = static_cast<int>(a.size());
  std::vector<double> plain(2 * kLags), avx(2 * kLags);
  RunPlain<CrossProductKernel<kLags>>(a.data(), b.data(), n, lags, from, to, plain.data(), plain.data() + kLags);
  RunAvx<CrossProductKernel<kLags>>(a.data(), b.data(), n, lags, from, to, avx.data(), avx.data() + kLags);
  return SameBits(plain, avx);
}
#endif

TEST(WideLoops, AvxGivesTheSameBitsAsTheBuildsOwnTarget) {
#ifndef TEV_EIGHT_LANES
  GTEST_SKIP() << "no AVX build on this target";
#else
  if (!HasAvx()) GTEST_SKIP() << "this processor has no AVX";
  const int n = 203, k = 11;
  const std::vector<float> a = Samples(n, 3), b = Samples(n, 4);
  const std::vector<int> lags = {1, 2, 9, 31};
  EXPECT_TRUE(CrossProductsAgree<1>(a, b, lags.data(), 2, 190));
  EXPECT_TRUE(CrossProductsAgree<2>(a, b, lags.data(), 0, n));
  EXPECT_TRUE(CrossProductsAgree<4>(a, b, lags.data(), 5, n));
  // Row counts that are and are not whole blocks of four.
  for (size_t rows : {1u, 4u, 7u, 18u}) {
    const std::vector<float> v = Samples(rows * k, 5), w = Samples(rows, 6), wd = Samples(rows, 7);
    std::vector<float> plain_m(k * k, 1.0f), avx_m = plain_m, plain_b(k, 2.0f), avx_b = plain_b;
    RunPlain<WeightedOuterKernel>(v.data(), w.data(), wd.data(), rows, k, plain_m.data(), plain_b.data());
    RunAvx<WeightedOuterKernel>(v.data(), w.data(), wd.data(), rows, k, avx_m.data(), avx_b.data());
    EXPECT_TRUE(SameBits(plain_m, avx_m) && SameBits(plain_b, avx_b)) << rows << " rows";
  }
  const std::vector<double> taps = {0.3, -0.02, 1e-3, -0.25};
  std::vector<double> plain_r(150), avx_r(150), plain_sum(n - 9, 0.5), avx_sum = plain_sum;
  RunPlain<ResidualKernel>(a.data(), 31, plain_r.size(), lags.data(), taps.data(), 4, plain_r.data());
  RunAvx<ResidualKernel>(a.data(), 31, avx_r.size(), lags.data(), taps.data(), 4, avx_r.data());
  EXPECT_TRUE(SameBits(plain_r, avx_r));
  RunPlain<LaggedProductKernel>(a.data(), 9, n - 9, plain_sum.data());
  RunAvx<LaggedProductKernel>(a.data(), 9, n - 9, avx_sum.data());
  EXPECT_TRUE(SameBits(plain_sum, avx_sum));
  const std::vector<double> whitener = {1.0, -0.61, 0.12, -0.031, 0.004};
  std::vector<float> plain_w(n, 0.0f), avx_w = plain_w;
  RunPlain<WhitenKernel>(a.data(), n, whitener.data(), plain_w.data());
  RunAvx<WhitenKernel>(a.data(), n, whitener.data(), avx_w.data());
  EXPECT_TRUE(SameBits(plain_w, avx_w));
#endif
}

}  // namespace
}  // namespace tev::estimate
