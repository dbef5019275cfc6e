#pragma once

#include <string>

#include "CaptureCommand.h"

namespace korbenit {

// A series as one animation: a capture every interval, each frame shown until the next.
int RecordSeries(const std::string& port, const TCaptureOptions& options, TCaptureSession& session);

// A continuous recording: frames back to back from a live session for the duration.
int RecordDuration(const std::string& port, const TCaptureOptions& options,
                   TCaptureSession& session);

}  // namespace korbenit
