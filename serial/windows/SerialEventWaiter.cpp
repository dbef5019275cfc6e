// Device events on Windows: WaitCommEvent, overlapped, beside a stop event. A stop
// touches the device no more: the wait still pending ends when the owner sets the mask
// to nothing, or when the port closes.
#include "../SerialEventWaiter.h"

#include "../SerialError.h"
#include "CommCalls.h"
#include "WindowsDevice.h"

namespace korbenit {

struct TSerialEventWaiter::TPlatform {
  TSerialDevice& Port;
  HANDLE Handle;
  TEvent Stop, Completed;
  OVERLAPPED Overlapped{};
  DWORD Events = 0;
  bool Pending = false;

  TPlatform(TSerialDevice& port, HANDLE handle) : Port(port), Handle(handle) {
    Overlapped.hEvent = Completed.Handle;
  }
};

TSerialEventWaiter::TSerialEventWaiter(TSerialDevice& device, TSerialEvents mask, int32_t)
    : FPlatform(std::make_unique<TPlatform>(device, device.Platform().Port)) {
  auto& calls = CommCalls();
  if (!calls.SetCommMask(FPlatform->Handle, mask.Mask()))
    throw ESerialPort(serial_error::OpenFailed, static_cast<int>(calls.LastError()));
}

// A wait still pending uses our record: it ends before the record goes.
TSerialEventWaiter::~TSerialEventWaiter() {
  auto& p = *FPlatform;
  if (!p.Pending || !p.Port.IsOpen()) return;
  auto& calls = CommCalls();
  calls.SetCommMask(p.Handle, 0);
  if (::WaitForSingleObject(p.Completed.Handle, 1000) != WAIT_OBJECT_0) {
    calls.CancelIoEx(p.Handle, p.Overlapped);
    ::WaitForSingleObject(p.Completed.Handle, 1000);
  }
}

void TSerialEventWaiter::Stop() noexcept {
  ::SetEvent(FPlatform->Stop.Handle);
}

std::optional<TSerialEvents> TSerialEventWaiter::Wait() {
  auto& p = *FPlatform;
  auto& calls = CommCalls();
  for (;;) {
    if (::WaitForSingleObject(p.Stop.Handle, 0) == WAIT_OBJECT_0) return std::nullopt;
    if (!p.Pending) {
      ::ResetEvent(p.Completed.Handle);
      p.Events = 0;
      if (!calls.WaitCommEvent(p.Handle, p.Events, p.Overlapped)) {
        if (calls.LastError() != ERROR_IO_PENDING) return std::nullopt;
        p.Pending = true;
      } else if (p.Events != 0) {
        return TSerialEvents::FromMask(p.Events);
      }
    }
    if (p.Pending) {
      HANDLE waits[] = {p.Stop.Handle, p.Completed.Handle};
      if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
        return std::nullopt;
      DWORD ignored = 0;
      p.Pending = false;
      if (!calls.GetOverlappedResult(p.Handle, p.Overlapped, ignored, FALSE)) return std::nullopt;
      // A mask set to nothing ends the wait with no event: the watch is over.
      if (p.Events == 0) return std::nullopt;
      return TSerialEvents::FromMask(p.Events);
    }
  }
}

}  // namespace korbenit
