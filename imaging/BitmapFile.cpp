#include <algorithm>
#include <cstring>

#include "ImageFiles.h"
#include "RuntimeErrors.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

constexpr uint32_t FileHeaderSize = 14;
constexpr uint32_t InfoHeaderSize = 40;

struct TBitmapParts {
  std::vector<uint8_t> FileHeader, InfoHeader, ColorTable, Pixels;
};

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

uint64_t RowBytes(const TPicture& p) {
  return ((static_cast<uint64_t>(p.Width()) * static_cast<uint64_t>(p.Depth()) + 31) / 32) * 4;
}

uint32_t ColorTableEntries(const TPicture& p) { return p.Depth() <= 8 ? 1u << p.Depth() : 0; }

std::vector<uint8_t> ColorTable(const TPicture& p) {
  std::vector<uint8_t> table;
  for (uint32_t i = 0; i < ColorTableEntries(p); ++i) {
    TPaletteEntry entry = i < p.Palette().size() ? p.Palette()[i] : TPaletteEntry{};
    table.insert(table.end(), {entry.Blue, entry.Green, entry.Red, 0});
  }
  return table;
}

// One stored row: the raster's bytes as they are, except that the unused byte of a
// 32-bit pixel and the top bit of a 16-bit one are stored as 0.
void CopyRow(const TPicture& p, int y, uint8_t* out) {
  const uint8_t* row = p.Row(y);
  auto width = static_cast<std::size_t>(p.Width());
  switch (p.Depth()) {
    case 32:
      for (std::size_t x = 0; x < width; ++x) {
        std::memcpy(out + 4 * x, row + 4 * x, 3);
        out[4 * x + 3] = 0;
      }
      break;
    case 16:
      for (std::size_t x = 0; x < width; ++x) {
        out[2 * x] = row[2 * x];
        out[2 * x + 1] = row[2 * x + 1] & 0x7F;
      }
      break;
    default:
      std::memcpy(out, row, (width * static_cast<std::size_t>(p.Depth()) + 7) / 8);
  }
}

// The format counts the file's bytes in 32 bits; a bigger picture is refused before
// anything is allocated for it.
uint32_t ImageSize(const TPicture& p, uint32_t headerSize) {
  uint64_t image = RowBytes(p) * static_cast<uint64_t>(std::max(p.Height(), 0));
  if (p.Width() < 0 || p.Height() < 0 || FileHeaderSize + headerSize + image > 0xFFFFFFFFull)
    throw EInvalidGraphic("Bitmap ist ungültig");
  return static_cast<uint32_t>(image);
}

TBitmapParts BuildBitmap(const TPicture& p) {
  TBitmapParts parts;
  parts.ColorTable = ColorTable(p);
  uint32_t headerSize = InfoHeaderSize + static_cast<uint32_t>(parts.ColorTable.size());
  uint32_t imageSize = ImageSize(p, headerSize);

  auto& file = parts.FileHeader;
  file = {'B', 'M'};
  Put32(file, FileHeaderSize + headerSize + imageSize);
  Put32(file, 0);
  Put32(file, FileHeaderSize + headerSize);

  auto& info = parts.InfoHeader;
  for (uint32_t value : {InfoHeaderSize, static_cast<uint32_t>(p.Width()),
                         static_cast<uint32_t>(p.Height())})
    Put32(info, value);
  Put16(info, 1);
  Put16(info, static_cast<uint32_t>(p.Depth()));
  for (uint32_t value : {0u, imageSize, 0u, 0u, ColorTableEntries(p), 0u}) Put32(info, value);

  parts.Pixels.assign(imageSize, 0);
  for (int stored = 0; stored < p.Height(); ++stored)
    CopyRow(p, p.Height() - 1 - stored,
            parts.Pixels.data() + static_cast<std::size_t>(stored) * RowBytes(p));
  return parts;
}

}  // namespace

std::vector<uint8_t> EncodeBitmap(const TPicture& picture) {
  TBitmapParts parts = BuildBitmap(picture);
  std::vector<uint8_t> bytes;
  for (const auto* part : {&parts.FileHeader, &parts.InfoHeader, &parts.ColorTable, &parts.Pixels})
    bytes.insert(bytes.end(), part->begin(), part->end());
  return bytes;
}

void SaveBitmapFile(const TPicture& picture, const std::string& path) {
  WithRuntimeMemoryError([&] {
    TReplacingFile file(path);
    TBitmapParts parts = BuildBitmap(picture);
    for (const auto* part : {&parts.FileHeader, &parts.InfoHeader, &parts.ColorTable, &parts.Pixels})
      if (!part->empty()) file.Write(part->data(), part->size());
    file.Commit();
  });
}

}  // namespace korbenit
