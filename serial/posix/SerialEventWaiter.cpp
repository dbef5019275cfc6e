// Device events on a POSIX tty: edge-triggered epoll on the port (new input, output
// space) and an eventfd for the stop request. Modem lines and error counters have no
// readiness of their own; where a port has them, they are looked at ten times a second.
#include "../SerialEventWaiter.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korbenit {
namespace {

constexpr int SignalPollMs = 100;
constexpr uint64_t StopToken = 0;
constexpr uint64_t PortToken = 1;

bool WantsSignals(TSerialEvents mask) {
  using E = TSerialEvent;
  for (auto e : {E::evCTS, E::evDSR, E::evRLSD, E::evRing, E::evBreak, E::evError})
    if (mask.Contains(e)) return true;
  return false;
}

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

TSerialEventWaiter::TSerialEventWaiter(TSerialDevice& device, TSerialEvents mask,
                                       int32_t inputSize)
    : FDevice(device), FMask(mask), FRx80Level(inputSize * 8 / 10) {
  FWaitHandle = ::epoll_create1(EPOLL_CLOEXEC);
  FStopHandle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FWaitHandle < 0 || FStopHandle < 0) {
    CloseHandles();
    throw std::runtime_error("cannot create the event wait");
  }
  epoll_event stop{EPOLLIN, {.u64 = StopToken}};
  ::epoll_ctl(Fd(FWaitHandle), EPOLL_CTL_ADD, Fd(FStopHandle), &stop);
  uint32_t portEvents = EPOLLIN | EPOLLET;
  if (mask.Contains(TSerialEvent::evTxEmpty)) portEvents |= EPOLLOUT;
  epoll_event port{portEvents, {.u64 = PortToken}};
  ::epoll_ctl(Fd(FWaitHandle), EPOLL_CTL_ADD, Fd(device.Handle()), &port);

  TSerialDevice::TLineCounters counters;
  uint32_t modem = 0;
  bool hasCounters = device.ReadCounters(counters) == 0 && counters != TSerialDevice::TLineCounters{};
  int probe = device.ModemStatus(modem);
  // A port without modem lines or counters has nothing to look at.
  FWatchingSignals = WantsSignals(mask) && probe == 0 && (modem != 0 || hasCounters);
  FLastModem = modem;
  FLastCounters = counters;
}

TSerialEventWaiter::~TSerialEventWaiter() { CloseHandles(); }

void TSerialEventWaiter::CloseHandles() noexcept {
  if (FStopHandle >= 0) ::close(Fd(FStopHandle));
  if (FWaitHandle >= 0) ::close(Fd(FWaitHandle));
  FStopHandle = FWaitHandle = -1;
}

void TSerialEventWaiter::Stop() noexcept {
  uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(Fd(FStopHandle), &one, sizeof one);
}

TSerialEvents TSerialEventWaiter::SignalEvents() {
  using E = TSerialEvent;
  TSerialEvents found;
  uint32_t modem = 0;
  TSerialDevice::TLineCounters counters;
  if (FDevice.ModemStatus(modem) != 0 || FDevice.ReadCounters(counters) != 0) return found;
  uint32_t changed = modem ^ FLastModem;
  if (changed & modem_bits::CTS) found.Include(E::evCTS);
  if (changed & modem_bits::DSR) found.Include(E::evDSR);
  if (changed & modem_bits::RLSD) found.Include(E::evRLSD);
  if ((changed & modem & modem_bits::Ring) || counters.Ring != FLastCounters.Ring)
    found.Include(E::evRing);
  if (counters.Break != FLastCounters.Break) found.Include(E::evBreak);
  if (counters.Frame != FLastCounters.Frame || counters.Overrun != FLastCounters.Overrun ||
      counters.Parity != FLastCounters.Parity ||
      counters.BufferOverrun != FLastCounters.BufferOverrun)
    found.Include(E::evError);
  FLastModem = modem;
  FLastCounters = counters;
  return found;
}

std::optional<TSerialEvents> TSerialEventWaiter::Wait() {
  using E = TSerialEvent;
  for (;;) {
    epoll_event events[4];
    int count = ::epoll_wait(Fd(FWaitHandle), events, 4, FWatchingSignals ? SignalPollMs : -1);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    TSerialEvents found;
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u64 == StopToken) return std::nullopt;
      if (events[i].events & (EPOLLHUP | EPOLLERR)) {
        // A hung-up line reports nothing more; stop looking at it rather than spin.
        ::epoll_ctl(Fd(FWaitHandle), EPOLL_CTL_DEL, Fd(FDevice.Handle()), nullptr);
        FWatchingSignals = false;
      }
      int32_t queued = 0;
      if ((events[i].events & EPOLLIN) && FDevice.QueuedInput(queued) == 0 && queued > 0) {
        found.Include(E::evRxChar);
        if (queued >= FRx80Level) found.Include(E::evRx80Full);
      }
      int32_t pending = 0;
      if ((events[i].events & EPOLLOUT) && FDevice.QueuedOutput(pending) == 0 && pending == 0)
        found.Include(E::evTxEmpty);
    }
    if (FWatchingSignals) {
      TSerialEvents signals = SignalEvents();
      found = TSerialEvents::FromMask(found.Mask() | signals.Mask());
    }
    found = TSerialEvents::FromMask(found.Mask() & FMask.Mask());
    if (!found.Empty()) return found;
  }
}

}  // namespace korbenit
