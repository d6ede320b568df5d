// The blind estimator's acceptance run: random channels on the test card and
// on natural photographs, the estimate's settings against settings fitted to
// the known channel, by class of channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tev::demo {

struct EstimateEvalOptions {
  std::vector<std::string> photos;  // image files, scaled to the frame size
  int cases_per_class = 12;
  unsigned seed = 1;
  bool png_input = false;  // estimate from the luma of RGB frames (as from a PNG), not the YUY2 luma
  int pan = 0;             // other than 0: each frame interlaced, its second field panned this many pixels
  double subcarrier = 0;   // above 0: this share of the chroma left in the luma on the PAL subcarrier
  int jpeg_quality = 0;    // above 0: estimate from the luma of a JPEG of the frame at this quality
  bool verbose = false;    // one line per case
  bool trace = false;      // the estimator's candidates on stderr
  bool model_room = false; // the fit's room for every picture through its model, not traded on the picture
  std::string only_class;  // run the cases of this class alone (the random draws stay the same)
};

// A photograph of any size as a 720x576 YUY2 frame (area average).
std::vector<uint8_t> PhotoFrame(const std::string& path);

// What a PAL decoder leaves of the chroma in the luma of a YUY2 frame:
// `share` of U and V on the 4.43 MHz subcarrier (0.328 cycles a pixel at
// 13.5 MHz), turning three quarters of a cycle a line, V switched every line.
void AddSubcarrier(std::vector<uint8_t>& yuy2, int width, int height, double share);

// An interlaced frame whose second field (the odd lines) shows the scene
// moved `pixels` to the right, the line's end pixel brought in; the luma only.
void PanSecondField(std::vector<uint8_t>& yuy2, int width, int height, int pixels);

// Runs every case and returns the table (Markdown) with the timing line.
std::string RunEstimateEval(const EstimateEvalOptions& options);

}  // namespace tev::demo
