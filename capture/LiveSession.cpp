#include "LiveSession.h"

#include <algorithm>

namespace korbenit {
namespace {

constexpr std::chrono::milliseconds RetryPeriod{1000};

}  // namespace

TLiveSession::TLiveSession(std::string portName, TLiveView& view)
    : FPortName(std::move(portName)), FView(view) {
  // Events would cost a thread and most of a core at this pace; nothing here needs them.
  FPort.SetEvents({});
}

TLiveSession::~TLiveSession() {
  Stop();
}

void TLiveSession::Start() {
  if (Running()) return;
  FStop = std::make_unique<TStopToken>();
  FThread = std::thread([this] { Run(); });
}

// Only signals: the session's own thread purges, sets back and closes the port.
void TLiveSession::Stop() {
  if (!Running()) return;
  FStop->Request();
  FThread.join();
}

// Frames until the device fails (true, with its message) or a stop comes (false).
bool TLiveSession::MirrorUntilFailure(TFailure& failure) {
  TDeviceSession session(FPort, *FStop);
  try {
    session.Open(FPortName);
    session.Settle();
    for (;;) {
      session.FetchFrame([this](int line, const TScreenLine& words) {
        std::copy(words.begin(), words.end(), FFrame->Line(line));
        FView.LineArrived(line, words);
      });
      FFrame->Captured = std::chrono::steady_clock::now();
      FFrame->Number = ++FFrames;
      FView.FrameArrived(std::make_shared<const TFrame>(*FFrame));
    }
  } catch (const TFrameStopped&) {
    return false;
  } catch (const std::exception& e) {
    failure = TFailure::Of(e);
  }
  return !FStop->Requested();
}

void TLiveSession::Run() noexcept {
  for (;;) {
    TFailure failure;
    if (!MirrorUntilFailure(failure)) return;
    try {
      FView.Failed(failure);
      if (!FStop->Sleep(RetryPeriod)) return;
      FView.Retrying();
    } catch (...) {
      return;  // a view that cannot be told is no reason to end the process
    }
  }
}

}  // namespace korbenit
