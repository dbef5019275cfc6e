#pragma once

#include <atomic>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PortList.h"

namespace korbenit {

// A command line that cannot be carried out as written (exit 2).
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCaptureOptions {
  bool Help = false;
  bool List = false;
  bool Quiet = false;
  std::string Port;    // empty: the only port present
  std::string Output;  // empty: Korbenit_yyyymmdd_hhnnss.png here; "-": PNG on stdout
  int Quality = 90;
  int Count = 1;
  double Interval = 0;
};

enum class TPictureFormat { Bmp, Jpeg, Png };

// Raises EUsage for anything it cannot take.
TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments);
// The format a file name's extension asks for; raises EUsage for any other.
TPictureFormat FormatOfName(const std::string& name);
// The name of the index-th picture of a series: "_001" before the extension.
std::string SeriesName(const std::string& name, int index);

// Where the command's output goes, and what stops it.
struct TCaptureSession {
  std::ostream& Out;          // pictures written to "-", and the lists
  std::ostream& Err;          // messages, hints and the progress bar
  bool ErrIsTerminal = false;
  const std::atomic<bool>& Stop;  // set by SIGINT or SIGTERM
  TPortListSources Ports;
};

// Runs the command and answers its exit code: 0 done, 1 a capture failed, 2 a usage
// error, 130 stopped by a signal.
int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session);

extern const char* const CaptureUsage;

}  // namespace korbenit
