#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace korbenit {

// Runs calls from worker threads on the main thread. A worker queues a call and blocks
// until the main thread has run it; the main thread runs queued calls whenever it
// handles messages (the wake handler hooks that into its event loop). While it waits for
// a worker to end it drops that worker's calls instead, so the worker can always finish.
class TSynchronizer {
 public:
  using TCall = std::function<void()>;

  // The one synchroniser of the process, served by its main thread.
  static TSynchronizer& Main();

  // Worker side: runs call on the serving thread and waits; rethrows what call threw.
  // A call queued for an owner may be dropped by Drop, and then returns without running.
  void Call(const TCall& call, const void* owner = nullptr);
  // Worker side: waits only until the serving thread has taken call, which then runs
  // on its own; what it throws goes to the exception reporter.
  void Send(TCall call, const void* owner = nullptr);
  // Serving side: runs every call queued so far.
  void Serve();
  // Makes DropUntil look at its condition again.
  void Wake();
  // Serving side: releases the owner's queued calls without running them until done()
  // holds, so a worker can end without its handlers running inside the caller.
  void DropUntil(const void* owner, const std::function<bool()>& done);

  // Told whenever a call is queued, from the queuing thread: the event loop's hook.
  void SetWakeHandler(std::function<void()> handler);
  // Where failures that nobody else may see are reported (the application's handler).
  void SetExceptionReporter(std::function<void(std::exception_ptr)> reporter);
  void ReportException(std::exception_ptr error);

 private:
  struct TPendingCall {
    const TCall* Call = nullptr;
    TCall Owned;  // a sent call, run after its sender is released
    const void* Owner = nullptr;
    bool Done = false;
    std::exception_ptr Error;
  };

  void QueueAndWait(TPendingCall& pending);
  void Run(std::unique_lock<std::mutex>& lock, TPendingCall& pending);
  bool DropQueued(const void* owner);

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TPendingCall*> FQueue;
  std::function<void()> FWakeHandler;
  std::function<void(std::exception_ptr)> FReporter;
};

}  // namespace korbenit
