#include "Picture.h"

namespace korbenit {

TPicture TPicture::Blank(int width, int height, int depth, std::vector<TPaletteEntry> palette) {
  int stride = ((width * depth + 31) / 32) * 4;
  auto size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto storage = std::make_shared<uint8_t[]>(size > 0 ? size : 1);
  std::shared_ptr<const uint8_t> bits(storage, storage.get());
  return {width, height, depth, stride, std::move(bits), std::move(palette)};
}

}  // namespace korbenit
