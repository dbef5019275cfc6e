#pragma once

#include <string>

#include "CaptureCommand.h"
#include "ServedScreen.h"

namespace korbenit {

// Serves the device's screen over HTTP (options.Serve, options.Token) on one live session
// of the port: a page, an MJPEG stream, snapshots and the state as JSON. Runs until a
// stop is requested; answers the exit code (1 when it cannot listen or finds no port).
int ServeScreen(const TCaptureOptions& options, TCaptureSession& session);

// The page at "/": the live screen at a whole-pixel zoom, the rate and the state, a
// snapshot button and the stream's address. Everything it needs is in it.
extern const char* const ServedPage;

// /frame.json's text for a state.
std::string StateJson(const TScreenState& state);

}  // namespace korbenit
