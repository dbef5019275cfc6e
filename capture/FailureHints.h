#pragma once

#include <string>

namespace korbenit {

// A plain-language hint for a failure message of the capture or its port, for people
// who meet it ("Unable to open com port (win error code: 13)": the dialout group);
// empty when none is known. The message itself always stays the system's own.
// portGroup, when known, is the group that owns the port's device: a refused open names
// it instead of the usual one.
std::string FailureHint(const std::string& message, const std::string& portGroup = {});

}  // namespace korbenit
