// PNG through libpng. As with libjpeg, the library's error exit jumps back to the call
// that entered it, and the exception is raised only once the library has been left.
#include <png.h>

#include <csetjmp>
#include <new>

#include "ImageFiles.h"
#include "RuntimeErrors.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

struct TPngOutput {
  std::vector<uint8_t>* Buffer;
  bool OutOfMemory = false;
};

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* output = static_cast<TPngOutput*>(png_get_io_ptr(png));
  try {
    output->Buffer->insert(output->Buffer->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    output->OutOfMemory = true;
    png_error(png, "out of memory");
  }
}

void FlushNothing(png_structp) {}

void SilentWarning(png_structp, png_const_charp) {}

// The library calls, with nothing on this frame that needs a destructor: a jump out of
// the library lands here and answers false.
bool RunEncoder(png_structp png, png_infop info, TPngOutput& output, png_bytepp rows, int width,
                int height) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &output, WriteToMemory, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

// The library's two structures, freed together.
class TPngWriter {
 public:
  TPngWriter()
      : FPng(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, SilentWarning)),
        FInfo(FPng ? png_create_info_struct(FPng) : nullptr) {
    if (!FPng || !FInfo) throw EOutOfMemory();
  }
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;
  ~TPngWriter() { png_destroy_write_struct(&FPng, &FInfo); }

  png_structp Png() { return FPng; }
  png_infop Info() { return FInfo; }

 private:
  png_structp FPng;
  png_infop FInfo;
};

}  // namespace

std::vector<uint8_t> EncodePng(const TPicture& picture) {
  std::vector<std::vector<uint8_t>> rows(
      static_cast<std::size_t>(picture.Height()),
      std::vector<uint8_t>(3 * static_cast<std::size_t>(picture.Width())));
  std::vector<png_bytep> rowPointers;
  for (int y = 0; y < picture.Height(); ++y) {
    RgbRow(picture, y, rows[static_cast<std::size_t>(y)]);
    rowPointers.push_back(rows[static_cast<std::size_t>(y)].data());
  }
  std::vector<uint8_t> data;
  TPngOutput output{&data};
  TPngWriter writer;
  if (!RunEncoder(writer.Png(), writer.Info(), output, rowPointers.data(), picture.Width(),
                  picture.Height())) {
    if (output.OutOfMemory) throw EOutOfMemory();
    throw EInvalidGraphic("PNG-Fehler");
  }
  return data;
}

void SavePngFile(const TPicture& picture, const std::string& path) {
  WithRuntimeMemoryError([&] {
    TReplacingFile file(path);
    std::vector<uint8_t> data = EncodePng(picture);
    file.Write(data.data(), data.size());
    file.Commit();
  });
}

}  // namespace korbenit
