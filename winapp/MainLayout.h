#pragma once

// The main window's controls at 96 dots per inch, in client coordinates: the footer's
// controls sit at the footer's top (377) plus their own.
#include <windows.h>

namespace korbenit {

struct TControlPlace {
  const char* Name;
  int Left, Top, Width, Height;
};

inline constexpr int MainClientWidth = 299;
inline constexpr int MainClientHeight = 433;
inline constexpr int DesignDpi = 96;

enum TMainControl {
  Panel1,
  Screen,
  ButGetScreen,
  ButSaveAs,
  Footer1,
  Label1,
  cbPorts,
  LedPanel,
  ButAbout,
  ButExit,
  sBar,
  MainControlCount
};

inline constexpr TControlPlace MainLayout[MainControlCount] = {
    {"Panel1", 24, 8, 248, 328},       {"Screen", 28, 12, 240, 320},
    {"ButGetScreen", 24, 344, 97, 25}, {"ButSaveAs", 175, 344, 97, 25},
    {"Footer1", 0, 377, 299, 37},      {"Label1", 10, 390, 51, 13},
    {"cbPorts", 64, 386, 81, 21},      {"LedPanel", 152, 388, 17, 17},
    {"ButAbout", 192, 386, 33, 23},    {"ButExit", 232, 386, 59, 23},
    {"sBar", 0, 414, 299, 19}};

// A length at 96 dpi on a screen of dpi dots per inch.
inline int Scaled(int length, int dpi) {
  return ::MulDiv(length, dpi, DesignDpi);
}

inline RECT PlaceOf(TMainControl control, int dpi) {
  const TControlPlace& p = MainLayout[control];
  return {Scaled(p.Left, dpi), Scaled(p.Top, dpi), Scaled(p.Left + p.Width, dpi),
          Scaled(p.Top + p.Height, dpi)};
}

// The picture grows by whole pixels only, so that each device pixel stays square and sharp.
inline int PictureZoom(int dpi) {
  return dpi < 2 * DesignDpi ? 1 : dpi / DesignDpi;
}

}  // namespace korbenit
