#include "FailureHints.h"

#include <cerrno>

#include "SerialError.h"

namespace korbenit {
namespace {

// Where the port's group cannot help (root's, or one that may not read and write it).
const char* const Permission =
    "This user may not use the port, and no group gives access to it: only its owner may "
    "open it. Ask the administrator for a udev rule that gives it to the dialout group.";

std::string PermissionHint(const std::string& group) {
  return "This user may not use the port: join its group " + group + " (\"sudo usermod -aG " +
         group + " $USER\") and log in again.";
}
const char* const Busy = "Another program holds the port; close it and try again.";
const char* const Missing = "The port is not there: is the device connected and switched on?";
const char* const Unplugged = "The device went away: was it unplugged?";
const char* const NotSerial =
    "That is not a serial port (a terminal of this session, or no terminal at all): choose "
    "the device's port, usually ttyACM or ttyUSB.";

struct TSerialHint {
  int Code;
  int System;
  const char* Hint;
};

const TSerialHint SerialHints[] = {
    {serial_error::OpenFailed, EACCES, Permission}, {serial_error::OpenFailed, EBUSY, Busy},
    {serial_error::OpenFailed, ENOENT, Missing},    {serial_error::OpenFailed, ENXIO, Missing},
    {serial_error::OpenFailed, ENODEV, Missing},    {serial_error::OpenFailed, ENOTTY, NotSerial},
    {serial_error::ReadFailed, EIO, Unplugged},     {serial_error::WriteFailed, EIO, Unplugged},
};

// Messages known by how they begin and end.
struct TTextHint {
  const char* Start;
  const char* End;
  const char* Hint;
};

const char* const Silent =
    "The device does not answer: is USB switched on in its setup menu, is this its port, "
    "and is the cable a data cable?";

const TTextHint TextHints[] = {
    {"B: No Data", "", Silent},
    {"I: No Data", "", Silent},
    {"S: No Data", "",
     "The device stopped answering in the middle of the picture: was it unplugged, or did it "
     "switch USB off? Try again."},
    {"no device port found", "",
     "No USB serial port is present: switch USB on in the device's setup menu, check the "
     "cable (dmesg shows a new ttyACM or ttyUSB port when it is plugged in), or name a port "
     "with --port."},
    {"Datei ", " kann nicht erstellt werden",
     "No file can be made there: may this user write the folder, and is the name a file's "
     "name?"},
    {"Stream-Write-Fehler", "", "The file could not be written whole: is the disk full?"},
};

bool Matches(const std::string& message, const TTextHint& hint) {
  std::string start = hint.Start, end = hint.End;
  return message.size() >= start.size() + end.size() &&
         message.compare(0, start.size(), start) == 0 &&
         message.compare(message.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string FailureHint(const std::string& message, const std::string& portGroup) {
  bool refused = message == ESerialPort(serial_error::OpenFailed, EACCES).what();
  if (refused && !portGroup.empty()) return PermissionHint(portGroup);
  for (const TSerialHint& hint : SerialHints)
    if (message == ESerialPort(hint.Code, hint.System).what()) return hint.Hint;
  for (const TTextHint& hint : TextHints)
    if (Matches(message, hint)) return hint.Hint;
  return {};
}

}  // namespace korbenit
