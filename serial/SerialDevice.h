#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace korbenit {

// The device-control record handed to the line: every field the port derives from its
// settings, including those the platform has no use for, so they can be checked.
struct TDeviceControlRecord {
  uint32_t RecordLength = 28;
  uint32_t BaudRate = 0;
  bool Binary = false;
  bool ParityCheck = false;
  bool OutxCtsFlow = false;
  bool OutxDsrFlow = false;
  uint8_t DtrControl = 0;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = false;
  bool OutX = false;
  bool InX = false;
  bool ErrorReplace = false;
  bool DiscardNull = false;
  uint8_t RtsControl = 0;
  bool AbortOnError = false;
  uint16_t XonLimit = 0;
  uint16_t XoffLimit = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EventChar = 0;
  bool operator==(const TDeviceControlRecord&) const = default;
};

// The five timeouts as the device takes them: -1 arrives as all bits set.
struct TDeviceTimeouts {
  uint32_t ReadInterval = 0xFFFFFFFFu;
  uint32_t ReadTotalMultiplier = 0;
  uint32_t ReadTotalConstant = 0;
  uint32_t WriteTotalMultiplier = 100;
  uint32_t WriteTotalConstant = 1000;
};

namespace purge_flags {
inline constexpr unsigned TxAbort = 0x1;
inline constexpr unsigned RxAbort = 0x2;
inline constexpr unsigned TxClear = 0x4;
inline constexpr unsigned RxClear = 0x8;
}  // namespace purge_flags

namespace modem_bits {
inline constexpr uint32_t CTS = 0x10;
inline constexpr uint32_t DSR = 0x20;
inline constexpr uint32_t Ring = 0x40;
inline constexpr uint32_t RLSD = 0x80;
}  // namespace modem_bits

// One open serial device of the platform. Every call answers 0 or the system's error
// number; turning that into the port's numbered errors is the caller's business.
// Reads and writes are synchronous and bounded by the stored timeouts, with the
// meaning the device-control interface gives them. What the platform keeps per device
// lives behind TPlatform, in the platform's own files.
class TSerialDevice {
 public:
  struct TPlatform;

  TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;
  ~TSerialDevice();

  int Open(const std::string& portName);
  void Close() noexcept;
  bool IsOpen() const;

  int SetQueueSizes(int32_t inputSize, int32_t outputSize);
  int SetLineSettings(const TDeviceControlRecord& record);
  int SetTimeouts(const TDeviceTimeouts& timeouts);
  int Read(char* buffer, int32_t count, int32_t& received);
  int Write(const char* data, int32_t count, int32_t& written);
  // The abort flags end a read or write waiting in this thread's next call, and any
  // later one until the device is opened again: it fails with ECANCELED, as an aborted
  // transfer does.
  int Purge(unsigned flags);
  // The abort's signal alone, and the one call another thread may make: it touches no
  // descriptor that the owner may close, so it is safe while the owner works or closes.
  void CancelWaits() noexcept;
  int QueuedInput(int32_t& count);
  // The status query that follows every read. While bytes that the read fetched are
  // still waiting here, the line has just answered and is not asked again.
  int CheckInputStatus();
  int ModemStatus(uint32_t& bits);
  // The error word (framing 0x0008, parity 0x0004, overrun 0x0002, break 0x0010,
  // receive-queue overflow 0x0001) of the errors counted since the last query.
  int TakeErrorWord(uint32_t& word);

  // For the same platform's event waiter.
  TPlatform& Platform() { return *FPlatform; }

 private:
  std::unique_ptr<TPlatform> FPlatform;
};

}  // namespace korbenit
