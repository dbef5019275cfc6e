#pragma once

// Virtual ports on Linux: links to pseudo-terminals (or other ttys) in a folder of the
// user's own, published by the device simulator or a bridge.
#include <string>

namespace korbenit {

// $XDG_RUNTIME_DIR/korbenit-ports, or /tmp/korbenit-ports-<uid> without XDG_RUNTIME_DIR.
std::string VirtualPortsFolder();

// Only a folder of our own that nobody else may write can say where a port is: anyone
// else could plant a link there and receive our commands.
bool IsTrustedFolder(const std::string& folder);

// One path component of letters, digits, '-', '_' and '.', other than "." and "..".
bool IsVirtualPortName(const std::string& name);

// A link of the folder, under a virtual port's name that no /dev entry has, whose
// terminal is there. A publisher may keep the lock file
// "<name>.lock" beside its link locked while it runs; a link with such a file is live
// only while the lock is held, so a killed publisher's link never reaches a terminal
// that has since gone to somebody else.
bool IsLiveLink(const std::string& folder, const std::string& name);

// A live link whose publisher holds its lock file: one that a publisher of ours (the
// simulator) keeps, not a bare link of another program.
bool IsPublishedPort(const std::string& folder, const std::string& name);

// The path a port name opens: a name holding "/" as it stands; otherwise /dev/<name>
// when that exists, else a live link of that name in a trusted virtual-ports folder.
std::string DevicePath(const std::string& portName);

// Publishes a terminal as a virtual port for as long as it lives: refuses a name that is
// not a virtual port's or that /dev has, creates the folder (0700) when missing, refuses
// a folder that is not trusted, and holds the lock file beside the link. Raises std::runtime_error
// when it cannot.
class TVirtualPortPublication {
 public:
  TVirtualPortPublication(const std::string& name, const std::string& terminalPath);
  TVirtualPortPublication(const TVirtualPortPublication&) = delete;
  TVirtualPortPublication& operator=(const TVirtualPortPublication&) = delete;
  ~TVirtualPortPublication();

  const std::string& LinkPath() const { return FLinkPath; }

 private:
  std::string FLinkPath;
  std::string FLockPath;
  int FLock = -1;
};

}  // namespace korbenit
