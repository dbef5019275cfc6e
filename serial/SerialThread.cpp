#include "SerialThread.h"

#include "SerialPort.h"
#include "Synchronizer.h"

namespace korbenit {

TSerialThread::TSerialThread(TCustomSerialPort& port)
    : FPort(port),
      FWaiter(port.Device(), port.Events(), port.Buffer().InputSize()),
      FThread([this] { Execute(); }) {}

TSerialThread::~TSerialThread() {
  StopWatching();
  TSynchronizer::Main().ServeUntil([this] { return FEnded.load(); });
  FThread.join();
}

void TSerialThread::StopWatching() noexcept {
  FWaiter.Stop();
  std::this_thread::yield();
}

void TSerialThread::Execute() noexcept {
  try {
    while (auto events = FWaiter.Wait()) Deliver(*events);
  } catch (...) {
    // A failed delivery ends the watch silently; the port itself stays usable.
  }
  FPort.Device().Purge(purge_flags::TxClear | purge_flags::RxClear);
  FEnded = true;
  TSynchronizer::Main().Wake();
}

void TSerialThread::Deliver(TSerialEvents events) {
  auto& sync = TSynchronizer::Main();
  switch (FPort.SyncMethod()) {
    case TSyncMethod::smThreadSync:
      sync.Call([&] { FPort.DispatchEvents(events); });
      break;
    case TSyncMethod::smNone:
      FPort.DispatchEvents(events);
      break;
    case TSyncMethod::smWindowSync:
      // One message per event; a failing handler is shown, and the watch goes on.
      for (TSerialEvent event : HandlerOrder)
        if (events.Contains(event))
          sync.Call([&] {
            try {
              if (FPort.Connected()) FPort.DispatchEvent(event);
            } catch (...) {
              sync.ReportException(std::current_exception());
            }
          });
      break;
  }
}

}  // namespace korbenit
