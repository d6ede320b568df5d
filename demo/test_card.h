// A TV test card with the detail that shows a ghost: sharp vertical edges, a
// frequency sweep, text, a circle, grey steps and colour bars.
#pragma once

#include "demo/canvas.h"

namespace tev::demo {

// Frame `frame` of a short sequence: a box and a counter move from frame to
// frame, the rest of the card stays put. Any size from 16x16 up.
Canvas MakeTestCard(int width, int height, int frame);

}  // namespace tev::demo
