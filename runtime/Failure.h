#pragma once

#include <stdexcept>
#include <string>

namespace korbenit {

// What went wrong, in words every platform shares: hints, exit codes and messages of
// our own switch on it, never on the text of a message or on a system's error number.
// The platform code decides it from its own error numbers.
enum class TFailureKind {
  Other,
  Permission,          // the port may not be opened by this user
  Busy,                // another program holds the port
  Missing,             // no such port
  NotSerialPort,       // the name is a terminal or a file, not a serial port
  DeviceLost,          // the line went away during a transfer
  NoAnswer,            // the device did not answer the opening commands
  AnswerStopped,       // the device stopped answering in the middle of the picture
  Protocol,            // the device answered, but not as the protocol says
  NoDevicePort,        // no port that can be the device is present
  CannotCreate,        // no file can be made at that name
  NameTooLong,         // the file's name is longer than the system takes
  ReadOnly,            // the file or its file system may not be written
  DiskFull,            // no room for the file
  WriteFailed,         // the file could not be written whole
  PortListUnreadable,  // the system's list of serial ports cannot be read
};

// A failure that knows its kind and, when the system gave one, the system's error number
// (errno, or GetLastError on Windows; 0 for none). The message stays the system's own text.
class EFailure : public std::runtime_error {
 public:
  EFailure(const std::string& message, TFailureKind kind, int systemError = 0)
      : std::runtime_error(message), FKind(kind), FSystemError(systemError) {}
  TFailureKind Kind() const noexcept { return FKind; }
  int SystemError() const noexcept { return FSystemError; }

 private:
  TFailureKind FKind;
  int FSystemError;
};

// The kind an exception carries; Other for one that carries none.
inline TFailureKind FailureKindOf(const std::exception& e) {
  auto* failure = dynamic_cast<const EFailure*>(&e);
  return failure ? failure->Kind() : TFailureKind::Other;
}

// A failure as it is handed on: its message, its kind and the system's error number.
struct TFailure {
  std::string Message;
  TFailureKind Kind = TFailureKind::Other;
  int SystemError = 0;

  static TFailure Of(const std::exception& e) {
    auto* failure = dynamic_cast<const EFailure*>(&e);
    return {e.what(), FailureKindOf(e), failure ? failure->SystemError() : 0};
  }
  bool Empty() const { return Message.empty(); }
};

}  // namespace korbenit
