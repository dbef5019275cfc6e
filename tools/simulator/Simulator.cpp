#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

namespace korbenit {
namespace {

std::runtime_error SystemFailure(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw SystemFailure("write to the terminal");
    done += static_cast<std::size_t>(n);
  }
}

std::string DescribeCommand(const std::string& command) {
  if (command.size() == 4)
    return "S " +
           std::to_string(static_cast<uint8_t>(command[2]) | static_cast<uint8_t>(command[3]) << 8);
  return std::string(1, command[1]);
}

}  // namespace

TDeviceFault ParseFault(const std::string& text) {
  static const std::map<std::string, TDeviceFault::TKind> kinds = {
      {"silence", TDeviceFault::TKind::Silence},
      {"wrong-start", TDeviceFault::TKind::WrongStartByte},
      {"status-only", TDeviceFault::TKind::StatusOnly},
      {"length", TDeviceFault::TKind::PayloadLength},
      {"stall", TDeviceFault::TKind::Stall},
      {"stray", TDeviceFault::TKind::StrayBytes}};
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
    parts.push_back(text.substr(start, colon - start));
  parts.push_back(text.substr(start));
  auto kind = parts.empty() ? kinds.end() : kinds.find(parts[0]);
  if (parts.size() != 4 || kind == kinds.end() || parts[1].size() != 1 ||
      std::string("BIS").find(parts[1][0]) == std::string::npos)
    throw std::invalid_argument("bad fault \"" + text + "\" (KIND:B|I|S:LINE|*:VALUE)");
  TDeviceFault fault;
  fault.Kind = kind->second;
  fault.Command = parts[1][0];
  fault.Line = parts[2] == "*" ? -1 : std::stoi(parts[2]);
  fault.Value = std::stoi(parts[3], nullptr, 0);
  return fault;
}

TPtySimulator::TPtySimulator(TDeviceModel model, TSimulatorOptions options)
    : FModel(std::move(model)), FOptions(std::move(options)) {
  FModel.SetMoving(FOptions.Moving);
  FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
      ::ptsname_r(FMaster, name, sizeof name) != 0)
    throw SystemFailure("pseudo-terminal");
  FTerminalPath = name;
  FKeepOpen = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (FKeepOpen < 0) throw SystemFailure("open " + FTerminalPath);
  termios raw{};
  ::tcgetattr(FKeepOpen, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(FKeepOpen, TCSANOW, &raw);

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  FSignals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);

  // Paced answers should keep their delay, not the timer's default 50 us of slack.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  FPublication = std::make_unique<TVirtualPortPublication>(FOptions.Name, FTerminalPath);
}

TPtySimulator::~TPtySimulator() {
  FPublication.reset();
  for (int fd : {FSignals, FKeepOpen, FMaster})
    if (fd >= 0) ::close(fd);
}

// A host marks the terminal exclusive while it holds its lock. A mark without a lock
// was left by a host that was killed; since we keep the terminal open, the kernel would
// keep that mark and refuse every later host, so we clear it.
void TPtySimulator::ClearStaleMark() {
  int exclusive = 0;
  if (::ioctl(FKeepOpen, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
  if (::flock(FKeepOpen, LOCK_EX | LOCK_NB) != 0) return;
  ::ioctl(FKeepOpen, TIOCNXCL);
  ::flock(FKeepOpen, LOCK_UN);
}

void TPtySimulator::Run(std::ostream& log) {
  constexpr int IdleLookMs = 20;
  for (;;) {
    pollfd fds[2] = {{FMaster, POLLIN, 0}, {FSignals, POLLIN, 0}};
    int ready = ::poll(fds, 2, IdleLookMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw SystemFailure("poll");
    }
    if (ready == 0) {
      ClearStaleMark();
      continue;
    }
    if (fds[1].revents & POLLIN) {
      if (FPacedLines > 0)
        log << "paced " << FPacedLines << " lines, "
            << static_cast<double>(FPacedTotal.count()) / 1000.0 / static_cast<double>(FPacedLines)
            << " us each" << std::endl;
      return;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    char block[512];
    ssize_t n = ::read(FMaster, block, sizeof block);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) throw SystemFailure("read from the terminal");
    Answer(std::string(block, static_cast<std::size_t>(n)), log);
  }
}

// Sleeps until a moment. A sleep wakes late by a fairly steady amount; aiming that much
// earlier keeps the pace without spinning.
void TPtySimulator::SleepUntil(std::chrono::steady_clock::time_point moment) {
  using namespace std::chrono;
  auto aim = moment - FOvershoot;
  if (aim <= steady_clock::now()) return;
  std::this_thread::sleep_until(aim);
  // A rare long delay (the machine was busy) says nothing about the usual lateness.
  auto late = std::min(duration_cast<nanoseconds>(steady_clock::now() - aim), nanoseconds(200000));
  FOvershoot += (late - FOvershoot) / 4;
}

// Sends an answer the way a line at that speed delivers it: spread evenly over the delay,
// its last part leaving when the delay is over.
void TPtySimulator::SendPaced(const std::string& reply, std::chrono::nanoseconds delay,
                              std::chrono::steady_clock::time_point start) {
  constexpr std::size_t Parts = 8;
  std::size_t sent = 0;
  for (std::size_t part = 1; part <= Parts; ++part) {
    std::size_t end = reply.size() * part / Parts;
    SleepUntil(start + delay * static_cast<long>(part) / static_cast<long>(Parts));
    if (end > sent) WriteAll(FMaster, reply.substr(sent, end - sent));
    sent = end;
  }
  FPacedTotal += std::chrono::steady_clock::now() - start;
  ++FPacedLines;
}

void TPtySimulator::Answer(const std::string& bytes, std::ostream& log) {
  auto start = std::chrono::steady_clock::now();
  std::size_t before = FModel.Commands().size();
  std::string reply = FModel.Receive(bytes);
  const auto& commands = FModel.Commands();
  long lines = 0;
  for (std::size_t i = before; i < commands.size(); ++i) {
    if (FOptions.LogCommands) log << DescribeCommand(commands[i]) << std::endl;
    if (commands[i].size() == 4) ++lines;
  }
  if (reply.empty()) return;
  if (lines == 0 || FOptions.LineDelay.count() == 0) {
    WriteAll(FMaster, reply);
  } else {
    SendPaced(reply,
              std::chrono::duration_cast<std::chrono::nanoseconds>(FOptions.LineDelay) * lines,
              start);
  }
}

}  // namespace korbenit
