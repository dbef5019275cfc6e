#include "PictureReader.h"

#include <png.h>

#include <jpeglib.h>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "SafeFile.h"

namespace korbenit {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw EInvalidGraphic("\"" + path + "\": " + why);
}

TRgbPicture ReadPng(const std::string& path, const std::string& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    Refuse(path, std::string("not a readable PNG (") + image.message + ")");
  image.format = PNG_FORMAT_RGB;
  TRgbPicture picture{static_cast<int>(image.width), static_cast<int>(image.height), {}, false};
  picture.Rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.Rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    Refuse(path, std::string("not a readable PNG (") + image.message + ")");
  }
  return picture;
}

uint32_t Little(const std::string& bytes, std::size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Uncompressed, 24 or 32 bits, bottom-up or top-down rows padded to four bytes.
TRgbPicture ReadBmp(const std::string& path, const std::string& bytes) {
  if (bytes.size() < 54) Refuse(path, "a BMP cut short");
  auto offset = Little(bytes, 10, 4), compression = Little(bytes, 30, 4);
  auto width = static_cast<int32_t>(Little(bytes, 18, 4)),
       height = static_cast<int32_t>(Little(bytes, 22, 4));
  int depth = static_cast<int>(Little(bytes, 28, 2));
  if ((depth != 24 && depth != 32) || (compression != 0 && compression != 3) || width <= 0 ||
      height == 0 || width > 65536 || height > 65536 || height < -65536)
    Refuse(path, "a BMP other than uncompressed 24 or 32 bits");
  bool bottomUp = height > 0;
  int rows = bottomUp ? height : -height;
  std::size_t stride = (static_cast<std::size_t>(width) * depth / 8 + 3) / 4 * 4;
  if (offset + stride * static_cast<std::size_t>(rows) > bytes.size())
    Refuse(path, "a BMP cut short");
  TRgbPicture picture{width, rows, std::vector<uint8_t>(static_cast<std::size_t>(width) * rows * 3),
                      false};
  for (int y = 0; y < rows; ++y) {
    const char* row =
        bytes.data() + offset + stride * static_cast<std::size_t>(bottomUp ? rows - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      const char* pixel = row + static_cast<std::size_t>(x) * depth / 8;
      uint8_t* out = &picture.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      out[0] = static_cast<uint8_t>(pixel[2]), out[1] = static_cast<uint8_t>(pixel[1]),
      out[2] = static_cast<uint8_t>(pixel[0]);
    }
  }
  return picture;
}

struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

// libjpeg's error exit must not throw through its frames: it jumps back here.
TRgbPicture ReadJpeg(const std::string& path, const std::string& bytes) {
  jpeg_decompress_struct info{};
  TJpegError error{};
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = [](j_common_ptr common) {
    std::longjmp(reinterpret_cast<TJpegError*>(common->err)->Jump, 1);
  };
  TRgbPicture picture;
  picture.Lossy = true;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    Refuse(path, "not a readable JPEG");
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  picture.Width = static_cast<int>(info.output_width);
  picture.Height = static_cast<int>(info.output_height);
  picture.Rgb.resize(static_cast<std::size_t>(picture.Width) * picture.Height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &picture.Rgb[static_cast<std::size_t>(info.output_scanline) * picture.Width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture;
}

}  // namespace

TRgbPicture ReadPictureFile(const std::string& path) {
  auto bytes = ReadRegularFile(path);
  if (!bytes) Refuse(path, std::strerror(errno));
  if (bytes->rfind("\x89PNG", 0) == 0) return ReadPng(path, *bytes);
  if (bytes->rfind("BM", 0) == 0) return ReadBmp(path, *bytes);
  if (bytes->rfind("\xFF\xD8", 0) == 0) return ReadJpeg(path, *bytes);
  Refuse(path, "neither PNG, BMP nor JPEG");
}

}  // namespace korbenit
