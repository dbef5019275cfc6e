#pragma once

#include <string>

#include "CaptureCommand.h"

namespace korbenit {

// The ports present, one a line with what is known about each; answers the exit code.
int ListPorts(TCaptureSession& session);

// Without --port only a port that can be the device is taken: another one (the serial
// console, another program's virtual port) must never get our commands. Empty when none
// is present; raises EUsage when several are.
std::string ChoosePort(const TCaptureOptions& options, TCaptureSession& session);

}  // namespace korbenit
