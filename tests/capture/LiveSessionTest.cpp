#include "LiveSession.h"

#include <webp/demux.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "DeviceModel.h"
#include "DeviceSession.h"
#include "Recording.h"
#include "SmallFileSystem.h"
#include "SimulatorProcess.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

// Keeps what the session tells, from its thread, for the test's.
class TCollectingView : public TLiveView {
 public:
  void LineArrived(int, const TScreenLine&) override { ++Lines; }
  void FrameArrived(std::shared_ptr<const TFrame> frame) override {
    std::lock_guard lock(FMutex);
    Frames.push_back(std::move(frame));
    FChanged.notify_all();
  }
  void Failed(const TFailure& failure) override {
    std::lock_guard lock(FMutex);
    Failures.push_back(failure.Message);
    FChanged.notify_all();
  }
  void Retrying() override { ++Retries; }

  // Waits until done() holds, at most ten seconds.
  template <typename TDone>
  bool WaitFor(TDone done) {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::atomic<int> Lines{0}, Retries{0};
  std::vector<std::shared_ptr<const TFrame>> Frames;
  std::vector<std::string> Failures;

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
};

// The moving screen's frame n as the live session must hold it.
bool ShowsMovingFrame(const TFrame& frame, int n) {
  std::vector<uint16_t> screen = TDeviceModel::MovingScreen(n);
  for (std::size_t i = 0; i < screen.size(); ++i)
    if (frame.Pixels[i] != screen[i]) return false;
  return true;
}

// The line speed and exclusive mark a terminal was left with.
struct TTerminalState {
  uint32_t Speed = 0;
  int Exclusive = -1;
};

TTerminalState StateOf(const std::string& link) {
  TTerminalState state;
  int terminal = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios2 settings{};
  if (terminal >= 0 && ::ioctl(terminal, TCGETS2, &settings) == 0) state.Speed = settings.c_ospeed;
  if (terminal >= 0) ::ioctl(terminal, TIOCGEXCL, &state.Exclusive);
  ::close(terminal);
  return state;
}

// Each frame is the transfer's whole sequence, every pixel exact, over one opening.
TEST(LiveSession, FramesArePixelExactAndEachIsTheWholeSequence) {
  testing::TTempFolder folder;
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--moving", "--log"}, folder / "commands.log");
  TCollectingView view;
  TLiveSession session(simulator.Name(), view);
  session.Start();
  ASSERT_TRUE(view.WaitFor([&] { return view.Frames.size() >= 3; }));
  session.Stop();
  simulator.Stop();
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(view.Frames[i]->Number, i + 1);
    EXPECT_TRUE(ShowsMovingFrame(*view.Frames[i], static_cast<int>(i + 1))) << "frame " << i + 1;
  }
  EXPECT_LT(view.Frames[0]->Captured, view.Frames[1]->Captured);
  std::ifstream log(folder / "commands.log");
  std::vector<std::string> commands;
  for (std::string line; std::getline(log, line);)
    if (line.rfind("paced", 0) != 0) commands.push_back(line);
  ASSERT_GE(commands.size(), 3u * 322);
  for (std::size_t frame = 0; frame < 3; ++frame) {
    std::size_t at = frame * 322;
    EXPECT_EQ(commands[at], "B");
    EXPECT_EQ(commands[at + 1], "I");
    for (int line = 0; line < ScreenHeight; ++line)
      ASSERT_EQ(commands[at + 2 + static_cast<std::size_t>(line)], "S " + std::to_string(line));
  }
  EXPECT_TRUE(view.Failures.empty());
}

// A stop comes within a line, also while the device is awaited, and leaves the port
// set back and released.
TEST(LiveSession, AStopEndsWithinALineAndReleasesThePort) {
  for (const std::vector<std::string>& device :
       {std::vector<std::string>{"--delay-us", "20000"}, {"--fault", "silence:S:5:0"}}) {
    SCOPED_TRACE(device.front());
    TSimulatorProcess simulator(KORBENIT_SIMULATOR, device);
    TCollectingView view;
    TLiveSession session(simulator.Name(), view);
    session.Start();
    while (view.Lines < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto asked = Clock::now();
    session.Stop();
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(200));
    TTerminalState state = StateOf(simulator.Link());
    EXPECT_EQ(state.Speed, 9600u);
    EXPECT_EQ(state.Exclusive, 0);
    EXPECT_TRUE(view.Failures.empty());
  }
}

// The device goes away (the simulator ends) and comes back under the same name: the
// failure is told once the port is closed, and the frames resume without a word.
TEST(LiveSession, AFailedDeviceIsTriedAgainUntilItAnswers) {
  std::string name = "live-" + std::to_string(::getpid());
  TCollectingView view;
  TLiveSession session(name, view);
  auto simulator = std::make_unique<TSimulatorProcess>(KORBENIT_SIMULATOR,
                                                       std::vector<std::string>{"--name", name});
  session.Start();
  ASSERT_TRUE(view.WaitFor([&] { return !view.Frames.empty(); }));
  simulator.reset();
  ASSERT_TRUE(view.WaitFor([&] { return !view.Failures.empty(); }));
  std::size_t before = view.Frames.size();
  simulator = std::make_unique<TSimulatorProcess>(KORBENIT_SIMULATOR,
                                                  std::vector<std::string>{"--name", name});
  EXPECT_TRUE(view.WaitFor([&] { return view.Frames.size() > before + 1; }));
  EXPECT_GE(view.Retries, 1);
  session.Stop();
}

// Live frames recorded as they come: the file holds every frame captured (also when the
// device is lost in the middle), each pixel exact in WebP, the delays the real times.
TEST(Recording, HoldsTheFramesCapturedWithTheirTimes) {
  for (bool deviceLost : {false, true}) {
    SCOPED_TRACE(deviceLost ? "device lost" : "stopped");
    testing::TTempFolder folder;
    auto simulator = std::make_unique<TSimulatorProcess>(
        KORBENIT_SIMULATOR, std::vector<std::string>{"--moving", "--delay-us", "300"});
    TCollectingView view;
    TLiveSession session(simulator->Name(), view);
    TRecording recording(folder / "clip.webp", TAnimationFormat::WebP);
    session.Start();
    ASSERT_TRUE(view.WaitFor([&] { return view.Frames.size() >= 4; }));
    if (deviceLost) {
      simulator.reset();
      ASSERT_TRUE(view.WaitFor([&] { return !view.Failures.empty(); }));
    }
    session.Stop();
    auto end = Clock::now();
    for (const auto& frame : view.Frames) recording.Add(frame);
    EXPECT_EQ(recording.Finish(end).Message, "");
    std::string bytes = testing::ReadBytes(folder / "clip.webp");
    WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    ASSERT_TRUE(decoder);
    std::size_t frames = 0;
    int ends = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
      uint8_t* rgba = nullptr;
      WebPAnimDecoderGetNext(decoder.get(), &rgba, &ends);
      const TFrame& sent = *view.Frames[frames++];
      bool exact = true;
      for (std::size_t i = 0; i < sent.Pixels.size() && exact; ++i)
        exact = MakeColor(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]) ==
                ConvertPixel(sent.Pixels[i]);
      EXPECT_TRUE(exact) << "frame " << frames;
    }
    EXPECT_EQ(frames, view.Frames.size());
    auto length =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - view.Frames.front()->Captured);
    EXPECT_LE(std::abs(ends - length.count()), 10 * static_cast<long>(frames)) << ends << " ms";
  }
}

// A disk about to be full ends the recording while its file can still be finished: the
// frames so far stand whole under its name, and the failure says the disk is full.
TEST(Recording, ADiskAboutToBeFullKeepsWhatWasRecorded) {
  testing::TTempFolder folder;
  testing::TSmallFileSystem disk(folder, "1536k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a file system here";
  for (auto format : {TAnimationFormat::Gif, TAnimationFormat::WebP}) {
    std::string path = disk / (format == TAnimationFormat::Gif ? "clip.gif" : "clip.webp");
    SCOPED_TRACE(path);
    TRecording recording(path, format);
    std::mt19937 random(5);
    auto start = Clock::now();
    int added = 0;
    for (; added < 60 && !recording.Failed(); ++added) {
      auto frame = std::make_shared<TFrame>();
      for (auto& word : frame->Pixels) word = static_cast<uint16_t>(random());
      frame->Captured = start + std::chrono::milliseconds(300 * added);
      recording.Add(frame);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    TFailure failure = recording.Finish(start + std::chrono::milliseconds(300 * added));
    EXPECT_EQ(failure.Kind, TFailureKind::DiskFull) << failure.Message;
    EXPECT_TRUE(recording.Kept());
    std::string bytes = testing::ReadBytes(path);
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_EQ(bytes.substr(0, 4), format == TAnimationFormat::Gif ? "GIF8" : "RIFF");
    if (format == TAnimationFormat::WebP) {
      WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
      std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemux(&data),
                                                                 WebPDemuxDelete);
      ASSERT_TRUE(demux);
      EXPECT_GE(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT), 1u);
      if (::access("/usr/bin/webpinfo", X_OK) == 0) {
        EXPECT_EQ(std::system(("/usr/bin/webpinfo -quiet " + path).c_str()), 0);
      }
    } else {
      EXPECT_EQ(bytes.back(), ';') << "the GIF's end";
    }
    std::filesystem::remove(path);
  }
}

// A stop asked from another thread at any moment (opening, settling, in a line, between
// frames) ends the capture, the live session or the recording and leaves the port set
// back and released. The thread sanitizer's run repeats it 200 times (KORBENIT_STOP_ROUNDS).
TEST(Stop, FromAnotherThreadAtAnyMomentLeavesThePortSetBack) {
  const char* rounds = std::getenv("KORBENIT_STOP_ROUNDS");
  int count = rounds ? std::atoi(rounds) : 5;
  testing::TTempFolder folder;
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--moving"});
  auto wait = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  auto stopFromAnotherThread = [](const std::function<void()>& stop) { std::thread(stop).join(); };
  auto capture = [&](int stopAfter) {
    TSerialPort port;
    port.SetEvents({});
    TStopToken stop;
    std::thread owner([&] {
      TDeviceSession session(port, stop);
      try {
        session.Open(simulator.Name());
        session.Settle();
        for (;;) session.FetchFrame([](int, const TScreenLine&) {});
      } catch (const TFrameStopped&) {
      } catch (const std::exception& e) {
        EXPECT_TRUE(stop.Requested()) << e.what();
      }
    });
    wait(stopAfter);
    stop.Request();
    owner.join();
  };
  auto live = [&](int stopAfter) {
    TCollectingView view;
    TLiveSession session(simulator.Name(), view);
    session.Start();
    wait(stopAfter);
    stopFromAnotherThread([&] { session.Stop(); });
    EXPECT_TRUE(view.Failures.empty());
  };
  auto record = [&](int stopAfter) {
    struct TRecordingView : TCollectingView {
      TRecording* Recording = nullptr;
      void FrameArrived(std::shared_ptr<const TFrame> frame) override { Recording->Add(frame); }
    } view;
    TRecording recording(folder / "stop.gif", TAnimationFormat::Gif);
    view.Recording = &recording;
    TLiveSession session(simulator.Name(), view);
    session.Start();
    wait(stopAfter);
    stopFromAnotherThread([&] { session.Stop(); });
    recording.Finish(Clock::now());
  };
  std::mt19937 random(7);
  std::uniform_int_distribution<int> moment(0, 400);
  const std::pair<const char*, std::function<void(int)>> cases[] = {
      {"capture", capture}, {"live", live}, {"record", record}};
  for (const auto& [name, run] : cases)
    for (int round = 0; round < count; ++round) {
      SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
      run(moment(random));
      TTerminalState state = StateOf(simulator.Link());
      EXPECT_EQ(state.Speed, 9600u);
      EXPECT_EQ(state.Exclusive, 0);
    }
}

}  // namespace
}  // namespace korbenit
