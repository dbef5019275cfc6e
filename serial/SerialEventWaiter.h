#pragma once

#include <cstdint>
#include <optional>

#include "SerialDevice.h"
#include "SerialTypes.h"

namespace korbenit {

// Waits for the device events of a mask, or for a stop request from any thread. It
// sleeps while nothing happens: an idle port costs no CPU, unread bytes or not.
class TSerialEventWaiter {
 public:
  TSerialEventWaiter(TSerialDevice& device, TSerialEvents mask, int32_t inputSize);
  TSerialEventWaiter(const TSerialEventWaiter&) = delete;
  TSerialEventWaiter& operator=(const TSerialEventWaiter&) = delete;
  ~TSerialEventWaiter();

  // The events seen at the next wake-up; nothing once stopped or when waiting failed.
  std::optional<TSerialEvents> Wait();
  void Stop() noexcept;

 private:
  TSerialEvents SignalEvents();
  void CloseHandles() noexcept;

  TSerialDevice& FDevice;
  TSerialEvents FMask;
  int32_t FRx80Level;
  intptr_t FWaitHandle = -1;
  intptr_t FStopHandle = -1;
  bool FWatchingSignals = false;
  uint32_t FLastModem = 0;
  TSerialDevice::TLineCounters FLastCounters;
};

}  // namespace korbenit
