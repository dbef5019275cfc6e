#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "DeviceModel.h"
#include "posix/VirtualPorts.h"

namespace korbenit {

struct TSimulatorOptions {
  std::string Name = "korbenit-sim";  // the virtual port's name
  std::chrono::microseconds LineDelay{0};
  bool LogCommands = false;
  bool Moving = false;  // the moving test screen instead of the still picture
};

// The device model behind a pseudo-terminal, published as a virtual port. It keeps the
// terminal's far side open itself, so a host may open and close it any number of times.
class TPtySimulator {
 public:
  TPtySimulator(TDeviceModel model, TSimulatorOptions options);
  TPtySimulator(const TPtySimulator&) = delete;
  TPtySimulator& operator=(const TPtySimulator&) = delete;
  ~TPtySimulator();

  const std::string& TerminalPath() const { return FTerminalPath; }
  const std::string& LinkPath() const { return FPublication->LinkPath(); }

  // Answers commands until SIGINT or SIGTERM arrives.
  void Run(std::ostream& log);

 private:
  void Answer(const std::string& bytes, std::ostream& log);
  void ClearStaleMark();
  void SleepUntil(std::chrono::steady_clock::time_point moment);
  void SendPaced(const std::string& reply, std::chrono::nanoseconds delay,
                 std::chrono::steady_clock::time_point start);

  TDeviceModel FModel;
  TSimulatorOptions FOptions;
  int FMaster = -1;
  int FKeepOpen = -1;
  int FSignals = -1;
  std::string FTerminalPath;
  std::unique_ptr<TVirtualPortPublication> FPublication;
  std::chrono::nanoseconds FOvershoot{0};
  std::chrono::nanoseconds FPacedTotal{0};
  long FPacedLines = 0;
};

// Parses "KIND:COMMAND:LINE:VALUE" (LINE "*" for every line), for example
// "silence:S:100:0" or "length:S:*:481". Kinds: silence, wrong-start, status-only,
// length, stall, stray.
TDeviceFault ParseFault(const std::string& text);

}  // namespace korbenit
