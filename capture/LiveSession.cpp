#include "LiveSession.h"

#include <algorithm>

#include "ScreenTransfer.h"

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
  FStop = false;
  FThread = std::thread([this] { Run(); });
}

// The flag is looked at between lines; the abort ends a wait for the device at once.
void TLiveSession::Stop() {
  if (!Running()) return;
  {
    std::lock_guard lock(FMutex);
    FStop = true;
    FPort.AbortTransfers();
  }
  FWake.notify_all();
  FThread.join();
}

bool TLiveSession::WaitOrStop(std::chrono::milliseconds time) {
  std::unique_lock lock(FMutex);
  return !FWake.wait_for(lock, time, [this] { return FStop.load(); });
}

// Frames until the device fails (true, with its message) or a stop comes (false).
bool TLiveSession::MirrorUntilFailure(std::string& failure) {
  TScreenProtocol protocol(FPort, [this] { return FStop.load(); });
  try {
    {
      // An abort from Stop must not fall between opening and the first wait.
      std::lock_guard lock(FMutex);
      if (FStop) return false;
      OpenForCapture(FPort, FPortName);
    }
    if (!WaitOrStop(std::chrono::milliseconds(SettlingPause))) return false;
    for (;;) {
      protocol.FetchFrame([this](int line, const TLineColours& colours) {
        std::copy(colours.begin(), colours.end(), FFrame->Pixels.begin() + line * ScreenWidth);
        FView.LineArrived(line, colours);
      });
      FFrame->Captured = std::chrono::steady_clock::now();
      FFrame->Number = ++FFrames;
      FView.FrameArrived(std::make_shared<const TLiveFrame>(*FFrame));
    }
  } catch (const TFrameStopped&) {
    return false;
  } catch (const std::exception& e) {
    failure = e.what();
  }
  return !FStop;
}

void TLiveSession::Run() noexcept {
  for (;;) {
    std::string failure;
    bool failed = MirrorUntilFailure(failure);
    CloseAfterCapture(FPort);
    if (!failed) return;
    try {
      FView.Failed(failure);
      if (!WaitOrStop(RetryPeriod)) return;
      FView.Retrying();
    } catch (...) {
      return;  // a view that cannot be told is no reason to end the process
    }
  }
}

}  // namespace korbenit
