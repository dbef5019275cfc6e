// Live view benchmark: the real live window (offscreen) mirroring the simulator's moving
// screen, paced like the wire. Prints key=value lines: the frame period against the
// simulator's own frame time, frames per second, the process's CPU against wall time,
// its RSS after the first frame and at the end, and how late the window's event loop
// handles an event (what a key press or a resize waits). With --record S it records a WebP
// for S seconds instead and measures the event loop's longest stall while the recording
// ends (what the window makes its user wait for the file).
//   korbenit-live-bench [--frames N] [--delay-us N] [--record SECONDS]
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Measure.h"
#include "SimulatorProcess.h"
#include "uLive.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  int frames = 1000;
  long delayUs = 856;
  double recordSeconds = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--frames")
      frames = std::max(2, std::stoi(argv[i + 1]));
    else if (arg == "--delay-us")
      delayUs = std::stol(argv[i + 1]);
    else if (arg == "--record")
      recordSeconds = std::stod(argv[i + 1]);
  }
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("korbenit-live-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string log = "/tmp/korbenit-live-bench-" + std::to_string(::getpid()) + ".log";
  korbenit::TSimulatorProcess device(KORBENIT_SIMULATOR,
                                     {"--moving", "--delay-us", std::to_string(delayUs)}, log);
  korbenit::TLiveHost host;
  host.Port = [&] { return device.Name(); };
  host.SnapshotFolder = [&] { return QString::fromStdString(folder.string()); };
  korbenit::TLive live(host);
  live.cbRecordFormat->setCurrentIndex(1);  // WebP
  if (!getenv("KORBENIT_BENCH_HIDDEN")) live.show();
  live.Start();

  using korbenit::CpuSeconds;
  using korbenit::RssMegabytes;
  double rssStart = 0, cpuStart = 0;
  Clock::time_point wallStart, firstFrame, lastFrame;
  uint64_t first = 0;
  std::vector<double> eventDelays;
  QTimer probe;  // how late the loop takes an event posted now
  QObject::connect(&probe, &QTimer::timeout, [&] {
    auto posted = Clock::now();
    QMetaObject::invokeMethod(
        &live,
        [&, posted] {
          eventDelays.push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
        },
        Qt::QueuedConnection);
  });
  probe.start(97);
  // While a recording ends: the longest gap between ticks of a 1 ms timer.
  Clock::time_point recordStart, endAsked, lastTick;
  double endCallMs = 0, longestStallMs = 0, endTotalMs = 0;
  QTimer stall;
  QObject::connect(&stall, &QTimer::timeout, [&] {
    auto now = Clock::now();
    longestStallMs =
        std::max(longestStallMs, std::chrono::duration<double, std::milli>(now - lastTick).count());
    lastTick = now;
    if (!live.StatusText().startsWith("Recorded: ")) return;
    endTotalMs = std::chrono::duration<double, std::milli>(now - endAsked).count();
    app.quit();
  });
  auto watchRecording = [&] {
    if (!live.Recording() && recordStart == Clock::time_point{}) {
      recordStart = Clock::now();
      live.ToggleRecording();
    } else if (live.Recording() &&
               Clock::now() - recordStart >= std::chrono::duration<double>(recordSeconds)) {
      endAsked = Clock::now();
      live.ToggleRecording();
      lastTick = Clock::now();
      endCallMs = std::chrono::duration<double, std::milli>(lastTick - endAsked).count();
      longestStallMs = endCallMs;
      stall.start(1);
    }
  };
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    uint64_t number = live.FrameNumber();
    if (number == 0) return;
    if (first == 0) {
      first = number;
      firstFrame = Clock::now();
      wallStart = firstFrame;
      cpuStart = CpuSeconds();
      rssStart = RssMegabytes();
    }
    lastFrame = Clock::now();
    if (recordSeconds > 0)
      watchRecording();
    else if (number >= first + static_cast<uint64_t>(frames))
      app.quit();
  });
  watch.start(20);
  app.exec();
  double cpu = CpuSeconds() - cpuStart;
  double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  double rssEnd = RssMegabytes();
  live.close();
  device.Stop();
  double lineUs = korbenit::LoggedLinePace(log);
  std::remove(log.c_str());
  std::filesystem::remove_all(folder);
  if (recordSeconds > 0) {
    std::printf("record_seconds=%.0f\nrecord_end_call_ms=%.1f\n", recordSeconds, endCallMs);
    std::printf("record_end_longest_stall_ms=%.1f\nrecord_end_total_ms=%.1f\n", longestStallMs,
                endTotalMs);
    return 0;
  }
  double periodMs =
      std::chrono::duration<double, std::milli>(lastFrame - firstFrame).count() / frames;
  // The simulator's own frame: its 320 paced lines; B and I are answered at once.
  double simulatorFrameMs = korbenit::ScreenHeight * lineUs / 1000;
  std::printf("frames=%d\nline_delay_us=%ld\nsimulator_line_us=%.1f\n", frames, delayUs, lineUs);
  std::printf("frame_ms=%.1f\nsimulator_frame_ms=%.1f\nframe_to_simulator=%.3f\n", periodMs,
              simulatorFrameMs, periodMs / simulatorFrameMs);
  std::printf("frames_per_second=%.2f\ncpu_to_wall=%.3f\n", 1000 / periodMs, cpu / wall);
  std::printf("rss_mb_first_frame=%.1f\nrss_mb_end=%.1f\nrss_growth_mb=%.1f\n", rssStart, rssEnd,
              rssEnd - rssStart);
  std::printf("event_delay_ms_median=%.1f\nevent_delay_ms_p99=%.1f\nevent_delay_ms_max=%.1f\n",
              Percentile(eventDelays, 0.5), Percentile(eventDelays, 0.99),
              Percentile(eventDelays, 1.0));
  return 0;
}
