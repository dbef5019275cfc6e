#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LiveSession.h"

namespace korbenit {

// A complete frame as the server hands it out: its JPEG is made once, by whichever viewer
// asks first, however many viewers there are.
class TServedFrame {
 public:
  TServedFrame(std::shared_ptr<const TFrame> frame, uint64_t number,
               std::chrono::system_clock::time_point time)
      : Frame(std::move(frame)), Number(number), Time(time) {}
  const std::shared_ptr<const TFrame> Frame;
  const uint64_t Number;  // 1 for the first frame served
  const std::chrono::system_clock::time_point Time;
  const std::vector<uint8_t>& Jpeg() const;

 private:
  mutable std::once_flag FJpegOnce;
  mutable std::vector<uint8_t> FJpeg;
};

// What the page shows of the device.
struct TScreenState {
  uint64_t Frame = 0;
  std::chrono::system_clock::time_point Time;
  double FramesPerSecond = 0;
  bool Live = false;    // frames come; otherwise the device is awaited
  std::string Failure;  // why it is awaited, in the command line's words; empty before any
  std::string Hint;     // what the user may do about it, where something is known
};

// A failure as the page tells it.
struct TFailureWords {
  std::string Words, Hint;
};

// The one live session's frames for every viewer: the newest complete frame, the state,
// and a wait for the next frame that a closing server or a viewer gone ends.
class TServedScreen : public TLiveView {
 public:
  // Words for a failure, given the session's own report.
  explicit TServedScreen(std::function<TFailureWords(const TFailure&)> words)
      : FWords(std::move(words)) {}

  void LineArrived(int, const TScreenLine&) override {}
  void FrameArrived(std::shared_ptr<const TFrame> frame) override;
  void Failed(const TFailure& failure) override;
  void Retrying() override {}

  std::shared_ptr<const TServedFrame> Newest() const;
  TScreenState State() const;
  // The first frame after the one numbered, or the newest again once resend has passed
  // with nothing new (a lost device's last frame, so that viewers' connections stay
  // alive); null when the server closes or gone() says the viewer left, which is asked
  // every tenth of a second.
  std::shared_ptr<const TServedFrame> WaitNewer(uint64_t number, std::chrono::milliseconds resend,
                                                const std::function<bool()>& gone) const;
  // Ends every wait, now and later.
  void Close();

 private:
  std::function<TFailureWords(const TFailure&)> FWords;
  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
  std::shared_ptr<const TServedFrame> FNewest;
  TFrameRate FRate;
  bool FLive = false;
  TFailureWords FFailure;
  bool FClosed = false;
};

}  // namespace korbenit
