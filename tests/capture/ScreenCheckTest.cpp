#include "ScreenCheck.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "DeviceModel.h"
#include "ImageFiles.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

TFrame TestFrame() {
  TFrame frame;
  auto pattern = TDeviceModel::TestPattern();
  std::copy(pattern.begin(), pattern.end(), frame.Pixels.begin());
  return frame;
}

// Each reference case: the picture saved as a file (ours, or one changed on the way),
// the rules, and what the comparison says, or that the reference is trouble.
TEST(ScreenCheck, AReferenceMatchesDiffersOrIsTrouble) {
  testing::TTempFolder folder;
  TFrame shot = TestFrame();
  TFrame onePixelOff = shot;
  onePixelOff.Line(100)[50] ^= 0x0841;  // one step in each channel
  TFrame farOff = shot;
  farOff.Line(10)[20] ^= 0xF800;
  farOff.Line(200)[230] ^= 0xF800;
  SavePngFile(PictureOf(shot), folder / "same.png");
  SaveBitmapFile(PictureOf(shot), folder / "same.bmp");
  SavePngFile(PictureOf(onePixelOff), folder / "near.png");
  SavePngFile(PictureOf(farOff), folder / "far.png");
  SaveJpegFile(PictureOf(shot), folder / "same.jpg");
  TFrame flat;
  flat.Pixels.fill(0x5AEB);  // a screen of one colour, which JPEG keeps near
  SaveJpegFile(PictureOf(flat), folder / "flat.jpg");
  TPicture small = TPicture::Blank(120, 160, 32);
  SavePngFile(small, folder / "small.png");
  testing::WriteBytes(folder / "text.png", "not a picture");
  struct TRow {
    const char* Name;
    const char* File;
    TCompareRules Rules;
    const char* Says;              // nullptr: trouble
    const TFrame* Shot = nullptr;  // the test pattern unless given
  };
  const TRow rows[] = {
      {"exact, PNG", "same.png", {}, "match"},
      {"exact, BMP", "same.bmp", {}, "match"},
      {"one pixel off", "near.png", {}, "differ: 1 pixel in 50,100,1,1"},
      {"within fuzz", "near.png", {{}, 8, 0}, "match"},
      {"allowed to differ", "near.png", {{}, 0, 1}, "match: 1 pixel in 50,100,1,1"},
      {"two far apart", "far.png", {}, "differ: 2 pixels in 20,10,211,191"},
      {"one inside a mask", "far.png", {{{0, 0, 100, 50}}, 0, 0}, "differ: 1 pixel in 230,200,1,1"},
      {"JPEG with fuzz", "flat.jpg", {{}, 8, 0}, "match", &flat},
      {"JPEG without fuzz", "same.jpg", {}, nullptr},
      {"wrong size", "small.png", {}, nullptr},
      {"missing", "none.png", {}, nullptr},
      {"not a picture", "text.png", {}, nullptr},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    try {
      TReference reference = ReadReference(folder / row.File, row.Rules);
      ASSERT_NE(row.Says, nullptr) << "taken";
      const TFrame& compared = row.Shot ? *row.Shot : shot;
      EXPECT_EQ(
          DescribeDifference(CompareScreens(compared, reference.Screen, row.Rules), row.Rules),
          row.Says);
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(row.Says, nullptr) << e.what();
      EXPECT_NE(std::string(e.what()).find(row.File), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace korbenit
