#include "ScreenWait.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "ImageFiles.h"
#include "LiveSession.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

// The newest frame and the last failure, handed over from the session's thread.
class TScreenWatch : public TLiveView {
 public:
  void LineArrived(int, const TScreenLine&) override {}
  void FrameArrived(std::shared_ptr<const TFrame> frame) override {
    std::lock_guard lock(FMutex);
    FNewest = std::move(frame);
  }
  void Failed(const TFailure& failure) override {
    std::lock_guard lock(FMutex);
    FFailure = failure;
  }
  void Retrying() override {}
  // The frame that came since the last look, if any.
  std::shared_ptr<const TFrame> Take() {
    std::lock_guard lock(FMutex);
    return std::move(FNewest);
  }
  TFailure Failure() {
    std::lock_guard lock(FMutex);
    return FFailure;
  }

 private:
  std::mutex FMutex;
  std::shared_ptr<const TFrame> FNewest;
  TFailure FFailure;
};

std::string Seconds(Clock::duration time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(time).count());
  return text;
}

}  // namespace

int WaitForScreen(const std::string& port, const TCaptureOptions& options,
                  TCaptureSession& session) {
  std::optional<TReference> reference;
  if (!options.WaitFor.empty()) {
    try {
      reference = ReadReference(options.WaitFor, options.Rules);
    } catch (const EInvalidGraphic& e) {
      session.Err << "korbenit-capture: " << e.what() << "\n";
      return 2;
    }
  }
  auto stableFor = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(options.WaitStable));
  auto started = Clock::now();
  auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(options.Timeout));
  TScreenWatch watch;
  TLiveSession live(port, watch);
  live.Start();
  std::shared_ptr<const TFrame> found, last;
  Clock::time_point unchangedSince = started;
  bool anyFrame = false;
  while (!found && !session.Stop.Requested() && Clock::now() < deadline) {
    auto frame = watch.Take();
    if (!frame) {
      session.Stop.Sleep(std::chrono::milliseconds(10));
      continue;
    }
    anyFrame = true;
    if (reference) {
      if (CompareScreens(*frame, reference->Screen, options.Rules).Matches(options.Rules))
        found = frame;
      continue;
    }
    if (!last || CompareScreens(*frame, *last, options.Rules).Pixels > options.Rules.MaxDiff)
      last = frame, unchangedSince = frame->Captured;
    else if (frame->Captured - unchangedSince >= stableFor)
      found = frame;
  }
  live.Stop();
  if (session.Stop.Requested()) return Stopped(session.Stop);
  auto waited = Clock::now() - started;
  if (!found) {
    if (!anyFrame && !watch.Failure().Empty()) {
      ReportFailure(watch.Failure(), session.Err, port);
      return 2;
    }
    session.Out << (reference ? "no match" : "not stable") << " after " << Seconds(waited) << "\n";
    return 1;
  }
  session.Out << (reference ? "matched" : "stable") << " after " << Seconds(waited) << "\n";
  session.Out.flush();
  if (options.Output.empty()) return 0;
  try {
    TPicture picture = EnlargedPicture(PictureOf(*found), options.Scale);
    switch (FormatOfName(options.Output)) {
      case TPictureFormat::Bmp:
        SaveBitmapFile(picture, options.Output);
        break;
      case TPictureFormat::Jpeg:
        SaveJpegFile(picture, options.Output, options.Quality);
        break;
      default:
        SavePngFile(picture, options.Output);
        break;
    }
  } catch (const std::exception& e) {
    ReportFailure(TFailure::Of(e), session.Err, port, options.Output);
    return 2;
  }
  return 0;
}

}  // namespace korbenit
