// Figures of a picture against the clean original, on luma.
//
// The receiver's gain control scales and lifts the whole picture, and the
// canceller keeps that scale, so every figure first matches the clean luma to
// the picture with the least-squares gain and offset (alpha, beta). What is
// left, e = y - (alpha * clean + beta), is the ghost (and any other damage):
//   ghost energy = 10 log10( sum e^2 / sum (alpha * (clean - mean clean))^2 ) dB
//   PSNR         = 10 log10( 255^2 / mean e^2 ) dB
// Both are computed the same way before and after the canceller.
#pragma once

#include <cstdint>
#include <vector>

namespace tev::demo {

struct PictureFigures {
  double alpha = 0;
  double beta = 0;
  double ghost_db = 0;
  double psnr_db = 0;
};

// `clean` and `picture` are luma planes of the same size.
PictureFigures MeasureAgainstClean(const std::vector<uint8_t>& clean, const std::vector<uint8_t>& picture);

}  // namespace tev::demo
