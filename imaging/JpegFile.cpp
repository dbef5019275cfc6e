// JPEG through libjpeg. The library's error exit must not throw through its C frames:
// it jumps back to the call that entered the library, which returns an error code, and
// the exception is raised only after the library has been left.
#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "ImageFiles.h"
#include "RuntimeErrors.h"
#include "SafeFile.h"

namespace korbenit {
namespace {

constexpr std::size_t OutputBlock = 4096;

struct TErrorManager {
  jpeg_error_mgr Public;
  std::jmp_buf Return;
};

// The compressed file, grown in 4096-byte blocks.
struct TMemoryDestination {
  jpeg_destination_mgr Public;
  std::vector<uint8_t>* Buffer;
  bool OutOfMemory;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<TErrorManager*>(cinfo->err);
  std::longjmp(errors->Return, 1);
}

void OutputMessage(j_common_ptr) {}

bool Grow(TMemoryDestination* dest) {
  std::size_t used = dest->Buffer->size();
  try {
    dest->Buffer->resize(used + OutputBlock);
  } catch (const std::bad_alloc&) {
    dest->OutOfMemory = true;
    return false;
  }
  dest->Public.next_output_byte = dest->Buffer->data() + used;
  dest->Public.free_in_buffer = OutputBlock;
  return true;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  dest->Buffer->clear();
  if (!Grow(dest)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  if (!Grow(dest)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
  dest->Buffer->resize(dest->Buffer->size() - dest->Public.free_in_buffer);
}

struct TCompressResult {
  int MessageCode = 0;
  bool Failed = false;
  bool OutOfMemory = false;
};

// The library calls, with nothing on this frame that needs a destructor: a jump out of
// the library lands here and returns the failure.
TCompressResult RunCompressor(jpeg_compress_struct& cinfo, TErrorManager& errors,
                              TMemoryDestination& dest, const TJPEGImage& settings,
                              const std::vector<std::vector<uint8_t>>& rows) {
  TCompressResult result;
  cinfo.err = jpeg_std_error(&errors.Public);
  errors.Public.error_exit = ErrorExit;
  errors.Public.output_message = OutputMessage;
  if (setjmp(errors.Return)) {
    result.Failed = true;
    result.MessageCode = errors.Public.msg_code;
    result.OutOfMemory = dest.OutOfMemory;
    jpeg_destroy_compress(&cinfo);
    return result;
  }
  jpeg_create_compress(&cinfo);
  cinfo.dest = &dest.Public;
  cinfo.image_width = static_cast<JDIMENSION>(rows.empty() ? 0 : rows[0].size() / 3);
  cinfo.image_height = static_cast<JDIMENSION>(rows.size());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, settings.CompressionQuality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rows[cinfo.next_scanline].data());
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return result;
}

}  // namespace

void TJPEGImage::Compress() {
  FData.clear();
  if (FPicture.Width() <= 0 || FPicture.Height() <= 0) return;
  // The 24-bit working copy, freed when compression ends either way.
  std::vector<std::vector<uint8_t>> rows(static_cast<std::size_t>(FPicture.Height()),
                                         std::vector<uint8_t>(3 * static_cast<std::size_t>(FPicture.Width())));
  for (int y = 0; y < FPicture.Height(); ++y) RgbRow(FPicture, y, rows[static_cast<std::size_t>(y)]);

  jpeg_compress_struct cinfo{};
  TErrorManager errors{};
  TMemoryDestination dest{};
  dest.Public.init_destination = InitDestination;
  dest.Public.empty_output_buffer = EmptyOutputBuffer;
  dest.Public.term_destination = TermDestination;
  dest.Buffer = &FData;
  TCompressResult result = RunCompressor(cinfo, errors, dest, *this, rows);
  if (!result.Failed) return;
  FData.clear();
  if (result.OutOfMemory) throw EStreamError();
  throw EJPEG(result.MessageCode);
}

void TJPEGImage::SaveToFile(const std::string& path) {
  TReplacingFile file(path);
  Compress();
  file.Write(FData.data(), FData.size());
  file.Commit();
}

void SaveJpegFile(const TPicture& picture, const std::string& path, int quality) {
  WithRuntimeMemoryError([&] {
    TJPEGImage jpeg;
    jpeg.CompressionQuality = quality;
    jpeg.Assign(picture);
    jpeg.SaveToFile(path);
  });
}

}  // namespace korbenit
