#include "CaptureCommand.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <webp/demux.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "DeviceModel.h"
#include "ImageFiles.h"
#include "Pty.h"
#include "ScreenTransfer.h"
#include "SimulatorProcess.h"
#include "SmallFileSystem.h"
#include "TempFolder.h"

extern char** environ;

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TPty;
using testing::TTempFolder;
using testing::WriteBytes;
using Clock = std::chrono::steady_clock;

struct TRun {
  int Exit = -1;  // 128 + the signal for a process that a signal ended
  std::string Out, Err;
  int64_t StopToEndMs = -1;
  int ThreadsWhenStopped = -1;  // the program's threads when the signal was sent
  bool Signalled = false;       // it ended by a signal, not by exiting
};

// The thread sanitizer's runtime keeps a thread of its own in every process.
#if defined(__SANITIZE_THREAD__)
constexpr int RuntimeThreads = 1;
#else
constexpr int RuntimeThreads = 0;
#endif

// How the program's standard output is connected.
enum class TStdout { File, DevFull, Closed, PipeReaderGone, Terminal };

struct TProgramRun {
  explicit TProgramRun(std::vector<std::string> args, TStdout output = TStdout::File)
      : Args(std::move(args)), Output(output) {}
  std::vector<std::string> Args;
  TStdout Output;
  std::vector<std::string> Environment;  // extra NAME=VALUE entries
  int Signal = 0;                        // sent after SignalAfterMs
  int SignalAfterMs = 0;
  int Terminal = -1;  // a terminal for standard error (and for standard output, asked so)
};

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void ConnectStdout(posix_spawn_file_actions_t& actions, TStdout output, const std::string& file,
                   int pipeWrite) {
  switch (output) {
    case TStdout::File:
      posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
      break;
    case TStdout::DevFull:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case TStdout::Closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
    case TStdout::PipeReaderGone:
      posix_spawn_file_actions_adddup2(&actions, pipeWrite, 1);
      break;
    case TStdout::Terminal:
      break;
  }
}

// The program itself, its output in files of the folder.
TRun RunProgram(const TTempFolder& folder, TProgramRun request) {
  request.Args.insert(request.Args.begin(), KORBENIT_CAPTURE);
  std::vector<std::string> environment(
      environ, environ + std::distance(environ, std::find(environ, environ + 4096, nullptr)));
  // First, so that they win over the same names inherited.
  environment.insert(environment.begin(), request.Environment.begin(), request.Environment.end());
  auto argv = Pointers(request.Args);
  auto envp = Pointers(environment);
  int pipeEnds[2];
  EXPECT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[0]);  // nobody reads: writing fails with EPIPE once SIGPIPE is ignored
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  ConnectStdout(actions, request.Output, folder / "out.txt", pipeEnds[1]);
  if (request.Output == TStdout::Terminal)
    posix_spawn_file_actions_adddup2(&actions, request.Terminal, 1);
  if (request.Terminal >= 0)
    posix_spawn_file_actions_adddup2(&actions, request.Terminal, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, (folder / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child starts with SIGPIPE ignored, as under a shell's "trap '' PIPE".
  ::signal(SIGPIPE, SIG_IGN);
  pid_t pid = -1;
  TRun run;
  if (::posix_spawn(&pid, KORBENIT_CAPTURE, &actions, nullptr, argv.data(), envp.data()) == 0) {
    auto stopped = Clock::now();
    if (request.Signal != 0) {
      ::usleep(static_cast<useconds_t>(request.SignalAfterMs) * 1000);
      stopped = Clock::now();
      std::error_code unknown;
      auto tasks = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", unknown);
      run.ThreadsWhenStopped = static_cast<int>(std::distance(tasks, fs::directory_iterator()));
      ::kill(pid, request.Signal);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.StopToEndMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopped).count();
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Signalled = WIFSIGNALED(status);
  }
  ::close(pipeEnds[1]);
  posix_spawn_file_actions_destroy(&actions);
  run.Out = ReadBytes(folder / "out.txt");
  run.Err = ReadBytes(folder / "err.txt");
  fs::remove(folder / "out.txt");
  fs::remove(folder / "err.txt");
  return run;
}

TRun RunProgram(const TTempFolder& folder, std::vector<std::string> args) {
  return RunProgram(folder, TProgramRun(std::move(args)));
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
                        Case{"shot.jpg", "window-q50.jpg", {"--quality=50"}}}) {
    std::vector<std::string> args = {"--port", simulator.Name(), "-o" + folder / c.name};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    TRun run = RunProgram(folder, args);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(ReadBytes(folder / c.name), ReadBytes(folder / c.window)) << c.name;
    EXPECT_EQ(run.Err.rfind("saved " + folder / c.name + " (240 x 320, ", 0), 0u) << run.Err;
    EXPECT_EQ(run.Out, "") << "standard output carries pictures only";
  }
  // The output as the one argument, PNG through libpng.
  TRun run = RunProgram(folder, {"--port=" + simulator.Name(), folder / "shot.png"});
  ASSERT_EQ(run.Exit, 0) << run.Err;
  QImage png(QString::fromStdString(folder / "shot.png"));
  ASSERT_EQ(png.size(), QSize(240, 320));
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 240; ++x) {
      const uint8_t* pixel = reference.Row(y) + 4 * x;
      ASSERT_EQ(png.pixelColor(x, y), QColor(pixel[2], pixel[1], pixel[0])) << x << "," << y;
    }
}

// Every failure is one line of the command line's own words, what failed and why, then
// a hint; a failed capture leaves no file.
TEST(CaptureCommand, AFailureSaysWhatFailedAndWhyInOneLine) {
  TTempFolder folder;
  testing::TSmallFileSystem small(folder, "64k");
  struct TRow {
    std::vector<std::string> Fault;  // the simulator's; none: the port named is used
    std::string Port, Output, Says;
  };
  for (const TRow& row :
       {TRow{{"--fault", "silence:B:*:0"},
             "",
             "a.png",
             ": the device does not answer\nThe device does not answer: is USB"},
        TRow{{"--fault", "wrong-start:B:*:0"},
             "",
             "a.png",
             ": the device's answer is not a picture\nThe device's answer was not a picture"},
        TRow{{"--fault", "length:B:*:0"},
             "",
             "a.png",
             ": the device's answer is not a picture\nThe device's answer was not a picture"},
        TRow{{"--fault", "stall:S:100:0"},
             "",
             "a.png",
             ": the device stopped answering in the middle of the picture\nThe device stopped"},
        TRow{{}, "/tmp", "a.png", "/tmp: Is a directory\nThat is not a serial port"},
        TRow{{}, "/dev/null", "a.png", "/dev/null: Inappropriate ioctl for device\nThat is not"},
        TRow{{},
             "/dev/no-such-korbenit-port",
             "a.png",
             "/dev/no-such-korbenit-port: No such file or directory\nThe port is not there"},
        TRow{
            {}, "", small / "a.bmp", small / "a.bmp: No space left on device\nThe disk is full"}}) {
    SCOPED_TRACE(row.Says);
    std::optional<TSimulatorProcess> simulator;
    std::string port = row.Port;
    if (port.empty()) port = simulator.emplace(KORBENIT_SIMULATOR, row.Fault).Name();
    std::string output = row.Output[0] == '/' ? row.Output : folder / row.Output;
    if (row.Output[0] == '/' && !small.Mounted()) continue;
    TRun run = RunProgram(folder, {"--port", port, "-o", output});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(run.Err.rfind("korbenit-capture: ", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find(row.Says), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(output));
  }
  // The system's list of ports unreadable, as without /sys.
  std::ostringstream out, err;
  TStopRequest stop;
  TCaptureSession session{out, err, false, 0, stop, {folder / "no-sys", folder / "no-ports"}};
  TCaptureOptions options;
  options.List = true;
  EXPECT_EQ(RunCaptureCommand(options, session), 1);
  EXPECT_EQ(err.str(), "korbenit-capture: the list of serial ports: No such file or directory\n");
}

// Standard output that takes nothing is a failure in words, never "saved".
TEST(CaptureCommand, AnOutputThatFailsIsAFailure) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  struct TRow {
    const char* Name;
    TStdout Output;
    std::vector<std::string> Args;
    const char* Error;
  };
  for (const TRow& row :
       {TRow{"full disk", TStdout::DevFull, {"-o", "-"}, "No space left on device"},
        TRow{"closed", TStdout::Closed, {"-o", "-"}, "Bad file descriptor"},
        TRow{"reader gone", TStdout::PipeReaderGone, {"-o", "-"}, "Broken pipe"},
        TRow{"list on a full disk", TStdout::DevFull, {"--list"}, "No space left on device"}}) {
    SCOPED_TRACE(row.Name);
    TProgramRun request(row.Args, row.Output);
    request.Args.insert(request.Args.end(), {"--port", simulator.Name()});
    TRun run = RunProgram(folder, request);
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Err.find(std::string("standard output: ") + row.Error), std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Err.find("saved"), std::string::npos);
    EXPECT_EQ(run.Err.find("is the disk full?"), std::string::npos) << "no file's hint";
  }
}

// Without --port only a port that can be the device is taken: here the machine's own
// ports are hidden behind an empty runtime folder, so the choice is among virtual ports.
TEST(CaptureCommand, WithoutAPortNameOnlyTheDeviceIsChosen) {
  TTempFolder runtime;
  std::string ports = runtime / "korbenit-ports";
  fs::create_directory(ports);
  fs::permissions(ports, fs::perms(0700));
  TPty other;  // another program's virtual port: a bare link, no publisher's lock
  fs::create_symlink(other.SlavePath(), ports + "/bridge");
  TTempFolder folder;
  TProgramRun request({"-o", folder / "shot.png"});
  request.Environment = {"XDG_RUNTIME_DIR=" + runtime.Path().string()};
  TRun run = RunProgram(folder, request);
  EXPECT_EQ(run.Exit, 1) << run.Err;
  EXPECT_EQ(
      run.Err.rfind("korbenit-capture: no device port found\nNo USB serial port is present", 0), 0u)
      << run.Err;
  EXPECT_EQ(other.Receive(100), "") << "nothing was sent to the other program's port";
  {
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
    ::unsetenv("XDG_RUNTIME_DIR");
    run = RunProgram(folder, request);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_TRUE(fs::exists(folder / "shot.png"));
  }
}

// SIGINT, SIGTERM and SIGHUP end the capture with 128 + the signal; the port is set back
// and closed (the next capture works), and no file is left. A device that is silent is
// not waited for.
TEST(CaptureCommand, AStoppedCaptureReleasesThePortAndLeavesNoFile) {
  struct TRow {
    int Signal;
    std::vector<std::string> Fault;
  };
  for (const TRow& row :
       {TRow{SIGINT, {"--delay-us", "20000"}}, TRow{SIGTERM, {"--delay-us", "20000"}},
        TRow{SIGHUP, {"--delay-us", "20000"}}, TRow{SIGINT, {"--fault", "silence:S:*:0"}}}) {
    SCOPED_TRACE(row.Signal);
    TSimulatorProcess simulator(KORBENIT_SIMULATOR, row.Fault);
    TTempFolder folder;
    TProgramRun request({"--port", simulator.Name(), "-o", folder / "shot.bmp"});
    request.Signal = row.Signal;
    request.SignalAfterMs = 600;
    TRun run = RunProgram(folder, request);
    EXPECT_EQ(run.Exit, 128 + row.Signal) << run.Err;
    EXPECT_LT(run.StopToEndMs, 400) << "ends at once, not after the device's time limit";
    EXPECT_EQ(run.ThreadsWhenStopped, 2 + RuntimeThreads) << "the capture and the signal watcher";
    EXPECT_TRUE(run.Signalled) << "ends by the signal, so that a shell loop around it stops";
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(folder.EntryCount(), 0u);
    // The simulator keeps its terminal open, so the line speed left behind is still there.
    int terminal = ::open(simulator.Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    termios2 settings{};
    EXPECT_EQ(::ioctl(terminal, TCGETS2, &settings), 0);
    EXPECT_EQ(settings.c_ospeed, 9600u) << "set back before the port was closed";
    int exclusive = 1;
    EXPECT_EQ(::ioctl(terminal, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port was released";
    ::close(terminal);
  }
}

// --delay waits before the first picture; a signal ends the wait at once, before the
// device is asked.
TEST(CaptureCommand, ADelayWaitsBeforeTheFirstPicture) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  auto started = Clock::now();
  TRun waited = RunProgram(folder, {"-p", simulator.Name(), "--delay", "1", folder / "late.png"});
  EXPECT_EQ(waited.Exit, 0) << waited.Err;
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(1000));
  TProgramRun stopped({"-p", simulator.Name(), "--delay", "30", "-o", folder / "never.png"});
  stopped.Signal = SIGINT;
  stopped.SignalAfterMs = 300;
  TRun run = RunProgram(folder, stopped);
  EXPECT_EQ(run.Exit, 130);
  EXPECT_LT(run.StopToEndMs, 1000);
  EXPECT_FALSE(fs::exists(folder / "never.png"));
}

// A signal ignored when the program starts (nohup, a background job) stays ignored: the
// capture goes on and saves its picture.
TEST(CaptureCommand, ASignalIgnoredAtStartStaysIgnored) {
  for (int signal : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--delay-us", "2000"});
    TTempFolder folder;
    TProgramRun request({"--port", simulator.Name(), "-o", folder / "shot.bmp"});
    request.Signal = signal;
    request.SignalAfterMs = 400;
    auto* kept = ::signal(signal, SIG_IGN);  // inherited by the program as ignored
    TRun run = RunProgram(folder, request);
    ::signal(signal, kept);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_TRUE(fs::exists(folder / "shot.bmp"));
  }
}

// What cannot be written is found before the port is opened (the port named here does
// not exist, so a later check would fail with the port's error instead), and a file that
// exists is replaced only with --force.
TEST(CaptureCommand, OutputsAreCheckedBeforeTheDeviceIsAsked) {
  TTempFolder folder;
  WriteBytes(folder / "plain-file", "x");
  WriteBytes(folder / "old.png", "old");
  WriteBytes(folder / "tour_002.png", "old");
  WriteBytes(folder / "read-only.png", "old");
  fs::permissions(folder / "read-only.png", fs::perms::owner_read);
  fs::create_directory(folder / "folder.png");
  struct TRow {
    std::vector<std::string> Args;
    const char* Says;
  };
  for (const TRow& row : {TRow{{folder / "missing/shot.png"}, "No such file or directory"},
                          TRow{{folder / "plain-file/shot.png"}, "is not a folder"},
                          TRow{{folder / "folder.png"}, "is a folder"},
                          TRow{{folder / "old.png"}, "exists; --force replaces it"},
                          TRow{{folder / "tour.png", "--count", "3"}, "tour_002.png\" exists"},
                          TRow{{folder / (std::string(256, 'n') + ".png")}, "the name is too long"},
                          TRow{{"-f", folder / "read-only.png"}, "is read-only"}}) {
    SCOPED_TRACE(row.Args.front());
    std::vector<std::string> args = row.Args;
    args.insert(args.end(), {"--port", "no-such-korbenit-port"});
    TRun run = RunProgram(folder, args);
    EXPECT_EQ(run.Exit, 2) << run.Err;
    EXPECT_NE(run.Err.find(row.Says), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("no-such-korbenit-port"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(folder / "old.png"), "old");
  TRun forced = RunProgram(folder, {"-f", folder / "old.png", "--port", "no-such-korbenit-port"});
  EXPECT_EQ(forced.Exit, 1) << "checked, then the port fails";
  EXPECT_NE(forced.Err.find("no-such-korbenit-port: No such file"), std::string::npos);
}

// On terminals: a picture is never written onto one, and the progress bar fits one of
// 40 columns whatever it shows.
TEST(CaptureCommand, TerminalsGetWhatFitsThem) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--delay-us", "2000"});
  TTempFolder folder;
  TPty terminal;
  int slave = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  winsize narrow{};
  narrow.ws_col = 40, narrow.ws_row = 24;
  ASSERT_EQ(::ioctl(slave, TIOCSWINSZ, &narrow), 0);
  TProgramRun toTerminal({"-p", simulator.Name(), "-o", "-"}, TStdout::Terminal);
  toTerminal.Terminal = slave;
  EXPECT_EQ(RunProgram(folder, toTerminal).Exit, 2);
  EXPECT_NE(terminal.Receive(500).find("standard output is a terminal"), std::string::npos);
  TProgramRun withBar({"-p", simulator.Name(), folder / "shot.png"});
  withBar.Terminal = slave;
  std::string shown;
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    while (!ended) shown += terminal.Receive(100);
    shown += terminal.Receive(100);
  });
  EXPECT_EQ(RunProgram(folder, withBar).Exit, 0);
  ended = true;
  reader.join();
  ::close(slave);
  int bars = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = shown.find_first_of("\r\n", start)) != std::string::npos;
       start = end + 1) {
    std::string line = shown.substr(start, end - start);
    if (line.rfind("\033[K", 0) == 0) line.erase(0, 3);
    if (line.find("/320 lines") == std::string::npos) continue;
    EXPECT_LT(line.size(), 40u) << line;
    ++bars;
  }
  EXPECT_GT(bars, 0) << shown;
  EXPECT_LT(bars, 100) << "redrawn at most about twenty times a second";
  // A terminal that takes no escape sequences gets no bar, only the line that says saved.
  TProgramRun dumb({"-p", simulator.Name(), "-f", folder / "shot.png"});
  dumb.Terminal = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  dumb.Environment = {"TERM=dumb"};
  EXPECT_EQ(RunProgram(folder, dumb).Exit, 0);
  ::close(dumb.Terminal);
  std::string plain = terminal.Receive(500);
  EXPECT_EQ(plain.find('\033'), std::string::npos) << plain;
  EXPECT_EQ(plain.find("/320 lines"), std::string::npos) << plain;
  EXPECT_NE(plain.find("saved "), std::string::npos) << plain;
}

// An animation's frame count and the sum of its frames' times.
struct TAnimation {
  int Frames = -1;
  int LengthMs = 0;
  int Width = 0;
};

TAnimation GifAnimation(const std::string& path) {
  TAnimation animation;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (gif && DGifSlurp(gif) == GIF_OK) {
    animation.Frames = gif->ImageCount;
    animation.Width = gif->SWidth;
    for (int i = 0; i < gif->ImageCount; ++i) {
      GraphicsControlBlock control{};
      DGifSavedExtensionToGCB(gif, i, &control);
      animation.LengthMs += 10 * control.DelayTime;
    }
  }
  if (gif) DGifCloseFile(gif, &error);
  return animation;
}

TAnimation WebPAnimation(const std::string& path) {
  TAnimation animation;
  std::string bytes = ReadBytes(path);
  WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  WebPIterator frame;
  if (demux && WebPDemuxGetFrame(demux, 1, &frame)) {
    animation.Frames = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT));
    animation.Width = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH));
    do animation.LengthMs += frame.duration;
    while (WebPDemuxNextFrame(&frame));
    WebPDemuxReleaseIterator(&frame);
  }
  WebPDemuxDelete(demux);
  return animation;
}

// A .gif or .webp output holds a series, or a recording of a duration, as one animation
// whose frames' times add up to what was recorded: a series' last frame lasts its period
// (the interval, or the mean time between its captures), a recording lasts its duration
// from its first frame on.
TEST(CaptureCommand, AnAnimationHoldsTheSeriesOrTheDuration) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--moving", "--delay-us", "300"});
  struct TRow {
    std::vector<std::string> Options;
    const char* Name;
    int LeastFrames, MostFrames;
    int LengthMs;  // -1: three times the mean time between captures
  };
  for (const TRow& row : {TRow{{"-c", "3", "-i", "0.4"}, "tour.gif", 3, 3, 1200},
                          TRow{{"-c", "3"}, "three.webp", 3, 3, -1},
                          TRow{{"--duration", "1.5"}, "clip.webp", 3, 100, 1500},
                          TRow{{"--duration", "1.5", "--scale", "2"}, "clip.gif", 3, 100, 1500},
                          TRow{{"--duration", "1.5", "--fps", "1"}, "slow.gif", 1, 2, 1500}}) {
    SCOPED_TRACE(row.Name);
    TTempFolder folder;
    std::vector<std::string> args = {"-p", simulator.Name(), "-o", folder / row.Name};
    args.insert(args.end(), row.Options.begin(), row.Options.end());
    auto started = Clock::now();
    TRun run = RunProgram(folder, args);
    auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    EXPECT_EQ(run.Exit, 0) << run.Err;
    std::string name = row.Name;
    TAnimation animation =
        name.ends_with(".gif") ? GifAnimation(folder / row.Name) : WebPAnimation(folder / row.Name);
    EXPECT_GE(animation.Frames, row.LeastFrames);
    EXPECT_LE(animation.Frames, row.MostFrames);
    bool scaled = std::find(row.Options.begin(), row.Options.end(), "--scale") != row.Options.end();
    EXPECT_EQ(animation.Width, scaled ? 480 : 240);
    if (row.LengthMs >= 0) {
      EXPECT_NEAR(animation.LengthMs, row.LengthMs, 200);
    } else {
      // Three mean gaps; the run held two of them (and the first capture besides).
      EXPECT_LE(animation.LengthMs, tookMs * 3 / 2);
      EXPECT_GT(animation.LengthMs, 3 * 200) << "three captures' worth, not 0.1 s for the last";
    }
  }
}

// An animation that a lost device cuts short keeps what was recorded as a whole file,
// ends with 1 and says the file is incomplete, never "saved".
TEST(CaptureCommand, AnAnimationCutShortIsKeptAndCalledIncomplete) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-c", "6", "-i", "0.5"}, {"--duration", "6"}}) {
    SCOPED_TRACE(options.front());
    TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--moving"});
    TTempFolder folder;
    std::vector<std::string> args = {"-p", simulator.Name(), "-o", folder / "cut.gif"};
    args.insert(args.end(), options.begin(), options.end());
    std::thread unplug([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      simulator.Stop();
    });
    TRun run = RunProgram(folder, args);
    unplug.join();
    EXPECT_EQ(run.Exit, 1) << run.Err;
    EXPECT_NE(run.Err.find("cut.gif ("), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(") is incomplete"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("saved"), std::string::npos) << run.Err;
    EXPECT_GE(GifAnimation(folder / "cut.gif").Frames, 1);
  }
}

// Pictures taken back to back without a name each get one: a name that is taken, within
// the same second, is numbered as the live view's snapshots are.
TEST(CaptureCommand, BackToBackPicturesGetNamesOfTheirOwn) {
  TTempFolder folder;
  fs::path here = fs::current_path();
  fs::current_path(folder.Path());
  std::vector<std::string> taken;
  for (int i = 0; i < 3; ++i) {
    std::vector<std::string> names = OutputNames(TCaptureOptions{});
    ASSERT_EQ(names.size(), 1u);
    EXPECT_FALSE(fs::exists(names[0])) << names[0];
    WriteBytes(names[0], "picture");
    taken.push_back(names[0]);
  }
  fs::current_path(here);
  EXPECT_NE(taken[0], taken[1]);
  EXPECT_NE(taken[1], taken[2]);
}

TEST(CaptureCommand, ASeriesNumbersItsPictures) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  for (const auto& [output, names] : {std::pair<std::string, std::vector<std::string>>{
                                          "menu.png", {"menu_001.png", "menu_002.png"}},
                                      {"shot-%03d.bmp", {"shot-001.bmp", "shot-002.bmp"}}}) {
    TRun run = RunProgram(
        folder, {"-p", simulator.Name(), "-qo", folder / output, "-c", "2", "--interval", "0.1"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out + run.Err, "");
    for (const auto& name : names) EXPECT_TRUE(fs::exists(folder / name)) << name;
  }
  EXPECT_EQ(folder.EntryCount(), 4u);
  // A count of 0 goes on until stopped; each picture kept is whole.
  TProgramRun endless({"-p", simulator.Name(), "-qo", folder / "loop.png", "-c", "0"});
  endless.Signal = SIGINT;
  endless.SignalAfterMs = 1500;
  TRun run = RunProgram(folder, endless);
  EXPECT_TRUE(run.Signalled);
  EXPECT_GE(folder.EntryCount(), 4u + 2u);
  for (const auto& entry : fs::directory_iterator(folder.Path())) {
    if (entry.path().filename().string().rfind("loop_", 0) != 0) continue;
    EXPECT_EQ(QImage(QString::fromStdString(entry.path())).size(), QSize(240, 320)) << entry.path();
  }
}

// Time fields are those of strftime; a bare %d is the day only beside other fields.
TEST(CaptureCommand, NamesTakeTheTimeOfTheStart) {
  std::tm when{};
  when.tm_year = 126, when.tm_mon = 11, when.tm_mday = 9, when.tm_hour = 7, when.tm_min = 5;
  when.tm_sec = 3, when.tm_isdst = -1;
  std::time_t started = std::mktime(&when);
  for (const auto& [output, count, first] : std::vector<std::tuple<std::string, int, std::string>>{
           {"%Y%m%d-%H%M%S.png", 1, "20261209-070503.png"},
           {"%Y%m%d-%H%M%S.png", 3, "20261209-070503_001.png"},
           {"%y-%j_%03d.bmp", 2, "26-343_001.bmp"},
           {"%Y-%d.png", 2, "2026-09_001.png"},
           {"shot%d.png", 2, "shot1.png"},
           {"100%%_%H.png", 1, "100%_07.png"},
           {"rec_%H%M.gif", 3, "rec_0705.gif"}}) {
    TCaptureOptions options;
    options.Output = output, options.Count = count;
    EXPECT_EQ(OutputName(options, 1, started), first) << output;
  }
}

// A capture compared with a reference says match or differ in one line on standard
// output, with the exit status of cmp and diff: 0, 1, and 2 for trouble, which a bad
// reference is before the device is asked.
TEST(CaptureCommand, ACaptureComparedWithAReference) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TSimulatorProcess silent(KORBENIT_SIMULATOR, {"--fault", "silence:B:*:0"});
  TTempFolder folder;
  TPicture model = ModelPicture();
  SavePngFile(model, folder / "same.png");
  TPicture changed = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  for (int y = 0; y < ScreenHeight; ++y)
    std::copy_n(model.Row(y), ScreenWidth * 4, changed.MutableRow(y));
  changed.MutableRow(40)[4 * 30] ^= 0x80;
  SavePngFile(changed, folder / "changed.png");
  SaveJpegFile(model, folder / "same.jpg");
  SavePngFile(TPicture::Blank(100, 100, 32), folder / "small.png");
  struct TRow {
    std::vector<std::string> Args;
    bool Silent;
    int Exit;
    const char* Out;  // the verdict, or what the error names
  };
  for (const TRow& row :
       {TRow{{"--compare", folder / "same.png"}, false, 0, "match\n"},
        TRow{{"--compare", folder / "changed.png"}, false, 1, "differ: 1 pixel in 30,40,1,1\n"},
        TRow{{"--compare", folder / "changed.png", "--mask", "20,30,20,20"}, false, 0, "match\n"},
        TRow{{"--compare", folder / "changed.png", "--max-diff", "1"},
             false,
             0,
             "match: 1 pixel in 30,40,1,1\n"},
        TRow{{"--compare", folder / "same.jpg", "--fuzz", "255"}, false, 0, "match\n"},
        TRow{{"--compare", folder / "same.jpg"}, false, 2, "with --fuzz"},
        TRow{{"--compare", folder / "small.png"}, false, 2, "100 x 100"},
        TRow{{"--compare", folder / "none.png"}, false, 2, "none.png"},
        TRow{{"--compare", folder / "same.png"}, true, 2, "does not answer"}}) {
    SCOPED_TRACE(row.Args[1] + (row.Args.size() > 2 ? " " + row.Args[2] : ""));
    std::vector<std::string> args = row.Args;
    args.insert(args.end(), {"-p", (row.Silent ? silent : simulator).Name()});
    TRun run = RunProgram(folder, args);
    EXPECT_EQ(run.Exit, row.Exit) << run.Err;
    if (row.Exit == 2)
      EXPECT_NE(run.Err.find(row.Out), std::string::npos) << run.Err;
    else
      EXPECT_EQ(run.Out, row.Out);
  }
  // The differences as a picture, and both pictures enlarged with crisp pixels.
  TRun drawn = RunProgram(
      folder, {"--compare", folder / "changed.png", "--mask", "0,0,10,10", "--diff",
               folder / "diff.png", "--scale", "2", "-p", simulator.Name(), folder / "shot.png"});
  EXPECT_EQ(drawn.Exit, 1) << drawn.Err;
  QImage diff(QString::fromStdString(folder / "diff.png")),
      shot(QString::fromStdString(folder / "shot.png"));
  ASSERT_EQ(diff.size(), QSize(480, 640));
  EXPECT_EQ(diff.pixelColor(61, 81), QColor(255, 0, 0)) << "the differing pixel, 2 x 2";
  EXPECT_EQ(diff.pixelColor(0, 0), QColor(0, 0, 255)) << "the mask's outline";
  EXPECT_EQ(diff.pixelColor(100, 200).red(), diff.pixelColor(100, 200).blue()) << "grey elsewhere";
  ASSERT_EQ(shot.size(), QSize(480, 640));
  for (auto [x, y] : {std::pair{0, 0}, {17, 33}, {239, 319}}) {
    const uint8_t* pixel = model.Row(y) + 4 * x;
    QColor expected(pixel[2], pixel[1], pixel[0]);
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx) EXPECT_EQ(shot.pixelColor(2 * x + dx, 2 * y + dy), expected);
  }
  // The count is ImageMagick's absolute error count on the same two pictures.
  // Every thirteenth pixel or so has the lowest bit of each colour turned.
  TDeviceModel device;
  TFrame other;
  for (int y = 0; y < ScreenHeight; ++y)
    for (int x = 0; x < ScreenWidth; ++x)
      other.Pixels[ScreenWidth * y + x] =
          device.Pixel(x, y) ^ ((x * 7 + y * 3) % 13 == 0 ? 0x0821 : 0);
  SavePngFile(PictureOf(other), folder / "other.png");
  TRun counted = RunProgram(
      folder, {"--compare", folder / "other.png", "-p", simulator.Name(), folder / "plain.png"});
  ASSERT_EQ(counted.Exit, 1) << counted.Err;
  std::string command = "compare -metric AE '" + (folder / "plain.png") + "' '" +
                        (folder / "other.png") + "' null: 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> magick(::popen(command.c_str(), "r"), ::pclose);
  char answer[64] = {};
  ASSERT_TRUE(magick && std::fgets(answer, sizeof answer, magick.get())) << "ImageMagick's compare";
  EXPECT_EQ(counted.Out.substr(0, counted.Out.find(' ', 8)), "differ: " + std::string(answer))
      << counted.Out << " against ImageMagick's " << answer;
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--fuzz", "5"},
                                             {"--diff", "d.png"},
                                             {"--compare", "r.png", "--diff", "d.bmp"},
                                             {"--scale", "9"},
                                             {"--scale", "0"},
                                             {"--compare", "r.png", "--mask", "0,0,241,1"},
                                             {"--compare", "r.png", "--mask", "1,2,3"},
                                             {"--compare", "r.png", "-c", "2", "s.png"},
                                             {"--compare", "r.png", "a.gif"},
                                             {"--compare", ""}})
    EXPECT_THROW(ParseCaptureOptions(args), EUsage) << args[0] << " " << args[1];
}

// Waits on the live screen: for a frame the moving simulator will show, for one it never
// shows, and for a screen that stands still; each says how long it waited.
TEST(CaptureCommand, AWaitEndsWhenTheScreenComesOrAfterItsTimeout) {
  TSimulatorProcess moving(KORBENIT_SIMULATOR, {"--moving"});
  TSimulatorProcess still(KORBENIT_SIMULATOR, {});
  TTempFolder folder;
  auto save = [&](const std::vector<uint16_t>& words, const std::string& name) {
    TFrame frame;
    std::copy(words.begin(), words.end(), frame.Pixels.begin());
    SavePngFile(PictureOf(frame), folder / name);
  };
  save(TDeviceModel::MovingScreen(4), "fourth.png");
  save(TDeviceModel::TestPattern(), "never.png");
  struct TRow {
    std::vector<std::string> Args;
    const TSimulatorProcess& Device;
    int Exit;
    const char* Says;
  };
  for (const TRow& row :
       {TRow{{"--wait-for", folder / "fourth.png", "--timeout", "20", folder / "came.png"},
             moving,
             0,
             "matched after "},
        TRow{
            {"--wait-for", folder / "never.png", "--timeout", "2"}, moving, 1, "no match after 2."},
        TRow{{"--wait-stable", "0.5", "--timeout", "20"}, still, 0, "stable after "},
        TRow{{"--wait-stable", "1", "--timeout", "2"}, moving, 1, "not stable after 2."}}) {
    SCOPED_TRACE(row.Args[0] + " " + row.Args[1]);
    std::vector<std::string> args = row.Args;
    args.insert(args.end(), {"-p", row.Device.Name()});
    TRun run = RunProgram(folder, args);
    EXPECT_EQ(run.Exit, row.Exit) << run.Err;
    EXPECT_EQ(run.Out.rfind(row.Says, 0), 0u) << run.Out;
  }
  TRun check = RunProgram(folder, {"--compare", folder / "fourth.png", "-p", still.Name()});
  EXPECT_EQ(check.Exit, 1) << "the still screen is not the fourth frame";
  QImage came(QString::fromStdString(folder / "came.png"));
  QImage fourth(QString::fromStdString(folder / "fourth.png"));
  EXPECT_TRUE(came == fourth) << "the matching frame is the one saved";
  // A series on change: a moving screen gives a picture per frame, a still one only one.
  for (const auto& [device, options, kept] :
       std::vector<std::tuple<const TSimulatorProcess*, std::vector<std::string>, int>>{
           {&moving, {"-c", "3"}, 3}, {&still, {"--duration", "3"}, 1}}) {
    TTempFolder series;
    std::vector<std::string> args = {"-q",           "--on-change", "-p",
                                     device->Name(), "-o",          series / "change.png"};
    args.insert(args.end(), options.begin(), options.end());
    TRun run = RunProgram(series, args);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(static_cast<int>(series.EntryCount()), kept) << options[0];
    EXPECT_TRUE(fs::exists(series / "change_001.png"));
  }
}

// A fake /sys/class/tty with one USB serial device and a virtual port.
struct TFakeSysfs {
  TTempFolder Root;
  TPortListSources Sources{Root / "class", Root / "virtual"};
  TFakeSysfs() {
    fs::path usb = Root.Path() / "devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    for (auto [name, value] : {std::pair{"idVendor", "0403"},
                               {"idProduct", "6001"},
                               {"manufacturer", "FTDI"},
                               {"product", "FT232R USB UART"},
                               {"serial", "A50285BI"}})
      testing::WriteBytes((usb / name).string(), std::string(value) + "\n");
    fs::create_directories(Root.Path() / "class/ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", Root.Path() / "class/ttyUSB0/device");
    fs::create_directories(Root.Path() / "class/ttyS0/device");
    testing::WriteBytes((Root.Path() / "class/ttyS0/type").string(), "4\n");
    fs::create_directories(Root.Path() / "virtual");
    fs::permissions(Root.Path() / "virtual", fs::perms(0700));
    fs::create_symlink("/dev/null", Root.Path() / "virtual/korbenit-sim");
  }
};

TEST(CaptureCommand, ListsThePortsWithWhatIsKnownAboutThem) {
  TFakeSysfs sysfs;
  std::ostringstream out, err;
  TStopRequest stop;
  TCaptureSession session{out, err, false, 0, stop, sysfs.Sources};
  TCaptureOptions options;
  options.List = true;
  EXPECT_EQ(RunCaptureCommand(options, session), 0);
  EXPECT_EQ(
      out.str(),
      "korbenit-sim\tvirtual\nttyS0\nttyUSB0\tFTDI FT232R USB UART, 0403:6001, serial A50285BI\n");
  // Of three ports only the USB one can be the device: it is chosen (and fails to open).
  options.List = false;
  options.Output = "-";
  EXPECT_EQ(RunCaptureCommand(options, session), 1);
  EXPECT_EQ(err.str().rfind("korbenit-capture: ttyUSB0: No such file or directory\n", 0), 0u)
      << err.str();
}

TEST(CaptureCommand, UsageErrorsAreRefusedInOneLine) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"-o", "shot.tif"},
                                             {"-o", "shot"},
                                             {"--quality", "0"},
                                             {"--quality", "101"},
                                             {"--count", "0", "-o", "-"},
                                             {"--count", "0", "--duration", "2", "a.gif"},
                                             {"-o", "shot_%Y_%q.png"},
                                             {"-c", "2", "-o", "%03d_%d.png"},
                                             {"--count", "2", "-o", "-"},
                                             {"--interval", "-1"},
                                             {"--port"},
                                             {"--bogus"},
                                             {"-x"},
                                             {"a.png", "b.png"},
                                             {"-o", "a.png", "b.png"},
                                             {"--interval", "2"},
                                             {"--count", "1", "--interval", "2"},
                                             {"-o", "shot_%s.png"},
                                             {"-o", "shot_%d_%d.png"},
                                             {"--duration", "2", "-o", "a.png"},
                                             {"--fps", "5", "a.jpg"},
                                             {"--duration", "2", "--count", "3", "a.gif"},
                                             {"--fps", "0", "a.gif"},
                                             {"-c", "3", "-o", "w%100d.png"},
                                             {"-c", "3", "-o", "w%10d.png"},
                                             {"-o", "w%0123d.png"},
                                             {"--port", ""},
                                             {"-c", " 5"},
                                             {"-c", "+2"},
                                             {"-c", "0x10"},
                                             {"-c", "2", "-i", "0x1p-1"},
                                             {"--duration", "0.1", "a.gif"},
                                             {"--quality", "80", "a.png"},
                                             {"--quality", "80"},
                                             {"-o", "anim_%03d.gif"},
                                             {"--list=foo"},
                                             {"--qu", "5"},
                                             {"--delay", "-1"},
                                             {"--serve", "shot.png"},
                                             {"--serve", "-c", "2"},
                                             {"--serve=8080", "--compare", "r.png"},
                                             {"--serve", "--quality", "80"},
                                             {"--token", "t"},
                                             {"--serve", "--token", ""}}) {
    std::string joined;
    for (const auto& arg : args) joined += arg + " ";
    EXPECT_THROW(ParseCaptureOptions(args), EUsage) << joined;
  }
  TCaptureOptions bundled = ParseCaptureOptions({"-qfoshot.png", "--port=ttyACM0", "-c", "3"});
  EXPECT_TRUE(bundled.Quiet && bundled.Force);
  EXPECT_EQ(bundled.Output, "shot.png");
  EXPECT_EQ(bundled.Port, "ttyACM0");
  EXPECT_EQ(bundled.Count, 3);
  // A served address may stand after --serve, as a picture's name would.
  for (const auto& [args, address] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--serve"}, "127.0.0.1:8765"},
           {{"--serve", "8080"}, "8080"},
           {{"--serve", "0.0.0.0:80", "--token", "t"}, "0.0.0.0:80"},
           {{"--serve=[::1]:81"}, "[::1]:81"}})
    EXPECT_EQ(ParseCaptureOptions(args).Serve, address);
  TTempFolder folder;
  TRun run = RunProgram(folder, {"-o", "shot.tif"});
  EXPECT_EQ(run.Exit, 2);
  EXPECT_EQ(run.Err,
            "korbenit-capture: \"shot.tif\": the name must end in .bmp, .jpg, .jpeg, .png, .gif or "
            ".webp; see --help\n");
  // Each refusal names the option as it was typed, and what is wrong with it.
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--port"}, "--port needs a value"},
           {{"-p"}, "-p needs a value"},
           {{"--list=foo"}, "--list takes no value"},
           {{"--qu", "5"}, "ambiguous option --qu (--quality, --quiet)"},
           {{"--bogus"}, "unknown option --bogus"}}) {
    EXPECT_EQ(RunProgram(folder, args).Err, "korbenit-capture: " + says + "; see --help\n");
  }
  std::string version = RunProgram(folder, {"--version"}).Out;
  EXPECT_EQ(version.rfind("korbenit-capture 1.0\nCopyright (C) 2026 ", 0), 0u) << version;
  EXPECT_NE(version.find("License: Expat"), std::string::npos);
  EXPECT_NE(RunProgram(folder, {"--help"}).Out.find("Report bugs to: "), std::string::npos);
  // A --help or --version that cannot be written is a failure in words.
  for (const char* option : {"--help", "--version"}) {
    TRun full = RunProgram(folder, TProgramRun({option}, TStdout::DevFull));
    EXPECT_EQ(full.Exit, 1) << option;
    EXPECT_EQ(full.Err, "korbenit-capture: standard output: No space left on device\n") << option;
  }
  EXPECT_EQ(SeriesName("dir.v2/menu.png", 7), "dir.v2/menu_007.png");
  EXPECT_EQ(SeriesName("menu", 12), "menu_012");
  EXPECT_EQ(SeriesName("shot%%-%4d.png", 12), "shot%-  12.png");
  EXPECT_EQ(SeriesName("w%09d.png", 3), "w000000003.png");
}

}  // namespace
}  // namespace korbenit
