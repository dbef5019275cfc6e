#include "uLive.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>

#include "Application.h"
#include "FailureHints.h"
#include "ImageFiles.h"
#include "uMain.h"

namespace korbenit {
namespace {

constexpr int MaxZoom = 6;
// The differing pixels, strong enough to see at once, the picture still showing beneath.
constexpr QRgb DifferenceColour = 0xD0FF0000u;

// The raster's 32-bit pixels are blue, green, red and 255 in memory, as the frame's
// conversion writes them.
QImage ImageOf(const TFrame& frame) {
  QImage image(ScreenWidth, ScreenHeight, QImage::Format_RGB32);
  for (int y = 0; y < ScreenHeight; ++y)
    WriteBgrxRow(frame.Line(y), ScreenWidth, image.scanLine(y));
  return image;
}

}  // namespace

QString FreeFileName(const QString& folder, const QString& name, const QString& extension) {
  QString base = folder.endsWith('/') ? folder : folder + '/';
  QString path = base + name + extension;
  for (int number = 2; QFileInfo::exists(path); ++number)
    path = base + name + '_' + QString::number(number) + extension;
  return path;
}

TLive::TLive(TLiveHost host, QWidget* parent)
    : QWidget(parent, Qt::Window),
      FHost(std::move(host)),
      FBridge(std::make_unique<TLiveBridge>(*this, [this] { TakeArrivals(); })) {
  setWindowTitle(QStringLiteral("Live view"));
  // New lines are shown some thirty times a second while mirroring: as fast as eyes
  // follow, and cheap.
  FRepaint.setInterval(33);
  connect(&FRepaint, &QTimer::timeout, this, [this] {
    FBridge->TakeLines(Canvas->Picture);
    Canvas->update();
  });
  FRecordingClock.setInterval(250);
  connect(&FRecordingClock, &QTimer::timeout, this, [this] { ShowRecording(); });
  BuildControls();
  BuildShortcuts();
  if (FHost.Settings) {
    RunHandler([this] {
      // The turn first: whether a zoom fits the screen depends on it.
      Canvas->QuarterTurns = std::clamp(FHost.Settings->ReadInt("LiveView\\Rotation", 0), 0, 3);
      Canvas->Zoom = FittingZoom(FHost.Settings->ReadInt("LiveView\\Zoom", 2));
      cbRecordFormat->setCurrentIndex(FHost.Settings->ReadStr("LiveView\\RecordFormat", "GIF") ==
                                      "WebP");
      // As it was left, without writing it back.
      QSignalBlocker quiet(ActDifferences);
      ActDifferences->setChecked(FHost.Settings->ReadInt("LiveView\\Differences", 0));
      QString reference =
          QString::fromStdString(FHost.Settings->ReadStr("LiveView\\Reference", ""));
      if (FHost.Settings->ReadInt("LiveView\\Compare", 0) && !reference.isEmpty())
        CompareWith(reference);
    });
  }
  FitWindow();
}

TLive::~TLive() {
  EndRecording();
  StopSession();
}

void TLive::BuildControls() {
  Canvas = new TLiveCanvas(this);
  ButRotate = new QPushButton(QStringLiteral("Rotate"), this);
  ButPause = new QPushButton(QStringLiteral("Pause"), this);
  ButSnapshot = new QToolButton(this);
  ButSnapshot->setText(QStringLiteral("Snapshot"));
  ButSnapshot->setPopupMode(QToolButton::MenuButtonPopup);
  ButSnapshot->setFocusPolicy(Qt::NoFocus);
  auto* enlarged = new QMenu(ButSnapshot);
  for (int scale : {2, 3, 4})
    enlarged->addAction(QStringLiteral("Snapshot %1x").arg(scale), this,
                        [this, scale] { Snapshot(scale); });
  ButSnapshot->setMenu(enlarged);
  ButRecord = new QPushButton(QStringLiteral("Record"), this);
  ButCompare = new QToolButton(this);
  ButCompare->setText(QStringLiteral("Compare..."));
  ButCompare->setPopupMode(QToolButton::MenuButtonPopup);
  ButCompare->setFocusPolicy(Qt::NoFocus);
  auto* comparing = new QMenu(ButCompare);
  ActDifferences = comparing->addAction(QStringLiteral("Show differences"));
  ActDifferences->setCheckable(true);
  ActDifferences->setShortcut(QKeySequence(Qt::Key_D));
  ActDifferences->setEnabled(false);
  ActStopComparing = comparing->addAction(QStringLiteral("Stop comparing"));
  ActStopComparing->setEnabled(false);
  ButCompare->setMenu(comparing);
  // The menu's shortcut works in the whole window, not only while the menu is open.
  addAction(ActDifferences);
  connect(ButCompare, &QToolButton::clicked, this,
          [this] { RunHandler([this] { ChooseReference(); }); });
  connect(ActDifferences, &QAction::toggled, this, [this](bool on) { ShowDifferences(on); });
  connect(ActStopComparing, &QAction::triggered, this, [this] { StopComparing(); });
  connect(ButRecord, &QPushButton::clicked, this, [this] { ToggleRecording(); });
  cbRecordFormat = new QComboBox(this);
  cbRecordFormat->addItems({QStringLiteral("GIF"), QStringLiteral("WebP")});
  cbRecordFormat->setFocusPolicy(Qt::NoFocus);
  connect(cbRecordFormat, &QComboBox::activated, this, [this] { StoreView(); });
  RecMark = new QLabel(this);
  RecMark->setStyleSheet(QStringLiteral("color: #d00000; font-weight: bold"));
  // Its room is kept from the start, so the window does not widen when it appears.
  QFont bold = RecMark->font();
  bold.setBold(true);
  RecMark->setFixedWidth(
      QFontMetrics(bold).horizontalAdvance(QStringLiteral("REC 00:00  0000 frames")));
  connect(ButRotate, &QPushButton::clicked, this, [this] { Rotate(); });
  connect(ButPause, &QPushButton::clicked, this, [this] { TogglePause(); });
  connect(ButSnapshot, &QToolButton::clicked, this, [this] { Snapshot(); });
  StatusBar = new QStatusBar(this);
  StatusBar->setSizeGripEnabled(false);
  RateLabel = new QLabel(StatusBar);
  RateLabel->setFixedWidth(RateLabel->fontMetrics().horizontalAdvance(
      QStringLiteral("99.9 frames/s, 9999 ms a frame, 99999 received")));
  RateLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  CompareLabel = new QLabel(StatusBar);
  CompareLabel->hide();
  StatusBar->addPermanentWidget(CompareLabel);
  StatusBar->addPermanentWidget(RateLabel);
  auto* buttons = new QHBoxLayout;
  for (QWidget* button :
       std::initializer_list<QWidget*>{ButRotate, ButPause, ButSnapshot, ButRecord, cbRecordFormat})
    buttons->addWidget(button);
  buttons->addWidget(RecMark);
  buttons->addWidget(ButCompare);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(Canvas, 1);
  layout->addLayout(buttons);
  layout->addWidget(StatusBar);
}

void TLive::BuildShortcuts() {
  auto add = [this](QKeySequence keys, std::function<void()> action) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, [action] { RunHandler(action); });
  };
  add(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { SetZoom(Canvas->ShownZoom() + 1); });
  add(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { SetZoom(Canvas->ShownZoom() + 1); });
  add(QKeySequence(Qt::CTRL | Qt::Key_Minus),
      [this] { SetZoom(std::max(1, Canvas->ShownZoom() - 1)); });
  add(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { SetZoom(0); });
  add(QKeySequence(Qt::Key_R), [this] { Rotate(); });
  add(QKeySequence(Qt::Key_Space), [this] { TogglePause(); });
  add(QKeySequence(Qt::Key_S), [this] { Snapshot(); });
  add(QKeySequence::Save, [this] { SaveFrameAs(); });
  add(QKeySequence::Copy, [this] { CopyFrame(); });
  add(QKeySequence(Qt::CTRL | Qt::Key_R), [this] { ToggleRecording(); });
}

void TLive::Start() {
  FPaused = false;
  FSuspended = false;
  ButPause->setText(QStringLiteral("Pause"));
  if (FSession) return;
  FSession = std::make_unique<TLiveSession>(FHost.Port ? FHost.Port() : std::string(), *FBridge);
  if (FHost.PortHeld) FHost.PortHeld(true);
  FRate.Clear();
  ShowStatus(QStringLiteral("Waiting for the first frame..."));
  FWaiting = true;
  FSession->Start();
  FRepaint.start();
}

void TLive::StopSession() {
  if (!FSession) return;
  FSession->Stop();
  FSession.reset();
  if (FHost.PortHeld) FHost.PortHeld(false);
  FBridge->Take();  // what came before the stop is no news any more
  FRepaint.stop();
}

void TLive::TogglePause() {
  if (FPaused) {
    Start();
    return;
  }
  StopSession();
  // The last complete frame, the one a snapshot saves, not the lines of the next one.
  if (FFrame) {
    Canvas->Picture = ImageOf(*FFrame);
    Canvas->update();
  }
  if (FRecording) FRecording->Pause(TRecording::TClock::now());
  FPaused = true;
  ButPause->setText(QStringLiteral("Resume"));
  ShowStatus(QStringLiteral("Paused; the port is free"));
}

void TLive::Suspend() {
  if (!FSession) return;
  StopSession();
  if (FRecording) FRecording->Pause(TRecording::TClock::now());
  FSuspended = true;
}

void TLive::ResumeAfterSuspend() {
  if (FSuspended && isVisible()) Start();
}

void TLive::TakeArrivals() {
  TLiveBridge::TArrivals arrivals = FBridge->Take();
  if (!FSession) return;
  if (arrivals.Frame) {
    FFrame = arrivals.Frame;
    if (FRecording) FRecording->Add(FFrame);
    FRate.Add(FFrame->Captured);
    ShowRate();
    // Waiting is over; any other message stays until the next action.
    FDeviceLost = false;
    if (std::exchange(FWaiting, false)) ShowStatus({});
    CompareFrame();
  }
  if (arrivals.Failure) {
    EndRecording();  // a lost device ends it; what was recorded is kept
    const std::string& message = arrivals.Failure->Message;
    std::string hint =
        FailureHint(arrivals.Failure->Kind, PortGroup(FHost.Port ? FHost.Port() : ""));
    ShowStatus(QString::fromStdString(message) + QStringLiteral(". Waiting for the device..."),
               QString::fromStdString(message + (hint.empty() ? "" : "\n" + hint)));
    FWaiting = FDeviceLost = true;
    FRate.Clear();
    RateLabel->clear();
  }
}

// Over the last ten frames.
void TLive::ShowRate() {
  QString received = QStringLiteral("%1 received").arg(FFrame->Number);
  if (!FRate.Known()) {
    RateLabel->setText(received);
    return;
  }
  RateLabel->setText(QStringLiteral("%1 frames/s, %2 ms a frame, %3")
                         .arg(FRate.PerSecond(), 0, 'f', 1)
                         .arg(std::lround(1000 * FRate.SecondsAFrame()))
                         .arg(received));
}

void TLive::ShowStatus(const QString& text, const QString& hint) {
  FStatusText = text;
  StatusBar->showMessage(text);
  StatusBar->setToolTip(hint.isEmpty() ? text : hint);
}

void TLive::SetZoom(int zoom) {
  Canvas->Zoom = FittingZoom(zoom);
  StoreView();
  FitWindow();
  Canvas->update();
}

// A whole zoom no larger than the largest whose window fits the screen's free area.
int TLive::FittingZoom(int zoom) {
  zoom = std::clamp(zoom, 0, MaxZoom);
  if (zoom == 0) return 0;
  QScreen* place = screen();
  if (!place) return zoom;
  QSize room = place->availableGeometry().size() - (frameGeometry().size() - size());
  int kept = Canvas->Zoom;
  for (; zoom > 1; --zoom) {
    Canvas->Zoom = zoom;
    Canvas->updateGeometry();
    layout()->invalidate();
    QSize needed = layout()->totalSizeHint();
    if (needed.width() <= room.width() && needed.height() <= room.height()) break;
  }
  Canvas->Zoom = kept;
  Canvas->updateGeometry();
  layout()->invalidate();
  return zoom;
}

void TLive::Rotate() {
  Canvas->QuarterTurns = (Canvas->QuarterTurns + 1) % 4;
  Canvas->Zoom = FittingZoom(Canvas->Zoom);
  StoreView();
  FitWindow();
  Canvas->update();
}

void TLive::StoreView() {
  if (!FHost.Settings) return;
  RunHandler([this] {
    FHost.Settings->WriteInt("LiveView\\Zoom", Canvas->Zoom);
    FHost.Settings->WriteInt("LiveView\\Rotation", Canvas->QuarterTurns);
    FHost.Settings->WriteStr("LiveView\\RecordFormat", cbRecordFormat->currentText().toStdString());
  });
}

// A whole zoom gets a window just around its picture; fitting keeps the size the user gave.
void TLive::FitWindow() {
  Canvas->setMinimumSize(Canvas->SmallestSize());
  if (Canvas->Zoom == 0) return;
  Canvas->updateGeometry();
  resize(sizeHint());
}

QImage TLive::Frame() const {
  return FFrame ? ImageOf(*FFrame) : QImage();
}

QString TLive::Snapshot(int scale) {
  if (!FFrame) {
    ShowStatus(QStringLiteral("No complete frame yet"));
    return {};
  }
  int type = FHost.SnapshotType ? FHost.SnapshotType() : 1;
  QString extension = type == 2 ? QStringLiteral(".jpg") : QStringLiteral(".bmp");
  QString folder = FHost.SnapshotFolder ? FHost.SnapshotFolder() : QStringLiteral(".");
  QString name = TimeStampedName() + (scale > 1 ? QStringLiteral("_%1x").arg(scale) : QString());
  QString path = FreeFileName(folder, name, extension);
  try {
    TPicture picture = EnlargedPicture(PictureOf(*FFrame), scale);
    if (type == 2)
      SaveJpegFile(picture, path.toStdString());
    else
      SaveBitmapFile(picture, path.toStdString());
  } catch (const std::exception& e) {
    QApplication::beep();
    ShowFailure(TFailure::Of(e));
    return {};
  }
  name = QFileInfo(path).fileName();
  ShowStatus(QStringLiteral("Saved as: ") + name, path);
  return name;
}

void TLive::CopyFrame() {
  if (FFrame) QGuiApplication::clipboard()->setImage(Frame());
}

void TLive::SaveFrameAs() {
  if (FFrame && FHost.SaveAs) FHost.SaveAs(Frame());
}

void TLive::closeEvent(QCloseEvent* event) {
  EndRecording();
  StopSession();
  FPaused = false;
  event->accept();
}

void TLive::ToggleRecording() {
  if (FRecording) {
    EndRecording();
    return;
  }
  bool webp = cbRecordFormat->currentIndex() == 1;
  StoreView();
  QString folder = FHost.SnapshotFolder ? FHost.SnapshotFolder() : QStringLiteral(".");
  QString path = FreeFileName(folder, TimeStampedName(),
                              webp ? QStringLiteral(".webp") : QStringLiteral(".gif"));
  try {
    FRecording = std::make_unique<TRecording>(
        path.toStdString(), webp ? TAnimationFormat::WebP : TAnimationFormat::Gif);
  } catch (const std::exception& e) {
    QApplication::beep();
    ShowFailure(TFailure::Of(e));
    return;
  }
  FRecordingName = QFileInfo(path).fileName();
  ButRecord->setText(QStringLiteral("Stop"));
  cbRecordFormat->setEnabled(false);
  FRecordingClock.start();
  ShowRecording();
}

// The file is written out by the encoder's thread, so the window never waits for it; its
// name, or the writer's error, goes to the status line once it is done.
void TLive::EndRecording() {
  if (!FRecording) return;
  TRecording* ending = FRecording.get();
  FEnding.push_back(std::move(FRecording));
  FRecordingClock.stop();
  RecMark->clear();
  ButRecord->setText(QStringLiteral("Record"));
  cbRecordFormat->setEnabled(true);
  ShowStatus(QStringLiteral("Finishing ") + FRecordingName + QStringLiteral("..."));
  ending->FinishInBackground(
      TRecording::TClock::now(), [this, ending, name = FRecordingName](TFailure failure) {
        QMetaObject::invokeMethod(
            this, [this, ending, name, failure] { RecordingEnded(ending, name, failure); },
            Qt::QueuedConnection);
      });
}

// The file's name is told, also when a full disk cut the recording short or the device
// went away meanwhile (whose message stays beside it); a recording that left no file
// says why.
void TLive::RecordingEnded(TRecording* ending, const QString& name, const TFailure& failure) {
  bool kept = ending->Kept();
  std::erase_if(FEnding, [ending](const auto& recording) { return recording.get() == ending; });
  if (!failure.Empty()) QApplication::beep();
  if (!kept) return ShowFailure(failure);
  QString text = QStringLiteral("Recorded: ") + name;
  if (failure.Kind == TFailureKind::DiskFull)
    text += QStringLiteral(", cut short: the disk is full");
  else if (FDeviceLost)
    text += QStringLiteral("; ") + FStatusText;
  std::string hint = failure.Empty() ? std::string() : FailureHint(failure.Kind);
  ShowStatus(text, hint.empty() ? QString() : text + '\n' + QString::fromStdString(hint));
}

void TLive::ShowFailure(const TFailure& failure) {
  std::string hint = FailureHint(failure.Kind);
  QString text = QString::fromUtf8(failure.Message);
  ShowStatus(text, hint.empty() ? QString() : text + '\n' + QString::fromStdString(hint));
}

void TLive::ShowRecording() {
  if (!FRecording) return;
  if (FRecording->Failed()) {
    EndRecording();
    return;
  }
  auto seconds = FRecording->Elapsed(TRecording::TClock::now()).count() / 1000;
  RecMark->setText(QStringLiteral("REC %1:%2  %3 frames")
                       .arg(seconds / 60)
                       .arg(seconds % 60, 2, 10, QChar('0'))
                       .arg(FRecording->Frames()));
}

// The dialog starts at the reference kept from before, else in the snapshots' folder,
// where a picture to compare with is most likely saved.
void TLive::ChooseReference() {
  QString kept = FHost.Settings
                     ? QString::fromStdString(FHost.Settings->ReadStr("LiveView\\Reference", ""))
                     : QString();
  QString start = !kept.isEmpty()        ? kept
                  : FHost.SnapshotFolder ? FHost.SnapshotFolder()
                                         : QString();
  QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Compare with"), start,
                                              QStringLiteral("Pictures (*.png *.bmp)"));
  if (!path.isEmpty()) CompareWith(path);
}

bool TLive::CompareWith(const QString& path) {
  try {
    FReference = ReadReference(path.toStdString(), {});
  } catch (const std::exception& e) {
    QApplication::beep();
    StopComparing();
    ShowFailure(TFailure::Of(e));
    return false;
  }
  if (FHost.Settings) {
    RunHandler([this, &path] {
      FHost.Settings->WriteStr("LiveView\\Reference", path.toStdString());
      FHost.Settings->WriteInt("LiveView\\Compare", 1);
    });
  }
  ActDifferences->setEnabled(true);
  ActStopComparing->setEnabled(true);
  CompareLabel->setToolTip(QStringLiteral("Compared with ") + path);
  CompareLabel->show();
  CompareFrame();
  return true;
}

// The reference stays in the settings for the next "Compare...".
void TLive::StopComparing() {
  FReference.reset();
  ActDifferences->setEnabled(false);
  ActStopComparing->setEnabled(false);
  CompareLabel->hide();
  Canvas->Overlay = QImage();
  Canvas->update();
  if (FHost.Settings) RunHandler([this] { FHost.Settings->WriteInt("LiveView\\Compare", 0); });
}

void TLive::ShowDifferences(bool shown) {
  if (FHost.Settings)
    RunHandler([this, shown] { FHost.Settings->WriteInt("LiveView\\Differences", shown); });
  if (!shown) Canvas->Overlay = QImage();
  CompareFrame();
  Canvas->update();
}

// On the transfer's own colours, exactly: any pixel that is not the reference's differs.
void TLive::CompareFrame() {
  if (!FReference || !FFrame) return;
  std::vector<uint8_t> differing;
  bool painted = ActDifferences->isChecked();
  TCompareRules exact;
  TScreenDifference difference =
      CompareScreens(*FFrame, FReference->Screen, exact, painted ? &differing : nullptr);
  CompareLabel->setText(QString::fromStdString(DescribeDifference(difference, exact)));
  CompareLabel->setStyleSheet(difference.Pixels ? QStringLiteral("color: #d00000")
                                                : QStringLiteral("color: #007000"));
  if (!painted) return;
  QImage overlay(ScreenWidth, ScreenHeight, QImage::Format_ARGB32);
  overlay.fill(Qt::transparent);
  for (int y = 0; y < ScreenHeight; ++y) {
    auto* row = reinterpret_cast<QRgb*>(overlay.scanLine(y));
    for (int x = 0; x < ScreenWidth; ++x)
      if (differing[std::size_t{ScreenWidth} * y + x]) row[x] = DifferenceColour;
  }
  Canvas->Overlay = std::move(overlay);
  Canvas->update();
}

void TLive::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) return QWidget::wheelEvent(event);
  int step = event->angleDelta().y() > 0 ? 1 : -1;
  SetZoom(std::max(1, Canvas->ShownZoom() + step));
  event->accept();
}

}  // namespace korbenit
