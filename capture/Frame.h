#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "Picture.h"
#include "ScreenProtocol.h"

namespace korbenit {

// The device's screen as it sends it: 320 lines of 240 RGB565 words, row by row, with the
// moment its last line arrived and its number in a session (from 1). Every picture the
// program shows, saves or records is made from it by the conversions below.
struct TFrame {
  std::array<uint16_t, ScreenWidth * ScreenHeight> Pixels{};
  std::chrono::steady_clock::time_point Captured;
  uint64_t Number = 0;

  uint16_t* Line(int y) { return Pixels.data() + static_cast<std::ptrdiff_t>(y) * ScreenWidth; }
  const uint16_t* Line(int y) const {
    return Pixels.data() + static_cast<std::ptrdiff_t>(y) * ScreenWidth;
  }
};

// A line as drawing takes it, each pixel through ConvertPixel.
TLineColours LineColours(const TScreenLine& line);
// A row of count pixels as blue, green, red and 255 bytes: the window's raster and the
// 32-bit pictures the file writers take.
void WriteBgrxRow(const uint16_t* words, int count, uint8_t* row);
// The whole frame as a 32-bit picture for the file writers.
TPicture PictureOf(const TFrame& frame);
// The whole frame as red, green, blue bytes, for the animation writers.
std::vector<uint8_t> RgbOf(const TFrame& frame);

}  // namespace korbenit
