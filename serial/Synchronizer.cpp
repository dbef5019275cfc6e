#include "Synchronizer.h"

namespace korbenit {

TSynchronizer& TSynchronizer::Main() {
  static TSynchronizer instance;
  return instance;
}

void TSynchronizer::Call(const TCall& call) {
  TPendingCall pending{&call, false, nullptr};
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
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TSynchronizer::Serve() {
  std::unique_lock lock(FMutex);
  while (!FQueue.empty()) {
    TPendingCall* pending = FQueue.front();
    FQueue.pop_front();
    lock.unlock();
    try {
      (*pending->Call)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    lock.lock();
    pending->Done = true;
    FChanged.notify_all();
  }
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
