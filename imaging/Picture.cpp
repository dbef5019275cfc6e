#include "Picture.h"

#include "ImageFiles.h"

namespace korbenit {

// The user-interface thread is the only one that names pictures.
std::string DefaultPictureName(std::time_t when) {
  char name[32];
  std::strftime(name, sizeof name, "Korbenit_%Y%m%d_%H%M%S", std::localtime(&when));
  return name;
}

TPicture TPicture::Blank(int width, int height, int depth, std::vector<TPaletteEntry> palette) {
  int stride = ((width * depth + 31) / 32) * 4;
  auto size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto storage = std::make_shared<uint8_t[]>(size > 0 ? size : 1);
  std::shared_ptr<const uint8_t> bits(storage, storage.get());
  return {width, height, depth, stride, std::move(bits), std::move(palette)};
}

}  // namespace korbenit
