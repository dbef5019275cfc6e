// The system's serial calls.
#include "CommCalls.h"

#include <atomic>

#include "windows/WideText.h"

namespace korbenit {
namespace {

class TSystemCalls : public TCommCalls {
 public:
  HANDLE Open(const std::wstring& name) override {
    return ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  }
  BOOL Close(HANDLE port) override { return ::CloseHandle(port); }
  BOOL SetupComm(HANDLE port, DWORD input, DWORD output) override {
    return ::SetupComm(port, input, output);
  }
  BOOL GetCommState(HANDLE port, DCB& dcb) override { return ::GetCommState(port, &dcb); }
  BOOL SetCommState(HANDLE port, DCB& dcb) override { return ::SetCommState(port, &dcb); }
  BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS& timeouts) override {
    return ::SetCommTimeouts(port, &timeouts);
  }
  BOOL ReadFile(HANDLE port, void* buffer, DWORD count, OVERLAPPED& overlapped) override {
    return ::ReadFile(port, buffer, count, nullptr, &overlapped);
  }
  BOOL WriteFile(HANDLE port, const void* data, DWORD count, OVERLAPPED& overlapped) override {
    return ::WriteFile(port, data, count, nullptr, &overlapped);
  }
  BOOL GetOverlappedResult(HANDLE port, OVERLAPPED& overlapped, DWORD& done, BOOL wait) override {
    return ::GetOverlappedResult(port, &overlapped, &done, wait);
  }
  BOOL CancelIoEx(HANDLE port, OVERLAPPED& overlapped) override {
    return ::CancelIoEx(port, &overlapped);
  }
  BOOL PurgeComm(HANDLE port, DWORD flags) override { return ::PurgeComm(port, flags); }
  BOOL ClearCommError(HANDLE port, DWORD& errors, COMSTAT& status) override {
    return ::ClearCommError(port, &errors, &status);
  }
  BOOL GetCommModemStatus(HANDLE port, DWORD& bits) override {
    return ::GetCommModemStatus(port, &bits);
  }
  BOOL EscapeCommFunction(HANDLE port, DWORD function) override {
    return ::EscapeCommFunction(port, function);
  }
  BOOL SetCommMask(HANDLE port, DWORD mask) override { return ::SetCommMask(port, mask); }
  BOOL WaitCommEvent(HANDLE port, DWORD& events, OVERLAPPED& overlapped) override {
    return ::WaitCommEvent(port, &events, &overlapped);
  }
  DWORD LastError() override { return ::GetLastError(); }
};

TSystemCalls SystemCalls;
std::atomic<TCommCalls*> Calls{&SystemCalls};

}  // namespace

TCommCalls& CommCalls() {
  return *Calls.load();
}

void UseCommCalls(TCommCalls* calls) {
  Calls = calls ? calls : &SystemCalls;
}

std::wstring CommDeviceName(const std::string& port) {
  if (port.find_first_of("\\/") != std::string::npos) return Widen(port);
  return L"\\\\.\\" + Widen(port);
}

}  // namespace korbenit
