#include "DeviceSession.h"

#include <stdexcept>

namespace korbenit {

void TStopToken::Request() noexcept {
  std::lock_guard lock(FMutex);
  FRequested = true;
  if (FPort) FPort->CancelWaits();
  FWake.notify_all();
}

bool TStopToken::Requested() const {
  std::lock_guard lock(FMutex);
  return FRequested;
}

bool TStopToken::Sleep(std::chrono::milliseconds time) {
  std::unique_lock lock(FMutex);
  return !FWake.wait_for(lock, time, [this] { return FRequested; });
}

bool TStopToken::SleepUntil(std::chrono::steady_clock::time_point moment) {
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(moment - std::chrono::steady_clock::now());
  return left.count() <= 0 ? !Requested() : Sleep(left);
}

void TStopToken::Attach(TSerialPortInterface* port) {
  std::lock_guard lock(FMutex);
  FPort = port;
}

TDeviceSession::TDeviceSession(TSerialPortInterface& port, TStopToken& stop)
    : FPort(port), FStop(stop), FProtocol(port, [&stop] { return stop.Requested(); }) {}

TDeviceSession::~TDeviceSession() {
  Close();
}

// A stop that comes while the port opens is seen by the first command's look at the flag,
// since opening forgets earlier aborts.
void TDeviceSession::Open(const std::string& portName) {
  FPort.SetPort(portName);
  FPort.SetCustomBaudRate(CaptureBaudRate);
  FPort.SetBaudRate(TBaudRate::brCustom);
  FPort.Open();
  FStop.Attach(&FPort);
}

void TDeviceSession::Settle() {
  if (!FStop.Sleep(std::chrono::milliseconds(SettlingPause))) throw TFrameStopped{};
}

void TDeviceSession::FetchFrame(const TScreenProtocol::TLineSink& sink) {
  FProtocol.FetchFrame(sink);
}

// A failure in the ending is answered rather than raised: after a failed transfer it is
// a follow-on of the first (an unplugged line fails every step) and would hide the cause.
TFailure TDeviceSession::Close() noexcept {
  FStop.Attach(nullptr);
  TFailure failure;
  auto note = [&](TFailure found) {
    if (failure.Empty()) failure = std::move(found);
  };
  try {
    if (FPort.Connected()) {
      try {
        FPort.SetCustomBaudRate(RestingBaudRate);
      } catch (const std::exception& e) {
        note(TFailure::Of(e));
      }
      FPort.Close();
    }
  } catch (const std::exception& e) {
    note(TFailure::Of(e));
  } catch (...) {
    note({"Unknown error"});
  }
  return failure;
}

}  // namespace korbenit
