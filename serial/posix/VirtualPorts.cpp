#include "VirtualPorts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace korbenit {
namespace {

bool IsSymlink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// A lock file whose lock can be taken has no publisher behind it any more.
bool IsLockHeld(const std::string& lockPath) {
  int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

constexpr std::string_view LockSuffix = ".lock";

bool EndsWithLockSuffix(std::string_view name) {
  return name.size() >= LockSuffix.size() &&
         name.substr(name.size() - LockSuffix.size()) == LockSuffix;
}

std::runtime_error PublishFailure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

std::string VirtualPortsFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/korbenit-ports";
  return "/tmp/korbenit-ports-" + std::to_string(::getuid());
}

bool IsTrustedFolder(const std::string& folder) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A name ending in ".lock" is refused: that file beside a link is its publisher's lock.
bool IsVirtualPortName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || EndsWithLockSuffix(name)) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

bool IsLiveLink(const std::string& folder, const std::string& name) {
  // A name like a /dev entry opens that entry, so it is never a virtual port.
  if (!IsVirtualPortName(name) || Exists("/dev/" + name)) return false;
  std::string link = folder + "/" + name;
  if (!IsSymlink(link) || !Exists(link)) return false;
  std::string lock = link + std::string(LockSuffix);
  struct stat info {};
  return ::lstat(lock.c_str(), &info) != 0 || IsLockHeld(lock);
}

bool IsPublishedPort(const std::string& folder, const std::string& name) {
  return IsLiveLink(folder, name) && IsLockHeld(folder + "/" + name + std::string(LockSuffix));
}

std::string DevicePath(const std::string& portName) {
  if (portName.find('/') != std::string::npos) return portName;
  std::string device = "/dev/" + portName;
  if (portName.empty() || Exists(device)) return device;
  std::string folder = VirtualPortsFolder();
  if (IsTrustedFolder(folder) && IsLiveLink(folder, portName)) return folder + "/" + portName;
  return device;
}

TVirtualPortPublication::TVirtualPortPublication(const std::string& name,
                                                 const std::string& terminalPath) {
  if (!IsVirtualPortName(name))
    throw std::runtime_error(
        "\"" + name +
        "\" cannot name a virtual port: use letters, digits, '-', '_' and '.', and no "
        "ending \".lock\"");
  if (Exists("/dev/" + name))
    throw std::runtime_error("\"" + name + "\" names /dev/" + name + "; choose another name");
  std::string folder = VirtualPortsFolder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw PublishFailure("cannot create", folder);
  if (!IsTrustedFolder(folder))
    throw std::runtime_error(folder + " is not a folder of this user's own (mode 0700)");
  FLinkPath = folder + "/" + name;
  FLockPath = FLinkPath + std::string(LockSuffix);
  // Locked before the link appears, so the link is never seen without its proof.
  FLock = ::open(FLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (FLock < 0) throw PublishFailure("cannot create", FLockPath);
  if (::flock(FLock, LOCK_EX | LOCK_NB) != 0) {
    ::close(FLock);
    throw std::runtime_error("the virtual port " + name + " is published by another program");
  }
  ::unlink(FLinkPath.c_str());
  if (::symlink(terminalPath.c_str(), FLinkPath.c_str()) != 0) {
    ::unlink(FLockPath.c_str());
    ::close(FLock);
    throw PublishFailure("cannot link", FLinkPath);
  }
}

TVirtualPortPublication::~TVirtualPortPublication() {
  ::unlink(FLinkPath.c_str());
  ::unlink(FLockPath.c_str());
  ::close(FLock);
}

}  // namespace korbenit
