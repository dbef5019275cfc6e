#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>

#include "AppIniStorage.h"
#include "FileDialogs.h"
#include "ImageControl.h"
#include "Picture.h"
#include "PortList.h"
#include "ScreenTransfer.h"
#include "SerialPortInterface.h"
#include "VersionText.h"
#include "WidgetPlacement.h"

namespace korbenit {

class TAbout;
class TDebug;
class TLive;

// A drop-down list that tells its owner just before it opens.
class TDropDownList : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;
  void showPopup() override;
};

class TMain : public QWidget, private TCaptureView {
 public:
  static constexpr int ClientWidth = 299;
  static constexpr int ClientHeight = 433;

  // The settings file lives in settingsFolder, the executable's folder when empty.
  explicit TMain(std::unique_ptr<TSerialPortInterface> port, QString settingsFolder = {},
                 QWidget* parent = nullptr);
  ~TMain() override;

  // Fields.
  QString BmpPath;
  QString ExePath;
  int32_t AppVersion = 0;
  QString AppTitle;

  // Controls.
  QFrame* Panel1;
  TImageControl* Screen;
  QPushButton* ButGetScreen;
  QPushButton* ButSaveAs;
  QFrame* Footer1;
  QLabel* Label1;
  TDropDownList* cbPorts;
  QFrame* LedPanel;
  QPushButton* ButAbout;
  QPushButton* ButExit;
  QStatusBar* sBar;

  // Components.
  TAppIniFileStorage IniFile;
  TESaveDialog SaveDlg;

 private:
  TWidgetPlacementWindow FPlacementWindow{*this, TFormBorderStyle::bsSingle, true};

 public:
  TFormStorage FormStorage1{FPlacementWindow};

  // The other two windows, made after this one; the program's entry hands them over.
  TDebug* Debug = nullptr;
  TAbout* About = nullptr;
  // The live view, made when first opened (F6, or the picture's menu).
  std::unique_ptr<TLive> Live;

  TSerialPortInterface& cPort() { return *FPort; }
  QColor LampColor() const;

  void ButGetScreenClick();
  void ButSaveAsClick();
  // The save dialog for a picture, and the writer its file type asks for.
  void SaveWithDialog(const QImage& image);
  void OpenLiveView();
  // Puts the picture on the clipboard, when there is a complete one to save.
  void CopyPicture();
  // The picture's context menu (Copy, Save as...), enabled as "SAVE AS..." is.
  std::unique_ptr<QMenu> PictureMenu();
  // The whole text of the status line, which shows it shortened in the middle when long.
  const QString& StatusText() const { return FStatusText; }
  void ButAboutClick();
  void ButExitClick();
  void cbPortsDropDown();
  void DisableSaveAs();
  void RefreshPortList(const QString& name);
  void SortPortList();

  // Where the port list comes from; the platform's own unless a test says otherwise.
  TPortListSources PortSources;

 protected:
  void setVisible(bool visible) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void cPortAfterOpen(TSerialPortInterface& sender);
  void cPortAfterClose(TSerialPortInterface& sender);
  void BuildControls();
  void BuildFooter();
  void SetLamp(const QColor& colour);

  // What the screen transfer sees of this window.
  std::string SelectedPort() const override;
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

  void ReadSettings();
  void SavePicture(const QImage& image, const QString& path);
  void ShowStatus(const QString& text, TFailureKind kind = TFailureKind::Other);
  void BuildShortcuts();
  void DescribePorts();
  void DragPictureOut();
  bool PictureComplete() const { return ButSaveAs->isEnabled(); }

  std::unique_ptr<TSerialPortInterface> FPort;
  QString FStatusText;
  // Made by the first drag, in the user's runtime folder; removed with the window.
  std::unique_ptr<QTemporaryDir> FDragFolder;
  QString FSettingsFolder;
  QString FStoredPort;
  bool FShown = false;
  bool FPlacementRestored = false;
  bool FTransferRunning = false;
  bool FEnding = false;
};

// "Korbenit_yyyymmdd_hhnnss" for now: the name a picture is offered under.
QString TimeStampedName();

// The picture as the file writers read it, sharing the image's pixels.
TPicture ToPicture(const QImage& image);

// The user's runtime folder ($XDG_RUNTIME_DIR), where pictures dragged out are kept.
QString RuntimeFolder();

}  // namespace korbenit
