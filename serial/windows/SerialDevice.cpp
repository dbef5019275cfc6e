// Serial devices on Windows: an exclusive overlapped handle on \\.\COMn, the line's
// settings in a DCB, the five timeouts as COMMTIMEOUTS, and waits that an abort ends.
#include <algorithm>

#include "CommCalls.h"
#include "WindowsDevice.h"

namespace korbenit {
namespace {

constexpr DWORD AllBits = MAXDWORD;

void FillDcb(DCB& dcb, const TDeviceControlRecord& r) {
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = r.BaudRate;
  // Every field is set from the record: what GetCommState found (XON/XOFF, null
  // stripping) must not survive, or the line loses bytes.
  dcb.fBinary = r.Binary;
  dcb.fParity = r.ParityCheck;
  dcb.fOutxCtsFlow = r.OutxCtsFlow;
  dcb.fOutxDsrFlow = r.OutxDsrFlow;
  dcb.fDtrControl = r.DtrControl;
  dcb.fDsrSensitivity = r.DsrSensitivity;
  dcb.fTXContinueOnXoff = r.TxContinueOnXoff;
  dcb.fOutX = r.OutX;
  dcb.fInX = r.InX;
  dcb.fErrorChar = r.ErrorReplace;
  dcb.fNull = r.DiscardNull;
  dcb.fRtsControl = r.RtsControl;
  dcb.fAbortOnError = r.AbortOnError;
  dcb.XonLim = r.XonLimit;
  dcb.XoffLim = r.XoffLimit;
  dcb.ByteSize = r.ByteSize;
  dcb.Parity = r.Parity;
  dcb.StopBits = r.StopBits;
  dcb.XonChar = r.XonChar;
  dcb.XoffChar = r.XoffChar;
  dcb.ErrorChar = r.ErrorChar;
  dcb.EofChar = r.EofChar;
  dcb.EvtChar = r.EventChar;
}

bool IsImmediateRead(const TDeviceTimeouts& t) {
  return t.ReadInterval == AllBits && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
}

}  // namespace

DWORD TSerialDevice::TPlatform::Transfer(bool write, void* buffer, DWORD count, DWORD& done) {
  auto& calls = CommCalls();
  done = 0;
  if (::WaitForSingleObject(Abort.Handle, 0) == WAIT_OBJECT_0) return ERROR_OPERATION_ABORTED;
  TEvent completed;
  OVERLAPPED overlapped{};
  overlapped.hEvent = completed.Handle;
  BOOL finished = write ? calls.WriteFile(Port, buffer, count, overlapped)
                        : calls.ReadFile(Port, buffer, count, overlapped);
  if (!finished) {
    DWORD error = calls.LastError();
    if (error != ERROR_IO_PENDING) return error;
    HANDLE waits[] = {completed.Handle, Abort.Handle};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      calls.CancelIoEx(Port, overlapped);
      calls.GetOverlappedResult(Port, overlapped, done, TRUE);
      return ERROR_OPERATION_ABORTED;
    }
  }
  if (calls.GetOverlappedResult(Port, overlapped, done, TRUE)) return 0;
  DWORD error = calls.LastError();
  return error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT ? 0 : error;
}

TSerialDevice::TSerialDevice() : FPlatform(std::make_unique<TPlatform>()) {}

TSerialDevice::~TSerialDevice() {
  Close();
}

bool TSerialDevice::IsOpen() const {
  return FPlatform->Port != INVALID_HANDLE_VALUE;
}

int TSerialDevice::Open(const std::string& portName) {
  Close();
  auto& calls = CommCalls();
  HANDLE port = calls.Open(CommDeviceName(portName));
  if (port == INVALID_HANDLE_VALUE) return static_cast<int>(calls.LastError());
  auto& p = *FPlatform;
  p.Port = port;
  ::ResetEvent(p.Abort.Handle);
  DCB found{};
  found.DCBlength = sizeof found;
  p.Found.reset();
  if (calls.GetCommState(port, found)) p.Found = found;
  return 0;
}

// The line gets back the settings it had when we opened it, with the speed it was left at.
void TSerialDevice::Close() noexcept {
  auto& p = *FPlatform;
  if (p.Port == INVALID_HANDLE_VALUE) return;
  auto& calls = CommCalls();
  DCB now{};
  now.DCBlength = sizeof now;
  if (p.Found && calls.GetCommState(p.Port, now)) {
    DCB found = *p.Found;
    found.BaudRate = now.BaudRate;
    calls.SetCommState(p.Port, found);
  }
  calls.Close(p.Port);
  p.Port = INVALID_HANDLE_VALUE;
}

int TSerialDevice::SetQueueSizes(int32_t inputSize, int32_t outputSize) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  auto& calls = CommCalls();
  return calls.SetupComm(FPlatform->Port, static_cast<DWORD>(inputSize),
                         static_cast<DWORD>(outputSize))
             ? 0
             : static_cast<int>(calls.LastError());
}

int TSerialDevice::SetLineSettings(const TDeviceControlRecord& record) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  auto& calls = CommCalls();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!calls.GetCommState(FPlatform->Port, dcb)) return static_cast<int>(calls.LastError());
  FillDcb(dcb, record);
  return calls.SetCommState(FPlatform->Port, dcb) ? 0 : static_cast<int>(calls.LastError());
}

// The immediate form (all bits, 0, 0) hangs under Wine; it is met by reading only what
// the queue holds, with the first-byte form, which every driver keeps.
int TSerialDevice::SetTimeouts(const TDeviceTimeouts& timeouts) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  FPlatform->Timeouts = timeouts;
  COMMTIMEOUTS set{timeouts.ReadInterval, timeouts.ReadTotalMultiplier, timeouts.ReadTotalConstant,
                   timeouts.WriteTotalMultiplier, timeouts.WriteTotalConstant};
  if (IsImmediateRead(timeouts))
    set.ReadTotalTimeoutMultiplier = AllBits, set.ReadTotalTimeoutConstant = 1;
  auto& calls = CommCalls();
  return calls.SetCommTimeouts(FPlatform->Port, set) ? 0 : static_cast<int>(calls.LastError());
}

int TSerialDevice::Read(char* buffer, int32_t count, int32_t& received) {
  received = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  if (count <= 0) return 0;
  auto& p = *FPlatform;
  DWORD wanted = static_cast<DWORD>(count);
  if (IsImmediateRead(p.Timeouts)) {
    int32_t queued = 0;
    if (int error = QueuedInput(queued)) return error;
    if (queued == 0) return 0;
    wanted = std::min<DWORD>(wanted, static_cast<DWORD>(queued));
  }
  DWORD done = 0;
  DWORD error = p.Transfer(false, buffer, wanted, done);
  received = static_cast<int32_t>(done);
  return static_cast<int>(error);
}

int TSerialDevice::Write(const char* data, int32_t count, int32_t& written) {
  written = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  DWORD done = 0;
  DWORD error = FPlatform->Transfer(true, const_cast<char*>(data), static_cast<DWORD>(count), done);
  written = static_cast<int32_t>(done);
  return static_cast<int>(error);
}

int TSerialDevice::Purge(unsigned flags) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  if (flags & (purge_flags::RxAbort | purge_flags::TxAbort)) CancelWaits();
  auto& calls = CommCalls();
  return calls.PurgeComm(FPlatform->Port, flags) ? 0 : static_cast<int>(calls.LastError());
}

void TSerialDevice::CancelWaits() noexcept {
  ::SetEvent(FPlatform->Abort.Handle);
}

// ClearCommError hands out the line's errors and forgets them: those a queue count sees
// are kept for the next error word.
int TSerialDevice::TPlatform::ClearErrors(COMSTAT& status) {
  auto& calls = CommCalls();
  DWORD errors = 0;
  if (!calls.ClearCommError(Port, errors, status)) return static_cast<int>(calls.LastError());
  LineErrors |= errors & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
  return 0;
}

int TSerialDevice::QueuedInput(int32_t& count) {
  count = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  COMSTAT status{};
  if (int error = FPlatform->ClearErrors(status)) return error;
  count = static_cast<int32_t>(status.cbInQue);
  return 0;
}

int TSerialDevice::CheckInputStatus() {
  int32_t ignored = 0;
  return QueuedInput(ignored);
}

// A port whose driver has no modem lines (Wine's, a virtual one) has no signal set.
int TSerialDevice::ModemStatus(uint32_t& bits) {
  bits = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  auto& calls = CommCalls();
  DWORD status = 0;
  if (!calls.GetCommModemStatus(FPlatform->Port, status)) {
    DWORD error = calls.LastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION
               ? 0
               : static_cast<int>(error);
  }
  bits = status & (modem_bits::CTS | modem_bits::DSR | modem_bits::Ring | modem_bits::RLSD);
  return 0;
}

int TSerialDevice::TakeErrorWord(uint32_t& word) {
  word = 0;
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  COMSTAT status{};
  if (int error = FPlatform->ClearErrors(status)) return error;
  word = FPlatform->LineErrors.exchange(0);
  return 0;
}

}  // namespace korbenit
