#pragma once

// Everything this library asks of the operating system, in one list; each platform
// provides it in its own folder (serial/posix/ here):
// - TSerialDevice, one open device: open, line settings, timed reads and writes, purge,
//   queue counts, modem lines, line errors (SerialDevice.h);
// - TSerialEventWaiter, the event thread's wait (SerialEventWaiter.h);
// - ListSerialPorts, DescribePort, CanBeTheDevice and PortGroup (PortList.h);
// - the hooks below.
#include <cstdint>

#include "Failure.h"

namespace korbenit {

// The failure kind of a numbered serial failure with the system's error number (-1 for
// none), decided from the platform's own numbers.
TFailureKind SerialFailureKind(int errorCode, int systemErrorCode);

// This process's id: a child made by fork has a new one, and none of its parent's threads.
int64_t CurrentProcessId();

}  // namespace korbenit
