#include "demo/metrics.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tev::demo {

PictureFigures MeasureAgainstClean(const std::vector<uint8_t>& clean, const std::vector<uint8_t>& picture) {
  if (clean.size() != picture.size() || clean.empty())
    throw std::invalid_argument("pictures of different sizes cannot be compared");
  const double n = static_cast<double>(clean.size());
  double sc = 0, sp = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    sc += clean[i];
    sp += picture[i];
  }
  const double mc = sc / n, mp = sp / n;
  double cov = 0, var = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    cov += (clean[i] - mc) * (picture[i] - mp);
    var += (clean[i] - mc) * (clean[i] - mc);
  }
  PictureFigures f;
  f.alpha = var > 0 ? cov / var : 0;
  f.beta = mp - f.alpha * mc;
  double error = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    const double e = picture[i] - (f.alpha * clean[i] + f.beta);
    error += e * e;
  }
  const double signal = f.alpha * f.alpha * var;
  // A perfect match is reported as a very large, finite figure.
  f.ghost_db = signal > 0 ? 10 * std::log10(std::max(error, 1e-12) / signal) : 0;
  f.psnr_db = 10 * std::log10(255.0 * 255.0 / std::max(error / n, 1e-12));
  return f;
}

}  // namespace tev::demo
