#include "ScreenCheck.h"

#include <algorithm>
#include <cstdlib>

#include "PictureReader.h"

namespace korbenit {
namespace {

bool Masked(int x, int y, const std::vector<TScreenRegion>& masks) {
  return std::any_of(masks.begin(), masks.end(), [x, y](const TScreenRegion& m) {
    return x >= m.X && x < m.X + m.Width && y >= m.Y && y < m.Y + m.Height;
  });
}

bool Near(uint16_t a, uint16_t b, int fuzz) {
  if (a == b) return true;
  if (fuzz == 0) return false;
  TColor ca = ConvertPixel(a), cb = ConvertPixel(b);
  return std::abs(RedOf(ca) - RedOf(cb)) <= fuzz && std::abs(GreenOf(ca) - GreenOf(cb)) <= fuzz &&
         std::abs(BlueOf(ca) - BlueOf(cb)) <= fuzz;
}

}  // namespace

TReference ReadReference(const std::string& path, const TCompareRules& rules) {
  TRgbPicture picture = ReadPictureFile(path);
  if (picture.Width != ScreenWidth || picture.Height != ScreenHeight)
    throw EInvalidGraphic("\"" + path + "\": " + std::to_string(picture.Width) + " x " +
                          std::to_string(picture.Height) + ", not the screen's 240 x 320");
  if (picture.Lossy && rules.Fuzz == 0)
    throw EInvalidGraphic("\"" + path +
                          "\": a JPEG's colours are only near the screen's; "
                          "compare it with --fuzz");
  TReference reference;
  reference.Lossy = picture.Lossy;
  for (std::size_t i = 0; i < reference.Screen.Pixels.size(); ++i) {
    const uint8_t* rgb = &picture.Rgb[i * 3];
    reference.Screen.Pixels[i] =
        static_cast<uint16_t>((rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3);
  }
  return reference;
}

TScreenDifference CompareScreens(const TFrame& screen, const TFrame& reference,
                                 const TCompareRules& rules, std::vector<uint8_t>* differing) {
  TScreenDifference difference;
  if (differing) differing->assign(std::size_t{ScreenWidth} * ScreenHeight, 0);
  int left = ScreenWidth, top = ScreenHeight, right = -1, bottom = -1;
  for (int y = 0; y < ScreenHeight; ++y) {
    const uint16_t *a = screen.Line(y), *b = reference.Line(y);
    for (int x = 0; x < ScreenWidth; ++x) {
      if (Near(a[x], b[x], rules.Fuzz) || Masked(x, y, rules.Masks)) continue;
      ++difference.Pixels;
      if (differing) (*differing)[std::size_t{ScreenWidth} * y + x] = 1;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (difference.Pixels > 0) difference.Box = {left, top, right - left + 1, bottom - top + 1};
  return difference;
}

TPicture DifferencePicture(const TFrame& screen, const TFrame& reference,
                           const TCompareRules& rules) {
  std::vector<uint8_t> differing;
  CompareScreens(screen, reference, rules, &differing);
  TPicture picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  for (int y = 0; y < ScreenHeight; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(picture.MutableRow(y));
    for (int x = 0; x < ScreenWidth; ++x) {
      TColor c = ConvertPixel(screen.Line(y)[x]);
      // A light grey of the screen's brightness, so that red and blue stand out.
      uint32_t grey = 128 + (RedOf(c) * 30 + GreenOf(c) * 59 + BlueOf(c) * 11) / 200;
      row[x] = 0xFF000000u | grey << 16 | grey << 8 | grey;
      if (differing[std::size_t{ScreenWidth} * y + x]) row[x] = 0xFFFF0000u;
    }
  }
  for (const TScreenRegion& m : rules.Masks)
    for (int y = m.Y; y < m.Y + m.Height; ++y)
      for (int x = m.X; x < m.X + m.Width; ++x)
        if (y == m.Y || y == m.Y + m.Height - 1 || x == m.X || x == m.X + m.Width - 1)
          reinterpret_cast<uint32_t*>(picture.MutableRow(y))[x] = 0xFF0000FFu;
  return picture;
}

std::string DescribeDifference(const TScreenDifference& difference, const TCompareRules& rules) {
  if (difference.Matches(rules) && difference.Pixels == 0) return "match";
  const TScreenRegion& box = difference.Box;
  std::string where = std::to_string(box.X) + "," + std::to_string(box.Y) + "," +
                      std::to_string(box.Width) + "," + std::to_string(box.Height);
  std::string count =
      std::to_string(difference.Pixels) + (difference.Pixels == 1 ? " pixel" : " pixels");
  return (difference.Matches(rules) ? "match: " : "differ: ") + count + " in " + where;
}

}  // namespace korbenit
