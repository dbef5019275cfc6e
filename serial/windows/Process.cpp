// The serial library's process hooks on Windows.
#include <windows.h>

#include "../SerialPlatform.h"

namespace korbenit {

int64_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

}  // namespace korbenit
