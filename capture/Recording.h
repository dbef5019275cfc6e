#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "AnimationFile.h"
#include "LiveSession.h"

namespace korbenit {

// Live frames recorded into an animation on a thread of its own, so the window never
// waits for the encoder. Each frame lasts until the next one came; a pause ends the
// frame shown then, and the time until the next frame is not recorded. A disk about to be
// full ends the taking of frames while the file can still be finished: Finish keeps the
// frames so far as a whole file (Kept) and answers the failure (kind DiskFull). Any other
// failure to write leaves no file, as none stays when the recording is abandoned.
class TRecording {
 public:
  using TClock = std::chrono::steady_clock;

  // Raises EFCreateError, before anything is written, when no file can be made at path.
  // Each frame is enlarged scale times by whole pixels.
  TRecording(const std::string& path, TAnimationFormat format, int scale = 1);
  TRecording(const TRecording&) = delete;
  TRecording& operator=(const TRecording&) = delete;
  ~TRecording();

  void Add(std::shared_ptr<const TFrame> frame);
  void Pause(TClock::time_point now);
  // Ends the recording, its last frame lasting until now, and answers the writer's
  // failure, or none once the file stands whole under its name.
  TFailure Finish(TClock::time_point now);
  // The same without waiting: the encoder finishes the file on its own thread and hands
  // the result to done there. Nothing may be added after; the destructor waits for it.
  void FinishInBackground(TClock::time_point now, std::function<void(TFailure)> done);

  int Frames() const { return FAdded; }
  // After Finish: whether the file stands under its name (also when cut short).
  bool Kept() const { return FKept; }
  // Whether writing has failed already (the recording should end).
  bool Failed();
  // The recorded time until now: pauses left out.
  std::chrono::milliseconds Elapsed(TClock::time_point now) const;

 private:
  struct TJob {
    std::shared_ptr<const TFrame> Frame;
    int DurationMs = 0;
  };

  void Flush(TClock::time_point end);
  void Encode() noexcept;
  TFailure WriteOut() noexcept;

  std::unique_ptr<TAnimationFile> FFile;
  int FScale = 1;
  std::shared_ptr<const TFrame> FPending;
  std::chrono::milliseconds FRecorded{0};
  int FAdded = 0;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<TJob> FJobs;
  bool FFinishing = false;
  bool FCutShort = false;  // the disk is about to be full: no more frames
  bool FKept = false;
  std::function<void(TFailure)> FDone;
  TFailure FFailure;
  std::thread FThread;
};

}  // namespace korbenit
