// The serial ports Windows knows: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, each
// a port's name (COM3) under its driver's device (\Device\USBSER000, \Device\Serial0).
#include <windows.h>

#include <algorithm>
#include <vector>

#include "../PortList.h"
#include "../SerialError.h"
#include "AsciiCase.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

struct TRegisteredPort {
  std::string Name, Device;
};

// No key at all is a machine without serial ports.
std::vector<TRegisteredPort> RegisteredPorts() {
  HKEY key = nullptr;
  LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                   KEY_QUERY_VALUE, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return {};
  if (opened != ERROR_SUCCESS)
    throw ESerialPort(serial_error::RegistryError, static_cast<int>(opened));
  std::vector<TRegisteredPort> ports;
  for (DWORD index = 0;; ++index) {
    wchar_t name[512];
    wchar_t data[512];
    DWORD nameSize = 512, dataSize = sizeof data, type = 0;
    LSTATUS result = ::RegEnumValueW(key, index, name, &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      ::RegCloseKey(key);
      throw ESerialPort(serial_error::RegistryError, static_cast<int>(result));
    }
    if (type != REG_SZ) continue;
    std::wstring port(data, dataSize / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    ports.push_back({Narrow(port), Narrow(std::wstring(name, nameSize))});
  }
  ::RegCloseKey(key);
  return ports;
}

}  // namespace

void ListSerialPorts(TStringList& target, const TPortListSources&) {
  TStringList names;
  for (const auto& port : RegisteredPorts()) names.push_back(port.Name);
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  target = std::move(names);
}

std::string DescribePort(const std::string& name, const TPortListSources&) {
  for (const auto& port : RegisteredPorts())
    if (port.Name == name) return port.Device;
  return {};
}

// The main board's own UARTs (\Device\Serial0) are never the device.
bool CanBeTheDevice(const std::string& name, const TPortListSources&) {
  for (const auto& port : RegisteredPorts())
    if (port.Name == name) return port.Device.rfind("\\Device\\Serial", 0) != 0;
  return false;
}

// Windows gives ports to users through access lists, not groups.
std::string PortGroup(const std::string&) {
  return {};
}

}  // namespace korbenit
