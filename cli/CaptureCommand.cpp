#include "CaptureCommand.h"
#include "StreamServer.h"

#include <cerrno>
#include <cstring>

#include "AnimationCapture.h"
#include "DeviceCapture.h"
#include "FailureHints.h"
#include "Frame.h"
#include "ImageFiles.h"
#include "PortChoice.h"
#include "Progress.h"
#include "RuntimePlatform.h"
#include "ScreenCheck.h"
#include "ScreenWait.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

// Writes the picture as its name asks; answers the bytes written. Standard output is
// checked once flushed: a full disk, a closed stream or a reader gone is a failure.
std::size_t WritePicture(const TPicture& picture, const std::string& name, int quality,
                         std::ostream& out) {
  if (name == "-") {
    std::vector<uint8_t> png = EncodePng(picture);
    errno = 0;
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.flush();
    if (!out) {
      int error = StreamErrorNumber();
      throw EFailure("standard output", FileFailureKind(error, TFailureKind::Other), error);
    }
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
  TPathInfo written;
  return LookAtPath(name, true, written) == 0 ? static_cast<std::size_t>(written.Size) : 0;
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
  std::size_t bytes = 0;
  try {
    bytes = WritePicture(EnlargedPicture(PictureOf(frame), options.Scale), name, options.Quality,
                         session.Out);
  } catch (const std::exception& e) {
    ReportFailure(TFailure::Of(e), session.Err, port, name);
    return TOutcome::Failed;
  }
  if (!options.Quiet)
    session.Err << (name == "-" ? "wrote PNG to standard output" : "saved " + name) << " ("
                << ScreenWidth << " x " << ScreenHeight << ", " << bytes << " bytes, "
                << progress.ElapsedMs() << " ms)\n";
  return TOutcome::Saved;
}

// One capture compared with a reference read first, so that trouble with the reference
// never costs the device a transfer. Answers 0 match, 1 differ, 2 trouble.
int CompareWithReference(const TCaptureOptions& options, TCaptureSession& session) {
  TReference reference;
  try {
    reference = ReadReference(options.Compare, options.Rules);
  } catch (const EInvalidGraphic& e) {
    session.Err << "korbenit-capture: " << e.what() << "\n";
    return 2;
  }
  std::vector<std::string> outputs;
  for (const std::string& name : {options.Output, options.Diff})
    if (!name.empty()) outputs.push_back(name);
  CheckOutputs(outputs, options, session.OutIsTerminal);
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    ReportFailure({"no device port found", TFailureKind::NoDevicePort}, session.Err);
    return 2;
  }
  TFrame frame;
  TFailure failure;
  TOutcome outcome = CaptureFrame(
      port, session.Stop,
      [&](int line, const TScreenLine& words) {
        std::copy(words.begin(), words.end(), frame.Line(line));
      },
      failure);
  if (outcome == TOutcome::Stopped) return Stopped(session.Stop);
  if (outcome == TOutcome::Failed) {
    ReportFailure(failure, session.Err, port);
    return 2;
  }
  TScreenDifference difference = CompareScreens(frame, reference.Screen, options.Rules);
  session.Out << DescribeDifference(difference, options.Rules) << "\n";
  session.Out.flush();
  auto write = [&](const TPicture& picture, const std::string& name) {
    try {
      WritePicture(EnlargedPicture(picture, options.Scale), name, options.Quality, session.Out);
      return true;
    } catch (const std::exception& e) {
      ReportFailure(TFailure::Of(e), session.Err, port, name);
      return false;
    }
  };
  if (!options.Output.empty() && !write(PictureOf(frame), options.Output)) return 2;
  if (!options.Diff.empty() &&
      !write(DifferencePicture(frame, reference.Screen, options.Rules), options.Diff))
    return 2;
  return difference.Matches(options.Rules) ? 0 : 1;
}

// The outputs are checked and the port chosen before the wait begins.
int WaitWithChecks(const TCaptureOptions& options, TCaptureSession& session) {
  if (!options.Output.empty()) CheckOutputs({options.Output}, options, session.OutIsTerminal);
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    ReportFailure({"no device port found", TFailureKind::NoDevicePort}, session.Err);
    return 2;
  }
  return WaitForScreen(port, options, session);
}

// The interval is a period: the n-th picture starts n - 1 intervals after the first,
// or at once when the one before took longer. An endless series (a count of 0) checks
// each name before its picture; the others check them all before the device is asked.
int CaptureSeries(const TCaptureOptions& options, TCaptureSession& session) {
  auto started = std::time(nullptr);
  bool animation =
      !options.Output.empty() && options.Output != "-" && IsAnimation(FormatOfName(options.Output));
  std::vector<std::string> names = OutputNames(options, started);
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
  if (options.OnChange) return RecordChanges(port, options, session);
  if (animation && options.Duration > 0) return RecordDuration(port, names[0], options, session);
  if (animation) return RecordSeries(port, names[0], options, session);
  auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Interval));
  auto first = Clock::now();
  for (int index = 1; options.Count == 0 || index <= options.Count; ++index) {
    std::string name = OutputName(options, index, started);
    if (index > 1 && options.Count == 0) CheckOutputs({name}, options, session.OutIsTerminal);
    if (!session.Stop.SleepUntil(first + period * (index - 1))) return Stopped(session.Stop);
    switch (CaptureOne(port, options.Count == 1 ? names[0] : name, options, session)) {
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

// The kind in words, for a failure the system gave no error number of.
const std::pair<TFailureKind, const char*> Reasons[] = {
    {TFailureKind::Permission, "this user may not open it"},
    {TFailureKind::Busy, "another program holds it"},
    {TFailureKind::Missing, "no such port"},
    {TFailureKind::NotSerialPort, "not a serial port"},
    {TFailureKind::DeviceLost, "the device went away"},
    {TFailureKind::NoAnswer, "the device does not answer"},
    {TFailureKind::AnswerStopped, "the device stopped answering in the middle of the picture"},
    {TFailureKind::Protocol, "the device's answer is not a picture"},
    {TFailureKind::NoDevicePort, "no device port found"},
    {TFailureKind::CannotCreate, "no file can be made with that name"},
    {TFailureKind::NameTooLong, "the name is too long"},
    {TFailureKind::ReadOnly, "the file may not be written"},
    {TFailureKind::DiskFull, "the disk is full"},
    {TFailureKind::WriteFailed, "the file could not be written whole"},
    {TFailureKind::PortListUnreadable, "cannot be read"},
};

std::string Reason(const TFailure& failure) {
  if (failure.SystemError != 0) return SystemErrorText(failure.SystemError);
  for (const auto& [kind, reason] : Reasons)
    if (kind == failure.Kind) return reason;
  return failure.Message;
}

// What failed: the file being written, or else the port.
std::string Subject(TFailureKind kind, const std::string& port, const std::string& file) {
  if (!file.empty()) return file == "-" ? "standard output" : file;
  if (kind == TFailureKind::PortListUnreadable) return "the list of serial ports";
  if (kind == TFailureKind::NoDevicePort) return {};
  return port;
}

}  // namespace

std::string CommandLineMessage(const TFailure& failure, const std::string& port,
                               const std::string& file) {
  std::string subject = Subject(failure.Kind, port, file);
  return "korbenit-capture: " + (subject.empty() ? "" : subject + ": ") + Reason(failure);
}

void ReportFailure(const TFailure& failure, std::ostream& err, const std::string& port,
                   const std::string& file) {
  err << CommandLineMessage(failure, port, file) << "\n";
  std::string hint = FailureHint(failure.Kind, port.empty() ? std::string() : PortGroup(port));
  if (!hint.empty()) err << hint << "\n";
}

int Stopped(const TStopRequest& stop) {
  return 128 + stop.Signal();
}

int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session) {
  try {
    if (options.List) return ListPorts(session);
    if (!options.Serve.empty()) return ServeScreen(options, session);
    if (!options.Compare.empty()) return CompareWithReference(options, session);
    if (!options.WaitFor.empty() || options.WaitStable > 0) return WaitWithChecks(options, session);
    return CaptureSeries(options, session);
  } catch (const EUsage&) {
    throw;
  } catch (const std::exception& e) {
    ReportFailure(TFailure::Of(e), session.Err);
    return 1;
  }
}

}  // namespace korbenit
