#include "SerialError.h"

#include <array>

#include "SerialPlatform.h"

namespace korbenit {
namespace {

constexpr std::array<const char*, 23> CodeTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if a port is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string ComposeMessage(int errorCode, int systemErrorCode) {
  std::string message = ESerialPort::CodeText(errorCode);
  if (systemErrorCode != ESerialPort::NoSystemError)
    message += " (win error code: " + std::to_string(systemErrorCode) + ")";
  return message;
}

}  // namespace

ESerialPort::ESerialPort(int errorCode, int systemErrorCode)
    : EFailure(ComposeMessage(errorCode, systemErrorCode),
               SerialFailureKind(errorCode, systemErrorCode),
               systemErrorCode == NoSystemError ? 0 : systemErrorCode),
      FErrorCode(errorCode),
      FSystemErrorCode(systemErrorCode) {}

std::string ESerialPort::CodeText(int errorCode) {
  if (errorCode < 1 || errorCode > static_cast<int>(CodeTexts.size())) return {};
  return CodeTexts[static_cast<std::size_t>(errorCode - 1)];
}

}  // namespace korbenit
