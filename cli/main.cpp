// korbenit-capture: the window's capture on the command line. Switches in CaptureUsage.
#include <cerrno>
#include <iostream>

#include "CaptureCommand.h"
#include "Console.h"
#include "RuntimePlatform.h"

int main(int argc, char** argv) {
  using namespace korbenit;
  HoldClosedStandardStreams();
  try {
    TCaptureOptions options = ParseCaptureOptions(CommandLineArguments(argc, argv));
    if (options.Help || options.Version) {
      errno = 0;
      std::cout << (options.Help ? CaptureUsage : CaptureVersion);
      std::cout.flush();
      if (std::cout) return 0;
      std::cerr << "korbenit-capture: standard output: " << SystemErrorText(StreamErrorNumber())
                << "\n";
      return 1;
    }
    // SIGINT, SIGTERM and SIGHUP (the terminal closed) end the capture after its current
    // line, or at once while the device is awaited: the port is set back and closed.
    int code = 0, request = 0;
    {
      TStopRequest stop;
      TInterruptWatch watch(stop);
      TCaptureSession session{
          std::cout, std::cerr, StandardOutputIsTerminal(), StandardErrorColumns(), stop, {}};
      code = RunCaptureCommand(options, session);
      request = stop.Signal();
    }
    std::cout.flush();
    if (request != 0 && code == 128 + request) EndAsRequested(request);
    return code;
  } catch (const EUsage& e) {
    std::cerr << "korbenit-capture: " << e.what() << "; see --help\n";
    return 2;
  }
}
