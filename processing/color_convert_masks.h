// Byte-shuffle tables and weights of the SSSE3, AVX2 and AVX-512 VBMI colour
// conversions, built at compile time from the layouts they describe.
//
// RGB to 4:2:2 works on four pixels (two pairs) per 16-byte lane, on the
// complemented bytes c' = 255 - c. The pair average rounded down is then one
// pavgb: 255 - floor((a + b) / 2) = ceil((a' + b') / 2). Two byte shuffles of
// the four pixels, averaged with pavgb (a byte that both shuffles pick is
// kept as it is), give the two multiply-add inputs. Their eight 16-bit lanes
// are the eight output bytes Y0 U0 Y1 V0 Y2 U1 Y3 V1 in order, fed with
//   first:  (B', G') of the pixel for luma, (b', g') of the pair for chroma
//   second: (G', R') of the pixel for luma, (r', 0) of the pair for chroma
// The sum of both multiply-adds is, for chroma, the sum of the rule (its
// weights add up to 0, so the complement changes only the sign) and, for
// luma, -(29B' + 150G' + 77R') = S - 65280, which is S + 256 modulo 2^16.
// Every weight pair sums to at most 128 in size, so no 16-bit multiply-add
// saturates. The high byte of each lane is then the output byte, plus one for
// luma and before the +128 for chroma; a shift right by 8 and an unsigned
// pack collect the high bytes of two such registers in order.
//
// 4:2:2 to RGB works on eight pixels per lane: Cb and Cr, taken as (C - 128)
// << 8 in 16-bit lanes, times the inverse weights with a multiply-high give
// (k * C) >> 8 exactly; the colour terms are packed to bytes once as their
// positive and once as their negative part, so that each output byte is
// Y + t clamped by one saturating add and one saturating subtract.
#pragma once

#include <cstdint>

namespace tev::color::masks {

constexpr int8_t kZero = -128;  // a shuffle index that yields 0

// Two 16-bit lanes as one 32-bit value: the inverse weights for Cb in the
// even lanes and for Cr in the odd ones.
constexpr int32_t TwoLanes(int16_t low, int16_t high) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low));
}

struct Bytes16 {
  int8_t b[16];
};

// Four pixels starting `base` bytes into the lane.
constexpr int PixelByte(int base, int pixel, int component) { return base + 3 * pixel + component; }

// Lane order: output byte k of the two pairs (Y0 U0 Y1 V0 Y2 U1 Y3 V1).
constexpr bool IsLuma(int lane) { return lane % 2 == 0; }
constexpr int PixelOfLane(int lane) { return lane / 2; }
constexpr int PairOfLane(int lane) { return lane / 4; }
constexpr bool IsU(int lane) { return lane % 4 == 1; }

// pixel_of_pair: 0 averages the first pixel of each pair, 1 the second.
// `first` chooses between the two multiply-add inputs.
constexpr Bytes16 ForwardShuffle(int base, int pixel_of_pair, bool first) {
  Bytes16 m{};
  for (int lane = 0; lane < 8; ++lane) {
    if (IsLuma(lane)) {
      const int pixel = PixelOfLane(lane);
      m.b[2 * lane] = static_cast<int8_t>(PixelByte(base, pixel, first ? 0 : 1));
      m.b[2 * lane + 1] = static_cast<int8_t>(PixelByte(base, pixel, first ? 1 : 2));
    } else {
      const int pixel = 2 * PairOfLane(lane) + pixel_of_pair;
      m.b[2 * lane] = static_cast<int8_t>(PixelByte(base, pixel, first ? 0 : 2));
      m.b[2 * lane + 1] = first ? static_cast<int8_t>(PixelByte(base, pixel, 1)) : kZero;
    }
  }
  return m;
}

constexpr Bytes16 ForwardWeights(bool first) {
  Bytes16 m{};
  for (int lane = 0; lane < 8; ++lane) {
    int8_t a = 0, b = 0;
    if (IsLuma(lane)) {
      a = first ? -29 : -51;
      b = first ? -99 : -77;
    } else if (IsU(lane)) {  // 128b - 85g - 43r
      a = first ? -128 : 43;
      b = first ? 85 : 0;
    } else {  // 128r - 107g - 21b
      a = first ? 21 : -128;
      b = first ? 107 : 0;
    }
    m.b[2 * lane] = a;
    m.b[2 * lane + 1] = b;
  }
  return m;
}
constexpr Bytes16 kForwardWeightsFirst = ForwardWeights(true);
constexpr Bytes16 kForwardWeightsSecond = ForwardWeights(false);

// Added to each output byte: -1 for luma, -128 for chroma (the same as +128).
constexpr Bytes16 ForwardFix() {
  Bytes16 m{};
  for (int i = 0; i < 16; ++i) m.b[i] = IsLuma(i) ? -1 : -128;
  return m;
}
constexpr Bytes16 kForwardFix = ForwardFix();

// Output bytes first..first+count-1 of eight pixels (24 bytes, B G R each),
// placed from `at` on; the luma shuffle picks from the 16 4:2:2 bytes, the
// colour-term shuffle from bytes [tB0 tR0 tB1 tR1 tB2 tR2 tB3 tR3 tG0 . tG1 .
// tG2 . tG3 .].
constexpr Bytes16 InverseLuma(int first, int count, int at) {
  Bytes16 m{};
  for (int i = 0; i < 16; ++i) m.b[i] = kZero;
  for (int i = 0; i < count; ++i) m.b[at + i] = static_cast<int8_t>(2 * ((first + i) / 3));
  return m;
}

constexpr Bytes16 InverseTerm(int first, int count, int at) {
  Bytes16 m{};
  for (int i = 0; i < 16; ++i) m.b[i] = kZero;
  for (int i = 0; i < count; ++i) {
    const int byte = first + i, pair = byte / 6, component = byte % 3;
    m.b[at + i] = static_cast<int8_t>(component == 0 ? 2 * pair : component == 2 ? 2 * pair + 1 : 8 + 2 * pair);
  }
  return m;
}

// RGB to 4:2:2 with whole-register byte permutes (AVX-512 VBMI, 32 bytes):
// sixteen pixels at a time, luma and chroma in registers of their own, so
// that 16-bit lane k of both is output byte pair k (the luma of pixel k, and
// U or V of its pair for even or odd k). Luma is taken from the plain bytes,
// (B, G) and (G, R) weighted (29, 99) and (51, 77), whose sum S <= 65280 has
// Y as its high byte; only chroma needs the complemented average above, and
// gets its +128 by a flip of the top bit.
struct Bytes32 {
  int8_t b[32];
};

// Byte c of pixel p of the 48 bytes, as a two-register permute index.
constexpr int8_t WideByte(int pixel, int component) { return static_cast<int8_t>(3 * pixel + component); }

constexpr Bytes32 WideLuma(bool first) {
  Bytes32 m{};
  for (int pixel = 0; pixel < 16; ++pixel) {
    m.b[2 * pixel] = WideByte(pixel, first ? 0 : 1);
    m.b[2 * pixel + 1] = WideByte(pixel, first ? 1 : 2);
  }
  return m;
}

// (b', g') or (r', r') of the first or second pixel of lane k's pair.
constexpr Bytes32 WideChroma(int pixel_of_pair, bool first) {
  Bytes32 m{};
  for (int lane = 0; lane < 16; ++lane) {
    const int pixel = 2 * (lane / 2) + pixel_of_pair;
    m.b[2 * lane] = WideByte(pixel, first ? 0 : 2);
    m.b[2 * lane + 1] = WideByte(pixel, first ? 1 : 2);  // weight 0 in the second
  }
  return m;
}

constexpr Bytes32 WideWeights(bool luma, bool first) {
  Bytes32 m{};
  for (int lane = 0; lane < 16; ++lane) {
    int8_t a = 0, b = 0;
    if (luma) {
      a = first ? 29 : 51;
      b = first ? 99 : 77;
    } else if (lane % 2 == 0) {  // U: 128b - 85g - 43r
      a = first ? -128 : 43;
      b = first ? 85 : 0;
    } else {  // V: 128r - 107g - 21b
      a = first ? 21 : -128;
      b = first ? 107 : 0;
    }
    m.b[2 * lane] = a;
    m.b[2 * lane + 1] = b;
  }
  return m;
}

// 4:2:2 to RGB with whole-register byte permutes: 32 pixels per step. Two
// registers of 4:2:2 bytes are the luma table (luma of pixel p at byte 2p),
// and the colour terms of each register, packed by 16-byte lane as in the
// SSSE3 kernel, make two 64-byte term tables. Output chunk c (32 bytes) picks
// its luma and terms from them.
constexpr Bytes32 WideInverseLuma(int chunk) {
  Bytes32 m{};
  for (int i = 0; i < 32; ++i) m.b[i] = static_cast<int8_t>(2 * ((32 * chunk + i) / 3));
  return m;
}

constexpr Bytes32 WideInverseTerm(int chunk) {
  Bytes32 m{};
  for (int i = 0; i < 32; ++i) {
    const int byte = 32 * chunk + i, pair = byte / 6, component = byte % 3;
    const int table = pair / 8, lane = (pair % 8) / 4, j = pair % 4;
    const int within = component == 0 ? 2 * j : component == 2 ? 2 * j + 1 : 8 + 2 * j;
    m.b[i] = static_cast<int8_t>(32 * table + 16 * lane + within);
  }
  return m;
}

}  // namespace tev::color::masks
