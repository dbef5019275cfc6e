// korbenit-capture: the window's capture on the command line. Switches in CaptureUsage.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iostream>
#include <thread>

#include "CaptureCommand.h"

namespace {

using namespace korbenit;

// SIGINT, SIGTERM and SIGHUP (the terminal closed) end the capture after its current
// line, or at once while the device is awaited: the port is set back and closed. They
// are blocked in every thread and taken by a thread of their own, which may then abort
// the port's waits, something no signal handler may do.
class TSignalWatch {
 public:
  explicit TSignalWatch(TStopRequest& stop) : FStop(stop) {
    sigemptyset(&FSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&FSignals, signal);
    ::pthread_sigmask(SIG_BLOCK, &FSignals, nullptr);
    FThread = std::thread([this] { Watch(); });
  }
  TSignalWatch(const TSignalWatch&) = delete;
  TSignalWatch& operator=(const TSignalWatch&) = delete;
  ~TSignalWatch() {
    FDone = true;
    FThread.join();
  }

 private:
  void Watch() {
    while (!FDone) {
      timespec look{0, 50'000'000};
      int signal = ::sigtimedwait(&FSignals, nullptr, &look);
      if (signal > 0) FStop.Request(signal);
    }
  }

  TStopRequest& FStop;
  sigset_t FSignals{};
  std::atomic<bool> FDone{false};
  std::thread FThread;
};

// A standard stream that is closed keeps its number taken by a descriptor that refuses
// writing, so the port or a picture never lands there and writing to it fails as it should.
void HoldClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int held = ::open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd) {
        ::dup2(held, fd);
        ::close(held);
      }
    }
}

int TerminalColumns(int fd) {
  winsize size{};
  if (::isatty(fd) != 1) return 0;
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardStreams();
  try {
    TCaptureOptions options = ParseCaptureOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.Help || options.Version) {
      std::cout << (options.Help ? CaptureUsage : "korbenit-capture " KORBENIT_VERSION "\n");
      std::cout.flush();
      return std::cout ? 0 : 1;
    }
    TStopRequest stop;
    TSignalWatch watch(stop);
    TCaptureSession session{
        std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1, TerminalColumns(STDERR_FILENO),
        stop,      {}};
    return RunCaptureCommand(options, session);
  } catch (const EUsage& e) {
    std::cerr << "korbenit-capture: " << e.what() << "; see --help\n";
    return 2;
  }
}
