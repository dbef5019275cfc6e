#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "Pty.h"
#include "SerialErrorCode.h"
#include "SerialPort.h"
#include "SerialThread.h"
#include "Synchronizer.h"

namespace korbenit {
namespace {

using testing::TPty;
using Clock = std::chrono::steady_clock;

int CountEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder)) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

// The threads of this process. A sanitizer may start a thread of its own with the first
// thread the process makes; one made and joined first keeps it out of the difference.
int CountThreads() {
  static const bool started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)started;
  return CountEntries("/proc/self/task");
}

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Serves the main-thread synchroniser until done() or a generous deadline.
template <typename TDone>
bool ServeUntil(TDone done, int timeoutMs = 3000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    TSynchronizer::Main().Serve();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Handlers that run on the event thread (smNone) are given before the port opens, and
// the port is closed before it goes, as a program that shares them with a thread must.
struct TWatchedPort {
  using THandlers = std::function<void(TSerialPort&)>;
  TPty Pty;
  TSerialPort Port;
  explicit TWatchedPort(TSyncMethod method, TSerialEvents events = TSerialEvents::All(),
                        const THandlers& handlers = {}) {
    Port.SetPort(Pty.SlavePath());
    Port.SetEvents(events);
    Port.SetSyncMethod(method);
    Port.Timeouts().SetReadTotalMultiplier(-1);
    Port.Timeouts().SetReadTotalConstant(500);
    if (handlers) handlers(Port);
    Port.Open();
  }
  ~TWatchedPort() { Port.Close(); }
};

TEST(SerialEvents, AllTenEventsGiveTheFullMask) {
  EXPECT_EQ(TSerialEvents::All().Mask(), 0x05FFu);
  EXPECT_EQ(TSerialEvents::FromMask(0xFFFF).Mask(), 0x05FFu);
  EXPECT_TRUE(TSerialEvents::FromMask(0x0400).Contains(TSerialEvent::evRx80Full));
}

TEST(SerialEvents, ArrivingBytesAreCountedNotTaken) {
  TWatchedPort watched(TSyncMethod::smThreadSync);
  ASSERT_TRUE(watched.Port.HasEventThread());
  int32_t counted = 0;
  std::thread::id handlerThread;
  watched.Port.OnRxChar = [&](auto&, int32_t count) {
    counted = count;
    handlerThread = std::this_thread::get_id();
  };
  watched.Pty.Send("hello");
  ASSERT_TRUE(ServeUntil([&] { return counted >= 5; }));
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  std::string text;
  EXPECT_EQ(watched.Port.ReadText(text, 5), 5);
  EXPECT_EQ(text, "hello");
  watched.Port.Close();
  EXPECT_FALSE(watched.Port.HasEventThread());
}

TEST(SerialEvents, NoEventsMeansNoThreadAndTheSameData) {
  TWatchedPort watched(TSyncMethod::smThreadSync, TSerialEvents{});
  EXPECT_FALSE(watched.Port.HasEventThread());
  watched.Pty.Send("ab");
  std::string text;
  EXPECT_EQ(watched.Port.ReadText(text, 2), 2);
  EXPECT_EQ(text, "ab");
}

TEST(SerialEvents, WithoutSyncHandlersRunOnTheEventThread) {
  std::atomic<bool> seen{false};
  std::thread::id handlerThread;
  TWatchedPort watched(TSyncMethod::smNone, TSerialEvents::All(), [&](TSerialPort& port) {
    port.OnRxChar = [&](auto&, int32_t) {
      handlerThread = std::this_thread::get_id();
      seen = true;
    };
  });
  watched.Pty.Send("x");
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (!seen && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(seen);
  EXPECT_NE(handlerThread, std::this_thread::get_id());
}

TEST(SerialEvents, AFailedDeliveryEndsTheThreadButTakesNoData) {
  for (auto method : {TSyncMethod::smThreadSync, TSyncMethod::smNone}) {
    TWatchedPort watched(method, TSerialEvents::All(), [](TSerialPort& port) {
      port.OnRxChar = [](auto&, int32_t) { throw std::runtime_error("handler failed"); };
    });
    watched.Pty.Send("1");
    ASSERT_TRUE(ServeUntil([&] { return !watched.Port.EventThreadRunning(); }));
    watched.Pty.Send("2");
    std::string first, second;
    watched.Port.ReadText(first, 1);
    watched.Port.ReadText(second, 1);
    EXPECT_EQ(first + second, "12");
    EXPECT_EQ(watched.Port.WriteText("ok"), 2);
    watched.Port.Close();
    EXPECT_FALSE(watched.Port.Connected());
  }
}

TEST(SerialEvents, WindowSyncReportsAFailureAndWatchesOn) {
  TWatchedPort watched(TSyncMethod::smWindowSync);
  int reported = 0;
  int deliveries = 0;
  TSynchronizer::Main().SetExceptionReporter([&](std::exception_ptr) { ++reported; });
  watched.Port.OnRxChar = [&](auto&, int32_t) {
    ++deliveries;
    throw std::runtime_error("handler failed");
  };
  // The sender goes on before its handler runs, so a byte still unread may be counted
  // again when another event wakes the watch; every failure is reported all the same.
  watched.Pty.Send("1");
  ASSERT_TRUE(ServeUntil([&] { return reported >= 1; }));
  std::string text;
  watched.Port.ReadText(text, 1);
  int before = reported;
  watched.Pty.Send("2");
  ASSERT_TRUE(ServeUntil([&] { return reported > before; }));
  EXPECT_TRUE(watched.Port.EventThreadRunning());
  EXPECT_EQ(deliveries, reported);
  TSynchronizer::Main().SetExceptionReporter(nullptr);
}

// A delivery still waiting when the owner closes the port is dropped: its handler,
// which might close or destroy the port, never runs inside Close.
TEST(SerialEvents, CloseDropsADeliveryThatIsWaiting) {
  for (auto method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync})
    for (bool destroy : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(method)) + (destroy ? " destroy" : " close"));
      TPty pty;
      auto port = std::make_unique<TSerialPort>();
      port->SetPort(pty.SlavePath());
      port->SetEvents({TSerialEvent::evTxEmpty});
      port->SetSyncMethod(method);
      port->Open();
      int deliveries = 0, beforeClose = 0, afterClose = 0;
      port->OnTxEmpty = [&](TSerialPortInterface& sender) {
        ++deliveries;
        destroy ? port.reset() : sender.Close();
      };
      port->OnBeforeClose = [&](auto&) { ++beforeClose; };
      port->OnAfterClose = [&](auto&) { ++afterClose; };
      port->WriteText("z");
      // Nobody serves the event thread: its delivery waits until Close.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      port->Close();
      ASSERT_TRUE(port);
      EXPECT_FALSE(port->Connected());
      EXPECT_EQ(deliveries, 0);
      EXPECT_EQ(beforeClose, 1);
      EXPECT_EQ(afterClose, 1);
    }
}

// Close fires handlers of its own (the signals going off, OnBeforeClose); a Close from
// one of them, as "close on carrier loss" does, returns at once.
TEST(SerialEvents, ACloseInsideACloseReturnsAtOnce) {
  using TSetHandler = std::function<void(TSerialPort&, std::function<void()>)>;
  const std::pair<const char*, TSetHandler> rows[] = {
      {"before close",
       [](TSerialPort& p, auto close) { p.OnBeforeClose = [=](auto&) { close(); }; }},
      {"CTS", [](TSerialPort& p, auto close) { p.OnCTSChange = [=](auto&, bool) { close(); }; }},
      {"RLSD", [](TSerialPort& p, auto close) { p.OnRLSDChange = [=](auto&, bool) { close(); }; }}};
  for (const auto& [name, setHandler] : rows) {
    SCOPED_TRACE(name);
    TWatchedPort watched(TSyncMethod::smThreadSync);
    int afterClose = 0;
    watched.Port.OnAfterClose = [&](auto&) { ++afterClose; };
    setHandler(watched.Port, [&] { watched.Port.Close(); });
    watched.Port.Close();
    EXPECT_FALSE(watched.Port.Connected());
    EXPECT_FALSE(watched.Port.HasEventThread());
    EXPECT_EQ(afterClose, 1);
  }
}

// Without synchronisation a handler runs on the event thread at once. With bytes queued
// before the open, the first event must still wait until Open is done: OnAfterOpen meets
// an open port, Open raises nothing, and the handler's Close leaves no thread behind.
TEST(SerialEvents, WithoutSyncTheFirstEventComesAfterTheOpen) {
  TPty pty;
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  port.SetSyncMethod(TSyncMethod::smNone);
  std::atomic<bool> closedByHandler{false};
  int openedClosed = 0;
  port.OnAfterOpen = [&](auto& sender) { openedClosed += sender.Connected() ? 0 : 1; };
  port.OnRxChar = [&](TSerialPortInterface& sender, int32_t) {
    sender.Close();
    closedByHandler = true;
  };
  for (int i = 0; i < 200; ++i) {
    closedByHandler = false;
    pty.Send("x");
    ASSERT_EQ(testing::SerialErrorCodeOf([&] { port.Open(); }), 0) << "open " << i;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!closedByHandler && Clock::now() < deadline) std::this_thread::yield();
    ASSERT_TRUE(closedByHandler) << "open " << i;
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.HasEventThread());
    port.Purge(true, true);
  }
  EXPECT_EQ(openedClosed, 0);
}

// A port still open with a delivery pending when the process ends (a global, or exit()
// with the port open) does not hold the process: the child must end on its own.
// A process ends with a port still open; a child made by fork opens and closes ports
// although its parent left an event thread to be joined (one that closed its own port),
// which the child does not have.
TEST(SerialEvents, ExitWithAnOpenPortEndsTheProcess) {
  for (bool parentLeftAThread : {false, true}) {
    SCOPED_TRACE(parentLeftAThread ? "a thread left by the parent" : "an open port at exit");
    TPty pty, other;
    if (parentLeftAThread) {
      TSerialPort closing;
      closing.SetPort(other.SlavePath());
      std::atomic<bool> closed{false};
      closing.SetSyncMethod(TSyncMethod::smNone);
      closing.OnRxChar = [&](TSerialPortInterface& sender, int32_t) {
        sender.Close();
        closed = true;
      };
      closing.Open();
      other.Send("x");
      ASSERT_TRUE(ServeUntil([&] { return closed.load(); }));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread has ended
    }
    pid_t child = ::fork();
    if (child == 0) {
      ::alarm(20);
      auto port = std::make_unique<TSerialPort>();
      port->SetPort(pty.SlavePath());
      port->Open();
      port->WriteText("z");
      pty.Send("y");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (parentLeftAThread) port->Close();
      std::exit(0);
    }
    int status = 0;
    pid_t ended = 0;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    EXPECT_EQ(ended, child) << "the process hung";
    EXPECT_TRUE(WIFEXITED(status));
    TSerialThread::JoinAbandoned(false);
  }
}

TEST(SerialEvents, AnIdlePortWithUnreadBytesCostsNoCpu) {
  TWatchedPort watched(TSyncMethod::smNone);
  watched.Pty.Send(std::string(100, 'u'));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  double used = ProcessCpuSeconds() - before;
  // A spinning thread would burn the whole half second.
  EXPECT_LT(used, 0.1);
  EXPECT_EQ(watched.Port.PendingInput(), 100);
}

TEST(SerialEvents, HangUpDuringAReadFailsAndCloseJoinsTheThread) {
  TWatchedPort watched(TSyncMethod::smThreadSync);
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    watched.Pty.CloseMaster();
  });
  std::string text;
  auto start = Clock::now();
  EXPECT_EQ(testing::SerialErrorCodeOf([&] { watched.Port.ReadText(text, 1); }), 3);
  unplug.join();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(490));
  double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "nothing spins after the hang-up";
  watched.Port.Close();
  EXPECT_FALSE(watched.Port.Connected());
}

// A port destroyed while its handlers run on the event thread stops that thread before any
// part of it is gone (the thread sanitizer's run sees every access).
TEST(SerialEvents, APortDestroyedWhileItsHandlersRunWaitsForThem) {
  TPty pty;
  std::atomic<int> handled{0};
  for (int round = 0; round < 20; ++round) {
    auto port = std::make_unique<TSerialPort>();
    port->SetPort(pty.SlavePath());
    port->SetSyncMethod(TSyncMethod::smNone);
    port->OnRxChar = [&](TSerialPortInterface& sender, int32_t) {
      std::string text;
      sender.ReadText(text, 64);
      ++handled;
    };
    port->Open();
    pty.Send(std::string(16, 'r'));
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
    port.reset();
  }
  EXPECT_GT(handled.load(), 0);
}

// A handler that closes its port, or destroys it, returns with every delivery method;
// the event thread ends and is joined by the next Open or Close.
TEST(SerialEvents, AHandlerMayCloseOrDestroyItsPort) {
  int threads = CountThreads();
  for (auto method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone})
    for (bool destroy : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(method)) + (destroy ? " destroy" : " close"));
      TPty pty;
      auto port = std::make_unique<TSerialPort>();
      port->SetPort(pty.SlavePath());
      port->SetSyncMethod(method);
      std::atomic<bool> done{false};
      port->OnRxChar = [&](TSerialPortInterface& sender, int32_t) {
        destroy ? port.reset() : sender.Close();
        done = true;
      };
      port->Open();
      pty.Send("x");
      ASSERT_TRUE(ServeUntil([&] { return done.load(); }));
      EXPECT_TRUE(!port || !port->Connected());
    }
  TPty pty;
  TSerialPort other;
  other.SetPort(pty.SlavePath());
  other.Open();
  other.Close();
  EXPECT_TRUE(ServeUntil([&] {
    TSerialThread::JoinAbandoned(false);
    return CountThreads() == threads;
  }));
}

TEST(SerialEvents, AHandlerMayClearItsOwnProperty) {
  TWatchedPort watched(TSyncMethod::smThreadSync);
  auto captured = std::make_shared<std::string>(200, 'c');
  std::string seen;
  watched.Port.OnRxChar = [&, captured](TSerialPortInterface&, int32_t) {
    watched.Port.OnRxChar = nullptr;
    seen = *captured;
  };
  watched.Pty.Send("x");
  ASSERT_TRUE(ServeUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, std::string(200, 'c'));
}

TEST(SerialEvents, TheSyncMethodOfTheOpenHoldsUntilClose) {
  std::atomic<bool> onEventThread{false}, seen{false};
  auto main = std::this_thread::get_id();
  TWatchedPort watched(TSyncMethod::smNone, TSerialEvents::All(), [&](TSerialPort& port) {
    port.OnRxChar = [&](auto&, int32_t) {
      onEventThread = std::this_thread::get_id() != main;
      seen = true;
    };
  });
  watched.Port.BeginLoading();
  watched.Port.SetSyncMethod(TSyncMethod::smThreadSync);
  watched.Port.EndLoading();
  watched.Pty.Send("x");
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (!seen && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(seen);
  EXPECT_TRUE(onEventThread);
}

// The lowest descriptor number free now; with the limit just above it, the port's own
// descriptor is the last one the process may open.
int LowestFreeDescriptor() {
  int fd = ::dup(0);
  ::close(fd);
  return fd;
}

TEST(SerialEvents, AnEventThreadThatCannotStartLeavesThePortClosed) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' own memory checks need descriptors too";
#endif
  TPty pty;
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  bool afterOpen = false;
  port.OnAfterOpen = [&](auto&) { afterOpen = true; };
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(LowestFreeDescriptor() + 1);
  ::setrlimit(RLIMIT_NOFILE, &tight);
  int code = testing::SerialErrorCodeOf([&] { port.Open(); });
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(afterOpen);
  port.Open();
  EXPECT_TRUE(port.HasEventThread());
}

TEST(SerialEvents, AHugeInputQueueIsWatchedLikeAnyOther) {
  TPty pty;
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  port.Buffer().SetInputSize(2147483646);
  port.Open();
  EXPECT_TRUE(port.EventThreadRunning());
}

TEST(SerialEvents, ManyOpenCloseCyclesLeaveNothingBehind) {
  TPty pty;
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  port.Open();
  port.Close();
  int descriptors = CountEntries("/proc/self/fd");
  int threads = CountThreads();
  for (int i = 0; i < 100; ++i) {
    port.Open();
    ASSERT_TRUE(port.HasEventThread());
    port.Close();
  }
  EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
  EXPECT_EQ(CountThreads(), threads);
}

}  // namespace
}  // namespace korbenit
