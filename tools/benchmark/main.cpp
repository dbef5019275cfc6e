// Capture benchmark: the real transfer through TSerialPort against the device simulator
// on a pseudo-terminal. Prints key=value lines.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "ScreenTransfer.h"
#include "SimulatorProcess.h"
#include "SerialPort.h"
#include "Synchronizer.h"

namespace {

using namespace korbenit;

// Bytes on the wire for one capture: every command and every answer frame.
constexpr double WireBytes = 2 + 2 + 4.0 * ScreenHeight + 2 * (4 + 2) +
                             ScreenHeight * (4.0 + LinePayloadSize);
constexpr double WireMilliseconds = WireBytes * 10 / CaptureBaudRate * 1000;

double CpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

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
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--runs") runs = std::max(1, std::stoi(argv[i + 1]));
    else if (arg == "--delay-us") delayUs = std::stol(argv[i + 1]);
    else if (arg == "--simulator") simulator = argv[i + 1];
    else if (arg == "--events") events = std::string(argv[i + 1]) != "none";
  }
  try {
    TSimulatorProcess device(simulator, {"--delay-us", std::to_string(delayUs)});
    std::vector<double> walls, cpus;
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
        std::cerr << "capture failed: " << view.Status << "\n";
        return 1;
      }
      walls.push_back(wall.count());
      cpus.push_back(cpu * 1000);
    }
    double wall = Median(walls), cpu = Median(cpus);
    std::printf("events=%s\n", events ? "all" : "none");
    std::printf("runs=%d\nline_delay_us=%ld\nwire_ms=%.1f\nwall_ms_median=%.1f\n", runs, delayUs,
                WireMilliseconds, wall);
    std::printf("cpu_ms_median=%.1f\nwall_to_wire=%.3f\ncpu_to_wire=%.3f\n", cpu,
                wall / WireMilliseconds, cpu / WireMilliseconds);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "korbenit-bench: " << e.what() << "\n";
    return 1;
  }
}
