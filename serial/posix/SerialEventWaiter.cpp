// Device events on a POSIX tty: edge-triggered epoll on the port (new input, output
// space) and an eventfd for the stop request. Modem lines and error counters have no
// readiness of their own; where a port has them, they are looked at ten times a second.
#include "../SerialEventWaiter.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "../SerialError.h"
#include "PosixDevice.h"

namespace korbenit {
namespace {

constexpr int SignalPollMs = 100;
constexpr uint64_t StopToken = 0;
constexpr uint64_t PortToken = 1;

// Modem lines and counters are looked at only for events that need them, and only on a
// port that has lines or counters at all; a port whose lines are all low still has them.
bool WatchesLineSignals(TSerialEvents mask, bool hasModemLines, bool hasCounters) {
  using E = TSerialEvent;
  bool wanted = false;
  for (auto e : {E::evCTS, E::evDSR, E::evRLSD, E::evRing, E::evBreak, E::evError})
    wanted = wanted || mask.Contains(e);
  return wanted && (hasModemLines || hasCounters);
}

// A descriptor of our own, closed with its owner.
struct TDescriptor {
  int Fd = -1;
  explicit TDescriptor(int fd) : Fd(fd) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  ~TDescriptor() {
    if (Fd >= 0) ::close(Fd);
  }
};

int CreatedOrThrow(int fd) {
  if (fd < 0) throw ESerialPort(serial_error::OpenFailed, errno);
  return fd;
}

}  // namespace

struct TSerialEventWaiter::TPlatform {
  TSerialDevice::TPlatform& Device;
  TSerialDevice& Port;
  TSerialEvents Mask;
  int64_t Rx80Level;
  TDescriptor Wait{CreatedOrThrow(::epoll_create1(EPOLL_CLOEXEC))};
  TDescriptor Stop{CreatedOrThrow(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))};
  std::atomic<bool> Stopped{false};
  bool WatchingSignals = false;
  int LastModem = 0;
  TLineCounters LastCounters;

  TPlatform(TSerialDevice& device, TSerialEvents mask, int32_t inputSize)
      : Device(device.Platform()),
        Port(device),
        Mask(mask),
        Rx80Level(int64_t{inputSize} * 8 / 10) {}

  void Watch();
  TSerialEvents SignalEvents();
  TSerialEvents PortEvents(const epoll_event& event);
};

void TSerialEventWaiter::TPlatform::Watch() {
  epoll_event stop{EPOLLIN, {.u64 = StopToken}};
  if (::epoll_ctl(Wait.Fd, EPOLL_CTL_ADD, Stop.Fd, &stop) != 0)
    throw ESerialPort(serial_error::OpenFailed, errno);
  uint32_t portEvents = EPOLLIN | EPOLLET;
  if (Mask.Contains(TSerialEvent::evTxEmpty)) portEvents |= EPOLLOUT;
  epoll_event port{portEvents, {.u64 = PortToken}};
  // A device that cannot be watched (none behind an overridden handle) reports no
  // events rather than failing the open.
  ::epoll_ctl(Wait.Fd, EPOLL_CTL_ADD, Device.Fd, &port);
  std::optional<TLineCounters> counters;
  std::optional<int> modem;
  Device.ReadCounters(counters);
  Device.ReadModemLines(modem);
  WatchingSignals = WatchesLineSignals(Mask, modem.has_value(), counters.has_value());
  LastModem = modem.value_or(0);
  LastCounters = counters.value_or(TLineCounters{});
}

TSerialEventWaiter::TSerialEventWaiter(TSerialDevice& device, TSerialEvents mask, int32_t inputSize)
    : FPlatform(std::make_unique<TPlatform>(device, mask, inputSize)) {
  FPlatform->Watch();
}

TSerialEventWaiter::~TSerialEventWaiter() = default;

void TSerialEventWaiter::Stop() noexcept {
  FPlatform->Stopped = true;
  uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(FPlatform->Stop.Fd, &one, sizeof one);
}

TSerialEvents TSerialEventWaiter::TPlatform::SignalEvents() {
  using E = TSerialEvent;
  TSerialEvents found;
  std::optional<int> modem;
  std::optional<TLineCounters> read;
  if (Device.ReadModemLines(modem) != 0 || Device.ReadCounters(read) != 0) return found;
  int lines = modem.value_or(0);
  TLineCounters counters = read.value_or(TLineCounters{});
  int changed = lines ^ LastModem;
  if (changed & TIOCM_CTS) found.Include(E::evCTS);
  if (changed & TIOCM_DSR) found.Include(E::evDSR);
  if (changed & TIOCM_CD) found.Include(E::evRLSD);
  if ((changed & lines & TIOCM_RI) || counters.Ring != LastCounters.Ring) found.Include(E::evRing);
  if (counters.Break != LastCounters.Break) found.Include(E::evBreak);
  if (counters.Frame != LastCounters.Frame || counters.Overrun != LastCounters.Overrun ||
      counters.Parity != LastCounters.Parity ||
      counters.BufferOverrun != LastCounters.BufferOverrun)
    found.Include(E::evError);
  LastModem = lines;
  LastCounters = counters;
  return found;
}

TSerialEvents TSerialEventWaiter::TPlatform::PortEvents(const epoll_event& event) {
  using E = TSerialEvent;
  TSerialEvents found;
  if (event.events & (EPOLLHUP | EPOLLERR)) {
    // A hung-up line reports nothing more; stop looking at it rather than spin.
    ::epoll_ctl(Wait.Fd, EPOLL_CTL_DEL, Device.Fd, nullptr);
    WatchingSignals = false;
  }
  int32_t queued = 0;
  if ((event.events & EPOLLIN) && Port.QueuedInput(queued) == 0 && queued > 0) {
    found.Include(E::evRxChar);
    if (queued >= Rx80Level) found.Include(E::evRx80Full);
  }
  int32_t pending = 0;
  if ((event.events & EPOLLOUT) && Device.QueuedOutput(pending) == 0 && pending == 0)
    found.Include(E::evTxEmpty);
  return found;
}

std::optional<TSerialEvents> TSerialEventWaiter::Wait() {
  auto& p = *FPlatform;
  for (;;) {
    if (p.Stopped) return std::nullopt;
    epoll_event events[4];
    int count = ::epoll_wait(p.Wait.Fd, events, 4, p.WatchingSignals ? SignalPollMs : -1);
    if (count < 0 && errno == EINTR) continue;
    // The stop is looked at before anything else: the device may be gone by then.
    if (count < 0 || p.Stopped) return std::nullopt;
    for (int i = 0; i < count; ++i)
      if (events[i].data.u64 == StopToken) return std::nullopt;
    uint32_t found = 0;
    for (int i = 0; i < count; ++i) found |= p.PortEvents(events[i]).Mask();
    if (p.WatchingSignals) found |= p.SignalEvents().Mask();
    TSerialEvents wanted = TSerialEvents::FromMask(found & p.Mask.Mask());
    if (!wanted.Empty()) return wanted;
  }
}

}  // namespace korbenit
