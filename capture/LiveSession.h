#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "DeviceSession.h"
#include "Frame.h"
#include "SerialPort.h"

namespace korbenit {

// Frames a second over the last ten frames, as the live view and the server show it.
class TFrameRate {
 public:
  using TClock = std::chrono::steady_clock;
  void Add(TClock::time_point arrived) {
    FTimes.push_back(arrived);
    if (FTimes.size() > Frames + 1) FTimes.pop_front();
  }
  void Clear() { FTimes.clear(); }
  // Known from the second frame on.
  bool Known() const { return FTimes.size() >= 2 && FTimes.back() > FTimes.front(); }
  double SecondsAFrame() const {
    return std::chrono::duration<double>(FTimes.back() - FTimes.front()).count() /
           static_cast<double>(FTimes.size() - 1);
  }
  double PerSecond() const { return Known() ? 1 / SecondsAFrame() : 0; }

 private:
  static constexpr std::size_t Frames = 10;
  std::deque<TClock::time_point> FTimes;
};

// What a live session tells its view. Every call comes from the session's own thread;
// a window hands them on to its own thread and never blocks here for long.
class TLiveView {
 public:
  virtual ~TLiveView() = default;
  // A line as it arrives, over the previous frame's.
  virtual void LineArrived(int line, const TScreenLine& words) = 0;
  virtual void FrameArrived(std::shared_ptr<const TFrame> frame) = 0;
  // The transfer's own message for what went wrong; the port is closed again and the
  // session tries once a second until the device answers or it is stopped.
  virtual void Failed(const TFailure& failure) = 0;
  // About to try the device again after a failure.
  virtual void Retrying() = 0;
};

// The device's screen, frame after frame, over one port that stays open: the transfer's
// settings and settling pause once, then the transfer's commands and checks for every
// frame (one copy of the protocol), with no event thread on the port. One frame is in
// flight at a time. A stop is honoured within one line, also while the device is awaited,
// and leaves the port at 9600 and closed.
class TLiveSession {
 public:
  TLiveSession(std::string portName, TLiveView& view);
  TLiveSession(const TLiveSession&) = delete;
  TLiveSession& operator=(const TLiveSession&) = delete;
  ~TLiveSession();

  void Start();
  void Stop();
  bool Running() const { return FThread.joinable(); }

 private:
  void Run() noexcept;
  bool MirrorUntilFailure(TFailure& failure);

  std::string FPortName;
  TLiveView& FView;
  TSerialPort FPort;
  std::unique_ptr<TFrame> FFrame = std::make_unique<TFrame>();
  uint64_t FFrames = 0;
  std::unique_ptr<TStopToken> FStop;
  std::thread FThread;
};

}  // namespace korbenit
