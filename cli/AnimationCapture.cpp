#include "AnimationCapture.h"

#include <mutex>
#include <optional>
#include <thread>

#include "DeviceCapture.h"
#include "LiveSession.h"
#include "Recording.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

// An animation's frames, from single captures (a series) or a live session (a duration).
// Each frame lasts until the next came; with --fps a frame that comes sooner than its
// share of a second after the last one kept is left out.
class TAnimationCapture : public TLiveView {
 public:
  TAnimationCapture(const std::string& name, const TCaptureOptions& options)
      : FName(name),
        FOptions(options),
        FRecording(name,
                   FormatOfName(name) == TPictureFormat::Gif ? TAnimationFormat::Gif
                                                             : TAnimationFormat::WebP,
                   options.Scale) {}

  // From the live session's thread, or from the series' captures. A frame that came
  // after the recording's end is not part of it.
  void Take(std::shared_ptr<const TFrame> frame) {
    auto least = FOptions.Fps > 0 ? std::chrono::microseconds(1'000'000 / FOptions.Fps)
                                  : std::chrono::microseconds(0);
    if (FLast && frame->Captured - FLast->Captured < least) return;
    {
      std::lock_guard lock(FMutex);
      if (FEnd && frame->Captured >= *FEnd) return;
      if (!FFirst) FFirst = frame->Captured;
    }
    FLast = frame;
    FRecording.Add(std::move(frame));
  }
  // When the first frame came; nothing before.
  std::optional<Clock::time_point> First() {
    std::lock_guard lock(FMutex);
    return FFirst;
  }
  void SetEnd(Clock::time_point end) {
    std::lock_guard lock(FMutex);
    FEnd = end;
  }
  void LineArrived(int, const TScreenLine&) override {}
  void FrameArrived(std::shared_ptr<const TFrame> frame) override { Take(std::move(frame)); }
  void Failed(const TFailure& failure) override {
    std::lock_guard lock(FMutex);
    if (FFailure.Empty()) FFailure = failure;
  }
  void Retrying() override {}
  TFailure Failure() {
    std::lock_guard lock(FMutex);
    return FFailure;
  }

  // Writes the file; the last frame lasts until end. A recording that a failure cut short
  // (of the device before, or of the disk now) keeps what it recorded as a whole file and
  // says it is incomplete. Answers the exit code.
  int Finish(Clock::time_point end, TCaptureSession& session, bool complete) {
    TFailure failure = FRecording.Finish(end);
    if (!failure.Empty()) ReportFailure(failure, session.Err, {}, FName);
    if (!FRecording.Kept()) return 1;
    int frames = FRecording.Frames();
    std::string what = FName + " (" + std::to_string(frames) +
                       (frames == 1 ? " frame, " : " frames, ") +
                       std::to_string(FRecording.Elapsed(end).count()) + " ms)";
    if (complete && failure.Empty()) {
      if (!FOptions.Quiet) session.Err << "saved " << what << "\n";
      return 0;
    }
    session.Err << "korbenit-capture: " << what
                << " is incomplete: it holds what was recorded before the failure\n";
    return 1;
  }

 private:
  std::string FName;
  const TCaptureOptions& FOptions;
  TRecording FRecording;
  std::shared_ptr<const TFrame> FLast;
  std::mutex FMutex;
  TFailure FFailure;
  std::optional<Clock::time_point> FFirst, FEnd;
};

}  // namespace

// A series as one animation: a capture every interval, each frame shown until the next,
// the last one for the series' period (the interval, or the mean time between captures).
int RecordSeries(const std::string& port, const std::string& name, const TCaptureOptions& options,
                 TCaptureSession& session) {
  TAnimationCapture animation(name, options);
  auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Interval));
  auto first = Clock::now();
  std::optional<Clock::time_point> firstFrame, lastFrame;
  int taken = 0;
  bool complete = true;
  auto finish = [&] {
    Clock::duration shown = period;
    if (shown.count() == 0 && taken > 1) shown = (*lastFrame - *firstFrame) / (taken - 1);
    auto end = lastFrame.value_or(Clock::now());
    return animation.Finish(end + std::max<Clock::duration>(shown, std::chrono::milliseconds(100)),
                            session, complete);
  };
  for (int index = 0; options.Count == 0 || index < options.Count; ++index) {
    if (!session.Stop.SleepUntil(first + period * index)) break;
    auto frame = std::make_shared<TFrame>();
    TFailure failure;
    auto outcome = CaptureFrame(
        port, session.Stop,
        [&](int line, const TScreenLine& words) {
          std::copy(words.begin(), words.end(), frame->Line(line));
        },
        failure);
    if (outcome == TOutcome::Stopped) break;  // what was taken is kept
    if (outcome == TOutcome::Failed) {
      ReportFailure(failure, session.Err, port);
      complete = false;
      finish();
      return 1;
    }
    frame->Captured = Clock::now();
    lastFrame = frame->Captured;
    if (!firstFrame) firstFrame = lastFrame;
    ++taken;
    animation.Take(std::move(frame));
  }
  int written = finish();
  return session.Stop.Requested() ? Stopped(session.Stop) : written;
}

// A continuous recording: frames back to back from a live session, for the duration from
// the first frame on; the last frame lasts until the duration is over.
int RecordDuration(const std::string& port, const std::string& name, const TCaptureOptions& options,
                   TCaptureSession& session) {
  TAnimationCapture animation(name, options);
  TLiveSession live(port, animation);
  auto duration =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Duration));
  std::optional<Clock::time_point> end;
  live.Start();
  while (!session.Stop.Requested() && animation.Failure().Empty()) {
    if (!end && animation.First()) {
      end = *animation.First() + duration;
      animation.SetEnd(*end);
    }
    if (end && Clock::now() >= *end) break;
    session.Stop.Sleep(std::chrono::milliseconds(20));
  }
  live.Stop();
  TFailure failure = animation.Failure();
  if (!failure.Empty()) ReportFailure(failure, session.Err, port);
  int written =
      animation.Finish(end ? std::min(Clock::now(), *end) : Clock::now(), session, failure.Empty());
  if (session.Stop.Requested()) return Stopped(session.Stop);
  return failure.Empty() ? written : 1;
}

}  // namespace korbenit
