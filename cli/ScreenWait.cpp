#include "ScreenWait.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "ImageFiles.h"
#include "LiveSession.h"
#include "OutputNames.h"

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

// The frame in the format its name asks for, enlarged as asked; a failure is reported.
bool SaveFrame(const TFrame& frame, const std::string& name, const TCaptureOptions& options,
               const std::string& port, TCaptureSession& session) {
  try {
    TPicture picture = EnlargedPicture(PictureOf(frame), options.Scale);
    switch (FormatOfName(name)) {
      case TPictureFormat::Bmp:
        SaveBitmapFile(picture, name);
        break;
      case TPictureFormat::Jpeg:
        SaveJpegFile(picture, name, options.Quality);
        break;
      default:
        SavePngFile(picture, name);
        break;
    }
    return true;
  } catch (const std::exception& e) {
    ReportFailure(TFailure::Of(e), session.Err, port, name);
    return false;
  }
}

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
  return SaveFrame(*found, options.Output, options, port, session) ? 0 : 2;
}

int RecordChanges(const std::string& port, const TCaptureOptions& options,
                  TCaptureSession& session) {
  auto started = std::time(nullptr);
  std::string base = options.Output.empty() ? DefaultPictureName(started) + ".png"
                                            : WithTimeFields(options.Output, started);
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(options.Duration));
  TScreenWatch watch;
  TLiveSession live(port, watch);
  live.Start();
  std::shared_ptr<const TFrame> kept;
  int index = 0, code = 0;
  while (!session.Stop.Requested() && (options.Duration <= 0 || Clock::now() < end) &&
         (options.Count == 0 || index < options.Count)) {
    auto frame = watch.Take();
    if (!frame) {
      session.Stop.Sleep(std::chrono::milliseconds(10));
      continue;
    }
    if (kept && CompareScreens(*frame, *kept, options.Rules).Matches(options.Rules)) continue;
    std::string name = SeriesName(base, ++index);
    CheckOutputs({name}, options, session.OutIsTerminal);
    if (!SaveFrame(*frame, name, options, port, session)) {
      code = 1;
      break;
    }
    if (!options.Quiet) session.Err << "saved " << name << "\n";
    kept = frame;
  }
  live.Stop();
  if (session.Stop.Requested()) return Stopped(session.Stop);
  if (index == 0 && !watch.Failure().Empty()) {
    ReportFailure(watch.Failure(), session.Err, port);
    return 1;
  }
  return code;
}

}  // namespace korbenit
