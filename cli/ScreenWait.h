#pragma once

#include <string>

#include "CaptureCommand.h"

namespace korbenit {

// Waits on the live session (one opening of the port) until the screen matches the
// reference (--wait-for) or has not changed for the time asked (--wait-stable), then
// saves that picture when an output is named. Answers 0 when it came, 1 when the timeout
// passed first, 2 for trouble.
int WaitForScreen(const std::string& port, const TCaptureOptions& options,
                  TCaptureSession& session);

// A series on the live session that keeps a picture only when the screen differs from
// the last one kept (masks, fuzz and the allowance apply): --count pictures kept (0:
// until stopped), or for --duration seconds. Numbered as series are.
int RecordChanges(const std::string& port, const TCaptureOptions& options,
                  TCaptureSession& session);

}  // namespace korbenit
