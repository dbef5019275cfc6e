#pragma once

// The main window on Windows: its controls at their places, GET SCREEN through the one
// screen transfer, SAVE AS through the system's save dialog, the settings file.
#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "AppIniStorage.h"
#include "FormPlacement.h"
#include "MainLayout.h"
#include "Picture.h"
#include "ScreenTransfer.h"
#include "SerialPortInterface.h"
#include "WindowPlacement.h"

namespace korbenit {

class TAbout;
class TDebug;

class TMain : private TCaptureView {
 public:
  static constexpr const wchar_t* ClassName = L"TMain";

  // settingsFolder: where the settings file is, the program's own place when empty.
  explicit TMain(std::unique_ptr<TSerialPortInterface> port, std::string settingsFolder = {});
  ~TMain() override;
  TMain(const TMain&) = delete;
  TMain& operator=(const TMain&) = delete;

  // Fields.
  std::string BmpPath;
  std::string ExePath;
  int32_t AppVersion = 0;
  std::string AppTitle;

  // Components.
  TAppIniFileStorage IniFile;

 private:
  HWND FWindow = nullptr;
  TWin32PlacementWindow FPlacementWindow{FWindow};

 public:
  TFormStorage FormStorage1{FPlacementWindow};

  // The other two windows, made after this one; the program's entry hands them over.
  TDebug* Debug = nullptr;
  TAbout* About = nullptr;

  HWND Handle() const { return FWindow; }
  void Show(int showCommand);
  // The message loop until "EXIT" or the close box; answers the program's exit code.
  int Run();

  void ButGetScreenClick();
  void ButSaveAsClick();
  void ButExitClick();
  void ButAboutClick();
  void cbPortsDropDown();
  void RefreshPortList(const std::string& name);
  void DescribeSelectedPort();
  void DisableSaveAs();
  void CopyPicture();
  std::string SelectedPort() const override;
  const std::string& StatusText() const { return FStatusText; }
  // The status line's tooltip: its whole text and, for a usual failure, a hint.
  const std::string& StatusTip() const { return FStatusTip; }
  bool SaveAsEnabled() const;
  // The picture as the file writers take it.
  TPicture Picture() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT HandleMessage(UINT message, WPARAM w, LPARAM l);
  void FormCreate();
  void FormShow();
  void FormClose();
  void CreateControls();
  HWND AddControl(TMainControl control, const wchar_t* windowClass, const wchar_t* caption,
                  DWORD style, int id);
  void Paint();
  void ReadSettings();
  bool PromptForName(std::string& name);
  void SavePicture(const std::string& path);
  bool HandleKey(const MSG& message);

  // What the screen transfer sees of this window.
  void ClearPicture() override;
  void PaintLine(int line, const TLineColours& colours) override;
  void SetSaveAsEnabled(bool enabled) override;
  void SetStatusText(const std::string& text) override;
  void SetLampOpen(bool open) override;
  void ProcessMessages() override;
  void Beep() override;
  void Pause(int milliseconds) override;
  bool StopRequested() const override { return FEnding; }
  void ShowFailure(const TFailure& failure) override;
  void ShowStatus(const std::string& text, TFailureKind kind);
  void SetTip(HWND control, const std::string& text);

  std::unique_ptr<TSerialPortInterface> FPort;
  std::string FSettingsFolder;
  std::array<HWND, MainControlCount> FControls{};
  HFONT FFont = nullptr;
  HWND FTips = nullptr;  // the tooltips of the status line and the port list
  HBRUSH FFooterBrush = nullptr;
  int FDpi = DesignDpi;
  // The picture as the screen shows it: blue, green, red, 255, top row first.
  std::array<uint32_t, ScreenWidth * ScreenHeight> FPixels{};
  bool FLampOpen = false;
  bool FEnding = false;
  bool FTransferRunning = false;
  int FExitCode = 0;
  std::string FStatusText;
  std::string FStatusTip;
  std::string FStoredPort;
  // The save dialog's state between its showings.
  int FFilterIndex = 1;
  std::string FInitialDir;
  std::string FFileName;
};

}  // namespace korbenit
