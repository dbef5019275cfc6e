#include "Synchronizer.h"

#include <algorithm>

namespace korbenit {

// Never destroyed: a port that outlives main() (a global, or exit() with a port open)
// still stops its event thread through it, and a worker may still wait on it.
TSynchronizer& TSynchronizer::Main() {
  union TImmortal {
    TSynchronizer Instance;
    TImmortal() : Instance() {}
    ~TImmortal() {}
  };
  static TImmortal holder;
  return holder.Instance;
}

void TSynchronizer::Call(const TCall& call, const void* owner) {
  TPendingCall pending;
  pending.Call = &call;
  pending.Owner = owner;
  QueueAndWait(pending);
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TSynchronizer::Send(TCall call, const void* owner) {
  TPendingCall pending;
  pending.Owned = std::move(call);
  pending.Owner = owner;
  QueueAndWait(pending);
}

void TSynchronizer::QueueAndWait(TPendingCall& pending) {
  std::function<void()> wake;
  {
    std::lock_guard lock(FMutex);
    FQueue.push_back(&pending);
    wake = FWakeHandler;
  }
  FChanged.notify_all();
  if (wake) wake();
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [&] { return pending.Done; });
}

void TSynchronizer::Serve() {
  std::unique_lock lock(FMutex);
  while (!FQueue.empty()) {
    TPendingCall* pending = FQueue.front();
    FQueue.pop_front();
    Run(lock, *pending);
  }
}

// Called and returns with the lock held; the call itself runs without it.
void TSynchronizer::Run(std::unique_lock<std::mutex>& lock, TPendingCall& pending) {
  if (!pending.Call) {
    TCall call = std::move(pending.Owned);
    pending.Done = true;
    FChanged.notify_all();
    lock.unlock();
    try {
      call();
    } catch (...) {
      ReportException(std::current_exception());
    }
    lock.lock();
    return;
  }
  lock.unlock();
  try {
    (*pending.Call)();
  } catch (...) {
    pending.Error = std::current_exception();
  }
  lock.lock();
  pending.Done = true;
  FChanged.notify_all();
}

// Called with the lock held.
bool TSynchronizer::DropQueued(const void* owner) {
  bool dropped = false;
  std::erase_if(FQueue, [&](TPendingCall* pending) {
    if (pending->Owner != owner) return false;
    pending->Done = true;
    dropped = true;
    return true;
  });
  return dropped;
}

void TSynchronizer::DropUntil(const void* owner, const std::function<bool()>& done) {
  std::unique_lock lock(FMutex);
  for (;;) {
    if (DropQueued(owner)) FChanged.notify_all();
    if (done()) return;
    FChanged.wait(lock, [&] {
      return done() || std::any_of(FQueue.begin(), FQueue.end(),
                                   [&](TPendingCall* pending) { return pending->Owner == owner; });
    });
  }
}

void TSynchronizer::Wake() {
  { std::lock_guard lock(FMutex); }
  FChanged.notify_all();
}

void TSynchronizer::SetWakeHandler(std::function<void()> handler) {
  std::lock_guard lock(FMutex);
  FWakeHandler = std::move(handler);
}

void TSynchronizer::SetExceptionReporter(std::function<void(std::exception_ptr)> reporter) {
  std::lock_guard lock(FMutex);
  FReporter = std::move(reporter);
}

void TSynchronizer::ReportException(std::exception_ptr error) {
  std::function<void(std::exception_ptr)> reporter;
  {
    std::lock_guard lock(FMutex);
    reporter = FReporter;
  }
  if (reporter) reporter(error);
}

}  // namespace korbenit
