// A 24-bit B, G, R picture to draw the test card and the pictures on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tev::demo {

struct Canvas {
  Canvas(int w, int h) : width(w), height(h), bgr(static_cast<size_t>(w) * h * 3, 0) {}

  // Clipped to the picture.
  void Set(int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void Grey(int x, int y, uint8_t v) { Set(x, y, v, v, v); }
  void FillRect(int x0, int y0, int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) Set(x, y, b, g, r);
  }

  int width;
  int height;
  std::vector<uint8_t> bgr;
};

}  // namespace tev::demo
