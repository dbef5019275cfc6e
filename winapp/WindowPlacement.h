#pragma once

// A Win32 top-level window as the placement sees it: GetWindowPlacement and
// SetWindowPlacement exactly as they store it.
#include <windows.h>

#include "FormPlacement.h"

namespace korbenit {

class TWin32PlacementWindow : public TPlacementWindow {
 public:
  // window: the handle as its owner keeps it (null before it is made and once it is gone).
  explicit TWin32PlacementWindow(const HWND& window) : FWindow(window) {}

  TWindowPlacement GetPlacement() const override;
  void SetPlacement(const TWindowPlacement& placement) override;
  bool Visible() const override { return FWindow && ::IsWindowVisible(FWindow); }
  bool HasHandle() const override { return FWindow != nullptr; }
  TFormBorderStyle BorderStyle() const override { return TFormBorderStyle::bsSingle; }
  bool IsMainWindow() const override { return true; }
  bool ApplicationMinimized() const override { return FWindow && ::IsIconic(FWindow); }
  void PostMinimize() override { ::PostMessageW(FWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0); }
  void SetWindowState(TWindowState state) override;
  int32_t Left() const override { return GetPlacement().NormalPosition.Left; }
  int32_t Top() const override { return GetPlacement().NormalPosition.Top; }
  int32_t Width() const override;
  int32_t Height() const override;
  int32_t ScreenWidth() const override { return ::GetSystemMetrics(SM_CXSCREEN); }
  int32_t ScreenHeight() const override { return ::GetSystemMetrics(SM_CYSCREEN); }
  int32_t PixelsPerInch() const override;
  int32_t BorderSize(TFormBorderStyle style) const override;
  bool TitleBarReachable(const TPlacementRect& frame) const override;
  void Repaint() override { ::InvalidateRect(FWindow, nullptr, FALSE); }

 private:
  const HWND& FWindow;
};

}  // namespace korbenit
