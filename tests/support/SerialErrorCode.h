#pragma once

#include "SerialError.h"

namespace korbenit::testing {

// The ESerialPort code an action fails with, or 0 when it does not fail.
template <typename TAction>
int SerialErrorCodeOf(TAction&& action) {
  try {
    action();
  } catch (const ESerialPort& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace korbenit::testing
