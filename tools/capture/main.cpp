// korbenit-capture: the window's capture on the command line. Switches in CaptureUsage.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>

#include "CaptureCommand.h"

namespace {

std::atomic<bool> StopRequested{false};

// Ends the capture after its current line; the port is set back and closed.
void RequestStop(int) { StopRequested = true; }

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korbenit;
  try {
    TCaptureOptions options = ParseCaptureOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.Help) {
      std::cout << CaptureUsage;
      return 0;
    }
    CatchStopSignals();
    TCaptureSession session{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, StopRequested, {}};
    return RunCaptureCommand(options, session);
  } catch (const EUsage& e) {
    std::cerr << "korbenit-capture: " << e.what() << "\n" << CaptureUsage;
    return 2;
  }
}
