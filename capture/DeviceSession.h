#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "ScreenProtocol.h"

namespace korbenit {

// A stop that any thread may ask for: a flag the session looks at before every command
// and after every line, the end of its pauses, and the end of a wait for the device. It
// only signals; the thread that owns the port purges and closes it.
class TStopToken {
 public:
  TStopToken() = default;
  TStopToken(const TStopToken&) = delete;
  TStopToken& operator=(const TStopToken&) = delete;
  virtual ~TStopToken() = default;

  void Request() noexcept;
  virtual bool Requested() const;
  // Waits for the time unless a stop comes first; false when stopped.
  virtual bool Sleep(std::chrono::milliseconds time);
  bool SleepUntil(std::chrono::steady_clock::time_point moment);

 private:
  friend class TDeviceSession;
  // The port whose waits a stop ends, while a session has it open.
  void Attach(TSerialPortInterface* port);

  mutable std::mutex FMutex;
  std::condition_variable FWake;
  bool FRequested = false;
  TSerialPortInterface* FPort = nullptr;
};

// One opening of the device: the port named and opened at the capture's speed, the
// settling pause, as many frames as are asked for, then the speed back at 9600 and the
// port closed (also when destroyed). A window, the live view and the command line all
// talk to the device through it.
class TDeviceSession {
 public:
  TDeviceSession(TSerialPortInterface& port, TStopToken& stop);
  TDeviceSession(const TDeviceSession&) = delete;
  TDeviceSession& operator=(const TDeviceSession&) = delete;
  ~TDeviceSession();

  // Raises ESerialPort when the port cannot be opened.
  void Open(const std::string& portName);
  // The pause the device needs after the port opens; raises TFrameStopped on a stop.
  void Settle();
  // One frame, each line handed to sink as it arrives; raises ENoData, the port's
  // errors, or TFrameStopped on a stop.
  void FetchFrame(const TScreenProtocol::TLineSink& sink);
  // The ending every capture shares: the line speed back to 9600 before the port closes,
  // and the port closed regardless. Answers the first failure, or none.
  TFailure Close() noexcept;

 private:
  TSerialPortInterface& FPort;
  TStopToken& FStop;
  TScreenProtocol FProtocol;
};

}  // namespace korbenit
