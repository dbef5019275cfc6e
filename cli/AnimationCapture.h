#pragma once

#include <string>

#include "CaptureCommand.h"

namespace korbenit {

// A series as one animation in the file name: a capture every interval, each frame shown
// until the next; a count of 0 records until stopped.
int RecordSeries(const std::string& port, const std::string& name, const TCaptureOptions& options,
                 TCaptureSession& session);

// A continuous recording: frames back to back from a live session for the duration.
int RecordDuration(const std::string& port, const std::string& name, const TCaptureOptions& options,
                   TCaptureSession& session);

}  // namespace korbenit
