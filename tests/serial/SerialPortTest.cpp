#include "SerialPort.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "PictureView.h"
#include "Pty.h"
#include "ScreenTransfer.h"
#include "SerialErrorCode.h"

namespace korbenit {
namespace {

using testing::TPty;
using testing::TPtyDevice;
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

uint32_t LineSpeed(const TPty& pty) {
  termios2 tio{};
  EXPECT_EQ(::ioctl(pty.Master(), TCGETS2, &tio), 0);
  return tio.c_ospeed;
}

// Counts what reaches the device, and when.
class TCountingPort : public TSerialPort {
 public:
  int LineCommits = 0;
  int TimeoutCommits = 0;
  int BufferCommits = 0;
  bool RefuseTimeouts = false;

 protected:
  void CommitLineSettings() override {
    if (Connected()) ++LineCommits;
    TSerialPort::CommitLineSettings();
  }
  void CommitTimeouts() override {
    if (Connected()) ++TimeoutCommits;
    if (Connected() && RefuseTimeouts) throw ESerialPort(serial_error::TimeoutsFailed, 22);
    TSerialPort::CommitTimeouts();
  }
  void CommitBufferSizes() override {
    if (Connected()) ++BufferCommits;
    TSerialPort::CommitBufferSizes();
  }
};

TEST(SerialError, MessageIsTheTextAndTheSystemNumberWhenThereIsOne) {
  struct Case {
    int code, system;
    const char* message;
  };
  for (auto c : {Case{1, 2, "Unable to open com port (win error code: 2)"},
                 Case{14, -1, "Cannot set property while connected"},
                 Case{23, 2, "Registry error (win error code: 2)"},
                 Case{3, 5, "ReadFile function failed (win error code: 5)"},
                 Case{10, 0, "ClearCommError function failed (win error code: 0)"}}) {
    ESerialPort e(c.code, c.system);
    EXPECT_STREQ(e.what(), c.message);
    EXPECT_EQ(e.ErrorCode(), c.code);
    EXPECT_EQ(e.SystemErrorCode(), c.system);
  }
  for (int code = 1; code <= 23; ++code) EXPECT_FALSE(ESerialPort::CodeText(code).empty()) << code;
}

TEST(SerialSettings, BufferSizesStayEvenAfterTheComparison) {
  TSerialPort port;
  struct Case {
    int32_t set, stored;
  };
  for (auto c : {Case{1025, 1024}, Case{-3, -3}, Case{7, 6}, Case{2048, 2048}, Case{1, 0}}) {
    port.Buffer().SetInputSize(c.set);
    EXPECT_EQ(port.Buffer().InputSize(), c.stored) << c.set;
    port.Buffer().Assign(TSerialBufferValues{c.set, c.set});
    EXPECT_EQ(port.Buffer().Values(), (TSerialBufferValues{c.stored, c.stored})) << c.set;
  }
}

TEST(SerialSettings, RecordForTheCaptureConfiguration) {
  TSerialPort port;
  port.SetCustomBaudRate(5652814);
  port.SetBaudRate(TBaudRate::brCustom);
  TDeviceControlRecord r = BuildDeviceControlRecord(port);
  TDeviceControlRecord expected;
  expected.BaudRate = 5652814;
  expected.Binary = true;
  expected.XonLimit = 256;
  expected.XoffLimit = 256;
  expected.ByteSize = 8;
  expected.XonChar = 17;
  expected.XoffChar = 19;
  EXPECT_EQ(r, expected);
  port.SetBaudRate(TBaudRate::br115200);
  EXPECT_EQ(BuildDeviceControlRecord(port).BaudRate, 115200u);
  port.Parity().SetReplaceChar('?');
  port.Parity().SetReplace(true);
  EXPECT_EQ(BuildDeviceControlRecord(port).ErrorChar, 0) << "replacement needs the check too";
  port.Parity().SetCheck(true);
  EXPECT_TRUE(BuildDeviceControlRecord(port).ErrorReplace);
  EXPECT_EQ(BuildDeviceControlRecord(port).ErrorChar, '?');
}

// One setting changed from the defaults, and the record field it moves.
TEST(SerialSettings, EachSettingReachesItsRecordField) {
  using R = TDeviceControlRecord;
  struct Case {
    const char* name;
    std::function<void(TSerialPort&)> change;
    std::function<void(R&)> expect;
  };
  std::vector<Case> cases = {
      {"DTR enable", [](auto& p) { p.FlowControl().SetControlDTR(TDTRFlowControl::dtrEnable); },
       [](R& r) { r.DtrControl = 1; }},
      {"DTR handshake",
       [](auto& p) { p.FlowControl().SetControlDTR(TDTRFlowControl::dtrHandshake); },
       [](R& r) { r.DtrControl = 2; }},
      {"RTS toggle", [](auto& p) { p.FlowControl().SetControlRTS(TRTSFlowControl::rtsToggle); },
       [](R& r) { r.RtsControl = 3; }},
      {"CTS flow", [](auto& p) { p.FlowControl().SetOutCTSFlow(true); },
       [](R& r) { r.OutxCtsFlow = true; }},
      {"DSR flow", [](auto& p) { p.FlowControl().SetOutDSRFlow(true); },
       [](R& r) { r.OutxDsrFlow = true; }},
      {"XON/XOFF out", [](auto& p) { p.FlowControl().SetXonXoffOut(true); },
       [](R& r) { r.OutX = true; }},
      {"XON/XOFF in", [](auto& p) { p.FlowControl().SetXonXoffIn(true); },
       [](R& r) { r.InX = true; }},
      {"DSR sensitivity", [](auto& p) { p.FlowControl().SetDSRSensitivity(true); },
       [](R& r) { r.DsrSensitivity = true; }},
      {"continue on XOFF", [](auto& p) { p.FlowControl().SetTxContinueOnXoff(true); },
       [](R& r) { r.TxContinueOnXoff = true; }},
      {"XON character", [](auto& p) { p.FlowControl().SetXonChar('a'); },
       [](R& r) { r.XonChar = 'a'; }},
      {"parity check", [](auto& p) { p.Parity().SetCheck(true); },
       [](R& r) { r.ParityCheck = true; }},
      {"even parity", [](auto& p) { p.Parity().SetBits(TParityBits::prEven); },
       [](R& r) { r.Parity = 2; }},
      {"seven bits", [](auto& p) { p.SetDataBits(TDataBits::dbSeven); },
       [](R& r) { r.ByteSize = 7; }},
      {"two stop bits", [](auto& p) { p.SetStopBits(TStopBits::sbTwoStopBits); },
       [](R& r) { r.StopBits = 2; }},
      {"discard null", [](auto& p) { p.SetDiscardNull(true); }, [](R& r) { r.DiscardNull = true; }},
      {"event character", [](auto& p) { p.SetEventChar('\n'); }, [](R& r) { r.EventChar = '\n'; }},
      {"input queue", [](auto& p) { p.Buffer().SetInputSize(2047); },
       [](R& r) { r.XonLimit = r.XoffLimit = 511; }},
      {"named speed", [](auto& p) { p.SetBaudRate(TBaudRate::br57600); },
       [](R& r) { r.BaudRate = 57600; }},
      {"custom speed unused", [](auto& p) { p.SetCustomBaudRate(5652814); }, [](R&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSerialPort port;
    R expected = BuildDeviceControlRecord(port);
    EXPECT_EQ(expected.BaudRate, 9600u);
    c.change(port);
    c.expect(expected);
    EXPECT_EQ(BuildDeviceControlRecord(port), expected);
  }
}

TEST(SerialPort, OpenAndCloseNotifyOnceInOrder) {
  TPty pty;
  TSerialPort port;
  std::vector<std::string> events;
  port.OnBeforeOpen = [&](auto&) { events.push_back("BeforeOpen"); };
  port.OnAfterOpen = [&](auto&) { events.push_back("AfterOpen"); };
  port.OnBeforeClose = [&](auto&) { events.push_back("BeforeClose"); };
  port.OnAfterClose = [&](auto&) { events.push_back("AfterClose"); };
  port.OnCTSChange = [&](auto&, bool on) { events.push_back(on ? "CTS on" : "CTS off"); };
  port.OnRLSDChange = [&](auto&, bool on) { events.push_back(on ? "RLSD on" : "RLSD off"); };
  port.SetPort(pty.SlavePath());
  port.Open();
  port.Open();
  EXPECT_TRUE(port.Connected());
  port.Close();
  port.Close();
  EXPECT_FALSE(port.Connected());
  std::vector<std::string> expected = {"BeforeOpen", "AfterOpen", "CTS off",     "RLSD off",
                                       "CTS off",    "RLSD off",  "BeforeClose", "AfterClose"};
  EXPECT_EQ(events, expected);
}

TEST(SerialPort, ADeviceThatCannotBeOpenedLeavesThePortClosed) {
  testing::TPty pty;
  struct Case {
    std::string path;
    int system;
  };
  for (const auto& c : {Case{"/dev/no-such-korbenit-port", ENOENT}, Case{"/tmp", EISDIR},
                        Case{"/proc/self/cmdline", ENOTTY}}) {
    SCOPED_TRACE(c.path);
    TSerialPort port;
    bool afterOpen = false;
    port.OnAfterOpen = [&](auto&) { afterOpen = true; };
    port.SetPort(c.path);
    try {
      port.Open();
      ADD_FAILURE() << "opened";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.ErrorCode(), 1);
      EXPECT_EQ(e.SystemErrorCode(), c.system);
      EXPECT_EQ(std::string(e.what()),
                "Unable to open com port (win error code: " + std::to_string(c.system) + ")");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(afterOpen);
  }
}

TEST(SerialPort, APortHeldByAnotherFailsToOpen) {
  TPty pty;
  TSerialPort first, second;
  first.SetPort(pty.SlavePath());
  second.SetPort(pty.SlavePath());
  first.Open();
  EXPECT_THROW(second.Open(), ESerialPort);
  EXPECT_FALSE(second.Connected());
  first.Close();
  second.Open();
  EXPECT_TRUE(second.Connected());
}

bool IsExclusive(int fd) {
  int exclusive = 0;
  EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
  return exclusive != 0;
}

// The system error an open of the terminal ends with (0 when it opens).
int OpenError(const std::string& path) {
  TSerialPort port;
  port.SetEvents({});
  port.SetPort(path);
  try {
    port.Open();
  } catch (const ESerialPort& e) {
    return e.SystemErrorCode();
  }
  return 0;
}

// Another program holds the terminal in a child process: it locks and marks it as ours
// do, then lives on or is killed. Meanwhile a third program keeps the terminal open (a
// simulator, a logger), so the kernel keeps the mark of a killed holder.
TEST(SerialPort, AnotherHolderRefusesTheOpenOnlyWhileItLives) {
  struct TRow {
    const char* Name;
    bool Lock, Mark, Killed;
    int Expected;
  };
  for (const TRow& row : {TRow{"live lock", true, false, false, EBUSY},
                          TRow{"live lock and mark", true, true, false, EBUSY},
                          TRow{"killed holder's lock and mark", true, true, true, 0}}) {
    SCOPED_TRACE(row.Name);
    TPty pty;
    int keeper = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
      int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
      if (row.Lock) ::flock(fd, LOCK_EX);
      if (row.Mark) ::ioctl(fd, TIOCEXCL);
      if (row.Killed) ::raise(SIGKILL);
      [[maybe_unused]] auto said = ::write(ready[1], "r", 1);
      ::pause();
      ::_exit(0);
    }
    char said = 0;
    if (row.Killed) {
      ::waitpid(holder, nullptr, 0);
    } else {
      ASSERT_EQ(::read(ready[0], &said, 1), 1);
    }
    EXPECT_EQ(IsExclusive(keeper), row.Mark) << "the mark as the holder left it";
    EXPECT_EQ(OpenError(pty.SlavePath()), row.Expected);
    if (!row.Killed) {
      EXPECT_EQ(IsExclusive(keeper), row.Mark) << "a refusal changes nothing";
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
    }
    for (int fd : {ready[0], ready[1], keeper}) ::close(fd);
  }
}

// A child whose controlling terminal is a pseudo-terminal: neither that terminal, by its
// own name or as /dev/tty, nor the console is ever taken as a port.
TEST(SerialPort, TheUsersOwnTerminalsAreNeverOpened) {
  TPty pty;
  pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    int own = ::open(pty.SlavePath().c_str(), O_RDWR);
    if (own < 0 || ::ioctl(own, TIOCSCTTY, 0) != 0) ::_exit(100);
    int failed = 0;
    for (const std::string& name : {pty.SlavePath(), std::string("tty"), std::string("console")})
      failed += OpenError(name) == ENOTTY ? 0 : 1;
    ::_exit(failed);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "terminals opened (100: no controlling terminal)";
  // Without that child's session the same terminal is a port like any other.
  EXPECT_EQ(OpenError(pty.SlavePath()), 0);
}

// Handle, commits and raisers are the component's to override; "open" is what the
// component marked, whatever device stands behind it.
class TDevicelessPort : public TSerialPort {
 public:
  std::vector<std::string> Calls;

 protected:
  void AcquireHandle() override { Calls.push_back("acquire"); }
  void ReleaseHandle() noexcept override { Calls.push_back("release"); }
  void CommitSettings() override { Calls.push_back("commit"); }
  void DoAfterOpen() override { Calls.push_back("after open"); }
  void DoAfterClose() override { Calls.push_back("after close"); }
};

TEST(SerialPort, OverriddenHandleAndRaisersKeepOpenAndClose) {
  TDevicelessPort port;
  port.SetEvents({});
  // The modem status of no device fails after the open, which then stands.
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { port.Open(); }), 11);
  EXPECT_TRUE(port.Connected());
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Calls, (std::vector<std::string>{"acquire", "commit", "after open", "release",
                                                  "after close"}));
}

TEST(SerialPort, CustomSpeedReachesTheLineAndChangesWhileOpen) {
  TPty pty;
  TCountingPort port;
  port.SetPort(pty.SlavePath());
  port.SetCustomBaudRate(CaptureBaudRate);
  port.SetBaudRate(TBaudRate::brCustom);
  port.Open();
  EXPECT_EQ(LineSpeed(pty), 5652814u);
  port.LineCommits = 0;
  port.SetCustomBaudRate(9600);
  EXPECT_EQ(port.LineCommits, 1);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(LineSpeed(pty), 9600u);
  port.SetCustomBaudRate(9600);
  port.SetBaudRate(TBaudRate::brCustom);
  EXPECT_EQ(port.LineCommits, 1) << "equal values commit nothing";
  port.Timeouts().SetReadTotalConstant(900);
  port.Timeouts().SetReadTotalConstant(900);
  EXPECT_EQ(port.TimeoutCommits, 2) << "one at open, one for the change";
  EXPECT_THROW(port.SetSyncMethod(TSyncMethod::smNone), ESerialPort);
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smThreadSync);
}

TEST(SerialPort, ARefusedSettingLeavesThePortClosedWithTheSameError) {
  TPty pty;
  TCountingPort port;
  port.RefuseTimeouts = true;
  bool afterOpen = false, afterClose = false;
  port.OnAfterOpen = [&](auto&) { afterOpen = true; };
  port.OnAfterClose = [&](auto&) { afterClose = true; };
  port.SetPort(pty.SlavePath());
  try {
    port.Open();
    FAIL() << "opened with refused timeouts";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.ErrorCode(), 8);
    EXPECT_STREQ(e.what(), "SetCommTimeouts failed (win error code: 22)");
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.HasEventThread());
  EXPECT_FALSE(afterOpen);
  EXPECT_FALSE(afterClose);
  port.RefuseTimeouts = false;
  port.Open();  // the device was released: it opens again
  EXPECT_TRUE(port.Connected());
}

TEST(SerialPort, ChangingThePortWhileOpenReopensOnTheNewName) {
  TPty first, second;
  TSerialPort port;
  std::vector<std::string> events;
  port.OnBeforeOpen = [&](auto&) { events.push_back("BeforeOpen"); };
  port.OnAfterOpen = [&](auto& p) { events.push_back("AfterOpen " + p.Port()); };
  port.OnBeforeClose = [&](auto&) { events.push_back("BeforeClose"); };
  port.OnAfterClose = [&](auto&) { events.push_back("AfterClose"); };
  port.SetPort(first.SlavePath());
  port.Open();
  events.clear();
  port.SetPort(first.SlavePath());
  EXPECT_TRUE(events.empty());
  port.SetPort(second.SlavePath());
  std::vector<std::string> expected = {"BeforeClose", "AfterClose", "BeforeOpen",
                                       "AfterOpen " + second.SlavePath()};
  EXPECT_EQ(events, expected);
  EXPECT_TRUE(port.Connected());
  port.Close();  // while the event log is still there
}

TEST(SerialPort, LoadingOnlyStoresThenOpensWhenConnectedWasStored) {
  TPty pty;
  TCountingPort port;
  port.BeginLoading();
  port.SetPort(pty.SlavePath());
  port.SetConnected(true);
  port.SetCustomBaudRate(1234);
  port.SetSyncMethod(TSyncMethod::smNone);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.LineCommits, 0);
  port.EndLoading();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smNone);
}

TEST(SerialPort, WholeObjectAssignmentCommitsOnce) {
  TPty pty;
  TCountingPort port;
  port.SetPort(pty.SlavePath());
  port.Open();
  port.TimeoutCommits = 0;
  TSerialTimeoutValues values;
  values.ReadTotalConstant = 900;
  values.ReadTotalMultiplier = -1;
  port.Timeouts().Assign(values);
  EXPECT_EQ(port.TimeoutCommits, 1);
  port.Timeouts().Assign(values);
  EXPECT_EQ(port.TimeoutCommits, 2) << "assigning the whole object always commits";
  port.LineCommits = 0;
  port.FlowControl().Assign(TSerialFlowControlValues{});
  port.Parity().SetBits(TParityBits::prNone);
  EXPECT_EQ(port.LineCommits, 1);
}

struct TOpenPty {
  TPty Pty;
  TSerialPort Port;
  explicit TOpenPty(int readTotalConstant) {
    Port.SetPort(Pty.SlavePath());
    Port.Timeouts().SetReadTotalMultiplier(-1);
    Port.Timeouts().SetReadTotalConstant(readTotalConstant);
    Port.Open();
  }
};

TEST(SerialPort, ReadReturnsQueuedBytesAtOnceAndWaitsOnlyWhenEmpty) {
  TOpenPty open(300);
  open.Pty.Send("xyz");
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(open.Port.ReadText(text, 2), 2);
  EXPECT_EQ(text, "xy");
  EXPECT_EQ(open.Port.ReadText(text, 1), 1);
  EXPECT_EQ(text, "z");
  EXPECT_LT(MillisecondsSince(start), 250);
  start = Clock::now();
  EXPECT_EQ(open.Port.ReadText(text, 1), 0);
  EXPECT_EQ(text, "");
  auto waited = MillisecondsSince(start);
  EXPECT_GE(waited, 290);
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(open.Port.ReadText(text, 0), 0);
}

TEST(SerialPort, PurgeDropsWhatCameBefore) {
  TOpenPty open(100);
  open.Pty.Send("stale");
  std::string text;
  // The kernel hands pty bytes to the line discipline asynchronously.
  for (int i = 0; i < 1000 && open.Port.PendingInput() < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(open.Port.PendingInput(), 5);
  open.Port.Purge(true, true);
  EXPECT_EQ(open.Port.PendingInput(), 0);
  open.Pty.Send("F");
  EXPECT_EQ(open.Port.ReadText(text, 1), 1);
  EXPECT_EQ(text, "F");
}

// Bytes still on their way through the kernel when the purge comes are not counted in
// the queue yet; they must go all the same.
TEST(SerialPort, BytesInTransitAtAPurgeAreNeverReturned) {
  TOpenPty open(300);
  int stale = 0;
  for (int i = 0; i < 300; ++i) {
    open.Pty.Send("s");
    open.Port.Purge(true, true);
    open.Pty.Send("F");
    std::string text;
    open.Port.ReadText(text, 1);
    if (text != "F") {
      ++stale;
      open.Port.ReadText(text, 1);
    }
  }
  EXPECT_EQ(stale, 0);
}

TEST(SerialPort, WriteSendsEveryByteIncludingZeros) {
  TOpenPty open(100);
  std::string command = LineCommand(0);
  EXPECT_EQ(open.Port.WriteText(command), 4);
  EXPECT_EQ(open.Pty.Receive(), command);
  EXPECT_EQ(open.Port.WriteText(""), 0);
}

TEST(SerialPort, AHungUpLineFailsTheReadAtOnceAndStillCloses) {
  TOpenPty open(900);
  open.Pty.CloseMaster();
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { open.Port.ReadText(text, 1); }), 3);
  EXPECT_LT(MillisecondsSince(start), 800);
  EXPECT_TRUE(open.Port.Connected());
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { open.Port.WriteText("x"); }), 2);
  open.Port.Close();
  EXPECT_FALSE(open.Port.Connected());
}

// A cancel from another thread (a command line's stop) ends the read waiting for a
// silent device at once, and every later wait until the port opens again.
TEST(SerialPort, AnAbortEndsTheWaitOfAnotherThread) {
  TOpenPty open(900);
  std::thread stop([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    open.Port.CancelWaits();
  });
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { open.Port.ReadText(text, 1); }), 3);
  stop.join();
  EXPECT_LT(MillisecondsSince(start), 600);
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { open.Port.ReadText(text, 1); }), 3);
  open.Port.Close();
  open.Port.Open();
  open.Pty.Send("a");
  EXPECT_EQ(open.Port.ReadText(text, 1), 1);
}

// Closing gives the terminal back the settings it had (a console stays cooked, with its
// echo), but for the line speed, which stays where the port left it.
TEST(SerialPort, CloseGivesTheTerminalBackItsOwnSettings) {
  TPty pty;
  auto settings = [&](termios2* change) {
    int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios2 now{};
    ::ioctl(fd, TCGETS2, &now);
    if (change) {
      ::ioctl(fd, TCSETS2, change);
      ::ioctl(fd, TCGETS2, &now);
    }
    ::close(fd);
    return now;
  };
  termios2 cooked = settings(nullptr);
  cooked.c_lflag |= ECHO | ICANON | ISIG;
  cooked.c_iflag |= ICRNL;
  cooked.c_cflag = (cooked.c_cflag & ~CBAUD) | BOTHER;
  cooked.c_ispeed = cooked.c_ospeed = 115200;
  cooked = settings(&cooked);
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  port.SetCustomBaudRate(5652814);
  port.SetBaudRate(TBaudRate::brCustom);
  port.Open();
  EXPECT_EQ(settings(nullptr).c_lflag & (ECHO | ICANON), 0u) << "raw while open";
  port.SetCustomBaudRate(9600);
  port.Close();
  termios2 after = settings(nullptr);
  EXPECT_EQ(after.c_lflag, cooked.c_lflag);
  EXPECT_EQ(after.c_iflag, cooked.c_iflag);
  EXPECT_EQ(after.c_oflag, cooked.c_oflag);
  EXPECT_EQ(after.c_ospeed, 9600u);
}

// The real transfer through the port, against the device model behind a pty.
TEST(SerialPort, WholeTransferAgainstTheDeviceModel) {
  TPty pty;
  TDeviceModel reference;
  TSerialPort port;
  testing::TPictureView view(pty.SlavePath());
  {
    TPtyDevice device(pty);
    TScreenTransfer(port, view).Run();
  }
  EXPECT_EQ(view.Status, "");
  EXPECT_TRUE(view.SaveAs);
  EXPECT_TRUE(view.ShowsModel(reference));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.CustomBaudRate(), 9600);
}

}  // namespace
}  // namespace korbenit
