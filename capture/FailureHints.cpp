#include "FailureHints.h"

#include <cerrno>

#include "SerialError.h"

namespace korbenit {
namespace {

struct THint {
  int Code;    // the serial failure's code, or 0 for a capture message
  int System;  // its system error number
  const char* Message;
  const char* Hint;
};

const THint Hints[] = {
    {serial_error::OpenFailed, EACCES, nullptr,
     "This user may not use the port: join the group that owns it (usually dialout, "
     "\"sudo usermod -aG dialout $USER\") and log in again."},
    {serial_error::OpenFailed, EBUSY, nullptr,
     "Another program holds the port; close it and try again."},
    {serial_error::OpenFailed, ENOENT, nullptr,
     "The port is not there: is the device connected and switched on?"},
    {serial_error::OpenFailed, ENXIO, nullptr,
     "The port is not there: is the device connected and switched on?"},
    {serial_error::OpenFailed, ENODEV, nullptr,
     "The port is not there: is the device connected and switched on?"},
    {serial_error::ReadFailed, EIO, nullptr, "The device went away: was it unplugged?"},
    {serial_error::WriteFailed, EIO, nullptr, "The device went away: was it unplugged?"},
    {0, 0, "B: No Data", "The device does not answer: is USB switched on in its setup menu?"},
};

// The message of a serial failure with a system number, as ESerialPort composes it.
std::string SerialMessage(int code, int system) { return ESerialPort(code, system).what(); }

}  // namespace

std::string FailureHint(const std::string& message) {
  for (const THint& hint : Hints)
    if (message == (hint.Message ? std::string(hint.Message) : SerialMessage(hint.Code, hint.System)))
      return hint.Hint;
  return {};
}

}  // namespace korbenit
