#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace korbenit {

// A version in tenths as titles show it, "%1.1f" with a point whatever the user's
// regional settings (the C library's numbers keep the "C" locale): 10 gives "1.0".
inline std::string FormatVersion(int32_t versionInTenths) {
  char text[32];
  std::snprintf(text, sizeof text, "%1.1f", versionInTenths / 10.0);
  return text;
}

}  // namespace korbenit
