// The serial library's process hooks on POSIX.
#include <unistd.h>

#include "../SerialPlatform.h"

namespace korbenit {

int64_t CurrentProcessId() {
  return ::getpid();
}

}  // namespace korbenit
