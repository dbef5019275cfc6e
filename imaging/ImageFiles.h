#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "Picture.h"

namespace korbenit {

class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EJPEG : public EInvalidGraphic {
 public:
  explicit EJPEG(int messageCode)
      : EInvalidGraphic("JPEG-Fehler #" + std::to_string(messageCode)), FCode(messageCode) {}
  int MessageCode() const { return FCode; }

 private:
  int FCode;
};

// The picture as an uncompressed bottom-up BMP at its own depth.
std::vector<uint8_t> EncodeBitmap(const TPicture& picture);

// One JPEG save: it shares the picture's pixels and, once compressed, holds the whole
// file in memory. Quality 90, colour, baseline.
class TJPEGImage {
 public:
  int CompressionQuality = 90;

  void Assign(const TPicture& picture) { FPicture = picture; }
  // Compresses into memory; raises EJPEG or EStreamError.
  void Compress();
  const std::vector<uint8_t>& Data() const { return FData; }
  void SaveToFile(const std::string& path);

 private:
  TPicture FPicture;
  std::vector<uint8_t> FData;
};

// "Korbenit_yyyymmdd_hhnnss" for a moment in local time: the name a picture is offered
// under, before its extension.
std::string DefaultPictureName(std::time_t when);

// The picture as a PNG file in memory: 8-bit RGB, no interlacing. Raises EOutOfMemory,
// or EInvalidGraphic when the library refuses it (an empty picture).
std::vector<uint8_t> EncodePng(const TPicture& picture);

// The writers replace an existing file only once the new one is complete. Failures:
// EFCreateError naming the path, EWriteError, EJPEG, EStreamError, EOutOfMemory, and
// EInvalidGraphic for a picture too big for a BMP file or one PNG cannot hold.
void SaveBitmapFile(const TPicture& picture, const std::string& path);
void SaveJpegFile(const TPicture& picture, const std::string& path, int quality = 90);
void SavePngFile(const TPicture& picture, const std::string& path);

}  // namespace korbenit
