#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "SerialSettings.h"
#include "SerialTypes.h"

namespace korbenit {

// The face of a serial port that the main window and the screen transfer use.
//
// Guarantees every implementation keeps:
// - Open on an open port and Close on a closed port do nothing and notify nothing.
// - Open raises ESerialPort when the device cannot be opened or a setting is refused,
//   and the port stays closed; OnAfterOpen fires only after a successful open.
// - Setting a property to the value it holds does nothing; a changed setting is pushed
//   to an open device before the setter returns, otherwise at the next Open.
// - Changing Port on an open port closes it and opens the new one.
// - WriteText sends every byte, zero bytes included, and returns once written.
// - ReadText reads up to count bytes under the current timeouts and cuts text to what
//   arrived; 0 when nothing came in time. With ReadInterval and ReadTotalMultiplier at
//   -1 and 1 <= ReadTotalConstant < all bits set, queued bytes return at once, else the
//   first byte to arrive, else nothing after ReadTotalConstant milliseconds.
// - Purge drops queued bytes and never raises.
// - Read and write failures raise ESerialPort and leave the port open.
// - CancelWaits is the one call another thread may make: it ends a read or write that
//   waits for the device, and every later one until the port opens again (they fail);
//   it never touches what the owning thread may be closing. Ports whose transfers
//   never wait need do nothing.
class TSerialPortInterface {
 public:
  using TNotifyEvent = std::function<void(TSerialPortInterface& sender)>;

  TSerialPortInterface() = default;
  TSerialPortInterface(const TSerialPortInterface&) = delete;
  TSerialPortInterface& operator=(const TSerialPortInterface&) = delete;
  virtual ~TSerialPortInterface() = default;

  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void Purge(bool input, bool output) noexcept = 0;
  virtual void CancelWaits() noexcept {}
  virtual int32_t WriteText(const std::string& text) = 0;
  virtual int32_t ReadText(std::string& text, int32_t count) = 0;

  virtual std::string Port() const = 0;
  virtual void SetPort(const std::string& port) = 0;
  virtual TBaudRate BaudRate() const = 0;
  virtual void SetBaudRate(TBaudRate rate) = 0;
  virtual int32_t CustomBaudRate() const = 0;
  virtual void SetCustomBaudRate(int32_t rate) = 0;
  virtual TSerialTimeouts& Timeouts() = 0;
  virtual bool Connected() const = 0;

  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
};

}  // namespace korbenit
