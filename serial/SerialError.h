#pragma once

#include <string>

#include "Failure.h"

namespace korbenit {

// The serial link's only exception: a numbered code and, where the operating system
// supplied one, its error number (-1 when none applies). Its failure kind is what the
// platform makes of the two.
class ESerialPort : public EFailure {
 public:
  static constexpr int NoSystemError = -1;

  explicit ESerialPort(int errorCode, int systemErrorCode = NoSystemError);

  int ErrorCode() const noexcept { return FErrorCode; }
  int SystemErrorCode() const noexcept { return FSystemErrorCode; }

  // The code's text alone, as in the message without a system number.
  static std::string CodeText(int errorCode);

 private:
  int FErrorCode;
  int FSystemErrorCode;
};

// The numbered failures that operations of this library raise.
namespace serial_error {
inline constexpr int OpenFailed = 1;
inline constexpr int WriteFailed = 2;
inline constexpr int ReadFailed = 3;
inline constexpr int LineSettingsFailed = 7;
inline constexpr int TimeoutsFailed = 8;
inline constexpr int BufferSizesFailed = 9;
inline constexpr int StatusQueryFailed = 10;
inline constexpr int ModemStatusFailed = 11;
inline constexpr int SetWhileConnected = 14;
inline constexpr int RegistryError = 23;
}  // namespace serial_error

}  // namespace korbenit
