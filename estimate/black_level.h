// A receiver's gain control lifts black when an echo subtracts. The steps
// then add their share of that lift only where their source lies inside the
// line: a band at the line's start (or end) on every line. Brightness can
// take the lift out before the steps, at the price of clipping the deepest
// parts of the ghost's negative copy; which costs less depends on the picture.
#pragma once

#include <cstdint>
#include <vector>

#include "estimate/channel_fit.h"

namespace tev::estimate {

// What the bands of `steps` on the received picture say of its black level.
// The picture's own steps at a column average out over the lines; a band's
// is the same on every line.
struct BandReading {
  // The level that would make the bands vanish from the output: the lift,
  // and the copy of the line's edge that imperfect steps leave in the band.
  double visible = 0;
  // The lift alone, parted from the edge's copy by how the edge's value
  // changes from line to line, and its standard error (levels).
  double lift = 0;
  double lift_error = 1e30;
  // With `residuals` asked for, the same regression's slope where a single
  // column's band changes and its neighbours' do not (alone, or a few columns
  // from another step's): what the received channel and the steps together
  // leave at that lag (the line edge's copy), free of the picture's texture,
  // and its standard error. Negative lags are read at the line's end.
  struct Residual {
    int lag;
    double response, error;
  };
  std::vector<Residual> residuals;
};
BandReading ReadBands(const uint8_t* luma, int width, int height, const std::vector<StepSetting>& steps,
                      bool residuals = false);

// Brightness and contrast for `steps` on this picture that lose least to the
// bands the remaining black level makes, to clipping at every stage and to
// rounding, relative to the picture's own strength, with the steps in their
// own order, those that add first, or those that subtract first: the product
// is the same, but what the stages between clip is not (a subtracting step on
// black next to white dips below 0 before the adding ones restore it).
// `keep` is always among the candidates, so the result is never predicted
// worse than the steps in their order with it.
struct Arrangement {
  std::vector<StepSetting> steps;
  Headroom room;
};
Arrangement ArrangeSteps(const uint8_t* luma, int width, int height, const std::vector<StepSetting>& steps,
                         double black_level, const Headroom& keep);

}  // namespace tev::estimate
