#include "Picture.h"

#include <algorithm>

#include "ImageFiles.h"
#include "RuntimePlatform.h"

namespace korbenit {

std::string DefaultPictureName(std::time_t when) {
  char name[32];
  std::tm local = LocalTime(when);
  std::strftime(name, sizeof name, "Korbenit_%Y%m%d_%H%M%S", &local);
  return name;
}

TPicture TPicture::Blank(int width, int height, int depth, std::vector<TPaletteEntry> palette) {
  int stride = ((width * depth + 31) / 32) * 4;
  auto size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto storage = std::make_shared<uint8_t[]>(size > 0 ? size : 1);
  std::shared_ptr<const uint8_t> bits(storage, storage.get());
  return {width, height, depth, stride, std::move(bits), std::move(palette)};
}

void RgbRow(const TPicture& picture, int y, std::vector<uint8_t>& row) {
  const uint8_t* source = picture.Row(y);
  for (int x = 0; x < picture.Width(); ++x) {
    uint8_t red, green, blue;
    switch (picture.Depth()) {
      case 32:
      case 24: {
        const uint8_t* pixel = source + x * (picture.Depth() / 8);
        blue = pixel[0], green = pixel[1], red = pixel[2];
        break;
      }
      case 16: {
        unsigned word = source[2 * x] | source[2 * x + 1] << 8;
        red = static_cast<uint8_t>(((word >> 10) & 31) * 255 / 31);
        green = static_cast<uint8_t>(((word >> 5) & 31) * 255 / 31);
        blue = static_cast<uint8_t>((word & 31) * 255 / 31);
        break;
      }
      default: {
        int depth = picture.Depth();
        int bit = x * depth;
        unsigned index = (source[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
        TPaletteEntry entry =
            index < picture.Palette().size() ? picture.Palette()[index] : TPaletteEntry{};
        red = entry.Red, green = entry.Green, blue = entry.Blue;
      }
    }
    row[static_cast<std::size_t>(3 * x)] = red;
    row[static_cast<std::size_t>(3 * x + 1)] = green;
    row[static_cast<std::size_t>(3 * x + 2)] = blue;
  }
}

TPicture EnlargedPicture(const TPicture& picture, int factor) {
  if (factor <= 1) return picture;
  TPicture large = TPicture::Blank(picture.Width() * factor, picture.Height() * factor, 32);
  for (int y = 0; y < large.Height(); ++y) {
    auto* out = reinterpret_cast<uint32_t*>(large.MutableRow(y));
    const auto* in = reinterpret_cast<const uint32_t*>(picture.Row(y / factor));
    for (int x = 0; x < large.Width(); ++x) out[x] = in[x / factor];
  }
  return large;
}

std::vector<uint8_t> EnlargedRgb(std::vector<uint8_t> rgb, int width, int height, int factor) {
  if (factor <= 1) return rgb;
  std::size_t large = static_cast<std::size_t>(width) * factor;
  std::vector<uint8_t> out(large * 3 * static_cast<std::size_t>(height) * factor);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height) * factor; ++y)
    for (std::size_t x = 0; x < large; ++x)
      std::copy_n(&rgb[((y / factor) * width + x / factor) * 3], 3, &out[(y * large + x) * 3]);
  return out;
}

}  // namespace korbenit
