#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "AppStorage.h"

namespace korbenit {

struct TPlacementPoint {
  int32_t X = -1;
  int32_t Y = -1;
  bool operator==(const TPlacementPoint&) const = default;
};

// Right and bottom are exclusive.
struct TPlacementRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TPlacementRect&) const = default;
};

// The window system's placement record of a window.
struct TWindowPlacement {
  uint32_t Flags = 0;
  uint32_t ShowCmd = 1;  // 0 hidden, 1 normal, 2 minimized, 3 maximized
  TPlacementPoint MinPosition;
  TPlacementPoint MaxPosition;
  TPlacementRect NormalPosition;
  bool operator==(const TWindowPlacement&) const = default;
};

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TPlacementVersionCheck { fpvcNocheck, fpvcCheckGreaterEqual, fpvcCheckEqual };

struct TPlacementOptions {
  bool State = true;
  bool Size = true;
  bool Location = true;
};

// Whether a window's title bar (the strip title) can be grabbed on a screen's work area:
// at least 40 pixels of its width and half its height lie there. The rule every window
// toolkit's TitleBarReachable applies to each of its screens.
bool TitleBarGrippable(const TPlacementRect& title, const TPlacementRect& workArea);

// What the placement needs of its window; a window toolkit implements it.
class TPlacementWindow {
 public:
  virtual ~TPlacementWindow() = default;
  virtual TWindowPlacement GetPlacement() const = 0;
  virtual void SetPlacement(const TWindowPlacement& placement) = 0;
  virtual bool Visible() const = 0;
  virtual bool HasHandle() const = 0;
  virtual TFormBorderStyle BorderStyle() const = 0;
  virtual bool IsMainWindow() const = 0;
  virtual bool ApplicationMinimized() const = 0;
  // Minimizes the application once the current event has been handled.
  virtual void PostMinimize() = 0;
  virtual void SetWindowState(TWindowState state) = 0;
  virtual int32_t Left() const = 0;
  virtual int32_t Top() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual int32_t ScreenWidth() const = 0;
  virtual int32_t ScreenHeight() const = 0;
  virtual int32_t PixelsPerInch() const = 0;
  // The width of the border of a style (x and y alike here).
  virtual int32_t BorderSize(TFormBorderStyle style) const = 0;
  // Whether a window whose frame stood at frame could be reached: enough of its title
  // bar lies on one of the screens to grab it.
  virtual bool TitleBarReachable(const TPlacementRect& frame) const = 0;
  virtual void Repaint() = 0;
};

// Keeps a window's show state, position and size in the settings storage, under
// AppStoragePath. The window's events call WindowShown, CloseAllowed and
// WindowDestroyed; failures are raised to the caller.
class TFormPlacement {
 public:
  explicit TFormPlacement(TPlacementWindow& window) : FWindow(window) {}
  TFormPlacement(const TFormPlacement&) = delete;
  TFormPlacement& operator=(const TFormPlacement&) = delete;
  virtual ~TFormPlacement() = default;

  bool Active = true;
  TCustomAppStorage* AppStorage = nullptr;
  std::string AppStoragePath;
  TPlacementOptions Options;
  int32_t Version = 0;
  TPlacementVersionCheck VersionCheck = TPlacementVersionCheck::fpvcCheckGreaterEqual;
  std::function<void()> OnSavePlacement;
  std::function<void()> OnRestorePlacement;

  void SavePlacement();
  void RestorePlacement();
  bool Saved() const { return FSaved; }

  // The window's event hooks.
  void WindowShown();
  void CloseAllowed();
  void WindowDestroyed();

 private:
  bool CanUseStorage() const { return Active && AppStorage != nullptr; }
  std::string KeyPath(const std::string& key) const;
  std::string ScreenKeyPath(const std::string& key) const;
  std::string ReadPosition(const std::string& key);
  void WritePosition(const std::string& key, const std::string& text);
  bool VersionAllowsRestore(int32_t stored) const;
  void ApplyStoredPlacement();
  bool ReadStoredRectangles(TWindowPlacement& placement);
  TPlacementRect DesignFrameOnScreen() const;
  void ApplyStoredState();
  void AdjustMaximizedPosition();

  TPlacementWindow& FWindow;
  bool FSaved = false;
};

class TFormStorage : public TFormPlacement {
 public:
  using TFormPlacement::TFormPlacement;
};

}  // namespace korbenit
