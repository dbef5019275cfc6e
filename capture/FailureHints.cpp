#include "FailureHints.h"

#include <utility>

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

const std::pair<TFailureKind, const char*> Hints[] = {
    {TFailureKind::Permission, Permission},
    {TFailureKind::Busy, "Another program holds the port; close it and try again."},
    {TFailureKind::Missing, "The port is not there: is the device connected and switched on?"},
    {TFailureKind::NotSerialPort,
     "That is not a serial port (a terminal of this session, or no terminal at all): choose "
     "the device's port, usually ttyACM or ttyUSB."},
    {TFailureKind::DeviceLost, "The device went away: was it unplugged?"},
    {TFailureKind::NoAnswer,
     "The device does not answer: is USB switched on in its setup menu, is this its port, "
     "and is the cable a data cable?"},
    {TFailureKind::AnswerStopped,
     "The device stopped answering in the middle of the picture: was it unplugged, or did it "
     "switch USB off? Try again."},
    {TFailureKind::Protocol,
     "The device's answer was not a picture: is this the device's port, and does no other "
     "program talk to it? Try again."},
    {TFailureKind::NoDevicePort,
     "No USB serial port is present: switch USB on in the device's setup menu, check the "
     "cable (dmesg shows a new ttyACM or ttyUSB port when it is plugged in), or name a port "
     "with --port."},
    {TFailureKind::CannotCreate,
     "No file can be made there: may this user write the folder, and is the name a file's "
     "name?"},
    {TFailureKind::NameTooLong,
     "The file's name is too long for the system: choose a shorter one."},
    {TFailureKind::ReadOnly,
     "The file or its disk may not be written: choose another name or folder."},
    {TFailureKind::DiskFull, "The disk is full: make room and try again."},
    {TFailureKind::WriteFailed, "The file could not be written whole: is the disk full?"},
};

}  // namespace

std::string FailureHint(TFailureKind kind, const std::string& portGroup) {
  if (kind == TFailureKind::Permission && !portGroup.empty()) return PermissionHint(portGroup);
  for (const auto& [hinted, hint] : Hints)
    if (hinted == kind) return hint;
  return {};
}

}  // namespace korbenit
