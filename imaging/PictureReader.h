#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ImageFiles.h"

namespace korbenit {

// A picture read from a file: width x height pixels of red, green and blue bytes.
struct TRgbPicture {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  bool Lossy = false;  // a JPEG: its colours are near the screen's, not the screen's
};

// Reads a PNG (through libpng), an uncompressed BMP of 24 or 32 bits, or a JPEG (through
// libjpeg), by the file's first bytes. Raises EInvalidGraphic naming the file and what
// is wrong (missing, unreadable, of another kind).
TRgbPicture ReadPictureFile(const std::string& path);

}  // namespace korbenit
