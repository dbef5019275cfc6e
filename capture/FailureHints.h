#pragma once

#include <string>

namespace korbenit {

// A plain-language hint for a failure message of the capture or its port, for people
// who meet it ("Unable to open com port (win error code: 13)": the dialout group);
// empty when none is known. The message itself always stays the system's own.
std::string FailureHint(const std::string& message);

}  // namespace korbenit
