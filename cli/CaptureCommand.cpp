#include "CaptureCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "AnimationCapture.h"
#include "DeviceCapture.h"
#include "FailureHints.h"
#include "Frame.h"
#include "ImageFiles.h"
#include "PortChoice.h"
#include "Progress.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

std::string WithErrno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Writes the picture as its name asks; answers the bytes written. Standard output is
// checked once flushed: a full disk, a closed stream or a reader gone is a failure.
std::size_t WritePicture(const TPicture& picture, const std::string& name, int quality,
                         std::ostream& out) {
  if (name == "-") {
    std::vector<uint8_t> png = EncodePng(picture);
    errno = 0;
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.flush();
    if (!out) throw std::runtime_error(WithErrno("standard output"));
    return png.size();
  }
  switch (FormatOfName(name)) {
    case TPictureFormat::Bmp:
      SaveBitmapFile(picture, name);
      break;
    case TPictureFormat::Jpeg:
      SaveJpegFile(picture, name, quality);
      break;
    case TPictureFormat::Png:
      SavePngFile(picture, name);
      break;
    case TPictureFormat::Gif:
    case TPictureFormat::WebP:
      break;  // animations are written by their recording
  }
  std::error_code unknown;
  auto size = std::filesystem::file_size(name, unknown);
  return unknown ? 0 : static_cast<std::size_t>(size);
}

TOutcome CaptureOne(const std::string& port, const std::string& name,
                    const TCaptureOptions& options, TCaptureSession& session) {
  TFrame frame;
  TProgressBar progress(session.Err, options.Quiet ? 0 : session.ErrColumns);
  TFailure failure;
  TOutcome outcome = CaptureFrame(
      port, session.Stop,
      [&](int line, const TScreenLine& words) {
        std::copy(words.begin(), words.end(), frame.Line(line));
        progress.Line(line + 1);
      },
      failure);
  progress.Clear();
  if (outcome == TOutcome::Failed) ReportFailure(failure, session.Err, port);
  if (outcome != TOutcome::Saved) return outcome;
  std::size_t bytes = WritePicture(PictureOf(frame), name, options.Quality, session.Out);
  if (!options.Quiet)
    session.Err << (name == "-" ? "wrote PNG to standard output" : "saved " + name) << " ("
                << ScreenWidth << " x " << ScreenHeight << ", " << bytes << " bytes, "
                << progress.ElapsedMs() << " ms)\n";
  return TOutcome::Saved;
}

// The interval is a period: the n-th picture starts n - 1 intervals after the first,
// or at once when the one before took longer.
int CaptureSeries(const TCaptureOptions& options, TCaptureSession& session) {
  bool animation =
      !options.Output.empty() && options.Output != "-" && IsAnimation(FormatOfName(options.Output));
  std::vector<std::string> names =
      animation ? std::vector<std::string>{options.Output} : OutputNames(options);
  CheckOutputs(names, options, session.OutIsTerminal);
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    ReportFailure({"no device port found", TFailureKind::NoDevicePort}, session.Err);
    return 1;
  }
  // The device's screen is set up meanwhile, as a camera's self-timer lets one do.
  auto delay =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Delay));
  if (!session.Stop.SleepUntil(Clock::now() + delay)) return Stopped(session.Stop);
  if (animation && options.Duration > 0) return RecordDuration(port, options, session);
  if (animation) return RecordSeries(port, options, session);
  auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Interval));
  auto first = Clock::now();
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (!session.Stop.SleepUntil(first + period * static_cast<long>(index)))
      return Stopped(session.Stop);
    switch (CaptureOne(port, names[index], options, session)) {
      case TOutcome::Saved:
        break;
      case TOutcome::Failed:
        return 1;
      case TOutcome::Stopped:
        return Stopped(session.Stop);
    }
  }
  return 0;
}

}  // namespace

void ReportFailure(const TFailure& failure, std::ostream& err, const std::string& port) {
  err << failure.Message << "\n";
  std::string hint = FailureHint(failure.Kind, port.empty() ? std::string() : PortGroup(port));
  if (!hint.empty()) err << hint << "\n";
}

int Stopped(const TStopRequest& stop) {
  return 128 + stop.Signal();
}

int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session) {
  try {
    if (options.List) return ListPorts(session);
    return CaptureSeries(options, session);
  } catch (const EUsage&) {
    throw;
  } catch (const std::exception& e) {
    ReportFailure(TFailure::Of(e), session.Err);
    return 1;
  }
}

}  // namespace korbenit
