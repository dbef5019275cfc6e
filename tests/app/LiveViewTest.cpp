#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <chrono>
#include <filesystem>

#include "ImageFiles.h"
#include "SimulatorProcess.h"
#include "TempFolder.h"
#include "WindowRig.h"
#include "uLive.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Handles the window's events until done() holds, at most ten seconds.
template <typename TDone>
bool ServeUntil(TDone done) {
  auto end = Clock::now() + std::chrono::seconds(10);
  while (!done() && Clock::now() < end) QTest::qWait(10);
  return done();
}

bool PortHeld(const std::string& link) {
  int terminal = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int exclusive = 0;
  ::ioctl(terminal, TIOCGEXCL, &exclusive);
  ::close(terminal);
  return exclusive != 0;
}

// A live view on the moving simulator, its snapshots and settings in a folder of its own.
struct TLiveRig {
  testing::TTempFolder Folder;
  TSimulatorProcess Simulator{KORBENIT_SIMULATOR, {"--moving"}};
  TAppIniFileStorage Settings;
  int SnapshotType = 1;
  std::string SnapshotFolder = Folder.Path().string();
  bool Lamp = false;  // what the main window's lamp would show
  std::unique_ptr<TLive> Live;
  TLiveRig() {
    Settings.SetFileName(Folder / "settings.ini");
    Live = std::make_unique<TLive>(Host());
  }
  TLiveHost Host() {
    TLiveHost host;
    host.Port = [this] { return Simulator.Name(); };
    host.SnapshotFolder = [this] { return QString::fromStdString(SnapshotFolder); };
    host.SnapshotType = [this] { return SnapshotType; };
    host.Settings = &Settings;
    host.PortHeld = [this](bool held) { Lamp = held; };
    return host;
  }
  void Press(QKeySequence keys) {
    QApplication::setActiveWindow(Live.get());
    QTest::keySequence(Live.get(), keys);
  }
};

// Zoom in whole steps from 1 up to the largest whose window fits the screen's free area
// (6 at most), or fitting the window; quarter turns; both kept for the next start. At every
// step the picture fits its canvas in whole screen pixels, the window fits the screen and
// the canvas never gets smaller than the picture at one screen pixel a device pixel. Run
// at screen scales 1, 1.5 and 2, offscreen and under Xvfb.
TEST(LiveView, ZoomAndTurnAreWholeStepsAndRemembered) {
  TLiveRig rig;
  rig.Live->show();
  TLiveCanvas& canvas = *rig.Live->Canvas;
  EXPECT_GE(canvas.Zoom, 1);
  EXPECT_LE(canvas.Zoom, 2);
  QSize free = rig.Live->screen()->availableGeometry().size();
  QSize smallest = rig.Live->minimumSizeHint();
  if (smallest.width() > free.width() || smallest.height() > free.height())
    GTEST_SKIP() << "a screen smaller than the smallest window";
  auto fits = [&](const char* step) {
    SCOPED_TRACE(step);
    QTest::qWait(20);
    double ratio = canvas.devicePixelRatioF();
    QSize room = canvas.size() * ratio, picture = canvas.PictureSize() * canvas.PhysicalZoom();
    EXPECT_GE(room.width(), picture.width());
    EXPECT_GE(room.height(), picture.height());
    EXPECT_LE(rig.Live->frameGeometry().width(), free.width());
    EXPECT_LE(rig.Live->frameGeometry().height(), free.height());
    EXPECT_GE(canvas.minimumWidth() * ratio, canvas.PictureSize().width());
    EXPECT_GE(canvas.minimumHeight() * ratio, canvas.PictureSize().height());
  };
  const QKeySequence in(Qt::CTRL | Qt::Key_Plus), out(Qt::CTRL | Qt::Key_Minus),
      fit(Qt::CTRL | Qt::Key_0);
  int largest = 0;
  for (int i = 0; i < 8; ++i) {
    rig.Press(in);
    EXPECT_GE(canvas.Zoom, largest) << "a step in never zooms out";
    largest = canvas.Zoom;
    fits("in");
  }
  EXPECT_LE(largest, 6);
  if (largest > 1) {
    rig.Press(out);
    EXPECT_EQ(canvas.Zoom, largest - 1);
  }
  rig.Press(fit);
  EXPECT_EQ(canvas.Zoom, 0);
  for (int i = 0; i < 8; ++i) rig.Press(out);
  EXPECT_EQ(canvas.Zoom, 1) << "never below 1";
  fits("1x");
  EXPECT_EQ(canvas.PictureSize(), QSize(240, 320));
  rig.Press(QKeySequence(Qt::Key_R));
  EXPECT_EQ(canvas.PictureSize(), QSize(320, 240));
  rig.Press(in);
  fits("turned");
  TLive again(rig.Host());
  EXPECT_EQ(again.Canvas->Zoom, canvas.Zoom);
  EXPECT_EQ(again.Canvas->QuarterTurns, 1);
}

// Frames arrive; a pause keeps the last frame and frees the port; so does a suspension,
// which ends by itself; closing frees the port.
TEST(LiveView, PauseSuspendAndCloseFreeThePort) {
  TLiveRig rig;
  rig.Live->show();
  rig.Live->Start();
  ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 2; }))
      << rig.Live->StatusText().toStdString();
  EXPECT_TRUE(PortHeld(rig.Simulator.Link()));
  EXPECT_TRUE(rig.Lamp) << "the lamp is red while the live view holds the port";
  rig.Press(QKeySequence(Qt::Key_Space));
  EXPECT_TRUE(rig.Live->Paused());
  EXPECT_FALSE(PortHeld(rig.Simulator.Link()));
  EXPECT_FALSE(rig.Lamp);
  EXPECT_EQ(rig.Live->Canvas->Picture, rig.Live->Frame()) << "the frame a snapshot saves";
  uint64_t kept = rig.Live->FrameNumber();
  QTest::qWait(300);
  EXPECT_EQ(rig.Live->FrameNumber(), kept);
  rig.Press(QKeySequence(Qt::Key_Space));
  ASSERT_TRUE(
      ServeUntil([&] { return rig.Live->FrameNumber() >= 1 && PortHeld(rig.Simulator.Link()); }));
  rig.Live->Suspend();
  EXPECT_FALSE(PortHeld(rig.Simulator.Link()));
  rig.Live->ResumeAfterSuspend();
  EXPECT_TRUE(rig.Live->Mirroring());
  rig.Live->close();
  EXPECT_FALSE(rig.Live->Mirroring());
  EXPECT_FALSE(PortHeld(rig.Simulator.Link()));
}

// A snapshot is the newest complete frame in FILEDIR, in FILEFORMAT's type, under a name
// of its own; a folder that cannot be written says why and loses nothing.
TEST(LiveView, SnapshotsGoToTheFolderUnderNamesOfTheirOwn) {
  TLiveRig rig;
  rig.Live->show();
  rig.Live->Start();
  ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 1; }));
  rig.Live->TogglePause();  // the frame stays put for the comparison
  QString name = rig.Live->Snapshot();
  ASSERT_TRUE(name.endsWith(".bmp")) << rig.Live->StatusText().toStdString();
  QImage saved(QString::fromStdString(rig.SnapshotFolder) + '/' + name);
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), rig.Live->Frame());
  EXPECT_EQ(rig.Live->StatusText(), "Saved as: " + name);
  QString large = rig.Live->Snapshot(3);
  ASSERT_TRUE(large.endsWith("_3x.bmp")) << rig.Live->StatusText().toStdString();
  QImage enlarged(QString::fromStdString(rig.SnapshotFolder) + '/' + large);
  EXPECT_EQ(enlarged.size(), QSize(720, 960));
  EXPECT_EQ(enlarged.convertToFormat(QImage::Format_RGB32).scaled(240, 320), rig.Live->Frame())
      << "every device pixel a 3 x 3 square";
  rig.SnapshotType = 2;
  EXPECT_TRUE(rig.Live->Snapshot().endsWith(".jpg"));
  testing::WriteBytes(rig.Folder / "a-file", "x");
  rig.SnapshotFolder = rig.Folder / "a-file";
  EXPECT_EQ(rig.Live->Snapshot(), "");
  EXPECT_TRUE(rig.Live->StatusText().endsWith("kann nicht erstellt werden"));
  EXPECT_EQ(rig.Folder.EntryCount(), 4u) << "three snapshots and the file";
}

// Ctrl+R records into FILEDIR in the chosen format (kept for the next start), a pause
// included, and the file's name is told when it is done.
TEST(LiveView, CtrlRRecordsIntoTheFolder) {
  for (int format : {0, 1}) {
    TLiveRig rig;
    rig.Live->cbRecordFormat->setCurrentIndex(format);
    rig.Live->show();
    rig.Live->Start();
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 1; }));
    int width = rig.Live->width();
    rig.Press(QKeySequence(Qt::CTRL | Qt::Key_R));
    ASSERT_TRUE(rig.Live->Recording());
    uint64_t first = rig.Live->FrameNumber();
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= first + 2; }));
    rig.Press(QKeySequence(Qt::Key_Space));
    rig.Press(QKeySequence(Qt::Key_Space));
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 2; }));
    EXPECT_TRUE(rig.Live->RecMark->text().startsWith("REC "));
    QTest::qWait(20);
    EXPECT_EQ(rig.Live->width(), width) << "the window keeps its width while it records";
    rig.Press(QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_FALSE(rig.Live->Recording());
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->StatusText().startsWith("Recorded: "); }));
    QString name = rig.Live->StatusText().mid(QStringLiteral("Recorded: ").size());
    EXPECT_TRUE(name.endsWith(format ? ".webp" : ".gif")) << rig.Live->StatusText().toStdString();
    std::string bytes = testing::ReadBytes(rig.Folder / name.toStdString());
    EXPECT_EQ(bytes.substr(0, 4), format ? "RIFF" : "GIF8");
    EXPECT_EQ(TLive(rig.Host()).cbRecordFormat->currentIndex(), format);
  }
}

int PaintedPixels(const QImage& overlay) {
  int count = 0;
  for (int y = 0; y < overlay.height(); ++y)
    for (int x = 0; x < overlay.width(); ++x) count += qAlpha(overlay.pixel(x, y)) != 0;
  return count;
}

// Each frame is compared with the reference, the verdict in the status line and the
// differing pixels painted on request; the reference and the choices are kept for the
// next start, and a reference that cannot be one says why.
TEST(LiveView, ComparingShowsEachFrameAgainstTheReference) {
  TLiveRig rig;
  rig.Live->show();
  rig.Live->Start();
  ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 1; }));
  rig.Live->TogglePause();
  QString reference = QString::fromStdString(rig.SnapshotFolder) + '/' + rig.Live->Snapshot();
  ASSERT_TRUE(rig.Live->CompareWith(reference));
  EXPECT_EQ(rig.Live->CompareLabel->text(), "match");
  rig.Live->ActDifferences->setChecked(true);
  EXPECT_EQ(PaintedPixels(rig.Live->Canvas->Overlay), 0);
  rig.Live->TogglePause();
  ASSERT_TRUE(ServeUntil([&] { return rig.Live->CompareLabel->text().startsWith("differ: "); }));
  int counted = rig.Live->CompareLabel->text().section(' ', 1, 1).toInt();
  EXPECT_GT(counted, 0);
  EXPECT_EQ(PaintedPixels(rig.Live->Canvas->Overlay), counted);
  rig.Press(QKeySequence(Qt::Key_D));
  EXPECT_TRUE(rig.Live->Canvas->Overlay.isNull());
  rig.Press(QKeySequence(Qt::Key_D));
  {
    TLive again(rig.Host());
    EXPECT_TRUE(again.Comparing());
    EXPECT_TRUE(again.ActDifferences->isChecked());
  }
  rig.Live->ActStopComparing->trigger();
  EXPECT_FALSE(rig.Live->Comparing());
  EXPECT_TRUE(rig.Live->Canvas->Overlay.isNull());
  EXPECT_FALSE(TLive(rig.Host()).Comparing());
  for (QString bad : {reference + ".missing", QString::fromStdString(rig.SnapshotFolder)}) {
    EXPECT_FALSE(rig.Live->CompareWith(bad));
    EXPECT_FALSE(rig.Live->Comparing());
    EXPECT_TRUE(rig.Live->StatusText().contains(bad)) << rig.Live->StatusText().toStdString();
  }
}

TEST(LiveView, ANameThatIsTakenIsNumbered) {
  testing::TTempFolder folder;
  QString path = QString::fromStdString(folder.Path().string());
  EXPECT_EQ(FreeFileName(path, "Korbenit_x", ".bmp"), path + "/Korbenit_x.bmp");
  testing::WriteBytes(folder / "Korbenit_x.bmp", "");
  EXPECT_EQ(FreeFileName(path, "Korbenit_x", ".bmp"), path + "/Korbenit_x_2.bmp");
  testing::WriteBytes(folder / "Korbenit_x_2.bmp", "");
  EXPECT_EQ(FreeFileName(path + '/', "Korbenit_x", ".bmp"), path + "/Korbenit_x_3.bmp");
}

}  // namespace
}  // namespace korbenit
