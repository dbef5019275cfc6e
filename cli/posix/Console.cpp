// The command line's console on POSIX: signals, closed standard streams, terminals.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "../Console.h"

namespace korbenit {

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

bool StandardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

// A terminal that takes no escape sequences (TERM=dumb) gets no progress bar.
int StandardErrorColumns() {
  winsize size{};
  const char* terminal = std::getenv("TERM");
  if (::isatty(STDERR_FILENO) != 1 || (terminal && std::string(terminal) == "dumb")) return 0;
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by a thread of its own,
// which may then do what no signal handler may.
struct TInterruptWatch::TPlatform {
  TStopRequest& Stop;
  sigset_t Signals{};
  std::atomic<bool> Done{false};
  std::thread Thread;

  explicit TPlatform(TStopRequest& stop) : Stop(stop) {
    sigemptyset(&Signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction found {};
      if (::sigaction(signal, nullptr, &found) == 0 && found.sa_handler == SIG_IGN) continue;
      sigaddset(&Signals, signal);
    }
    ::pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
    Thread = std::thread([this] { Watch(); });
  }
  ~TPlatform() {
    Done = true;
    Thread.join();
  }
  void Watch() {
    while (!Done) {
      timespec look{0, 50'000'000};
      int signal = ::sigtimedwait(&Signals, nullptr, &look);
      if (signal > 0) Stop.Request(signal);
    }
  }
};

TInterruptWatch::TInterruptWatch(TStopRequest& stop)
    : FPlatform(std::make_unique<TPlatform>(stop)) {}

TInterruptWatch::~TInterruptWatch() = default;

void EndAsRequested(int request) {
  std::fflush(nullptr);
  ::signal(request, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, request);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(request);
  ::_exit(128 + request);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace korbenit
