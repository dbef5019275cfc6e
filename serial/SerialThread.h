#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "SerialEventWaiter.h"
#include "SerialTypes.h"

namespace korbenit {

class TCustomSerialPort;

// Watches an open port for device events and hands them to the port's handlers in the
// way its SyncMethod selected at Open. It waits for its first event only once Start is
// called, so nothing is delivered before the port is fully open. Destruction stops it and
// waits for it; deliveries still pending then are dropped, never run inside the caller.
class TSerialThread {
 public:
  // Raises ESerialPort (code 1) when the watch cannot be set up.
  explicit TSerialThread(TCustomSerialPort& port);
  TSerialThread(const TSerialThread&) = delete;
  TSerialThread& operator=(const TSerialThread&) = delete;
  ~TSerialThread();

  void Start() noexcept;
  void StopWatching() noexcept;
  bool Ended() const { return FEnded; }

  // Whether the calling thread is inside one of this thread's handler sequences, where
  // waiting for this thread would wait for the caller itself.
  bool DeliversOnThisThread() const;
  // Stops a thread for a port that is closing from inside one of its handlers: the
  // thread touches the port no more and ends once that handler returns. It is joined
  // later, by the next Open or Close of any port, or at the end of the process.
  static void Abandon(std::unique_ptr<TSerialThread> thread);
  static void JoinAbandoned(bool all);

 private:
  void Execute() noexcept;
  void Deliver(TSerialEvents events);
  void RunHandlers(TSerialEvents events);

  TCustomSerialPort& FPort;
  const TSyncMethod FMethod;
  TSerialEventWaiter FWaiter;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FAbandoned{false};
  std::atomic<bool> FEnded{false};
  std::atomic<std::thread::id> FDeliveringOn{};
  std::thread FThread;
};

}  // namespace korbenit
