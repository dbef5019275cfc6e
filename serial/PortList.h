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

// The same names in natural order (COM2 before COM10), as people are offered them.
TStringList ListPortsInNaturalOrder(const TPortListSources& sources = {});

// What the machine knows about a listed port, for people: the USB manufacturer and
// product, vendor:product id and serial number ("FTDI FT232R, 0403:6001, serial A1B2");
// "virtual" for a virtual port; empty when nothing is known.
std::string DescribePort(const std::string& name, const TPortListSources& sources = {});

// Whether a listed port can be the device: a USB serial port (ttyACM*, ttyUSB*) or a
// virtual port whose publisher runs (the simulator). The serial console and another
// program's virtual port cannot.
bool CanBeTheDevice(const std::string& name, const TPortListSources& sources = {});

// The group whose members may open the device a port name opens: the group that owns
// it, when that group may read and write it and is not root's; empty otherwise.
std::string PortGroup(const std::string& name);

}  // namespace korbenit
