#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace korbenit {

struct TPaletteEntry {
  uint8_t Red = 0, Green = 0, Blue = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

// A raster as the writers read it: rows top to bottom, Stride bytes apart. Pixel layout
// by depth: 32 blue, green, red, unused; 24 blue, green, red; 16 a little-endian word of
// 5-5-5 red, green, blue; 8 and below palette indexes, the leftmost pixel in the highest
// bits. The pixels are shared, not copied, by whoever holds the picture.
class TPicture {
 public:
  TPicture() = default;
  TPicture(int width, int height, int depth, int stride, std::shared_ptr<const uint8_t> bits,
           std::vector<TPaletteEntry> palette = {})
      : FWidth(width),
        FHeight(height),
        FDepth(depth),
        FStride(stride),
        FBits(std::move(bits)),
        FPalette(std::move(palette)) {}

  // A raster of its own, rows packed to whole 32-bit words, filled with zero.
  static TPicture Blank(int width, int height, int depth, std::vector<TPaletteEntry> palette = {});

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Depth() const { return FDepth; }
  int Stride() const { return FStride; }
  const uint8_t* Row(int y) const { return FBits.get() + static_cast<std::ptrdiff_t>(y) * FStride; }
  // Writable rows, for a raster made by Blank.
  uint8_t* MutableRow(int y) { return const_cast<uint8_t*>(Row(y)); }
  const std::vector<TPaletteEntry>& Palette() const { return FPalette; }

 private:
  int FWidth = 0;
  int FHeight = 0;
  int FDepth = 32;
  int FStride = 0;
  std::shared_ptr<const uint8_t> FBits;
  std::vector<TPaletteEntry> FPalette;
};

// A 32-bit picture enlarged by a whole factor, each pixel a factor x factor square, so
// that it stays crisp; the picture itself for a factor of 1.
TPicture EnlargedPicture(const TPicture& picture, int factor);

// Red, green, blue bytes of width x height pixels enlarged the same way.
std::vector<uint8_t> EnlargedRgb(std::vector<uint8_t> rgb, int width, int height, int factor);

// One row as red, green, blue bytes, whatever the depth: row holds 3 x Width bytes.
void RgbRow(const TPicture& picture, int y, std::vector<uint8_t>& row);

}  // namespace korbenit
