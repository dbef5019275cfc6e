#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
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
    return host;
  }
  void Press(QKeySequence keys) {
    QApplication::setActiveWindow(Live.get());
    QTest::keySequence(Live.get(), keys);
  }
};

// Zoom in whole steps from 1 to 6 or fitting the window, quarter turns, both kept for the
// next start.
TEST(LiveView, ZoomAndTurnAreWholeStepsAndRemembered) {
  TLiveRig rig;
  rig.Live->show();
  TLiveCanvas& canvas = *rig.Live->Canvas;
  EXPECT_EQ(canvas.Zoom, 2);
  const QKeySequence in(Qt::CTRL | Qt::Key_Plus), out(Qt::CTRL | Qt::Key_Minus),
      fit(Qt::CTRL | Qt::Key_0);
  struct TRow {
    QKeySequence Keys;
    int Zoom;
  };
  for (const TRow& row : {TRow{in, 3}, TRow{in, 4}, TRow{in, 5}, TRow{in, 6}, TRow{in, 6},
                          TRow{out, 5}, TRow{fit, 0}}) {
    rig.Press(row.Keys);
    EXPECT_EQ(canvas.Zoom, row.Zoom);
  }
  for (int i = 0; i < 8; ++i) rig.Press(out);
  EXPECT_EQ(canvas.Zoom, 1) << "never below 1";
  EXPECT_EQ(canvas.PictureSize(), QSize(240, 320));
  rig.Press(QKeySequence(Qt::Key_R));
  EXPECT_EQ(canvas.PictureSize(), QSize(320, 240));
  rig.Press(QKeySequence(Qt::CTRL | Qt::Key_Plus));
  TLive again(rig.Host());
  EXPECT_EQ(again.Canvas->Zoom, 2);
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
  rig.Press(QKeySequence(Qt::Key_Space));
  EXPECT_TRUE(rig.Live->Paused());
  EXPECT_FALSE(PortHeld(rig.Simulator.Link()));
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
  rig.SnapshotType = 2;
  EXPECT_TRUE(rig.Live->Snapshot().endsWith(".jpg"));
  testing::WriteBytes(rig.Folder / "a-file", "x");
  rig.SnapshotFolder = rig.Folder / "a-file";
  EXPECT_EQ(rig.Live->Snapshot(), "");
  EXPECT_TRUE(rig.Live->StatusText().endsWith("kann nicht erstellt werden"));
  EXPECT_EQ(rig.Folder.EntryCount(), 3u) << "two snapshots and the file";
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
    rig.Press(QKeySequence(Qt::CTRL | Qt::Key_R));
    ASSERT_TRUE(rig.Live->Recording());
    uint64_t first = rig.Live->FrameNumber();
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= first + 2; }));
    rig.Press(QKeySequence(Qt::Key_Space));
    rig.Press(QKeySequence(Qt::Key_Space));
    ASSERT_TRUE(ServeUntil([&] { return rig.Live->FrameNumber() >= 2; }));
    EXPECT_TRUE(rig.Live->RecMark->text().startsWith("REC "));
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
