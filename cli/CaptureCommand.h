#pragma once

#include <atomic>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PortList.h"

namespace korbenit {

class TCustomSerialPort;

// A command line that cannot be carried out as written (exit 2).
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCaptureOptions {
  bool Help = false;
  bool Version = false;
  bool List = false;
  bool Quiet = false;
  bool Force = false;
  std::string Port;    // empty: the one port present that can be the device
  std::string Output;  // empty: Korbenit_yyyymmdd_hhnnss.png here; "-": PNG on stdout
  int Quality = 90;
  int Count = 1;
  double Interval = 0;  // seconds from the start of one capture to the start of the next
  double Duration = 0;  // seconds of continuous recording into an animation; 0: none
  int Fps = 0;          // the most frames a second an animation keeps; 0: all
};

enum class TPictureFormat { Bmp, Jpeg, Png, Gif, WebP };

// GIF and WebP outputs hold a whole series, or a continuous recording, as one animation.
bool IsAnimation(TPictureFormat format);

// Raises EUsage, saying in one line what is wrong, for anything it cannot take.
TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments);
// The format a file name's extension asks for; raises EUsage for any other.
TPictureFormat FormatOfName(const std::string& name);
// The name of the index-th picture of a series: the name's printf-style number
// ("shot_%03d.png") filled in, or else "_001" before the extension.
std::string SeriesName(const std::string& name, int index);

// What stops the command: a signal, which also cuts short a transfer waiting on the
// port. Request may come from any thread.
class TStopRequest {
 public:
  bool Requested() const { return FSignal.load() != 0; }
  int Signal() const { return FSignal.load(); }
  void Request(int signal);
  // The port of the capture in progress (nullptr once it is over).
  void Attach(TCustomSerialPort* port);
  const std::atomic<bool>& Flag() const { return FRequested; }

 private:
  std::mutex FMutex;
  TCustomSerialPort* FPort = nullptr;
  std::atomic<int> FSignal{0};
  std::atomic<bool> FRequested{false};
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
// 2 a usage error, 128 + the signal's number when a signal stopped it.
int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session);

extern const char* const CaptureUsage;

}  // namespace korbenit
