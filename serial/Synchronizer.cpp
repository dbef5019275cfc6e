#include "Synchronizer.h"

namespace korbenit {

TSynchronizer& TSynchronizer::Main() {
  static TSynchronizer instance;
  return instance;
}

void TSynchronizer::Call(const TCall& call) {
  TPendingCall pending;
  pending.Call = &call;
  QueueAndWait(pending);
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TSynchronizer::Send(TCall call) {
  TPendingCall pending;
  pending.Owned = std::move(call);
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

void TSynchronizer::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    Serve();
    std::unique_lock lock(FMutex);
    if (done()) return;
    FChanged.wait(lock, [&] { return !FQueue.empty() || done(); });
    if (FQueue.empty()) return;
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
