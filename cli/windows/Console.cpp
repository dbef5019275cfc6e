// The command line's console on Windows: Ctrl+C, Ctrl+Break and console close through a
// control handler, binary standard output, consoles told apart from files and NUL.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../Console.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

// The numbers the requests are known by everywhere (a shell reports 128 + them).
constexpr int InterruptRequest = 2;   // Ctrl+C, as SIGINT
constexpr int HangUpRequest = 1;      // the console closed, as SIGHUP
constexpr int TerminateRequest = 15;  // Ctrl+Break, logoff, shutdown, as SIGTERM

std::atomic<TStopRequest*> Watched{nullptr};

// Runs on a thread of the system's own: it only signals.
BOOL WINAPI OnControl(DWORD event) {
  TStopRequest* stop = Watched.load();
  if (!stop) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
      stop->Request(InterruptRequest);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      stop->Request(HangUpRequest);
      return TRUE;
    default:
      stop->Request(TerminateRequest);
      return TRUE;
  }
}

bool IsConsole(DWORD stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(stream), &mode) != 0;
}

}  // namespace

// Pictures go out byte for byte: the C runtime would turn every \n into \r\n.
void HoldClosedStandardStreams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

bool StandardOutputIsTerminal() {
  return IsConsole(STD_OUTPUT_HANDLE);
}

int StandardErrorColumns() {
  if (!IsConsole(STD_ERROR_HANDLE)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
  int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

struct TInterruptWatch::TPlatform {
  explicit TPlatform(TStopRequest& stop) {
    Watched = &stop;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
  }
  ~TPlatform() {
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    Watched = nullptr;
  }
};

TInterruptWatch::TInterruptWatch(TStopRequest& stop)
    : FPlatform(std::make_unique<TPlatform>(stop)) {}

TInterruptWatch::~TInterruptWatch() = default;

// Windows has no signal to end by; the exit code says what a shell would report.
void EndAsRequested(int request) {
  std::fflush(nullptr);
  std::_Exit(128 + request);
}

std::vector<std::string> CommandLineArguments(int, char**) {
  return ProgramArguments();
}

}  // namespace korbenit
