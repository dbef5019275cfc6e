// Every conversion of the device's pixels, in one place.
#include "Frame.h"

namespace korbenit {

TLineColours LineColours(const TScreenLine& line) {
  TLineColours colours;
  for (std::size_t x = 0; x < line.size(); ++x) colours[x] = ConvertPixel(line[x]);
  return colours;
}

void WriteBgrxRow(const uint16_t* words, int count, uint8_t* row) {
  for (int x = 0; x < count; ++x, row += 4) {
    TColor colour = ConvertPixel(words[x]);
    row[0] = BlueOf(colour);
    row[1] = GreenOf(colour);
    row[2] = RedOf(colour);
    row[3] = 0xFF;
  }
}

TPicture PictureOf(const TFrame& frame) {
  TPicture picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  for (int y = 0; y < ScreenHeight; ++y)
    WriteBgrxRow(frame.Line(y), ScreenWidth, picture.MutableRow(y));
  return picture;
}

std::vector<uint8_t> RgbOf(const TFrame& frame) {
  std::vector<uint8_t> rgb(3 * frame.Pixels.size());
  for (std::size_t i = 0; i < frame.Pixels.size(); ++i) {
    TColor colour = ConvertPixel(frame.Pixels[i]);
    rgb[3 * i] = RedOf(colour);
    rgb[3 * i + 1] = GreenOf(colour);
    rgb[3 * i + 2] = BlueOf(colour);
  }
  return rgb;
}

}  // namespace korbenit
