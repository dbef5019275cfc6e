#pragma once

#include <string>

#include "CaptureCommand.h"
#include "ScreenProtocol.h"

namespace korbenit {

enum class TOutcome { Saved, Failed, Stopped };

// One picture over one opening of the port, without an event thread: each line handed to
// sink as it arrives. A stop that cuts a wait short is no failure; a failure is put in
// failure.
TOutcome CaptureFrame(const std::string& port, TStopRequest& stop,
                      const TScreenProtocol::TLineSink& sink, TFailure& failure);

}  // namespace korbenit
