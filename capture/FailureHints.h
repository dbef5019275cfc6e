#pragma once

#include <string>

#include "Failure.h"

namespace korbenit {

// A plain-language hint for a kind of failure of the capture, its port or its files, for
// people who meet it (a refused port: the dialout group); empty when none is known. The
// message itself always stays the system's own. portGroup, when known, is the group that
// owns the port's device: a refused open names it instead of the usual one.
std::string FailureHint(TFailureKind kind, const std::string& portGroup = {});

}  // namespace korbenit
