#pragma once

// What a serial device keeps on a POSIX tty; shared by the device and its event waiter.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "../SerialDevice.h"

namespace korbenit {

// Line counters as the kernel keeps them (modem changes, breaks, errors).
struct TLineCounters {
  uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
  uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufferOverrun = 0;
  bool operator==(const TLineCounters&) const = default;
};

struct TSerialDevice::TPlatform {
  TPlatform();
  TPlatform(const TPlatform&) = delete;
  TPlatform& operator=(const TPlatform&) = delete;
  ~TPlatform();

  int Fd = -1;
  // Signalled by an abort, to end a wait in another thread.
  int AbortSignal = -1;
  TDeviceTimeouts Timeouts;
  // Bytes already taken from the kernel but not yet handed out: reading in blocks keeps
  // a byte-at-a-time caller from paying a system call per byte. Guarded, since the
  // event thread may count it while the caller reads.
  std::vector<char> Input;
  std::size_t InputPos = 0;
  std::mutex InputMutex;
  // What the buffer holds, readable without the lock.
  std::atomic<int32_t> Buffered{0};
  TLineCounters LastErrors;
  // The terminal's settings (a termios2, kept as bytes: its header clashes with the C
  // library's) as we found them, given back at close but for the speed.
  std::optional<std::array<unsigned char, 64>> FoundSettings;
  // The last status query found nothing in the kernel's queue.
  std::atomic<bool> KernelQueueSeenEmpty{false};
  // The last read took less than it asked for, so it emptied the kernel's queue.
  std::atomic<bool> LastReadDrained{false};

  // The counters, or nothing when the port keeps none (pseudo-terminals among them).
  int ReadCounters(std::optional<TLineCounters>& counters) const;
  // The modem lines (TIOCM bits), or nothing when the port has none.
  int ReadModemLines(std::optional<int>& lines) const;
  // Bytes handed to the device and not yet sent.
  int QueuedOutput(int32_t& count) const;

  int32_t TakeBuffered(char* buffer, int32_t count);
  void DropBuffered();
  int FillBuffer();
  int WaitReadable(int timeoutMs);
  // Waits until the port is ready for events; ECANCELED once aborted, ETIMEDOUT.
  int WaitFor(short events, int timeoutMs);
  void ForgetAborts();
  int ReadWithDeadline(char* buffer, int32_t count, int32_t& received);
  int DrainOutput(int waitMs);
  bool Aborted(std::chrono::microseconds time) const;
};

}  // namespace korbenit
