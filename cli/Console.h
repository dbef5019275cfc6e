#pragma once

// Everything the command line asks of the operating system around its console, in one
// list; each platform provides it in its own folder (cli/posix/, cli/windows/).
#include <memory>
#include <string>
#include <vector>

#include "CaptureCommand.h"

namespace korbenit {

// A standard stream that is closed keeps its number taken by one that refuses writing,
// so the port or a picture never lands there and writing to it fails as it should; and
// standard output carries bytes unchanged.
void HoldClosedStandardStreams();

// The program's arguments in UTF-8, whatever the system's code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether standard output is a terminal, and how wide standard error's terminal is (0
// for none).
bool StandardOutputIsTerminal();
int StandardErrorColumns();

// While it lives, the requests to end (Ctrl+C, a terminal hang-up, a termination
// request) are taken by a thread of its own and handed to stop, which only signals. One
// that was ignored when the program started (nohup, a background job) stays ignored.
class TInterruptWatch {
 public:
  explicit TInterruptWatch(TStopRequest& stop);
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;
  ~TInterruptWatch();

 private:
  struct TPlatform;
  std::unique_ptr<TPlatform> FPlatform;
};

// Ends the program as the request to end would have, once it has cleaned up: a shell
// then sees it stopped by that request (and a loop around it stops too).
[[noreturn]] void EndAsRequested(int request);

}  // namespace korbenit
