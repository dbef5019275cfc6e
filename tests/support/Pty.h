#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "DeviceModel.h"

namespace korbenit::testing {

// A pseudo-terminal pair: the test holds the master side, the port opens the slave by
// its path.
class TPty {
 public:
  TPty() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
      throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(FMaster, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    FSlavePath = name;
  }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;
  ~TPty() { CloseMaster(); }

  const std::string& SlavePath() const { return FSlavePath; }
  int Master() const { return FMaster; }
  void CloseMaster() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
  }
  void Send(const std::string& bytes) const {
    if (::write(FMaster, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("pty write failed");
  }
  // What the port sent, waiting up to timeoutMs for the first byte.
  std::string Receive(int timeoutMs = 1000) const {
    std::string got;
    pollfd pfd{FMaster, POLLIN, 0};
    while (::poll(&pfd, 1, got.empty() ? timeoutMs : 20) > 0) {
      char block[4096];
      ssize_t n = ::read(FMaster, block, sizeof block);
      if (n <= 0) break;
      got.append(block, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int FMaster = -1;
  std::string FSlavePath;
};

// The device model answering on the master side of a pty, on its own thread.
class TPtyDevice {
 public:
  explicit TPtyDevice(TPty& pty, TDeviceModel model = {})
      : FPty(pty), Model(std::move(model)), FThread([this] { Serve(); }) {}
  ~TPtyDevice() {
    FStop = true;
    FThread.join();
  }

 private:
  void Serve() {
    while (!FStop) {
      pollfd pfd{FPty.Master(), POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      char block[256];
      ssize_t n = ::read(FPty.Master(), block, sizeof block);
      if (n <= 0) continue;
      std::string reply = Model.Receive(std::string(block, static_cast<std::size_t>(n)));
      if (!reply.empty()) FPty.Send(reply);
    }
  }

  TPty& FPty;

 public:
  TDeviceModel Model;

 private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace korbenit::testing
