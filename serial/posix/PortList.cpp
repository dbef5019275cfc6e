// Serial ports on Linux: the tty class entries that have a device behind them, and the
// virtual ports published as links in the virtual-ports folder.
#include "../PortList.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
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

std::string ReadAttribute(const std::string& folder, const char* name) {
  std::ifstream file(folder + "/" + name);
  std::string value;
  std::getline(file, value);
  return value;
}

// The USB device a tty hangs from: the nearest folder above its device that has a
// vendor id.
std::string UsbDeviceFolder(const std::string& ttyEntry) {
  char resolved[PATH_MAX];
  if (!::realpath((ttyEntry + "/device").c_str(), resolved)) return {};
  for (std::string folder = resolved; folder.size() > 1;
       folder = folder.substr(0, folder.rfind('/'))) {
    if (Exists(folder + "/idVendor", true)) return folder;
  }
  return {};
}

std::string DescribeUsbDevice(const std::string& folder) {
  std::string maker = ReadAttribute(folder, "manufacturer");
  std::string product = ReadAttribute(folder, "product");
  std::string name = maker.empty() || product.empty() ? maker + product : maker + " " + product;
  std::string text = name.empty() ? "" : name + ", ";
  text += ReadAttribute(folder, "idVendor") + ":" + ReadAttribute(folder, "idProduct");
  if (std::string serial = ReadAttribute(folder, "serial"); !serial.empty())
    text += ", serial " + serial;
  return text;
}

std::string ClassFolder(const TPortListSources& sources) {
  return sources.DeviceClassFolder.empty() ? "/sys/class/tty" : sources.DeviceClassFolder;
}

std::string VirtualFolder(const TPortListSources& sources) {
  return sources.VirtualPortsFolder.empty() ? VirtualPortsFolder() : sources.VirtualPortsFolder;
}

}  // namespace

std::string DescribePort(const std::string& name, const TPortListSources& sources) {
  std::string entry = ClassFolder(sources) + "/" + name;
  if (name.find('/') == std::string::npos && Exists(entry + "/device", false)) {
    std::string usb = UsbDeviceFolder(entry);
    return usb.empty() ? std::string() : DescribeUsbDevice(usb);
  }
  std::string folder = VirtualFolder(sources);
  return IsTrustedFolder(folder) && IsLiveLink(folder, name) ? "virtual" : "";
}

bool CanBeTheDevice(const std::string& name, const TPortListSources& sources) {
  if (name.rfind("ttyACM", 0) == 0 || name.rfind("ttyUSB", 0) == 0) return true;
  std::string folder = VirtualFolder(sources);
  return IsTrustedFolder(folder) && IsPublishedPort(folder, name);
}

std::string PortGroup(const std::string& name) {
  struct stat info {};
  if (::stat(DevicePath(name).c_str(), &info) != 0) return {};
  if (info.st_gid == 0 || (info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return {};
  return found->gr_name;
}

void ListSerialPorts(TStringList& target, const TPortListSources& sources) {
  std::set<std::string> ports;
  AddDevicePorts(ClassFolder(sources), ports);
  AddVirtualPorts(VirtualFolder(sources), ports);
  TStringList names(ports.begin(), ports.end());
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
  target = std::move(names);
}

}  // namespace korbenit
