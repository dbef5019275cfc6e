#include "WindowPlacement.h"

#include <algorithm>

namespace korbenit {

TWindowPlacement TWin32PlacementWindow::GetPlacement() const {
  WINDOWPLACEMENT system{};
  system.length = sizeof system;
  TWindowPlacement placement;
  if (!FWindow || !::GetWindowPlacement(FWindow, &system)) return placement;
  placement.Flags = system.flags;
  placement.ShowCmd = system.showCmd;
  placement.MinPosition = {system.ptMinPosition.x, system.ptMinPosition.y};
  placement.MaxPosition = {system.ptMaxPosition.x, system.ptMaxPosition.y};
  const RECT& r = system.rcNormalPosition;
  placement.NormalPosition = {r.left, r.top, r.right, r.bottom};
  return placement;
}

void TWin32PlacementWindow::SetPlacement(const TWindowPlacement& placement) {
  WINDOWPLACEMENT system{};
  system.length = sizeof system;
  system.flags = placement.Flags;
  system.showCmd = placement.ShowCmd;
  system.ptMinPosition = {placement.MinPosition.X, placement.MinPosition.Y};
  system.ptMaxPosition = {placement.MaxPosition.X, placement.MaxPosition.Y};
  const TPlacementRect& r = placement.NormalPosition;
  system.rcNormalPosition = {r.Left, r.Top, r.Right, r.Bottom};
  ::SetWindowPlacement(FWindow, &system);
}

void TWin32PlacementWindow::SetWindowState(TWindowState state) {
  switch (state) {
    case TWindowState::wsNormal:
      ::ShowWindow(FWindow, SW_RESTORE);
      break;
    case TWindowState::wsMinimized:
      ::ShowWindow(FWindow, SW_MINIMIZE);
      break;
    case TWindowState::wsMaximized:
      ::ShowWindow(FWindow, SW_MAXIMIZE);
      break;
  }
}

int32_t TWin32PlacementWindow::Width() const {
  TPlacementRect r = GetPlacement().NormalPosition;
  return r.Right - r.Left;
}

int32_t TWin32PlacementWindow::Height() const {
  TPlacementRect r = GetPlacement().NormalPosition;
  return r.Bottom - r.Top;
}

int32_t TWin32PlacementWindow::PixelsPerInch() const {
  HDC screen = ::GetDC(nullptr);
  int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

// Single borders are one pixel; sizeable ones as wide as the system's frame.
int32_t TWin32PlacementWindow::BorderSize(TFormBorderStyle style) const {
  switch (style) {
    case TFormBorderStyle::bsNone:
      return 0;
    case TFormBorderStyle::bsSingle:
    case TFormBorderStyle::bsToolWindow:
      return ::GetSystemMetrics(SM_CXBORDER);
    default:
      return ::GetSystemMetrics(SM_CXFRAME);
  }
}

namespace {

struct TTitleSearch {
  TPlacementRect Title;
  bool Found = false;
};

// The title bar grippable on one monitor's work area.
BOOL CALLBACK LookAtMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto& search = *reinterpret_cast<TTitleSearch*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!::GetMonitorInfoW(monitor, &info)) return TRUE;
  const RECT& work = info.rcWork;
  search.Found = TitleBarGrippable(search.Title, {work.left, work.top, work.right, work.bottom});
  return !search.Found;
}

}  // namespace

bool TWin32PlacementWindow::TitleBarReachable(const TPlacementRect& frame) const {
  int titleHeight = std::max(::GetSystemMetrics(SM_CYCAPTION), 20);
  if (frame.Right <= frame.Left || frame.Top > INT32_MAX - titleHeight) return false;
  TTitleSearch search{{frame.Left, frame.Top, frame.Right, frame.Top + titleHeight}, false};
  ::EnumDisplayMonitors(nullptr, nullptr, LookAtMonitor, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

}  // namespace korbenit
