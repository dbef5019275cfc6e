// Serial devices on a POSIX tty: exclusive open, termios2 line settings with any integer
// speed, and the device-control timeout rules emulated with poll() on a non-blocking
// descriptor.
#include "PosixDevice.h"
#include "VirtualPorts.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t AllBits = 0xFFFFFFFFu;
constexpr std::size_t ReadBlock = 4096;
// The kernel's "no such ioctl" answer that some drivers let through to user space.
constexpr int ENOIOCTLCMD_ERRNO = 515;

int RetryIoctl(int fd, unsigned long request, void* arg) {
  int result;
  do {
    result = ::ioctl(fd, request, arg);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

// A standard speed by its own constant, so that programs that know only those (a
// terminal emulator, Wine) read the line as we left it; any other through BOTHER.
tcflag_t SpeedFlag(uint32_t speed) {
  static const std::pair<uint32_t, tcflag_t> Standard[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
      {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
      {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [rate, flag] : Standard)
    if (rate == speed) return flag;
  return BOTHER;
}

tcflag_t CharacterSize(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(uint8_t parity) {
  switch (parity) {
    case 1:
      return PARENB | PARODD;
    case 2:
      return PARENB;
    case 3:
      return PARENB | PARODD | CMSPAR;
    case 4:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

void ApplyRawMode(termios2& tio, const TDeviceControlRecord& record) {
  tio.c_iflag = IGNBRK;
  if (record.ParityCheck) tio.c_iflag |= INPCK;
  if (record.OutX) tio.c_iflag |= IXON;
  if (record.InX) tio.c_iflag |= IXOFF;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = CREAD | CLOCAL | SpeedFlag(record.BaudRate) | CharacterSize(record.ByteSize) |
                ParityFlags(record.Parity);
  if (record.StopBits != 0) tio.c_cflag |= CSTOPB;
  if (record.OutxCtsFlow || record.RtsControl == 2) tio.c_cflag |= CRTSCTS;
  tio.c_ispeed = record.BaudRate;
  tio.c_ospeed = record.BaudRate;
  // VMIN 1 makes an empty non-blocking read answer EAGAIN, so that end-of-file
  // means a hang-up and never an empty queue.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = static_cast<cc_t>(record.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(record.XoffChar);
}

// DTR and RTS held as their control modes say. Ports without modem lines refuse the
// request; that is no failure of the settings.
int ApplyModemLines(int fd, const TDeviceControlRecord& record) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  int dtrResult = RetryIoctl(fd, record.DtrControl == 0 ? TIOCMBIC : TIOCMBIS, &dtr);
  int rtsResult = RetryIoctl(fd, record.RtsControl == 0 ? TIOCMBIC : TIOCMBIS, &rts);
  for (int result : {dtrResult, rtsResult})
    if (result != 0 && result != ENOTTY && result != EINVAL) return result;
  return 0;
}

// A wait on the port that an abort from another thread ends; the abort is looked at
// first.
int PollFor(int fd, short events, int abortSignal, int timeoutMs) {
  pollfd fds[2] = {{abortSignal, POLLIN, 0}, {fd, events, 0}};
  int result;
  do {
    result = ::poll(fds, 2, timeoutMs);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return errno;
  if (fds[0].revents & POLLIN) return ECANCELED;
  return result == 0 ? ETIMEDOUT : 0;
}

int MillisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  // Round up so a wait never ends just short of its limit.
  return static_cast<int>(std::max<int64_t>(0, left.count() + 1));
}

bool IsImmediateRead(const TDeviceTimeouts& t) {
  return t.ReadInterval == AllBits && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
}

bool IsFirstByteRead(const TDeviceTimeouts& t) {
  return t.ReadInterval == AllBits && t.ReadTotalMultiplier == AllBits &&
         t.ReadTotalConstant != 0 && t.ReadTotalConstant != AllBits;
}

// The controlling terminal's device number, from /proc/self/stat (0 for none).
dev_t ControllingTerminal() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The command name may hold blanks and brackets; the fields follow its last ')'.
  std::istringstream fields(text.substr(text.rfind(')') + 1));
  std::string state;
  long parent = 0, group = 0, session = 0, terminal = 0;
  fields >> state >> parent >> group >> session >> terminal;
  return static_cast<dev_t>(terminal);
}

// The user's own terminals (/dev/tty, the console, the virtual consoles, the terminal
// this program runs in) are never a device: writing commands there and leaving them raw
// would take them over.
bool IsUsersTerminal(int fd) {
  constexpr unsigned TtyMajor = 5, ConsoleMajor = 4, VirtualConsoles = 64;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  dev_t own = ControllingTerminal();
  bool virtualConsole =
      major(info.st_rdev) == ConsoleMajor && minor(info.st_rdev) < VirtualConsoles;
  return virtualConsole || info.st_rdev == makedev(TtyMajor, 0) ||
         info.st_rdev == makedev(TtyMajor, 1) || (own != 0 && info.st_rdev == own);
}

// Takes the port for this program: the lock first and the exclusive mark last, so that a
// refused open leaves the terminal as it found it. The lock is the proof of a live
// holder, since the kernel drops it with its holder; a mark without a lock was left by a
// program that died while somebody else kept the terminal open, and is cleared.
int TakeTerminal(int fd) {
  if (IsUsersTerminal(fd)) return ENOTTY;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
  int exclusive = 0;
  if (RetryIoctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
    RetryIoctl(fd, TIOCNXCL, nullptr);
  return RetryIoctl(fd, TIOCEXCL, nullptr);
}

}  // namespace

TSerialDevice::TPlatform::TPlatform() : AbortSignal(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TSerialDevice::TPlatform::~TPlatform() {
  if (AbortSignal >= 0) ::close(AbortSignal);
}

// An abort ends the transfers of the device's session, pending or not yet begun: a
// stop must not be missed because it came between two of them.
void TSerialDevice::TPlatform::ForgetAborts() {
  uint64_t count = 0;
  [[maybe_unused]] auto taken = ::read(AbortSignal, &count, sizeof count);
}

int TSerialDevice::TPlatform::WaitFor(short events, int timeoutMs) {
  return PollFor(Fd, events, AbortSignal, timeoutMs);
}

TSerialDevice::TSerialDevice() : FPlatform(std::make_unique<TPlatform>()) {}

TSerialDevice::~TSerialDevice() {
  Close();
}

bool TSerialDevice::IsOpen() const {
  return FPlatform->Fd >= 0;
}

int TSerialDevice::Open(const std::string& portName) {
  Close();
  int fd = ::open(DevicePath(portName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  if (int error = TakeTerminal(fd)) {
    ::close(fd);
    return error;
  }
  auto& p = *FPlatform;
  p.Fd = fd;
  termios2 found{};
  p.FoundSettings.reset();
  if (RetryIoctl(fd, TCGETS2, &found) == 0) {
    std::array<unsigned char, 64> bytes{};
    static_assert(sizeof found <= sizeof bytes);
    std::memcpy(bytes.data(), &found, sizeof found);
    p.FoundSettings = bytes;
  }
  p.DropBuffered();
  p.ForgetAborts();
  std::optional<TLineCounters> counters;
  p.ReadCounters(counters);
  p.LastErrors = counters.value_or(TLineCounters{});
  return 0;
}

// The terminal gets back the settings it had when we opened it (a console its echo and
// line editing), with the line speed the port was left at.
void TSerialDevice::Close() noexcept {
  auto& p = *FPlatform;
  if (p.Fd < 0) return;
  termios2 now{}, found{};
  if (p.FoundSettings && RetryIoctl(p.Fd, TCGETS2, &now) == 0) {
    std::memcpy(&found, p.FoundSettings->data(), sizeof found);
    found.c_cflag = (found.c_cflag & ~(CBAUD | CIBAUD)) | (now.c_cflag & (CBAUD | CIBAUD));
    found.c_ispeed = now.c_ispeed;
    found.c_ospeed = now.c_ospeed;
    RetryIoctl(p.Fd, TCSETS2, &found);
  }
  RetryIoctl(p.Fd, TIOCNXCL, nullptr);
  ::close(p.Fd);
  p.Fd = -1;
  p.DropBuffered();
}

void TSerialDevice::TPlatform::DropBuffered() {
  std::lock_guard lock(InputMutex);
  Input.clear();
  InputPos = 0;
  Buffered = 0;
}

int TSerialDevice::SetQueueSizes(int32_t, int32_t) {
  // Kernel tty queues have a fixed size; the request is accepted as it stands.
  return IsOpen() ? 0 : EBADF;
}

int TSerialDevice::SetLineSettings(const TDeviceControlRecord& record) {
  if (!IsOpen()) return EBADF;
  int fd = FPlatform->Fd;
  termios2 tio{};
  if (int error = RetryIoctl(fd, TCGETS2, &tio)) return error;
  ApplyRawMode(tio, record);
  if (int error = RetryIoctl(fd, TCSETS2, &tio)) return error;
  return ApplyModemLines(fd, record);
}

int TSerialDevice::SetTimeouts(const TDeviceTimeouts& timeouts) {
  if (!IsOpen()) return EBADF;
  FPlatform->Timeouts = timeouts;
  return 0;
}

int32_t TSerialDevice::TPlatform::TakeBuffered(char* buffer, int32_t count) {
  std::lock_guard lock(InputMutex);
  auto available = static_cast<int32_t>(Input.size() - InputPos);
  int32_t taken = std::min(available, count);
  std::copy_n(Input.data() + InputPos, taken, buffer);
  InputPos += static_cast<std::size_t>(taken);
  if (InputPos == Input.size()) {
    Input.clear();
    InputPos = 0;
  }
  Buffered.store(static_cast<int32_t>(Input.size() - InputPos), std::memory_order_relaxed);
  return taken;
}

// Moves what the kernel holds into our buffer without waiting. A hung-up line reads
// end-of-file or EIO at once: that is a failure, not an empty queue.
int TSerialDevice::TPlatform::FillBuffer() {
  char block[ReadBlock];
  ssize_t got;
  do {
    got = ::read(Fd, block, sizeof block);
  } while (got < 0 && errno == EINTR);
  if (got < 0 && errno == EAGAIN) LastReadDrained.store(true, std::memory_order_relaxed);
  if (got < 0) return errno == EAGAIN ? 0 : errno;
  if (got == 0) return EIO;
  LastReadDrained.store(got < static_cast<ssize_t>(sizeof block), std::memory_order_relaxed);
  std::lock_guard lock(InputMutex);
  Input.insert(Input.end(), block, block + got);
  Buffered.store(static_cast<int32_t>(Input.size() - InputPos), std::memory_order_relaxed);
  return 0;
}

int TSerialDevice::TPlatform::WaitReadable(int timeoutMs) {
  int error = WaitFor(POLLIN, timeoutMs);
  return error == 0 ? FillBuffer() : error;
}

int TSerialDevice::Read(char* buffer, int32_t count, int32_t& received) {
  received = 0;
  if (!IsOpen()) return EBADF;
  if (count <= 0) return 0;
  auto& p = *FPlatform;
  received = p.TakeBuffered(buffer, count);
  if (received == count) return 0;
  // Once a status query has found the kernel's queue empty, looking before the wait
  // would only cost a system call: the wait sees any byte that came since.
  bool immediate = IsImmediateRead(p.Timeouts);
  if (!p.KernelQueueSeenEmpty.exchange(false) || immediate) {
    if (int error = p.FillBuffer()) return error;
    received += p.TakeBuffered(buffer + received, count - received);
  }
  if (received == count || immediate) return 0;
  if (!IsFirstByteRead(p.Timeouts)) return p.ReadWithDeadline(buffer, count, received);
  if (received > 0) return 0;
  int error = p.WaitReadable(
      static_cast<int>(std::min<uint32_t>(p.Timeouts.ReadTotalConstant, 0x7FFFFFFF)));
  if (error == ETIMEDOUT) return 0;
  if (error != 0) return error;
  received += p.TakeBuffered(buffer, count);
  return 0;
}

// The general rule: a total limit of multiplier x count + constant (none when both are
// 0) and, once a byte has come, an interval limit between bytes (none when 0).
int TSerialDevice::TPlatform::ReadWithDeadline(char* buffer, int32_t count, int32_t& received) {
  uint64_t total = uint64_t{Timeouts.ReadTotalMultiplier} * static_cast<uint64_t>(count) +
                   Timeouts.ReadTotalConstant;
  bool hasTotal = total != 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(total, INT32_MAX));
  uint32_t interval = Timeouts.ReadInterval;
  while (received < count) {
    int waitMs = hasTotal ? MillisecondsUntil(deadline) : -1;
    if (received > 0 && interval != 0 && interval != AllBits)
      waitMs = waitMs < 0 ? static_cast<int>(interval)
                          : std::min(waitMs, static_cast<int>(std::min(interval, 0x7FFFFFFFu)));
    int error = WaitReadable(waitMs);
    if (error == ETIMEDOUT) return 0;
    if (error != 0) return error;
    received += TakeBuffered(buffer + received, count - received);
  }
  return 0;
}

int TSerialDevice::Write(const char* data, int32_t count, int32_t& written) {
  written = 0;
  if (!IsOpen()) return EBADF;
  auto& p = *FPlatform;
  uint64_t total = uint64_t{p.Timeouts.WriteTotalMultiplier} * static_cast<uint64_t>(count) +
                   p.Timeouts.WriteTotalConstant;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::min<uint64_t>(total, INT32_MAX));
  while (written < count) {
    ssize_t put = ::write(p.Fd, data + written, static_cast<std::size_t>(count - written));
    if (put > 0) {
      written += static_cast<int32_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) return errno;
    int error = p.WaitFor(POLLOUT, total == 0 ? -1 : MillisecondsUntil(deadline));
    if (error == ETIMEDOUT) return 0;
    if (error != 0) return error;
  }
  return p.DrainOutput(total == 0 ? -1 : MillisecondsUntil(deadline));
}

// A write is complete when its bytes have left our side of the line, or when its time
// limit has passed. The wait sleeps between looks, and an abort ends it at once; a
// pseudo-terminal is drained at once.
int TSerialDevice::TPlatform::DrainOutput(int waitMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
  for (;;) {
    int32_t queued = 0;
    if (QueuedOutput(queued) != 0 || queued == 0) return 0;
    if (waitMs >= 0 && Clock::now() >= deadline) return 0;
    if (Aborted(std::chrono::microseconds(500))) return ECANCELED;
  }
}

// Sleeps for the time unless an abort has come or comes meanwhile.
bool TSerialDevice::TPlatform::Aborted(std::chrono::microseconds time) const {
  pollfd abort{AbortSignal, POLLIN, 0};
  timespec wait{0, static_cast<long>(std::chrono::nanoseconds(time).count())};
  int result;
  do {
    result = ::ppoll(&abort, 1, &wait, nullptr);
  } while (result < 0 && errno == EINTR);
  return result > 0 && (abort.revents & POLLIN);
}

int TSerialDevice::TPlatform::QueuedOutput(int32_t& count) const {
  count = 0;
  if (Fd < 0) return EBADF;
  int queued = 0;
  if (int error = RetryIoctl(Fd, TIOCOUTQ, &queued)) return error;
  count = queued;
  return 0;
}

int TSerialDevice::TPlatform::ReadCounters(std::optional<TLineCounters>& counters) const {
  counters.reset();
  if (Fd < 0) return EBADF;
  serial_icounter_struct icount{};
  int error = RetryIoctl(Fd, TIOCGICOUNT, &icount);
  if (error == ENOTTY || error == EINVAL || error == ENOIOCTLCMD_ERRNO) return 0;
  if (error != 0) return error;
  counters =
      TLineCounters{static_cast<uint32_t>(icount.cts),        static_cast<uint32_t>(icount.dsr),
                    static_cast<uint32_t>(icount.rng),        static_cast<uint32_t>(icount.dcd),
                    static_cast<uint32_t>(icount.frame),      static_cast<uint32_t>(icount.overrun),
                    static_cast<uint32_t>(icount.parity),     static_cast<uint32_t>(icount.brk),
                    static_cast<uint32_t>(icount.buf_overrun)};
  return 0;
}

int TSerialDevice::TPlatform::ReadModemLines(std::optional<int>& lines) const {
  lines.reset();
  if (Fd < 0) return EBADF;
  int bits = 0;
  int error = RetryIoctl(Fd, TIOCMGET, &bits);
  if (error == ENOTTY || error == EINVAL || error == ENOIOCTLCMD_ERRNO) return 0;
  if (error != 0) return error;
  lines = bits;
  return 0;
}

int TSerialDevice::TakeErrorWord(uint32_t& word) {
  word = 0;
  auto& p = *FPlatform;
  std::optional<TLineCounters> counters;
  if (int error = p.ReadCounters(counters)) return error;
  // Absent counters count no errors.
  TLineCounters now = counters.value_or(TLineCounters{});
  const TLineCounters& last = p.LastErrors;
  if (now.Frame != last.Frame) word |= 0x0008;
  if (now.Parity != last.Parity) word |= 0x0004;
  if (now.Overrun != last.Overrun) word |= 0x0002;
  if (now.Break != last.Break) word |= 0x0010;
  if (now.BufferOverrun != last.BufferOverrun) word |= 0x0001;
  p.LastErrors = now;
  return 0;
}

// Always flushed, even when the queue reads empty: bytes still on their way through
// the kernel are not counted yet, and the flush drops them too.
int TSerialDevice::Purge(unsigned flags) {
  if (!IsOpen()) return EBADF;
  bool input = flags & (purge_flags::RxClear | purge_flags::RxAbort);
  bool output = flags & (purge_flags::TxClear | purge_flags::TxAbort);
  if (flags & (purge_flags::RxAbort | purge_flags::TxAbort)) CancelWaits();
  if (input) FPlatform->DropBuffered();
  if (!input && !output) return 0;
  int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return RetryIoctl(FPlatform->Fd, TCFLSH, reinterpret_cast<void*>(static_cast<intptr_t>(queue)));
}

void TSerialDevice::CancelWaits() noexcept {
  uint64_t one = 1;
  [[maybe_unused]] auto signalled = ::write(FPlatform->AbortSignal, &one, sizeof one);
}

int TSerialDevice::QueuedInput(int32_t& count) {
  count = 0;
  if (!IsOpen()) return EBADF;
  int queued = 0;
  if (int error = RetryIoctl(FPlatform->Fd, TIOCINQ, &queued)) return error;
  FPlatform->KernelQueueSeenEmpty.store(queued == 0, std::memory_order_relaxed);
  count = queued + FPlatform->Buffered.load(std::memory_order_relaxed);
  return 0;
}

// A read that has just emptied the kernel's queue answers the query as well as the kernel
// would: asking costs a system call for every packet of a line.
int TSerialDevice::CheckInputStatus() {
  auto& p = *FPlatform;
  bool drained = p.LastReadDrained.exchange(false, std::memory_order_relaxed);
  if (p.Buffered.load(std::memory_order_relaxed) > 0) return 0;
  if (drained) {
    p.KernelQueueSeenEmpty.store(true, std::memory_order_relaxed);
    return 0;
  }
  int32_t ignored = 0;
  return QueuedInput(ignored);
}

// Pseudo-terminals and other ports without modem lines have no signal set.
int TSerialDevice::ModemStatus(uint32_t& bits) {
  bits = 0;
  std::optional<int> lines;
  if (int error = FPlatform->ReadModemLines(lines)) return error;
  int set = lines.value_or(0);
  if (set & TIOCM_CTS) bits |= modem_bits::CTS;
  if (set & TIOCM_DSR) bits |= modem_bits::DSR;
  if (set & TIOCM_RI) bits |= modem_bits::Ring;
  if (set & TIOCM_CD) bits |= modem_bits::RLSD;
  return 0;
}

}  // namespace korbenit
