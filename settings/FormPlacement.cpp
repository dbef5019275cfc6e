#include "FormPlacement.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "RuntimeErrors.h"

namespace korbenit {

bool TitleBarGrippable(const TPlacementRect& title, const TPlacementRect& workArea) {
  constexpr int64_t Grip = 40;
  int64_t width =
      std::min<int64_t>(title.Right, workArea.Right) - std::max<int64_t>(title.Left, workArea.Left);
  int64_t height =
      std::min<int64_t>(title.Bottom, workArea.Bottom) - std::max<int64_t>(title.Top, workArea.Top);
  return width >= Grip && height > 0 && height * 2 >= int64_t{title.Bottom} - title.Top;
}
namespace {

// The fields of a stored position, split at commas and blanks (a run of them counts as
// one); a field that is missing or no integer gives the fallback asked for.
class TFields {
 public:
  explicit TFields(const std::string& text) {
    std::string field;
    for (char c : text + ",") {
      bool separator = c == ',' || c == ' ';
      if (!separator) field += c;
      if (separator && !field.empty()) FFields.push_back(field);
      if (separator) field.clear();
    }
  }
  int32_t At(std::size_t index, int32_t fallback) const {
    if (index >= FFields.size()) return fallback;
    try {
      return StrToInt(FFields[index]);
    } catch (const EConvertError&) {
      return fallback;
    }
  }

 private:
  std::vector<std::string> FFields;
};

std::string FourNumbers(int32_t a, int32_t b, int32_t c, int32_t d) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", a, b, c, d);
  return text;
}

TWindowState StateOfShowCmd(int32_t cmd, TWindowState fallback) {
  switch (cmd) {
    case 1:
    case 5:
    case 9:
      return TWindowState::wsNormal;
    case 2:
    case 6:
    case 7:
      return TWindowState::wsMinimized;
    case 3:
      return TWindowState::wsMaximized;
    default:
      return fallback;
  }
}

// Stored numbers may be anything; sums of them must not overflow.
int32_t Saturated(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

TPlacementRect RectOf(int64_t left, int64_t top, int64_t width, int64_t height) {
  return {Saturated(left), Saturated(top), Saturated(left + width), Saturated(top + height)};
}

// A window of fixed size keeps its own size; a stored frame that is that size with a
// window manager's border around it is the same window and stays as stored.
int64_t OwnSizeOrFramed(int64_t own, int64_t stored) {
  constexpr int64_t MaxBorders = 64;
  return stored >= own && stored - own <= MaxBorders ? stored : own;
}

bool KeepsItsOwnSize(TFormBorderStyle style) {
  return style != TFormBorderStyle::bsSizeable && style != TFormBorderStyle::bsSizeToolWin;
}

}  // namespace

// FormVersion is joined to the path with one backslash; the other keys with one more,
// which the storage's path rules fold away.
std::string TFormPlacement::KeyPath(const std::string& key) const {
  if (key == "FormVersion" && !AppStoragePath.empty() && AppStoragePath.back() == '\\')
    return AppStoragePath + key;
  return AppStoragePath + "\\" + key;
}

std::string TFormPlacement::ScreenKeyPath(const std::string& key) const {
  return KeyPath(key) + "(" + std::to_string(FWindow.ScreenWidth()) + "x" +
         std::to_string(FWindow.ScreenHeight()) + ")";
}

// The key of the current screen size when there is one, else the plain key.
std::string TFormPlacement::ReadPosition(const std::string& key) {
  std::string screenKey = ScreenKeyPath(key);
  return AppStorage->ReadStr(AppStorage->HasValue(screenKey) ? screenKey : KeyPath(key), "");
}

void TFormPlacement::WritePosition(const std::string& key, const std::string& text) {
  AppStorage->WriteStr(ScreenKeyPath(key), text);
  AppStorage->WriteStr(KeyPath(key), text);
}

void TFormPlacement::SavePlacement() {
  AppStorage->WriteInt(KeyPath("FormVersion"), Version);
  if (OnSavePlacement) OnSavePlacement();
  if (Options.State || Options.Size || Options.Location) {
    TWindowPlacement p = FWindow.GetPlacement();
    if (FWindow.IsMainWindow() && FWindow.ApplicationMinimized()) p.ShowCmd = 2;
    if (Options.State) AppStorage->WriteInt(KeyPath("ShowCmd"), static_cast<int32_t>(p.ShowCmd));
    if (Options.Size || Options.Location) {
      AppStorage->WriteInt(KeyPath("Flags"), static_cast<int32_t>(p.Flags));
      AppStorage->WriteInt(KeyPath("PixelsPerInch"), FWindow.PixelsPerInch());
      WritePosition("MinMaxPos", FourNumbers(p.MinPosition.X, p.MinPosition.Y, p.MaxPosition.X,
                                             p.MaxPosition.Y));
      const TPlacementRect& r = p.NormalPosition;
      WritePosition("NormPos", FourNumbers(r.Left, r.Top, r.Right, r.Bottom));
    }
  }
  FSaved = true;
}

bool TFormPlacement::VersionAllowsRestore(int32_t stored) const {
  switch (VersionCheck) {
    case TPlacementVersionCheck::fpvcNocheck:
      return true;
    case TPlacementVersionCheck::fpvcCheckGreaterEqual:
      return stored >= Version;
    case TPlacementVersionCheck::fpvcCheckEqual:
      return stored == Version;
  }
  return false;
}

void TFormPlacement::RestorePlacement() {
  FSaved = false;
  if (VersionAllowsRestore(AppStorage->ReadInt(KeyPath("FormVersion"), 0))) {
    ApplyStoredPlacement();
    if (OnRestorePlacement) OnRestorePlacement();
  }
  AdjustMaximizedPosition();
}

// Fills the positions from the stored texts; false when there were none.
bool TFormPlacement::ReadStoredRectangles(TWindowPlacement& p) {
  bool found = false;
  p.Flags =
      static_cast<uint32_t>(AppStorage->ReadInt(KeyPath("Flags"), static_cast<int32_t>(p.Flags)));
  if (std::string text = ReadPosition("MinMaxPos"); !text.empty()) {
    found = true;
    TFields f(text);
    if (Options.Location) p.MinPosition = {f.At(0, 0), f.At(1, 0)};
    if (Options.Size) p.MaxPosition = {f.At(2, 0), f.At(3, 0)};
  }
  if (std::string text = ReadPosition("NormPos"); !text.empty()) {
    found = true;
    TFields f(text);
    int64_t left = Options.Location ? f.At(0, FWindow.Left()) : FWindow.Left();
    int64_t top = Options.Location ? f.At(1, FWindow.Top()) : FWindow.Top();
    int64_t width = FWindow.Width(), height = FWindow.Height();
    if (Options.Size) {
      width = int64_t{f.At(2, FWindow.Width())} - f.At(0, FWindow.Left());
      height = int64_t{f.At(3, FWindow.Height())} - f.At(1, FWindow.Top());
    }
    p.NormalPosition = RectOf(left, top, width, height);
  }
  return found;
}

// The window system's default placement no longer overriding a stored one is a matter
// of the Position property on the original platform; a Qt window keeps the position
// it is given, so there is nothing to change before applying the record.
void TFormPlacement::ApplyStoredPlacement() {
  if (!Options.State && !Options.Size && !Options.Location) return;
  TWindowPlacement p = FWindow.GetPlacement();
  if (!FWindow.Visible()) p.ShowCmd = 0;
  if (Options.Size || Options.Location) {
    bool found = ReadStoredRectangles(p);
    int32_t ppi = FWindow.PixelsPerInch();
    // A position from a screen of another pixel density would be meaningless here.
    if (found) found = AppStorage->ReadInt(KeyPath("PixelsPerInch"), ppi) == ppi;
    if (found) {
      TPlacementRect& r = p.NormalPosition;
      if (KeepsItsOwnSize(FWindow.BorderStyle()))
        r = RectOf(r.Left, r.Top, OwnSizeOrFramed(FWindow.Width(), int64_t{r.Right} - r.Left),
                   OwnSizeOrFramed(FWindow.Height(), int64_t{r.Bottom} - r.Top));
      // A window that could not be reached could neither be used nor closed.
      if (r.Right > r.Left && !FWindow.TitleBarReachable(r)) r = DesignFrameOnScreen();
      if (r.Right > r.Left) FWindow.SetPlacement(p);
    }
  }
  if (Options.State)
    ApplyStoredState();
  else
    FWindow.Repaint();
}

// The window's designed place (where it stands before any restore), moved just far
// enough to lie on the primary screen.
TPlacementRect TFormPlacement::DesignFrameOnScreen() const {
  int64_t width = FWindow.Width(), height = FWindow.Height();
  int64_t left =
      std::clamp<int64_t>(FWindow.Left(), 0, std::max<int64_t>(0, FWindow.ScreenWidth() - width));
  int64_t top =
      std::clamp<int64_t>(FWindow.Top(), 0, std::max<int64_t>(0, FWindow.ScreenHeight() - height));
  return RectOf(left, top, width, height);
}

// Our windows are never multi-document frames and always have a designed position, so
// their default state is normal.
void TFormPlacement::ApplyStoredState() {
  TWindowState state =
      StateOfShowCmd(AppStorage->ReadInt(KeyPath("ShowCmd"), 0), TWindowState::wsNormal);
  if (state == TWindowState::wsMinimized && FWindow.IsMainWindow()) {
    FWindow.PostMinimize();
    return;
  }
  FWindow.SetWindowState(state);
  FWindow.Repaint();
}

// A maximized window's frame lies just outside the screen.
void TFormPlacement::AdjustMaximizedPosition() {
  if (!FWindow.HasHandle()) return;
  TWindowPlacement p = FWindow.GetPlacement();
  if (!FWindow.Visible()) p.ShowCmd = 0;
  int32_t border = FWindow.BorderSize(FWindow.BorderStyle());
  p.MaxPosition = {-border, -border};
  FWindow.SetPlacement(p);
}

void TFormPlacement::WindowShown() {
  if (CanUseStorage()) RestorePlacement();
}

void TFormPlacement::CloseAllowed() {
  if (CanUseStorage() && FWindow.HasHandle()) SavePlacement();
}

void TFormPlacement::WindowDestroyed() {
  if (CanUseStorage() && !FSaved) SavePlacement();
}

}  // namespace korbenit
