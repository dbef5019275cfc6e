#pragma once

// What a serial device keeps on Windows; shared by the device and its event waiter.
#include <windows.h>

#include <atomic>
#include <optional>

#include "../SerialDevice.h"

namespace korbenit {

// A Win32 event of our own, closed with its owner.
struct TEvent {
  HANDLE Handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TEvent() = default;
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  ~TEvent() {
    if (Handle) ::CloseHandle(Handle);
  }
};

struct TSerialDevice::TPlatform {
  HANDLE Port = INVALID_HANDLE_VALUE;
  // Set by an abort, to end a wait in another thread; cleared when the port opens again.
  TEvent Abort;
  TDeviceTimeouts Timeouts;
  // The line's settings as we found them, given back at close but for the speed.
  std::optional<DCB> Found;
  // The line's errors seen and not yet taken; the event thread may see them too.
  std::atomic<uint32_t> LineErrors{0};

  int ClearErrors(COMSTAT& status);

  // Runs an overlapped transfer to its end: its own completion, an abort, or the wait's
  // end (INFINITE for none). An expired read that ends with ERROR_TIMEOUT, as Wine's do,
  // is a read that took what came.
  DWORD Transfer(bool write, void* buffer, DWORD count, DWORD& done);
};

}  // namespace korbenit
