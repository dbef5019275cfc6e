#pragma once

// The About window: the application's title, the logo, the hint to switch USB on in two
// languages and a link to this guide; modal, centred on the main window when shown.
#include <windows.h>

#include <string>

namespace korbenit {

class TAbout {
 public:
  static constexpr int ClientWidth = 279;
  static constexpr int ClientHeight = 157;

  explicit TAbout(HWND mainWindow);
  ~TAbout();
  TAbout(const TAbout&) = delete;
  TAbout& operator=(const TAbout&) = delete;

  // Shows the window until "CLOSE" or its close box; answers the modal result (1: OK).
  int ShowModal(const std::string& appTitle);
  HWND Handle() const { return FWindow; }
  // Where the link leads: the guide, written out from the program when it is followed.
  static std::string GuidePath();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT HandleMessage(UINT message, WPARAM w, LPARAM l);
  void Paint();
  void FormShow();
  void OpenLink();
  RECT LinkPlace() const;
  void Close(int result);

  HWND FMainWindow;
  HWND FWindow = nullptr;
  HWND FClose = nullptr;
  HFONT FFont = nullptr, FTitleFont = nullptr, FLinkFont = nullptr;
  HBITMAP FLogo = nullptr;
  std::wstring FTitle;
  bool FOverLink = false;
  bool FShowing = false;
  int FResult = 0;
};

}  // namespace korbenit
