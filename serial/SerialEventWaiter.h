#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "SerialDevice.h"
#include "SerialTypes.h"

namespace korbenit {

// Waits for the device events of a mask, or for a stop request from any thread. It
// sleeps while nothing happens: an idle port costs no CPU, unread bytes or not. Once a
// stop is requested it touches the device no more, so the device may already be gone.
class TSerialEventWaiter {
 public:
  // Raises ESerialPort (code 1, with the system's error number) when the platform
  // cannot set up the wait.
  TSerialEventWaiter(TSerialDevice& device, TSerialEvents mask, int32_t inputSize);
  TSerialEventWaiter(const TSerialEventWaiter&) = delete;
  TSerialEventWaiter& operator=(const TSerialEventWaiter&) = delete;
  ~TSerialEventWaiter();

  // The events seen at the next wake-up; nothing once stopped or when waiting failed.
  std::optional<TSerialEvents> Wait();
  void Stop() noexcept;

 private:
  struct TPlatform;
  std::unique_ptr<TPlatform> FPlatform;
};

}  // namespace korbenit
