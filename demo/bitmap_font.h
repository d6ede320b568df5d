// A 5x7 bitmap font for the test card's and the pictures' captions.
#pragma once

#include <cstdint>
#include <string>

namespace tev::demo {

struct Canvas;

// Draws `text` (upper-case letters, digits and a few signs; others as blanks)
// with its top-left corner at (x, y), each font pixel `scale` pixels wide.
void DrawText(Canvas& canvas, int x, int y, const std::string& text, int scale, uint8_t b, uint8_t g, uint8_t r);
// Width in pixels of `text` drawn at `scale`.
int TextWidth(const std::string& text, int scale);

}  // namespace tev::demo
