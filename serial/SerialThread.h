#pragma once

#include <atomic>
#include <thread>

#include "SerialEventWaiter.h"

namespace korbenit {

class TCustomSerialPort;

// Watches an open port for device events and hands them to the port's handlers in the
// way its SyncMethod selects. Destruction stops it and waits for it, serving its
// pending deliveries meanwhile.
class TSerialThread {
 public:
  explicit TSerialThread(TCustomSerialPort& port);
  TSerialThread(const TSerialThread&) = delete;
  TSerialThread& operator=(const TSerialThread&) = delete;
  ~TSerialThread();

  void StopWatching() noexcept;
  bool Ended() const { return FEnded; }

 private:
  void Execute() noexcept;
  void Deliver(TSerialEvents events);

  TCustomSerialPort& FPort;
  TSerialEventWaiter FWaiter;
  std::atomic<bool> FEnded{false};
  std::thread FThread;
};

}  // namespace korbenit
