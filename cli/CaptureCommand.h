#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "CaptureOptions.h"
#include "DeviceSession.h"
#include "OutputNames.h"
#include "PortList.h"

namespace korbenit {

// What stops the command: a signal, which also ends a wait for the device at once.
// Request may come from any thread; it only signals.
class TStopRequest : public TStopToken {
 public:
  int Signal() const { return FSignal.load(); }
  void Request(int signal) {
    FSignal = signal;
    TStopToken::Request();
  }

 private:
  std::atomic<int> FSignal{0};
};

// Where the command's output goes, and what stops it.
struct TCaptureSession {
  std::ostream& Out;  // pictures written to "-", and the lists
  std::ostream& Err;  // messages, hints, the progress bar and "saved ..."
  bool OutIsTerminal = false;
  int ErrColumns = 0;  // the width of the terminal on standard error; 0: no terminal
  TStopRequest& Stop;
  TPortListSources Ports;
};

// Runs the command and answers its exit code: 0 done, 1 a capture or an output failed,
// 2 a usage error, 128 + the signal's number when a signal stopped it (the program then
// ends by that signal).
int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session);

// The command line's own words for a failure, in one line: "korbenit-capture: WHAT: REASON",
// WHAT the file being written, or else the port, REASON the system's
// text for its error number, or the failure's kind in words.
std::string CommandLineMessage(const TFailure& failure, const std::string& port,
                               const std::string& file);

// That line and, when one is known, a hint for people on the next.
void ReportFailure(const TFailure& failure, std::ostream& err, const std::string& port = {},
                   const std::string& file = {});

// The exit code of a command a signal stopped.
int Stopped(const TStopRequest& stop);

}  // namespace korbenit
