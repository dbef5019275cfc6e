#pragma once

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "AppStorage.h"
#include "LiveBridge.h"
#include "LiveCanvas.h"
#include "LiveSession.h"
#include "Recording.h"
#include "ScreenCheck.h"

namespace korbenit {

// What the live view needs of the window that opens it.
struct TLiveHost {
  std::function<std::string()> Port;  // the port chosen there
  // Where snapshots go: the folder (FILEDIR) and the file type (FILEFORMAT, 1 BMP, 2 JPEG).
  std::function<QString()> SnapshotFolder;
  std::function<int()> SnapshotType;
  // The save dialog, for a picture the user wants to name.
  std::function<void(const QImage&)> SaveAs;
  TCustomAppStorage* Settings = nullptr;  // section LiveView: Zoom, Rotation
  // Told when the live view takes the port and when it lets go of it (the lamp).
  std::function<void(bool held)> PortHeld;
};

// The live view: the device's screen mirrored while it is open, newest lines over the
// previous frame. Keys: Ctrl+plus and Ctrl+minus zoom (Ctrl+wheel too), Ctrl+0 fits the
// window, R turns, Space pauses, S takes a snapshot into FILEDIR, Ctrl+S saves through
// the dialog, Ctrl+C copies, Ctrl+R starts and ends a recording into FILEDIR, D shows and
// hides the differences from the reference while comparing.
class TLive : public QWidget {
 public:
  explicit TLive(TLiveHost host, QWidget* parent = nullptr);
  ~TLive() override;

  TLiveCanvas* Canvas;
  QPushButton* ButRotate;
  QPushButton* ButPause;
  QToolButton* ButSnapshot;  // its menu saves enlarged: 2x, 3x, 4x
  QPushButton* ButRecord;
  // "Compare..." picks a reference; its menu shows the differences or ends comparing.
  QToolButton* ButCompare;
  QAction* ActDifferences;  // paints the differing pixels over the picture
  QAction* ActStopComparing;
  QComboBox* cbRecordFormat;  // GIF or WebP
  QLabel* RecMark;            // the red "REC" with time and frames while recording
  QStatusBar* StatusBar;
  QLabel* RateLabel;     // the frame rate, beside the messages so it never hides them
  QLabel* CompareLabel;  // each frame against the reference: "match" or "differ: ..."

  // Mirrors the host's port; the port stays held until paused, suspended or closed.
  void Start();
  bool Mirroring() const { return FSession != nullptr; }
  bool Paused() const { return FPaused; }
  void TogglePause();
  // Lets go of the port for another user of it (a single capture), and takes it again.
  void Suspend();
  void ResumeAfterSuspend();
  void SetZoom(int zoom);
  void Rotate();
  // Saves the newest complete frame, each pixel scale x scale; answers the file's name,
  // or "" after a failure (its message in the status line).
  QString Snapshot(int scale = 1);
  void CopyFrame();
  void SaveFrameAs();
  // Starts a recording, or ends the one running (the file's name, or the writer's error,
  // in the status line).
  void ToggleRecording();
  bool Recording() const { return FRecording != nullptr; }
  // The newest complete frame, upright at 240 x 320; null before the first.
  QImage Frame() const;
  // The newest complete frame's number in the session, 0 before the first.
  uint64_t FrameNumber() const { return FFrame ? FFrame->Number : 0; }
  const QString& StatusText() const { return FStatusText; }
  // Compares every frame with the picture at path from now on, also in later sessions;
  // false, with the reason in the status line, for a picture that cannot be one.
  bool CompareWith(const QString& path);
  void StopComparing();
  bool Comparing() const { return FReference.has_value(); }
  void ShowDifferences(bool shown);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void BuildControls();
  void BuildShortcuts();
  void StopSession();
  void TakeArrivals();
  void ShowRate();
  void ShowStatus(const QString& text, const QString& hint = {});
  void ShowFailure(const TFailure& failure);
  void StoreView();
  void FitWindow();
  int FittingZoom(int zoom);
  void EndRecording();
  void RecordingEnded(TRecording* ending, const QString& name, const TFailure& failure);
  void ShowRecording();
  void ChooseReference();
  void CompareFrame();

  TLiveHost FHost;
  std::unique_ptr<TLiveBridge> FBridge;
  std::unique_ptr<TLiveSession> FSession;
  std::unique_ptr<TRecording> FRecording;
  QString FRecordingName;
  QTimer FRecordingClock;
  std::shared_ptr<const TFrame> FFrame;
  std::optional<TReference> FReference;
  TFrameRate FRate;
  QTimer FRepaint;
  QString FStatusText;
  bool FPaused = false;
  bool FSuspended = false;
  bool FWaiting = false;     // the status line says the device is awaited
  bool FDeviceLost = false;  // and why: the device went away
  // Recordings whose files are being finished; declared last, so that a finish still
  // running is waited for first, before anything it reports to is gone.
  std::vector<std::unique_ptr<TRecording>> FEnding;
};

// "name.ext" in folder, or "name_2.ext", "name_3.ext", ... for the first that is free.
QString FreeFileName(const QString& folder, const QString& name, const QString& extension);

}  // namespace korbenit
