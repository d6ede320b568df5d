// A colour subcarrier left in the luma of a composite signal (dot crawl): a
// fine pattern near 4.43 MHz (PAL) or 3.58 MHz (NTSC) wherever the picture
// is coloured, its phase turning from line to line. Its cross-line
// correlation repeats every period, and on a clean picture it passed for
// echoes of 10 to 35 %. Found in the lines' spectrum and notched out before
// the ghost is estimated: a notch along the line commutes with the ghost.
#pragma once

#include <cstdint>
#include <vector>

namespace tev::estimate {

struct Subcarrier {
  bool found = false;
  double frequency = 0;   // cycles per pixel
  double prominence = 0;  // the peak's power over the spectrum's median around it
  // The peak's correlation with itself one and two lines on, relative to
  // its power: near 1 for a picture's own structure, near -1 for a carrier
  // turned half a cycle there.
  double next_line = 0, line_after = 0;
};

// The strongest narrow peak in the lines' spectrum between 0.15 and 0.47
// cycles a pixel, found a carrier where it turns half a cycle one or two
// lines on (a picture's own fine texture keeps its phase down the picture).
// `planes` are `width` x `height` luma planes.
Subcarrier FindSubcarrier(const std::vector<const uint8_t*>& planes, int width, int height);

// The plane with the carrier's frequency taken out of every line (a
// zero-phase notch, unity gain away from it), rounded back to 8 bits.
void NotchSubcarrier(uint8_t* plane, int width, int height, double frequency);

}  // namespace tev::estimate
