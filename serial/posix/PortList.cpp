// Serial ports on Linux: the tty class entries that have a device behind them, and the
// virtual ports published as links in the virtual-ports folder.
#include "../PortList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <set>

#include "../SerialError.h"
#include "AsciiCase.h"
#include "VirtualPorts.h"

namespace korbenit {
namespace {

using TFolder = std::unique_ptr<DIR, int (*)(DIR*)>;

TFolder OpenFolder(const std::string& path) { return {::opendir(path.c_str()), ::closedir}; }

bool Exists(const std::string& path, bool followLink) {
  struct stat info {};
  return (followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) == 0;
}

// Legacy 8250 entries exist for every possible UART; type 0 means none is fitted.
bool IsAbsentLegacyUart(const std::string& entry, const std::string& name) {
  if (name.rfind("ttyS", 0) != 0) return false;
  std::ifstream type(entry + "/type");
  int value = 0;
  return !(type >> value) || value == 0;
}

// Every entry of a folder but "." and ".."; raises code 23 when it cannot be read.
std::vector<std::string> RequiredEntries(const std::string& folder) {
  TFolder dir = OpenFolder(folder);
  if (!dir) throw ESerialPort(serial_error::RegistryError, errno);
  std::vector<std::string> names;
  errno = 0;
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  if (errno != 0) throw ESerialPort(serial_error::RegistryError, errno);
  return names;
}

void AddDevicePorts(const std::string& folder, std::set<std::string>& ports) {
  for (const auto& name : RequiredEntries(folder)) {
    std::string entry = folder + "/" + name;
    if (Exists(entry + "/device", false) && !IsAbsentLegacyUart(entry, name)) ports.insert(name);
  }
}

// Virtual ports are an extra: a missing, unreadable or untrusted folder just offers none,
// and a link whose publisher or terminal is gone is not offered.
void AddVirtualPorts(const std::string& folder, std::set<std::string>& ports) {
  if (!IsTrustedFolder(folder)) return;
  TFolder dir = OpenFolder(folder);
  if (!dir) return;
  while (dirent* entry = ::readdir(dir.get()))
    if (IsLiveLink(folder, entry->d_name)) ports.insert(entry->d_name);
}

}  // namespace

void ListSerialPorts(TStringList& target, const TPortListSources& sources) {
  std::set<std::string> ports;
  AddDevicePorts(sources.DeviceClassFolder.empty() ? "/sys/class/tty" : sources.DeviceClassFolder,
                 ports);
  AddVirtualPorts(sources.VirtualPortsFolder.empty() ? VirtualPortsFolder()
                                                     : sources.VirtualPortsFolder,
                  ports);
  TStringList names(ports.begin(), ports.end());
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
  target = std::move(names);
}

}  // namespace korbenit
