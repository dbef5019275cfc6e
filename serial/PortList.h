#pragma once

#include <string>

#include "NaturalOrder.h"

namespace korbenit {

// Where the platform keeps its list of serial devices; tests point these at a fake tree.
struct TPortListSources {
  std::string DeviceClassFolder;   // empty: the platform's own
  std::string VirtualPortsFolder;  // empty: the platform's own
};

// Replaces target with the names of the serial ports present, as TSerialPort opens them,
// sorted alphabetically without regard to case. When the platform's list cannot be read
// it raises ESerialPort code 23 and leaves target as it was.
void ListSerialPorts(TStringList& target, const TPortListSources& sources = {});

}  // namespace korbenit
