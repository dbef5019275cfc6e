#include "SerialThread.h"

#include <mutex>
#include <system_error>
#include <vector>

#include "SerialPlatform.h"
#include "SerialPort.h"
#include "Synchronizer.h"

namespace korbenit {
namespace {

// Threads whose port closed from inside one of their handlers, waiting to be joined. A
// child made by fork has none of its parent's threads: it forgets them, never joins them.
class TAbandonedThreads {
 public:
  static TAbandonedThreads& Instance() {
    // The synchroniser is made first so that it outlives the threads joined here.
    TSynchronizer::Main();
    static TAbandonedThreads instance;
    return instance;
  }
  ~TAbandonedThreads() { Join(true); }

  void Add(std::unique_ptr<TSerialThread> thread) {
    std::lock_guard lock(FMutex);
    ForgetInherited();
    FThreads.push_back(std::move(thread));
  }
  // Joins the threads that have ended (all of them, waiting, when all is set).
  void Join(bool all) {
    std::vector<std::unique_ptr<TSerialThread>> done;
    {
      std::lock_guard lock(FMutex);
      ForgetInherited();
      for (auto& thread : FThreads)
        if (all || thread->Ended()) done.push_back(std::move(thread));
      std::erase(FThreads, nullptr);
    }
  }

 private:
  // The objects stay allocated, since destroying them would join what is not there.
  void ForgetInherited() {
    if (FOwner == CurrentProcessId()) return;
    FOwner = CurrentProcessId();
    for (auto& thread : FThreads) static_cast<void>(thread.release());
    FThreads.clear();
  }

  std::mutex FMutex;
  int64_t FOwner = CurrentProcessId();
  std::vector<std::unique_ptr<TSerialThread>> FThreads;
};

// A thread that cannot be started fails the open like a device that cannot be opened.
std::thread StartThread(TSerialThread* owner, void (TSerialThread::*run)() noexcept) {
  try {
    return std::thread(run, owner);
  } catch (const std::system_error& e) {
    throw ESerialPort(serial_error::OpenFailed, e.code().value());
  }
}

}  // namespace

TSerialThread::TSerialThread(TCustomSerialPort& port)
    : FPort(port),
      FMethod(port.SyncMethod()),
      FWaiter(port.Device(), port.Events(), port.Buffer().InputSize()),
      FThread(StartThread(this, &TSerialThread::Execute)) {
  JoinAbandoned(false);
}

TSerialThread::~TSerialThread() {
  StopWatching();
  Start();
  if (!FAbandoned) TSynchronizer::Main().DropUntil(this, [this] { return FEnded.load(); });
  FThread.join();
}

void TSerialThread::Start() noexcept {
  FStarted = true;
  FStarted.notify_one();
}

void TSerialThread::StopWatching() noexcept {
  FWaiter.Stop();
  std::this_thread::yield();
}

bool TSerialThread::DeliversOnThisThread() const {
  return FDeliveringOn.load() == std::this_thread::get_id();
}

void TSerialThread::Abandon(std::unique_ptr<TSerialThread> thread) {
  thread->FAbandoned = true;
  thread->StopWatching();
  TAbandonedThreads::Instance().Add(std::move(thread));
}

void TSerialThread::JoinAbandoned(bool all) {
  TAbandonedThreads::Instance().Join(all);
}

// A failed delivery ends the watch silently and leaves the unread input alone; a stop
// or a failed wait clears both queues on the way out, unless the port is gone.
void TSerialThread::Execute() noexcept {
  bool deliveryFailed = false;
  FStarted.wait(false);
  try {
    while (auto events = FWaiter.Wait()) Deliver(*events);
  } catch (...) {
    deliveryFailed = true;
  }
  if (!deliveryFailed && !FAbandoned)
    FPort.Device().Purge(purge_flags::TxClear | purge_flags::RxClear);
  FEnded = true;
  TSynchronizer::Main().Wake();
}

void TSerialThread::Deliver(TSerialEvents events) {
  auto& sync = TSynchronizer::Main();
  switch (FMethod) {
    case TSyncMethod::smThreadSync:
      sync.Call([&] { RunHandlers(events); }, this);
      break;
    case TSyncMethod::smNone:
      RunHandlers(events);
      break;
    case TSyncMethod::smWindowSync:
      // One message per event. The sender is released before the handler runs, a
      // failing handler is shown, and the watch goes on.
      for (TSerialEvent event : HandlerOrder)
        if (events.Contains(event))
          sync.Send(
              [this, event] {
                if (!FAbandoned && FPort.Connected()) FPort.DispatchEvent(event);
              },
              this);
      break;
  }
}

void TSerialThread::RunHandlers(TSerialEvents events) {
  struct TDelivering {
    std::atomic<std::thread::id>& On;
    explicit TDelivering(std::atomic<std::thread::id>& on) : On(on) {
      On = std::this_thread::get_id();
    }
    ~TDelivering() { On = std::thread::id(); }
  } delivering(FDeliveringOn);
  for (TSerialEvent event : HandlerOrder) {
    // A handler may have closed the port, or even destroyed it.
    if (FAbandoned) return;
    if (events.Contains(event)) FPort.DispatchEvent(event);
  }
}

}  // namespace korbenit
