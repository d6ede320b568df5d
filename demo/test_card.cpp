#include "demo/test_card.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "demo/bitmap_font.h"

namespace tev::demo {
namespace {

constexpr double kPi = 3.14159265358979323846;

uint8_t Level(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

Canvas MakeTestCard(int width, int height, int frame) {
  Canvas card(width, height);
  // Everything is laid out on a 720x576 grid and scaled, so small cards keep
  // the same picture.
  const double sx = width / 720.0, sy = height / 576.0;
  auto X = [&](double x) { return static_cast<int>(std::lround(x * sx)); };
  auto Y = [&](double y) { return static_cast<int>(std::lround(y * sy)); };
  auto Band = [&](double x0, double y0, double x1, double y1, uint8_t b, uint8_t g, uint8_t r) {
    card.FillRect(X(x0), Y(y0), X(x1) - X(x0), Y(y1) - Y(y0), b, g, r);
  };

  // Mid-grey background with a white grid.
  card.FillRect(0, 0, width, height, 96, 96, 96);
  for (int gx = 0; gx <= 720; gx += 40) Band(gx, 0, gx + 2, 576, 200, 200, 200);
  for (int gy = 0; gy <= 576; gy += 48) Band(0, gy, 720, gy + 2, 200, 200, 200);

  // 75 % colour bars: white, yellow, cyan, green, magenta, red, blue, black.
  const uint8_t bars[8][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                              {191, 0, 191},   {0, 0, 191},   {191, 0, 0},   {0, 0, 0}};
  for (int i = 0; i < 8; ++i) Band(40 + 80 * i, 50, 120 + 80 * i, 142, bars[i][0], bars[i][1], bars[i][2]);

  // Eleven grey steps from black to white.
  for (int i = 0; i < 11; ++i) {
    const uint8_t v = Level(i * 25.5);
    Band(40 + 640.0 * i / 11, 146, 40 + 640.0 * (i + 1) / 11, 190, v, v, v);
  }

  // Frequency sweep: from a few cycles across to nearly one cycle per two pixels.
  {
    const int x0 = X(40), x1 = X(680);
    double phase = 0;
    for (int x = x0; x < x1; ++x) {
      const double t = double(x - x0) / std::max(1, x1 - x0);
      phase += 2 * kPi * (0.01 + 0.44 * t);
      const uint8_t v = Level(128 + 110 * std::sin(phase));
      for (int y = Y(194); y < Y(242); ++y) card.Grey(x, y, v);
    }
  }

  // Pulse and bar: sharp white bars of several widths on black.
  Band(40, 290, 680, 338, 16, 16, 16);
  {
    double x = 60;
    for (int w : {2, 4, 8, 16, 32, 64}) {
      Band(x, 296, x + w, 332, 235, 235, 235);
      x += w + 48;
    }
    Band(x, 296, 660, 332, 235, 235, 235);
  }

  // Text, black on white and white on black.
  Band(40, 386, 680, 434, 230, 230, 230);
  {
    const int scale = std::max(1, Y(4));
    const std::string line = "GHOST CANCELLER TEST CARD";
    DrawText(card, (width - TextWidth(line, scale)) / 2, Y(396), line, scale, 0, 0, 0);
  }

  // Moving part: a white box travels along a black band with a frame counter.
  Band(40, 482, 680, 530, 0, 0, 0);
  {
    char counter[32];
    std::snprintf(counter, sizeof counter, "FRAME %02d", frame % 100);
    const int scale = std::max(1, Y(4));
    DrawText(card, X(56), Y(492), counter, scale, 255, 255, 255);
    const double travel = 250 + std::fmod(frame * 12.0, 380.0);
    Band(travel, 488, travel + 36, 524, 255, 255, 255);
  }

  // A circle over everything, as on broadcast cards.
  {
    const double cx = width / 2.0, cy = height / 2.0;
    const double thickness = std::max(3.0, 1.0 / std::min(sx, sy));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const double d = std::hypot((x + 0.5 - cx) / sx, (y + 0.5 - cy) / sy);
        if (std::fabs(d - 250) <= thickness) card.Grey(x, y, 255);
      }
  }
  return card;
}

}  // namespace tev::demo
