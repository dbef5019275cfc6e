#pragma once

// The Win32 calls of the serial backend behind one interface, so that tests put a fake
// below them for what Wine does not emulate truthfully (read timeouts, modem status and
// events, custom speeds, exclusive opens, each error).
#include <windows.h>

#include <string>

namespace korbenit {

class TCommCalls {
 public:
  virtual ~TCommCalls() = default;
  virtual HANDLE Open(const std::wstring& name) = 0;  // CreateFileW, exclusive, overlapped
  virtual BOOL Close(HANDLE port) = 0;
  virtual BOOL SetupComm(HANDLE port, DWORD input, DWORD output) = 0;
  virtual BOOL GetCommState(HANDLE port, DCB& dcb) = 0;
  virtual BOOL SetCommState(HANDLE port, DCB& dcb) = 0;
  virtual BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS& timeouts) = 0;
  virtual BOOL ReadFile(HANDLE port, void* buffer, DWORD count, OVERLAPPED& overlapped) = 0;
  virtual BOOL WriteFile(HANDLE port, const void* data, DWORD count, OVERLAPPED& overlapped) = 0;
  virtual BOOL GetOverlappedResult(HANDLE port, OVERLAPPED& overlapped, DWORD& done, BOOL wait) = 0;
  virtual BOOL CancelIoEx(HANDLE port, OVERLAPPED& overlapped) = 0;
  virtual BOOL PurgeComm(HANDLE port, DWORD flags) = 0;
  virtual BOOL ClearCommError(HANDLE port, DWORD& errors, COMSTAT& status) = 0;
  virtual BOOL GetCommModemStatus(HANDLE port, DWORD& bits) = 0;
  virtual BOOL EscapeCommFunction(HANDLE port, DWORD function) = 0;
  virtual BOOL SetCommMask(HANDLE port, DWORD mask) = 0;
  virtual BOOL WaitCommEvent(HANDLE port, DWORD& events, OVERLAPPED& overlapped) = 0;
  virtual DWORD LastError() = 0;
};

// The calls in use: the system's, unless a test put its own in place (nullptr: the
// system's again).
TCommCalls& CommCalls();
void UseCommCalls(TCommCalls* calls);

// The name CreateFileW opens for a port: \\.\COMn, so that COM10 and above open too; a
// name that holds a path separator as it stands.
std::wstring CommDeviceName(const std::string& port);

}  // namespace korbenit
