#include "CaptureCommand.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <sstream>

#include "DeviceModel.h"
#include "ImageFiles.h"
#include "ScreenTransfer.h"
#include "SimulatorProcess.h"
#include "TempFolder.h"

extern char** environ;

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TTempFolder;

struct TRun {
  int Exit = -1;
  std::string Out, Err;
};

// The program itself, its output in files of the folder; stopAfterMs sends SIGINT.
TRun RunProgram(const TTempFolder& folder, std::vector<std::string> args, int stopAfterMs = -1) {
  args.insert(args.begin(), KORBENIT_CAPTURE);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (folder / "out.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "err.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  TRun run;
  if (::posix_spawn(&pid, KORBENIT_CAPTURE, &actions, nullptr, argv.data(), environ) == 0) {
    if (stopAfterMs >= 0) {
      ::usleep(static_cast<useconds_t>(stopAfterMs) * 1000);
      ::kill(pid, SIGINT);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.Out = ReadBytes(folder / "out.txt");
  run.Err = ReadBytes(folder / "err.txt");
  fs::remove(folder / "out.txt");
  fs::remove(folder / "err.txt");
  return run;
}

// The device model's picture as the window's raster holds it.
TPicture ModelPicture() {
  TDeviceModel model;
  TPicture picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  for (int y = 0; y < ScreenHeight; ++y)
    for (int x = 0; x < ScreenWidth; ++x) {
      TColor c = ConvertPixel(model.Pixel(x, y));
      uint8_t* pixel = picture.MutableRow(y) + 4 * x;
      pixel[0] = BlueOf(c), pixel[1] = GreenOf(c), pixel[2] = RedOf(c), pixel[3] = 0xFF;
    }
  return picture;
}

TEST(CaptureCommand, EachFormatHoldsWhatTheWindowWouldSave) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  TPicture reference = ModelPicture();
  SaveBitmapFile(reference, folder / "window.bmp");
  SaveJpegFile(reference, folder / "window.jpg");
  SaveJpegFile(reference, folder / "window-q50.jpg", 50);
  struct Case {
    std::string name, window;
    std::vector<std::string> extra;
  };
  for (const auto& c : {Case{"shot.bmp", "window.bmp", {}}, Case{"shot.jpeg", "window.jpg", {}},
                        Case{"shot.jpg", "window-q50.jpg", {"--quality", "50"}}}) {
    std::vector<std::string> args = {"--port", simulator.Name(), "-o", folder / c.name};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    TRun run = RunProgram(folder, args);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(ReadBytes(folder / c.name), ReadBytes(folder / c.window)) << c.name;
    EXPECT_EQ(run.Out.rfind("saved " + folder / c.name + " (240 x 320, ", 0), 0u) << run.Out;
    EXPECT_EQ(run.Err, "") << "no progress bar without a terminal";
  }
  TRun run = RunProgram(folder, {"--port", simulator.Name(), "-o", folder / "shot.png"});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  QImage png(QString::fromStdString(folder / "shot.png"));
  ASSERT_EQ(png.size(), QSize(240, 320));
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 240; ++x) {
      const uint8_t* pixel = reference.Row(y) + 4 * x;
      ASSERT_EQ(png.pixelColor(x, y), QColor(pixel[2], pixel[1], pixel[0])) << x << "," << y;
    }
}

TEST(CaptureCommand, AFailedCaptureSaysWhyAndLeavesNoFile) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--fault", "silence:B:*:0"});
  TTempFolder folder;
  TRun run = RunProgram(folder, {"--port", simulator.Name(), "-o", folder / "shot.png"});
  EXPECT_EQ(run.Exit, 1);
  EXPECT_EQ(run.Err,
            "B: No Data\nThe device does not answer: is USB switched on in its setup menu?\n");
  EXPECT_EQ(folder.EntryCount(), 0u);
}

TEST(CaptureCommand, ASeriesNumbersItsPictures) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  TRun run = RunProgram(folder, {"--port", simulator.Name(), "-o", folder / "menu.png", "--count",
                                 "3", "--interval", "0.1", "--quiet"});
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  for (const char* name : {"menu_001.png", "menu_002.png", "menu_003.png"})
    EXPECT_TRUE(fs::exists(folder / name)) << name;
  EXPECT_EQ(folder.EntryCount(), 3u);
}

// Stopped in mid-capture, it ends after the line, releases the port and writes nothing.
TEST(CaptureCommand, AnInterruptedCaptureReleasesThePortAndLeavesNoFile) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--delay-us", "20000"});
  TTempFolder folder;
  TRun run = RunProgram(folder, {"--port", simulator.Name(), "-o", folder / "shot.bmp"}, 1000);
  EXPECT_EQ(run.Exit, 130) << run.Err;
  EXPECT_EQ(folder.EntryCount(), 0u);
  // The simulator keeps its terminal open, so the line speed left behind is still there.
  int terminal = ::open(simulator.Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  termios2 settings{};
  EXPECT_EQ(::ioctl(terminal, TCGETS2, &settings), 0);
  EXPECT_EQ(settings.c_ospeed, 9600u) << "set back before the port was closed";
  ::close(terminal);
}

// A fake /sys/class/tty with one USB serial device and a virtual port.
struct TFakeSysfs {
  TTempFolder Root;
  TPortListSources Sources{Root / "class", Root / "virtual"};
  TFakeSysfs() {
    fs::path usb = Root.Path() / "devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    for (auto [name, value] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"},
                               {"manufacturer", "FTDI"}, {"product", "FT232R USB UART"},
                               {"serial", "A50285BI"}})
      testing::WriteBytes((usb / name).string(), std::string(value) + "\n");
    fs::create_directories(Root.Path() / "class/ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", Root.Path() / "class/ttyUSB0/device");
    fs::create_directories(Root.Path() / "virtual");
    fs::permissions(Root.Path() / "virtual", fs::perms(0700));
    fs::create_symlink("/dev/null", Root.Path() / "virtual/korbenit-sim");
  }
};

TEST(CaptureCommand, ListsThePortsWithWhatIsKnownAboutThem) {
  TFakeSysfs sysfs;
  std::ostringstream out, err;
  std::atomic<bool> stop{false};
  TCaptureSession session{out, err, false, stop, sysfs.Sources};
  TCaptureOptions options;
  options.List = true;
  EXPECT_EQ(RunCaptureCommand(options, session), 0);
  EXPECT_EQ(out.str(),
            "korbenit-sim\tvirtual\nttyUSB0\tFTDI FT232R USB UART, 0403:6001, serial A50285BI\n");
  // Two ports and none named: the command names them and stops.
  options.List = false;
  try {
    RunCaptureCommand(options, session);
    FAIL() << "chose a port of two";
  } catch (const EUsage& e) {
    EXPECT_STREQ(e.what(),
                 "several ports are present (korbenit-sim, ttyUSB0); choose one with --port NAME");
  }
}

TEST(CaptureCommand, UsageErrorsAreRefusedBeforeAnything) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-o", "shot.gif"}, {"-o", "shot"}, {"--quality", "0"}, {"--quality", "101"},
           {"--count", "0"}, {"--count", "2", "-o", "-"}, {"--interval", "-1"}, {"--port"},
           {"--bogus"}}) {
    std::string joined;
    for (const auto& arg : args) joined += arg + " ";
    EXPECT_THROW(ParseCaptureOptions(args), EUsage) << joined;
  }
  TTempFolder folder;
  TRun run = RunProgram(folder, {"-o", "shot.gif"});
  EXPECT_EQ(run.Exit, 2);
  EXPECT_EQ(run.Err.rfind("korbenit-capture: \"shot.gif\": the name must end in", 0), 0u);
  EXPECT_EQ(SeriesName("dir.v2/menu.png", 7), "dir.v2/menu_007.png");
  EXPECT_EQ(SeriesName("menu", 12), "menu_012");
}

}  // namespace
}  // namespace korbenit
