#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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
// meaning the device-control interface gives them.
class TSerialDevice {
 public:
  TSerialDevice() = default;
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;
  ~TSerialDevice() { Close(); }

  // The file-system path a port name opens.
  static std::string DevicePath(const std::string& portName);
  // Where virtual ports (pseudo-terminals published by a simulator) are linked.
  static std::string VirtualPortsFolder();

  int Open(const std::string& portName);
  void Close() noexcept;
  bool IsOpen() const { return FHandle >= 0; }
  intptr_t Handle() const { return FHandle; }

  int SetQueueSizes(int32_t inputSize, int32_t outputSize);
  int SetLineSettings(const TDeviceControlRecord& record);
  int SetTimeouts(const TDeviceTimeouts& timeouts);
  int Read(char* buffer, int32_t count, int32_t& received);
  int Write(const char* data, int32_t count, int32_t& written);
  int Purge(unsigned flags);
  int QueuedInput(int32_t& count);
  // The status query that follows every read. While bytes that the read fetched are
  // still waiting here, the line has just answered and is not asked again.
  int CheckInputStatus();
  int ModemStatus(uint32_t& bits);
  // The error word (framing 0x0008, parity 0x0004, overrun 0x0002, break 0x0010,
  // receive-queue overflow 0x0001) of the errors counted since the last query.
  int TakeErrorWord(uint32_t& word);

  // Line counters as the platform keeps them (modem changes, breaks, errors); a port
  // without counters reads all zero.
  struct TLineCounters {
    uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
    uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufferOverrun = 0;
    bool operator==(const TLineCounters&) const = default;
  };
  int ReadCounters(TLineCounters& counters) const;
  // Bytes handed to the device and not yet sent.
  int QueuedOutput(int32_t& count) const;

 private:
  int32_t TakeBuffered(char* buffer, int32_t count);
  void DropBuffered();
  int FillBuffer();
  int WaitReadable(int timeoutMs);
  int ReadWithDeadline(char* buffer, int32_t count, int32_t& received);
  int DrainOutput(int waitMs);

  intptr_t FHandle = -1;
  TDeviceTimeouts FTimeouts;
  // Bytes already taken from the kernel but not yet handed out: reading in blocks keeps
  // a byte-at-a-time caller from paying a system call per byte.
  // Guarded, since the event thread may count it while the caller reads.
  std::vector<char> FInput;
  std::size_t FInputPos = 0;
  std::mutex FInputMutex;
  // What the buffer holds, readable without the lock.
  std::atomic<int32_t> FBuffered{0};
  TLineCounters FLastErrors;
};

}  // namespace korbenit
