// The Windows window's logic under Wine: its layout, the save dialog's renaming with
// Windows paths, its placement through the system and back, its settings file.
#include <gtest/gtest.h>
#include <windows.h>

#include "AppIniStorage.h"
#include "FileNameRules.h"
#include "FormPlacement.h"
#include "MainLayout.h"
#include "TempFolder.h"
#include "WindowPlacement.h"
#include "uDebug.h"

namespace korbenit {
namespace {

// The places as the window is designed at 96 dpi; at 144 dpi every edge moves by half
// again (rounded, so neighbours stay neighbours) and the picture by whole pixels only.
TEST(WindowsWindow, ControlsStandWhereTheyAreDesigned) {
  struct TRow {
    TMainControl Control;
    RECT At96, At144;
  };
  for (const TRow& row : {TRow{Screen, {28, 12, 268, 332}, {42, 18, 402, 498}},
                          TRow{ButGetScreen, {24, 344, 121, 369}, {36, 516, 182, 554}},
                          TRow{ButSaveAs, {175, 344, 272, 369}, {263, 516, 408, 554}},
                          TRow{cbPorts, {64, 386, 145, 407}, {96, 579, 218, 611}},
                          TRow{LedPanel, {152, 388, 169, 405}, {228, 582, 254, 608}},
                          TRow{ButExit, {232, 386, 291, 409}, {348, 579, 437, 614}},
                          TRow{sBar, {0, 414, 299, 433}, {0, 621, 449, 650}}}) {
    SCOPED_TRACE(MainLayout[row.Control].Name);
    RECT at96 = PlaceOf(row.Control, 96), at144 = PlaceOf(row.Control, 144);
    EXPECT_TRUE(EqualRect(&at96, &row.At96));
    EXPECT_TRUE(EqualRect(&at144, &row.At144)) << at144.left << "," << at144.top;
  }
  EXPECT_EQ(PictureZoom(96), 1);
  EXPECT_EQ(PictureZoom(144), 1) << "1.5 would blur the device's pixels";
  EXPECT_EQ(PictureZoom(192), 2);
  EXPECT_EQ(PictureZoom(288), 3);
}

TEST(WindowsWindow, ATypeChangeRenamesTheTypedExtension) {
  const char* filter = "Bitmap (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg";
  EXPECT_EQ(FilterExtensionOf(filter, 1, ""), ".bmp");
  EXPECT_EQ(FilterExtensionOf(filter, 2, ""), ".jpg");
  for (const auto& [name, renamed] : std::vector<std::pair<std::string, std::string>>{
           {"Korbenit_20261209_101500.bmp", "Korbenit_20261209_101500.jpg"},
           {"C:\\Users\\u.v\\shot", "C:\\Users\\u.v\\shot.jpg"},
           {"C:\\pics.2026\\menu.old.bmp", "C:\\pics.2026\\menu.old.jpg"}})
    EXPECT_EQ(ReplaceExtension(name, FilterExtensionOf(filter, 2, "")), renamed);
}

// A real window's placement read, stored in the settings file, and applied to a new
// window, as a restart does; then the stored text as the file holds it.
TEST(WindowsWindow, APlacementGoesThroughTheSettingsFileAndBack) {
  testing::TTempFolder folder;
  auto window = [] {
    return ::CreateWindowExW(0, L"STATIC", L"placed", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 200,
                             150, 305, 462, nullptr, nullptr, nullptr, nullptr);
  };
  HWND first = window();
  ::ShowWindow(first, SW_SHOWNORMAL);
  ::SetWindowPos(first, nullptr, 321, 123, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  TAppIniFileStorage ini;
  ini.SetFileName(folder / "Vantor_Screenshot.ini");
  {
    TWin32PlacementWindow placed(first);
    TFormStorage storage(placed);
    storage.AppStorage = &ini, storage.AppStoragePath = "Main\\";
    storage.SavePlacement();
  }
  ::DestroyWindow(first);
  std::string text = testing::ReadBytes(folder / "Vantor_Screenshot.ini");
  EXPECT_NE(text.find("NormPos=321,123,626,585"), std::string::npos) << text;
  HWND second = window();
  TWin32PlacementWindow placed(second);
  TFormStorage storage(placed);
  storage.AppStorage = &ini, storage.AppStoragePath = "Main\\";
  storage.RestorePlacement();
  RECT frame;
  ::GetWindowRect(second, &frame);
  EXPECT_EQ(frame.left, 321);
  EXPECT_EQ(frame.top, 123);
  ::DestroyWindow(second);
}

TEST(WindowsWindow, TheSettingsFileKeepsWhatIsWritten) {
  testing::TTempFolder folder;
  {
    TAppIniFileStorage ini;
    ini.SetFileName(folder / "Vantor_Screenshot.ini");
    ini.SetDefaultSection("CONFIG");
    ini.WriteStr("COMPORT", "COM12");
    ini.WriteInt("FILEFORMAT", 2);
    ini.WriteStr("FILEDIR", "C:\\Users\\u\\Pictures\\");
  }
  TAppIniFileStorage ini;
  ini.SetFileName(folder / "Vantor_Screenshot.ini");
  ini.SetDefaultSection("CONFIG");
  EXPECT_EQ(ini.ReadStr("COMPORT", ""), "COM12");
  EXPECT_EQ(ini.ReadInt("FILEFORMAT", 1), 2);
  EXPECT_EQ(ini.ReadStr("FILEDIR", ""), "C:\\Users\\u\\Pictures\\");
  std::string text = testing::ReadBytes(folder / "Vantor_Screenshot.ini");
  EXPECT_NE(text.find("[CONFIG]\r\nCOMPORT=COM12\r\n"), std::string::npos) << "Windows lines";
}

TEST(WindowsWindow, TheDebugMemoTakesLinesAndADoubleClickEmptiesIt) {
  TDebug debug;
  debug.AddLine("korbenit-screenshot10.exe");
  debug.AddLine("second");
  EXPECT_EQ(debug.Text(), "korbenit-screenshot10.exe\r\nsecond");
  debug.MemoDblClick();
  EXPECT_EQ(debug.Text(), "");
}

}  // namespace
}  // namespace korbenit
