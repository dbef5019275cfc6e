// Capture benchmark: the real transfer through TSerialPort against the device simulator
// on a pseudo-terminal. Prints key=value lines. With --keep-going it is also the soak:
// failed captures are counted by their message and line, and the runs go on.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "DeviceCapture.h"
#include "Measure.h"
#include "ScreenTransfer.h"
#include "SerialPort.h"
#include "SimulatorProcess.h"
#include "Synchronizer.h"

namespace {

using namespace korbenit;

// Bytes on the wire for one capture: every command and every answer frame.
constexpr double WireBytes =
    2 + 2 + 4.0 * ScreenHeight + 2 * (4 + 2) + ScreenHeight * (4.0 + LinePayloadSize);
constexpr double WireMilliseconds = WireBytes * 10 / CaptureBaudRate * 1000;

// A window that paints nowhere. The 200 ms settling pause after opening is a fixed wait
// of the window, not a cost of the transfer, so it is left out.
class TBenchView : public TCaptureView {
 public:
  explicit TBenchView(std::string port) : FPort(std::move(port)) {}
  std::string Status;
  int Lines = 0;
  std::string SelectedPort() const override { return FPort; }
  void ClearPicture() override { Lines = 0; }
  void PaintLine(int, const TLineColours&) override { ++Lines; }
  void SetSaveAsEnabled(bool) override {}
  void SetStatusText(const std::string& text) override { Status = text; }
  void SetLampOpen(bool) override {}
  void ProcessMessages() override { TSynchronizer::Main().Serve(); }
  void Beep() override {}
  void Pause(int) override {}
  bool StopRequested() const override { return false; }

 private:
  std::string FPort;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  auto n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 10;
  long delayUs = 0;
  std::string simulator = KORBENIT_SIMULATOR;
  bool events = true;
  bool keepGoing = false;
  int stray = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keep-going")
      keepGoing = true;
    else if (i + 1 == argc)
      break;
    else if (arg == "--runs")
      runs = std::max(1, std::stoi(argv[++i]));
    else if (arg == "--delay-us")
      delayUs = std::stol(argv[++i]);
    else if (arg == "--simulator")
      simulator = argv[++i];
    else if (arg == "--events")
      events = std::string(argv[++i]) != "none";
    else if (arg == "--stray")
      stray = std::stoi(argv[++i]);
  }
  try {
    std::vector<std::string> options = {"--delay-us", std::to_string(delayUs)};
    if (stray > 0) options.insert(options.end(), {"--fault", "stray:S:*:" + std::to_string(stray)});
    std::string simulatorLog = "/tmp/korbenit-bench-" + std::to_string(::getpid()) + ".log";
    TSimulatorProcess device(simulator, options, simulatorLog);
    std::vector<double> walls, cpus;
    std::map<std::string, int> failures;
    for (int run = 0; run < runs; ++run) {
      TSerialPort port;
      if (!events) port.SetEvents({});
      TBenchView view(device.Link());
      auto start = std::chrono::steady_clock::now();
      double cpuStart = CpuSeconds();
      TScreenTransfer(port, view).Run();
      double cpu = CpuSeconds() - cpuStart;
      std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
      if (!view.Status.empty() || view.Lines != ScreenHeight) {
        std::string failure = view.Status + " at line " + std::to_string(view.Lines);
        std::cerr << "capture " << run + 1 << " failed: " << failure << "\n";
        if (!keepGoing) return 1;
        ++failures[failure];
        continue;
      }
      walls.push_back(wall.count());
      cpus.push_back(cpu * 1000);
    }
    // The command line's capture of the same device: one device session without an
    // event thread, its settling pause included (a sleep, no CPU).
    std::vector<double> commandCpus;
    for (int run = 0; run < runs && !keepGoing; ++run) {
      TStopRequest stop;
      TFailure failure;
      double cpuStart = CpuSeconds();
      if (CaptureFrame(device.Link(), stop, [](int, const TScreenLine&) {}, failure) !=
          TOutcome::Saved) {
        std::cerr << "command line capture " << run + 1 << " failed: " << failure.Message << "\n";
        return 1;
      }
      commandCpus.push_back((CpuSeconds() - cpuStart) * 1000);
    }
    int failed = 0;
    for (const auto& [failure, count] : failures) failed += count;
    std::printf("stray_bytes=%d\nfailures=%d\n", stray, failed);
    for (const auto& [failure, count] : failures)
      std::printf("failure=%d x %s\n", count, failure.c_str());
    device.Stop();
    double simulatorLineUs = LoggedLinePace(simulatorLog);
    std::remove(simulatorLog.c_str());
    if (walls.empty()) return 1;
    double wall = Median(walls), cpu = Median(cpus);
    std::printf("events=%s\n", events ? "all" : "none");
    std::printf("runs=%d\nline_delay_us=%ld\nwire_ms=%.1f\nwall_ms_median=%.1f\n", runs, delayUs,
                WireMilliseconds, wall);
    std::printf("cpu_ms_median=%.1f\nwall_to_wire=%.3f\ncpu_to_wire=%.3f\n", cpu,
                wall / WireMilliseconds, cpu / WireMilliseconds);
    if (!commandCpus.empty()) {
      double commandCpu = Median(commandCpus);
      std::printf("command_line_cpu_ms_median=%.1f\ncommand_line_cpu_to_wire=%.3f\n", commandCpu,
                  commandCpu / WireMilliseconds);
    }
    // A paced simulator that keeps its lines late makes every capture slower by as much;
    // measured against its own pace, that lateness is not counted as ours.
    if (delayUs > 0 && simulatorLineUs > 0) {
      double simulatorMs = WireMilliseconds + ScreenHeight * (simulatorLineUs - delayUs) / 1000;
      std::printf("simulator_line_us=%.1f\nsimulator_ms=%.1f\nwall_to_simulator=%.3f\n",
                  simulatorLineUs, simulatorMs, wall / simulatorMs);
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "korbenit-bench: " << e.what() << "\n";
    return 1;
  }
}
