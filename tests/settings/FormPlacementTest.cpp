#include "FormPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "AppIniStorage.h"
#include "RuntimeErrors.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

using testing::ReadBytes;
using testing::TTempFolder;
using testing::WriteBytes;
using S = TWindowState;

// A window that records what the placement does to it. It stands at the main window's
// designed place: 745, 337, its frame 305 x 462.
struct TFakeWindow : TPlacementWindow {
  TWindowPlacement Record{0, 1, {-1, -1}, {-1, -1}, {745, 337, 1050, 799}};
  bool IsVisible = false;
  TFormBorderStyle Style = TFormBorderStyle::bsSingle;
  bool AppMinimized = false;
  int32_t ScreenW = 1280, ScreenH = 1024, Ppi = 96;
  std::vector<TWindowPlacement> Applied;
  std::vector<S> States;
  int Minimizes = 0;

  TWindowPlacement GetPlacement() const override { return Record; }
  // Show command 0 moves a hidden window without showing it.
  void SetPlacement(const TWindowPlacement& p) override {
    Applied.push_back(p);
    uint32_t shown = Record.ShowCmd;
    Record = p;
    if (p.ShowCmd == 0) Record.ShowCmd = shown;
  }
  bool Visible() const override { return IsVisible; }
  bool HasHandle() const override { return true; }
  TFormBorderStyle BorderStyle() const override { return Style; }
  bool IsMainWindow() const override { return true; }
  bool ApplicationMinimized() const override { return AppMinimized; }
  void PostMinimize() override { ++Minimizes; }
  void SetWindowState(S state) override { States.push_back(state); }
  int32_t Left() const override { return Record.NormalPosition.Left; }
  int32_t Top() const override { return Record.NormalPosition.Top; }
  int32_t Width() const override { return Record.NormalPosition.Right - Left(); }
  int32_t Height() const override { return Record.NormalPosition.Bottom - Top(); }
  int32_t ScreenWidth() const override { return ScreenW; }
  int32_t ScreenHeight() const override { return ScreenH; }
  int32_t PixelsPerInch() const override { return Ppi; }
  int32_t BorderSize(TFormBorderStyle style) const override {
    return style == TFormBorderStyle::bsSizeable ? 4 : 1;
  }
  // The title bar (its top 20 pixels) must lie on the screen, 40 pixels of it at least.
  bool TitleBarReachable(const TPlacementRect& r) const override {
    int64_t shared = std::min<int64_t>(r.Right, ScreenW) - std::max<int64_t>(r.Left, 0);
    return r.Top >= 0 && int64_t{r.Top} + 20 <= ScreenH && shared >= 40;
  }
  void Repaint() override {}
};

// The main window's placement component on a settings file of its own.
struct TPlacementRig {
  TTempFolder Folder;
  std::string File = Folder / "Vantor_Screenshot.ini";
  TAppIniFileStorage IniFile;
  TFakeWindow Window;
  TFormStorage FormStorage1{Window};
  explicit TPlacementRig(const std::string& content = {}) {
    if (!content.empty()) WriteBytes(File, content);
    IniFile.SetFileName(File);
    FormStorage1.AppStorage = &IniFile;
    FormStorage1.AppStoragePath = "Main\\";
  }
};

TEST(FormPlacement, AFirstSaveWritesTheKeysInOrder) {
  TPlacementRig rig;
  rig.FormStorage1.WindowShown();
  EXPECT_FALSE(std::filesystem::exists(rig.File)) << "a first run restores nothing";
  rig.FormStorage1.CloseAllowed();
  EXPECT_EQ(ReadBytes(rig.File),
            "[Main]\r\nFormVersion=0\r\nShowCmd=1\r\nFlags=0\r\nPixelsPerInch=96\r\n"
            "MinMaxPos(1280x1024)=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\n"
            "NormPos(1280x1024)=745,337,1050,799\r\nNormPos=745,337,1050,799\r\n\r\n");
}

TEST(FormPlacement, EachScreenSizeKeepsItsOwnPositionAndTheLastOneIsPlain) {
  TPlacementRig rig;
  rig.Window.Record.NormalPosition = {10, 20, 315, 482};
  rig.FormStorage1.SavePlacement();
  rig.Window.ScreenW = 1920, rig.Window.ScreenH = 1080;
  rig.Window.Record.NormalPosition = {900, 500, 1205, 962};
  rig.Window.AppMinimized = true;
  rig.FormStorage1.SavePlacement();
  EXPECT_EQ(ReadBytes(rig.File),
            "[Main]\r\nFormVersion=0\r\nShowCmd=2\r\nFlags=0\r\nPixelsPerInch=96\r\n"
            "MinMaxPos(1280x1024)=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\n"
            "NormPos(1280x1024)=10,20,315,482\r\nNormPos=900,500,1205,962\r\n"
            "MinMaxPos(1920x1080)=-1,-1,-1,-1\r\nNormPos(1920x1080)=900,500,1205,962\r\n\r\n");
  struct Case {
    int32_t width, height;
    TPlacementRect restored;
  };
  for (auto c : {Case{1280, 1024, {10, 20, 315, 482}}, Case{1920, 1080, {900, 500, 1205, 962}},
                 Case{800, 600, {495, 138, 800, 600}}}) {
    TFakeWindow window;
    window.ScreenW = c.width, window.ScreenH = c.height;
    TFormStorage placement(window);
    placement.AppStorage = &rig.IniFile;
    placement.AppStoragePath = "Main\\";
    placement.RestorePlacement();
    ASSERT_EQ(window.Applied.size(), 2u) << c.width;
    EXPECT_EQ(window.Applied[0].NormalPosition, c.restored) << c.width;
    EXPECT_EQ(window.Minimizes, 1) << "stored minimized: minimized after the show";
    EXPECT_TRUE(window.States.empty());
  }
}

// What a restore applies for the stored Main section: the normal rectangle (none when
// nothing is applied) and the state set.
TEST(FormPlacement, RestoreAppliesWhatIsStoredAndValid) {
  struct Case {
    const char* name;
    std::string main;
    TFormBorderStyle style;
    std::optional<TPlacementRect> rect;
    std::vector<S> states;
  };
  auto single = TFormBorderStyle::bsSingle, sizeable = TFormBorderStyle::bsSizeable;
  std::vector<Case> cases = {
      {"first run", "", single, std::nullopt, {S::wsNormal}},
      {"position",
       "NormPos=10,20,315,482\r\nShowCmd=1\r\n",
       single,
       {{10, 20, 315, 482}},
       {S::wsNormal}},
      {"fixed border keeps its size",
       "NormPos=10,20,1000,900\r\n",
       single,
       {{10, 20, 315, 482}},
       {S::wsNormal}},
      {"sizeable takes the size",
       "NormPos=10,20,1000,900\r\n",
       sizeable,
       {{10, 20, 1000, 900}},
       {S::wsNormal}},
      {"bad fields take their defaults",
       "NormPos=100,x,500,y\r\n",
       sizeable,
       {{100, 337, 500, 462}},
       {S::wsNormal}},
      {"right not beyond left",
       "NormPos=500,20,400,482\r\n",
       sizeable,
       std::nullopt,
       {S::wsNormal}},
      {"other pixel density",
       "NormPos=10,20,315,482\r\nPixelsPerInch=120\r\nShowCmd=3\r\n",
       single,
       std::nullopt,
       {S::wsMaximized}},
      {"same pixel density",
       "NormPos=10,20,315,482\r\nPixelsPerInch=96\r\n",
       single,
       {{10, 20, 315, 482}},
       {S::wsNormal}},
      {"version below 0",
       "FormVersion=-1\r\nNormPos=10,20,315,482\r\nShowCmd=3\r\n",
       single,
       std::nullopt,
       {}},
      {"unknown show command", "ShowCmd=4\r\n", single, std::nullopt, {S::wsNormal}},
      {"maximized", "ShowCmd=3\r\n", single, std::nullopt, {S::wsMaximized}},
      {"off every screen",
       "NormPos=99999,99999,100304,100461\r\n",
       single,
       {{745, 337, 1050, 799}},
       {S::wsNormal}},
      {"above the screen",
       "NormPos=-5000,-5000,-4695,-4538\r\n",
       single,
       {{745, 337, 1050, 799}},
       {S::wsNormal}},
      {"title bar just on the screen",
       "NormPos=1200,1000,1505,1462\r\n",
       single,
       {{1200, 1000, 1505, 1462}},
       {S::wsNormal}},
      {"numbers at the limits",
       "NormPos=2147483647,2147483647,-2147483648,-2147483648\r\n",
       sizeable,
       std::nullopt,
       {S::wsNormal}},
      {"sizes at the limits",
       "NormPos=-2147483648,-2147483648,2147483647,2147483647\r\n",
       sizeable,
       {{745, 337, 1050, 799}},
       {S::wsNormal}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPlacementRig rig(c.main.empty() ? std::string() : "[Main]\r\n" + c.main);
    rig.Window.Style = c.style;
    rig.FormStorage1.WindowShown();
    std::size_t adjust = rig.Window.Applied.size() - 1;  // the maximized position comes last
    EXPECT_EQ(rig.Window.Applied[adjust].MaxPosition,
              (TPlacementPoint{-rig.Window.BorderSize(c.style), -rig.Window.BorderSize(c.style)}));
    EXPECT_EQ(rig.Window.Applied.size(), c.rect ? 2u : 1u);
    if (c.rect) {
      EXPECT_EQ(rig.Window.Applied[0].NormalPosition, *c.rect);
      EXPECT_EQ(rig.Window.Applied[0].ShowCmd, 0u) << "a hidden window stays hidden";
    }
    EXPECT_EQ(rig.Window.States, c.states);
  }
}

TEST(FormPlacement, AStoredNumberThatIsNoNumberEndsTheRestoreWithItsError) {
  TPlacementRig rig("[Main]\r\nShowCmd=abc\r\n");
  try {
    rig.FormStorage1.WindowShown();
    FAIL() << "restored from ShowCmd=abc";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' ist kein gültiger Integerwert");
  }
  EXPECT_TRUE(rig.Window.States.empty());
}

// The close request saves; destruction saves only when nothing was saved since the last
// restore (the EXIT path).
TEST(FormPlacement, DestructionSavesOnlyWhatNoCloseSaved) {
  struct Case {
    bool closed;
    int savesAtDestruction;
  };
  for (auto c : {Case{true, 0}, Case{false, 1}}) {
    TPlacementRig rig;
    int saves = 0;
    rig.FormStorage1.OnSavePlacement = [&] { ++saves; };
    rig.FormStorage1.WindowShown();
    if (c.closed) rig.FormStorage1.CloseAllowed();
    int before = saves;
    rig.FormStorage1.WindowDestroyed();
    EXPECT_EQ(saves - before, c.savesAtDestruction) << c.closed;
    EXPECT_TRUE(rig.IniFile.HasValue("Main\\NormPos"));
  }
}

}  // namespace
}  // namespace korbenit

namespace korbenit {
namespace {

// A title bar counts as reachable with 40 pixels of its width and half its height on a
// screen's work area.
TEST(FormPlacement, ATitleBarIsGrippableWithEnoughOfItOnAScreen) {
  const TPlacementRect screen{0, 0, 1280, 984};
  for (const auto& [title, grippable] : std::vector<std::pair<TPlacementRect, bool>>{
           {{100, 100, 405, 120}, true},
           {{1240, 100, 1545, 120}, true},   // 40 pixels left on the screen
           {{1241, 100, 1546, 120}, false},  // 39
           {{100, 974, 405, 994}, true},     // half its height
           {{100, 975, 405, 995}, false},    // less than half
           {{100, -30, 405, -10}, false}})   // above the screen
    EXPECT_EQ(TitleBarGrippable(title, screen), grippable) << title.Left << "," << title.Top;
}

}  // namespace
}  // namespace korbenit
