#include "ImageFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <filesystem>

#include <jpeglib.h>
#include <jerror.h>

#include "FileSizeLimit.h"
#include "SafeFile.h"
#include "posix/SafeFileSeam.h"
#include "RuntimeErrors.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

using testing::ReadBytes;
using testing::TTempFolder;
using testing::WriteBytes;
using TBytes = std::vector<uint8_t>;

// Both writers, each with its defaults.
const std::vector<std::function<void(const TPicture&, const std::string&)>> Writers = {
    [](const TPicture& p, const std::string& path) { SaveBitmapFile(p, path); },
    [](const TPicture& p, const std::string& path) { SaveJpegFile(p, path); }};

uint32_t Get32(const TBytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Get16(const TBytes& b, std::size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// The screen picture: 240 x 320, 32 bits, a colour per pixel from its position.
TPicture ScreenPicture() {
  TPicture picture = TPicture::Blank(240, 320, 32);
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 240; ++x) {
      uint8_t* pixel = picture.MutableRow(y) + 4 * x;
      pixel[0] = static_cast<uint8_t>(x + y);      // blue
      pixel[1] = static_cast<uint8_t>(y * 3 / 4);  // green
      pixel[2] = static_cast<uint8_t>(x);          // red
      pixel[3] = 0xFF;                             // as a display raster holds it
    }
  // The device's pure red F800 at the top left: red 255, green 3, blue 7.
  uint8_t* topLeft = picture.MutableRow(0);
  topLeft[0] = 7, topLeft[1] = 3, topLeft[2] = 255;
  return picture;
}

TEST(Bitmap, ScreenPictureAt32Bits) {
  TBytes file = EncodeBitmap(ScreenPicture());
  ASSERT_EQ(file.size(), 307254u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get32(file, 2), 307254u);
  EXPECT_EQ(Get32(file, 6), 0u);
  EXPECT_EQ(Get32(file, 10), 54u);
  EXPECT_EQ(Get32(file, 14), 40u);
  EXPECT_EQ(Get32(file, 18), 240u);
  EXPECT_EQ(Get32(file, 22), 320u);
  EXPECT_EQ(Get16(file, 26), 1);
  EXPECT_EQ(Get16(file, 28), 32);
  EXPECT_EQ(Get32(file, 30), 0u);
  EXPECT_EQ(Get32(file, 34), 307200u);
  EXPECT_EQ(Get32(file, 38), 0u);
  EXPECT_EQ(Get32(file, 42), 0u);
  EXPECT_EQ(Get32(file, 46), 0u);
  EXPECT_EQ(Get32(file, 50), 0u);
  for (std::size_t at = 54 + 3; at < file.size(); at += 4) ASSERT_EQ(file[at], 0) << at;
  std::size_t lastRow = 54 + 319 * 960;
  EXPECT_EQ(TBytes(file.begin() + static_cast<long>(lastRow), file.begin() + static_cast<long>(lastRow) + 4),
            (TBytes{0x07, 0x03, 0xFF, 0x00}));
  // The first stored row is the bottom row: pixel (1, 319).
  EXPECT_EQ(file[54 + 4], static_cast<uint8_t>(1 + 319));
}

struct TDepthCase {
  int depth, width;
  uint32_t offset, rowBytes, colours;
};

void PrintTo(const TDepthCase& c, std::ostream* os) { *os << c.depth << " bits, width " << c.width; }

class BitmapDepth : public ::testing::TestWithParam<TDepthCase> {};

TEST_P(BitmapDepth, RowsBottomUpPaddedWithZeros) {
  const auto& c = GetParam();
  std::vector<TPaletteEntry> palette;
  for (uint32_t i = 0; i < c.colours; ++i)
    palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i), static_cast<uint8_t>(3 * i)});
  TPicture picture = TPicture::Blank(c.width, 3, c.depth, palette);
  int used = (c.width * c.depth + 7) / 8;
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < picture.Stride(); ++i)
      picture.MutableRow(y)[i] = i < used ? static_cast<uint8_t>(0x11 * (y + 1) + i) & 0x7F : 0xEE;
  TBytes file = EncodeBitmap(picture);
  EXPECT_EQ(Get32(file, 10), c.offset);
  EXPECT_EQ(Get16(file, 28), c.depth);
  EXPECT_EQ(Get32(file, 34), 3 * c.rowBytes);
  EXPECT_EQ(Get32(file, 46), c.colours);
  EXPECT_EQ(file.size(), c.offset + 3 * c.rowBytes);
  EXPECT_EQ(Get32(file, 2), file.size());
  for (uint32_t i = 0; i < c.colours; ++i) {
    std::size_t at = 54 + 4 * i;
    ASSERT_EQ(TBytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 4),
              (TBytes{static_cast<uint8_t>(3 * i), static_cast<uint8_t>(2 * i), static_cast<uint8_t>(i), 0}));
  }
  for (int stored = 0; stored < 3; ++stored) {
    const uint8_t* row = picture.Row(2 - stored);
    std::size_t at = c.offset + static_cast<std::size_t>(stored) * c.rowBytes;
    for (std::size_t i = 0; i < c.rowBytes; ++i) {
      uint8_t expected = static_cast<int>(i) < used ? row[i] : 0;
      if (c.depth == 32 && i % 4 == 3) expected = 0;
      ASSERT_EQ(file[at + i], expected) << "stored row " << stored << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, BitmapDepth,
                         ::testing::Values(TDepthCase{32, 3, 54, 12, 0}, TDepthCase{24, 3, 54, 12, 0},
                                           TDepthCase{24, 5, 54, 16, 0}, TDepthCase{16, 3, 54, 8, 0},
                                           TDepthCase{8, 5, 1078, 8, 256},
                                           TDepthCase{4, 3, 118, 4, 16}, TDepthCase{1, 9, 62, 4, 2}),
                         [](const auto& info) {
                           return "D" + std::to_string(info.param.depth) + "W" +
                                  std::to_string(info.param.width);
                         });

TBytes CompressScreen() {
  TJPEGImage jpeg;
  jpeg.Assign(ScreenPicture());
  jpeg.Compress();
  return jpeg.Data();
}

TEST(Jpeg, StartsWithTheJfifHeaderAndTheBaselineFrame) {
  TBytes file = CompressScreen();
  TBytes head = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  ASSERT_GE(file.size(), 200u);
  EXPECT_EQ(TBytes(file.begin(), file.begin() + 20), head);
  TBytes sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x40, 0x00, 0xF0, 0x03,
                 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
  EXPECT_NE(std::search(file.begin(), file.end(), sof0.begin(), sof0.end()), file.end());
}

// The segments up to the scan, and what ends the file.
TEST(Jpeg, HoldsExactlyTheExpectedMarkers) {
  TBytes file = CompressScreen();
  std::vector<int> markers;
  std::size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    int marker = file[at + 1];
    markers.push_back(marker);
    if (marker == 0xDA) break;
    at += 2 + Get16({file[at + 3], file[at + 2]}, 0);
  }
  std::vector<int> expected = {0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA};
  EXPECT_EQ(markers, expected);
  EXPECT_EQ(file[at + 2], 0x00);
  EXPECT_EQ(file[at + 3], 12);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
  // DHT classes in order: DC 0, AC 0, DC 1, AC 1.
  std::vector<int> tables;
  for (std::size_t i = 0; i + 4 < at; ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xC4) tables.push_back(file[i + 4]);
  EXPECT_EQ(tables, (std::vector<int>{0x00, 0x10, 0x01, 0x11}));
  // Quality 90: the first luminance entry 16 becomes (16 x 20 + 50) / 100 = 3.
  std::size_t dqt = 20;
  EXPECT_EQ(file[dqt], 0xFF);
  EXPECT_EQ(file[dqt + 1], 0xDB);
  EXPECT_EQ(file[dqt + 5], 3);
}

TEST(Jpeg, DecodesBackToTheColours) {
  TBytes file = CompressScreen();
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
  jpeg_start_decompress(&cinfo);
  ASSERT_EQ(cinfo.output_width, 240u);
  ASSERT_EQ(cinfo.output_height, 320u);
  TPicture source = ScreenPicture();
  std::vector<uint8_t> row(240 * 3);
  long totalError = 0;
  while (cinfo.output_scanline < cinfo.output_height) {
    int y = static_cast<int>(cinfo.output_scanline);
    JSAMPROW rows[] = {row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (int x = 1; x < 240; ++x)  // the lone red corner pixel blurs, as JPEG does
      for (int channel = 0; channel < 3; ++channel)
        totalError += std::abs(row[static_cast<std::size_t>(3 * x + channel)] -
                               source.Row(y)[4 * x + 2 - channel]);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  EXPECT_LT(static_cast<double>(totalError) / (239 * 320 * 3), 3.0);
}

TEST(Jpeg, EmptyPictureGivesAnEmptyBuffer) {
  TJPEGImage jpeg;
  jpeg.Assign(TPicture::Blank(0, 0, 32));
  jpeg.Compress();
  EXPECT_TRUE(jpeg.Data().empty());
}

TEST(Jpeg, LibraryErrorsBecomeEJpeg) {
  TJPEGImage jpeg;
  jpeg.Assign(TPicture::Blank(70000, 1, 24));
  try {
    jpeg.Compress();
    FAIL() << "compressed a picture wider than JPEG allows";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.MessageCode(), JERR_IMAGE_TOO_BIG);
    EXPECT_EQ(std::string(e.what()), "JPEG-Fehler #" + std::to_string(JERR_IMAGE_TOO_BIG));
  }
  EXPECT_TRUE(jpeg.Data().empty());
}

TEST(SaveFiles, WritesEachTypeUnderTheNameGiven) {
  TTempFolder folder;
  TPicture picture = ScreenPicture();
  SaveBitmapFile(picture, folder / "picture.jpg");
  SaveJpegFile(picture, folder / "Korbenit_20240131_154502");
  EXPECT_EQ(ReadBytes(folder / "picture.jpg").substr(0, 2), "BM");
  EXPECT_EQ(ReadBytes(folder / "Korbenit_20240131_154502").substr(0, 2), "\xFF\xD8");
  std::string firstJpeg = ReadBytes(folder / "Korbenit_20240131_154502");
  std::string firstBmp = ReadBytes(folder / "picture.jpg");
  SaveJpegFile(picture, folder / "Korbenit_20240131_154502");
  SaveBitmapFile(picture, folder / "picture.jpg");
  EXPECT_EQ(ReadBytes(folder / "Korbenit_20240131_154502"), firstJpeg);
  EXPECT_EQ(ReadBytes(folder / "picture.jpg"), firstBmp);
  EXPECT_EQ(folder.EntryCount(), 2u);
}

TEST(SaveFiles, ReplacesAnExistingFileKeepingItsPermissions) {
  TTempFolder folder;
  WriteBytes(folder / "old.bmp", "old content");
  std::filesystem::permissions(folder / "old.bmp", std::filesystem::perms(0640));
  SaveBitmapFile(ScreenPicture(), folder / "old.bmp");
  EXPECT_EQ(std::filesystem::file_size(folder / "old.bmp"), 307254u);
  EXPECT_EQ(std::filesystem::status(folder / "old.bmp").permissions(), std::filesystem::perms(0640));
}

TEST(SaveFiles, AFolderThatCannotHoldTheFileFailsWithItsFullPath) {
  TTempFolder folder;
  WriteBytes(folder / "plain", "");
  for (std::string path : {folder / "missing/picture.bmp", folder / "plain/picture.bmp"}) {
    for (const auto& save : Writers) {
      try {
        save(ScreenPicture(), path);
        ADD_FAILURE() << "saved into " << path;
      } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
      }
      EXPECT_FALSE(std::filesystem::exists(path));
    }
  }
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(SaveFiles, AFailedWriteLeavesTheOldFileUntouched) {
  TTempFolder folder;
  std::string path = folder / "keep.bmp";
  WriteBytes(path, "the picture saved yesterday");
  {
    testing::TFileSizeLimit limit(1000);
    EXPECT_THROW(SaveBitmapFile(ScreenPicture(), path), EWriteError);
    EXPECT_THROW(SaveJpegFile(ScreenPicture(), path), EWriteError);
  }
  EXPECT_EQ(ReadBytes(path), "the picture saved yesterday");
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(SaveFiles, AFolderThatRefusesNewFilesGetsThePictureRewrittenInPlace) {
  TTempFolder folder;
  std::string path = folder / "picture.bmp";
  WriteBytes(path, "the old picture, longer than nothing");
  auto saved = safe_file_seam::CreateTemporary;
  safe_file_seam::CreateTemporary = [](const std::string&, std::string&) {
    errno = EACCES;
    return -1;
  };
  struct stat before {}, after {};
  ::stat(path.c_str(), &before);
  SaveBitmapFile(ScreenPicture(), path);
  safe_file_seam::CreateTemporary = saved;
  ::stat(path.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  std::string written = ReadBytes(path);
  EXPECT_EQ(TBytes(written.begin(), written.end()), EncodeBitmap(ScreenPicture()));
}

// One row of memory stands for every row: such pictures cost nothing to describe.
TPicture Huge(int width, int height) {
  static auto row = std::make_shared<std::vector<uint8_t>>(4 * 70000u);
  return TPicture(width, height, 32, 0, std::shared_ptr<const uint8_t>(row, row->data()));
}

TEST(SaveFiles, APictureTooBigForTheFormatIsRefusedBeforeAnythingIsWritten) {
  TTempFolder folder;
  for (auto picture : {Huge(65536, 65536), Huge(32768, 32768), Huge(INT_MAX, 1)}) {
    try {
      SaveBitmapFile(picture, folder / "huge.bmp");
      ADD_FAILURE() << picture.Width() << " x " << picture.Height();
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap ist ungültig");
    }
  }
  EXPECT_EQ(folder.EntryCount(), 0u);
}

TEST(SaveFiles, MemoryThatRunsOutIsReportedInTheRuntimesWords) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer ends the program on a failed allocation";
#endif
  TTempFolder folder;
  pid_t child = ::fork();
  if (child == 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%ld", &pages) != 1) ::_exit(2);
    limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (64 << 20);
    ::setrlimit(RLIMIT_AS, &limit);
    int refused = 0;
    for (const auto& save : Writers) {
      try {
        save(Huge(8000, 8000), folder / "big");
      } catch (const EOutOfMemory& e) {
        refused += std::string(e.what()) == "Zu wenig Arbeitsspeicher";
      } catch (...) {
      }
    }
    ::_exit(refused == 2 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(folder.EntryCount(), 0u);
}

}  // namespace
}  // namespace korbenit
