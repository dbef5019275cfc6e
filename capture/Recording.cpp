#include "Recording.h"

#include <vector>

#include "RuntimeErrors.h"

namespace korbenit {
namespace {

// More than any encoded frame takes (an RGB frame and then some), kept free before each
// frame so that the file's end always fits.
constexpr std::size_t RoomForAFrame = 1 << 20;

}  // namespace

TRecording::TRecording(const std::string& path, TAnimationFormat format, int scale)
    : FFile(CreateAnimationFile(path, format, ScreenWidth * scale, ScreenHeight * scale)),
      FScale(scale),
      FThread([this] { Encode(); }) {}

// An abandoned recording drops what is queued; a finish in the background is waited for.
TRecording::~TRecording() {
  {
    std::lock_guard lock(FMutex);
    FFinishing = true;
    if (!FDone) FJobs.clear();
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
}

// The frame shown until end goes to the encoder.
void TRecording::Flush(TClock::time_point end) {
  if (!FPending) return;
  auto shown = std::chrono::duration_cast<std::chrono::milliseconds>(end - FPending->Captured);
  shown = std::max(shown, std::chrono::milliseconds(10));
  FRecorded += shown;
  {
    std::lock_guard lock(FMutex);
    FJobs.push_back({std::move(FPending), static_cast<int>(shown.count())});
  }
  FPending.reset();
  FWake.notify_all();
}

void TRecording::Add(std::shared_ptr<const TFrame> frame) {
  Flush(frame->Captured);
  FPending = std::move(frame);
  ++FAdded;
}

void TRecording::Pause(TClock::time_point now) {
  Flush(now);
}

bool TRecording::Failed() {
  std::lock_guard lock(FMutex);
  return !FFailure.Empty();
}

std::chrono::milliseconds TRecording::Elapsed(TClock::time_point now) const {
  auto showing =
      FPending ? std::chrono::duration_cast<std::chrono::milliseconds>(now - FPending->Captured)
               : std::chrono::milliseconds(0);
  return FRecorded + std::max(showing, std::chrono::milliseconds(0));
}

TFailure TRecording::Finish(TClock::time_point now) {
  TFailure result;
  FinishInBackground(now, [&result](TFailure failure) { result = std::move(failure); });
  FThread.join();
  return result;
}

void TRecording::FinishInBackground(TClock::time_point now, std::function<void(TFailure)> done) {
  Flush(now);
  {
    std::lock_guard lock(FMutex);
    FFinishing = true;
    FDone = std::move(done);
  }
  FWake.notify_all();
}

// On the encoder's thread, once every frame is encoded.
TFailure TRecording::WriteOut() noexcept {
  if (!FFailure.Empty() && !FCutShort) return FFailure;
  if (FAdded == 0 || FFile->Frames() == 0)
    return FFailure.Empty() ? TFailure{"Nothing was recorded"} : FFailure;
  try {
    FFile->Finish();
    FKept = true;
  } catch (const std::exception& e) {
    return TFailure::Of(e);
  }
  return FFailure;
}

// Encodes what is queued until finishing; after a failure it only drains.
void TRecording::Encode() noexcept {
  std::unique_lock lock(FMutex);
  for (;;) {
    FWake.wait(lock, [this] { return FFinishing || !FJobs.empty(); });
    if (FJobs.empty()) {
      if (!FDone) return;
      auto done = std::move(FDone);
      lock.unlock();
      done(WriteOut());
      return;
    }
    TJob job = std::move(FJobs.front());
    FJobs.pop_front();
    if (!FFailure.Empty()) continue;
    lock.unlock();
    TFailure failure;
    bool cutShort = false;
    try {
      if (FFile->ReserveAhead(RoomForAFrame))
        FFile->AddFrame(EnlargedRgb(RgbOf(*job.Frame), ScreenWidth, ScreenHeight, FScale),
                        job.DurationMs);
      else
        failure = TFailure::Of(EWriteError(TFailureKind::DiskFull)), cutShort = true;
    } catch (const std::exception& e) {
      failure = TFailure::Of(e);
    }
    lock.lock();
    if (!failure.Empty()) FFailure = failure, FCutShort = cutShort;
  }
}

}  // namespace korbenit
