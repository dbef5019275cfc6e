#include "CaptureCommand.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>

#include "AsciiCase.h"
#include "FailureHints.h"
#include "ImageFiles.h"
#include "LiveSession.h"
#include "Recording.h"
#include "ScreenTransfer.h"
#include "SerialPort.h"
#include "Synchronizer.h"

namespace korbenit {

const char* const CaptureUsage =
    "usage: korbenit-capture [options] [FILE]\n"
    "       korbenit-capture --list\n"
    "\n"
    "Fetches the screen of a Korbenit handheld over its serial port and saves it.\n"
    "  -l, --list            the ports present, one a line, with what is known about each\n"
    "  -p, --port NAME       the device's port (default: the one USB serial or simulated\n"
    "                        port present)\n"
    "  -o, --output FILE     .bmp, .jpg/.jpeg, .png, or .gif/.webp for an animation\n"
    "                        (default Korbenit_yyyymmdd_hhnnss.png);\n"
    "                        \"-\" writes PNG to standard output; FILE may also stand alone\n"
    "  -f, --force           replace files that exist (otherwise they are refused)\n"
    "      --quality N       JPEG quality, 1 to 100 (default 90)\n"
    "  -c, --count N         take N pictures: FILE_001, FILE_002, ... or a number pattern\n"
    "                        in FILE such as shot_%03d.png\n"
    "  -i, --interval SECS   start a picture every SECS seconds (with --count)\n"
    "      --duration SECS   record an animation continuously for SECS seconds\n"
    "      --fps N           keep at most N frames a second in an animation\n"
    "  -q, --quiet           no progress bar and no line for a saved picture\n"
    "  -h, --help            this text\n"
    "  -V, --version         the program's version\n"
    "Exit status: 0 done, 1 a capture or an output failed, 2 a usage error,\n"
    "128 + the signal's number when stopped (130 Ctrl+C, 129 hang-up, 143 SIGTERM).\n";

namespace {

using Clock = std::chrono::steady_clock;

constexpr int RedrawsPerSecond = 20;

// A printf-style number in a file name: "%d", "%3d" or "%03d", once; "%%" is a "%".
struct TNumberPattern {
  std::string Before, After;
  int Width = 0;
  bool Zeros = false;
};

std::optional<TNumberPattern> NumberPatternOf(const std::string& name) {
  std::optional<TNumberPattern> found;
  std::string literal;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      literal += name[i];
      continue;
    }
    if (i + 1 < name.size() && name[i + 1] == '%') {
      literal += '%';
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    bool zeros = end < name.size() && name[end] == '0';
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (found || end >= name.size() || name[end] != 'd' || end - i > 4)
      throw EUsage("\"" + name + "\": a name takes one number pattern such as %03d");
    found = TNumberPattern{literal, {}, std::atoi(name.substr(i + 1, end - i - 1).c_str()), zeros};
    literal.clear();
    i = end;
  }
  if (found) found->After = literal;
  return found;
}

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < low || value > high)
    throw EUsage(option + " takes a number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

double ParseSeconds(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  double value = -1;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !(value >= 0) || value > 86400)
    throw EUsage(option + " takes seconds from 0 to 86400, not \"" + text + "\"");
  return value;
}

std::string Extension(const std::string& name) {
  auto slash = name.rfind('/');
  auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

std::string WithErrno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// The transfer's window here: the picture in memory, a progress bar on a terminal.
class TCommandView : public TCaptureView {
 public:
  TCommandView(std::string port, TCaptureSession& session, int barColumns)
      : FPort(std::move(port)), FSession(session), FColumns(barColumns) {}

  TPicture Picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
  std::string Status;
  bool Complete = false;

  std::string SelectedPort() const override { return FPort; }
  void ClearPicture() override {
    Picture = TPicture::Blank(ScreenWidth, ScreenHeight, 32);
    FStart = Clock::now();
    FLines = 0;
  }
  // Rows hold blue, green, red and an unused byte, as the window's raster does.
  void PaintLine(int line, const TLineColours& colours) override {
    uint8_t* row = Picture.MutableRow(line);
    for (std::size_t x = 0; x < colours.size(); ++x) {
      row[4 * x] = BlueOf(colours[x]);
      row[4 * x + 1] = GreenOf(colours[x]);
      row[4 * x + 2] = RedOf(colours[x]);
      row[4 * x + 3] = 0xFF;
    }
    FLines = line + 1;
  }
  void SetSaveAsEnabled(bool enabled) override { Complete = enabled; }
  void SetStatusText(const std::string& text) override { Status = text; }
  void SetLampOpen(bool) override {}
  void ProcessMessages() override {
    TSynchronizer::Main().Serve();
    DrawProgress();
  }
  void Beep() override {}
  void Pause(int milliseconds) override {
    auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end && !StopRequested())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool StopRequested() const override { return FSession.Stop.Requested(); }

  void ClearProgress() {
    if (FColumns > 0) FSession.Err << "\r\033[K" << std::flush;
  }
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - FStart).count();
  }

 private:
  // As wide as the terminal, and redrawn at most twenty times a second (and at the end).
  void DrawProgress() {
    if (FColumns <= 0) return;
    auto now = Clock::now();
    if (FLines < ScreenHeight &&
        now - FLastDraw < std::chrono::milliseconds(1000 / RedrawsPerSecond))
      return;
    FLastDraw = now;
    char counts[64];
    std::snprintf(counts, sizeof counts, " %3d/%d lines %5.1f s", FLines, ScreenHeight,
                  static_cast<double>(ElapsedMs()) / 1000);
    int width = FColumns - 1 - static_cast<int>(std::strlen(counts)) - 2;
    std::string line = counts + 1;
    if (width >= 8) {
      int filled = FLines * width / ScreenHeight;
      line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
             std::string(static_cast<std::size_t>(width - filled), '.') + "]" + counts;
    }
    if (static_cast<int>(line.size()) >= FColumns)
      line.resize(static_cast<std::size_t>(FColumns - 1));
    FSession.Err << "\r" << line << std::flush;
  }

  std::string FPort;
  TCaptureSession& FSession;
  int FColumns;
  Clock::time_point FStart = Clock::now();
  Clock::time_point FLastDraw;
  int FLines = 0;
};

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

void ReportFailure(const std::string& message, std::ostream& err, const std::string& port = {}) {
  err << message << "\n";
  std::string hint = FailureHint(message, port.empty() ? std::string() : PortGroup(port));
  if (!hint.empty()) err << hint << "\n";
}

TStringList PortsInNaturalOrder(const TPortListSources& sources) {
  TStringList ports;
  ListSerialPorts(ports, sources);
  CustomSort(ports, NaturalSortCompare);
  return ports;
}

int ListPorts(TCaptureSession& session) {
  TStringList ports = PortsInNaturalOrder(session.Ports);
  if (ports.empty()) session.Err << "no serial ports found\n";
  for (const auto& port : ports) {
    std::string description = DescribePort(port, session.Ports);
    session.Out << port << (description.empty() ? "" : "\t" + description) << "\n";
  }
  session.Out.flush();
  if (!session.Out) {
    session.Err << "korbenit-capture: " << WithErrno("standard output") << "\n";
    return 1;
  }
  return 0;
}

// Without --port only a port that can be the device is taken: another one (the serial
// console, another program's virtual port) must never get our commands.
std::string ChoosePort(const TCaptureOptions& options, TCaptureSession& session) {
  if (!options.Port.empty()) return options.Port;
  TStringList candidates;
  for (const auto& port : PortsInNaturalOrder(session.Ports))
    if (CanBeTheDevice(port, session.Ports)) candidates.push_back(port);
  if (candidates.size() == 1) return candidates.front();
  if (candidates.empty()) return {};
  std::string names;
  for (const auto& port : candidates) names += (names.empty() ? "" : ", ") + port;
  throw EUsage("several ports are present (" + names + "); choose one with --port NAME");
}

std::vector<std::string> OutputNames(const TCaptureOptions& options) {
  std::string base =
      options.Output.empty() ? DefaultPictureName(std::time(nullptr)) + ".png" : options.Output;
  bool numbered = options.Count > 1 || NumberPatternOf(base);
  std::vector<std::string> names;
  for (int index = 1; index <= options.Count; ++index)
    names.push_back(numbered ? SeriesName(base, index) : base);
  return names;
}

// Found before the port is opened, so nothing reaches the device for a picture that could
// not be kept. The writers still check again when they write.
void CheckOutputs(const std::vector<std::string>& names, const TCaptureOptions& options,
                  const TCaptureSession& session) {
  for (const auto& name : names) {
    if (name == "-") {
      if (session.OutIsTerminal)
        throw EUsage("standard output is a terminal; redirect it or give a file name");
      continue;
    }
    std::filesystem::path file(name);
    std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) throw EUsage(WithErrno("folder \"" + folder + "\""));
    if (!S_ISDIR(info.st_mode)) throw EUsage("\"" + folder + "\" is not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
      throw EUsage(WithErrno("cannot write in \"" + folder + "\""));
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      throw EUsage("\"" + name + "\" is a folder");
    if (::lstat(name.c_str(), &info) == 0 && !options.Force)
      throw EUsage("\"" + name + "\" exists; --force replaces it");
  }
}

enum class TOutcome { Saved, Failed, Stopped };

// The stop watcher may abort the port's waits while this capture runs.
struct TAttachedPort {
  TStopRequest& Stop;
  TAttachedPort(TStopRequest& stop, TCustomSerialPort& port) : Stop(stop) { Stop.Attach(&port); }
  ~TAttachedPort() { Stop.Attach(nullptr); }
};

TOutcome CaptureOne(const std::string& port, const std::string& name,
                    const TCaptureOptions& options, TCaptureSession& session) {
  TSerialPort serial;
  TCommandView view(port, session, options.Quiet ? 0 : session.ErrColumns);
  {
    TAttachedPort attached(session.Stop, serial);
    TScreenTransfer(serial, view).Run();
  }
  view.ClearProgress();
  if (!view.Complete) {
    if (!view.Status.empty()) ReportFailure(view.Status, session.Err, port);
    return view.Status.empty() && session.Stop.Requested() ? TOutcome::Stopped : TOutcome::Failed;
  }
  std::size_t bytes = WritePicture(view.Picture, name, options.Quality, session.Out);
  if (!options.Quiet)
    session.Err << "saved " << name << " (" << ScreenWidth << " x " << ScreenHeight << ", " << bytes
                << " bytes, " << view.ElapsedMs() << " ms)\n";
  return TOutcome::Saved;
}

bool WaitUntilOrStop(Clock::time_point moment, const TStopRequest& stop) {
  while (Clock::now() < moment && !stop.Requested())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !stop.Requested();
}

int Stopped(const TStopRequest& stop) {
  return 128 + stop.Signal();
}

// An animation's frames, from single captures (a series) or a live session (a duration).
// Each frame lasts until the next came; with --fps a frame that comes sooner than its
// share of a second after the last one kept is left out.
class TAnimationCapture : public TLiveView {
 public:
  TAnimationCapture(const std::string& name, const TCaptureOptions& options)
      : FName(name),
        FOptions(options),
        FRecording(name, FormatOfName(name) == TPictureFormat::Gif ? TAnimationFormat::Gif
                                                                   : TAnimationFormat::WebP) {}

  // From the live session's thread, or from the series' captures.
  void Take(std::shared_ptr<const TLiveFrame> frame) {
    auto least = FOptions.Fps > 0 ? std::chrono::microseconds(1'000'000 / FOptions.Fps)
                                  : std::chrono::microseconds(0);
    if (FLast && frame->Captured - FLast->Captured < least) return;
    FLast = frame;
    FRecording.Add(std::move(frame));
  }
  void LineArrived(int, const TLineColours&) override {}
  void FrameArrived(std::shared_ptr<const TLiveFrame> frame) override { Take(std::move(frame)); }
  void Failed(const std::string& message) override {
    std::lock_guard lock(FMutex);
    if (FFailure.empty()) FFailure = message;
  }
  void Retrying() override {}
  std::string Failure() {
    std::lock_guard lock(FMutex);
    return FFailure;
  }

  // Writes the file; the last frame lasts until end. Answers the exit code.
  int Finish(Clock::time_point end, TCaptureSession& session) {
    std::string failure = FRecording.Finish(end);
    if (!failure.empty()) {
      ReportFailure(failure, session.Err);
      return 1;
    }
    if (!FOptions.Quiet)
      session.Err << "saved " << FName << " (" << FRecording.Frames() << " frames, "
                  << FRecording.Elapsed(end).count() << " ms)\n";
    return 0;
  }

 private:
  std::string FName;
  const TCaptureOptions& FOptions;
  TRecording FRecording;
  std::shared_ptr<const TLiveFrame> FLast;
  std::mutex FMutex;
  std::string FFailure;
};

std::shared_ptr<TLiveFrame> FrameOf(const TPicture& picture) {
  auto frame = std::make_shared<TLiveFrame>();
  for (int y = 0; y < ScreenHeight; ++y)
    for (int x = 0; x < ScreenWidth; ++x) {
      const uint8_t* pixel = picture.Row(y) + 4 * x;
      frame->Pixels[static_cast<std::size_t>(y * ScreenWidth + x)] =
          MakeColor(pixel[2], pixel[1], pixel[0]);
    }
  frame->Captured = Clock::now();
  return frame;
}

// A series as one animation: a capture every interval, each frame shown until the next.
int RecordSeries(const std::string& port, const TCaptureOptions& options,
                 TCaptureSession& session) {
  TAnimationCapture animation(options.Output, options);
  auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Interval));
  auto first = Clock::now(), last = first;
  for (int index = 0; index < options.Count; ++index) {
    if (!WaitUntilOrStop(first + period * index, session.Stop)) break;
    TSerialPort serial;
    TCommandView view(port, session, 0);
    {
      TAttachedPort attached(session.Stop, serial);
      TScreenTransfer(serial, view).Run();
    }
    if (!view.Complete) {
      if (view.Status.empty()) break;  // stopped: what was taken is kept
      ReportFailure(view.Status, session.Err, port);
      animation.Finish(last + std::max<Clock::duration>(period, std::chrono::milliseconds(100)),
                       session);
      return 1;
    }
    auto frame = FrameOf(view.Picture);
    last = frame->Captured;
    animation.Take(std::move(frame));
  }
  int written = animation.Finish(
      last + std::max<Clock::duration>(period, std::chrono::milliseconds(100)), session);
  return session.Stop.Requested() ? Stopped(session.Stop) : written;
}

// A continuous recording: frames back to back from a live session for the duration.
int RecordDuration(const std::string& port, const TCaptureOptions& options,
                   TCaptureSession& session) {
  TAnimationCapture animation(options.Output, options);
  TLiveSession live(port, animation);
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(options.Duration));
  live.Start();
  while (Clock::now() < end && !session.Stop.Requested() && animation.Failure().empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  live.Stop();
  std::string failure = animation.Failure();
  if (!failure.empty()) ReportFailure(failure, session.Err, port);
  int written = animation.Finish(std::min(Clock::now(), end), session);
  if (session.Stop.Requested()) return Stopped(session.Stop);
  return failure.empty() ? written : 1;
}

// The interval is a period: the n-th picture starts n - 1 intervals after the first,
// or at once when the one before took longer.
int CaptureSeries(const TCaptureOptions& options, TCaptureSession& session) {
  bool animation =
      !options.Output.empty() && options.Output != "-" && IsAnimation(FormatOfName(options.Output));
  std::vector<std::string> names =
      animation ? std::vector<std::string>{options.Output} : OutputNames(options);
  CheckOutputs(names, options, session);
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    ReportFailure("no device port found", session.Err);
    return 1;
  }
  if (animation && options.Duration > 0) return RecordDuration(port, options, session);
  if (animation) return RecordSeries(port, options, session);
  auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.Interval));
  auto first = Clock::now();
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (!WaitUntilOrStop(first + period * static_cast<long>(index), session.Stop))
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

// getopt_long over a copy of the arguments, with its messages turned into ours.
class TOptionParser {
 public:
  explicit TOptionParser(const std::vector<std::string>& arguments) : FArguments(arguments) {
    FArguments.insert(FArguments.begin(), "korbenit-capture");
    for (auto& argument : FArguments) FPointers.push_back(argument.data());
    FPointers.push_back(nullptr);
  }

  TCaptureOptions Parse() {
    enum { Quality = 1000, Duration, Fps };
    static const option Long[] = {{"list", no_argument, nullptr, 'l'},
                                  {"port", required_argument, nullptr, 'p'},
                                  {"output", required_argument, nullptr, 'o'},
                                  {"force", no_argument, nullptr, 'f'},
                                  {"quality", required_argument, nullptr, Quality},
                                  {"count", required_argument, nullptr, 'c'},
                                  {"interval", required_argument, nullptr, 'i'},
                                  {"duration", required_argument, nullptr, Duration},
                                  {"fps", required_argument, nullptr, Fps},
                                  {"quiet", no_argument, nullptr, 'q'},
                                  {"help", no_argument, nullptr, 'h'},
                                  {"version", no_argument, nullptr, 'V'},
                                  {nullptr, 0, nullptr, 0}};
    TCaptureOptions options;
    bool intervalGiven = false;
    ::optind = 0;  // a fresh scan, also when parsing twice in one process
    ::opterr = 0;
    int argc = static_cast<int>(FArguments.size());
    for (int c;
         (c = ::getopt_long(argc, FPointers.data(), ":lp:o:fc:i:qhV", Long, nullptr)) != -1;) {
      switch (c) {
        case 'l':
          options.List = true;
          break;
        case 'p':
          options.Port = ::optarg;
          break;
        case 'o':
          SetOutput(options, ::optarg);
          break;
        case 'f':
          options.Force = true;
          break;
        case Quality:
          options.Quality = ParseNumber("--quality", ::optarg, 1, 100);
          break;
        case Duration:
          options.Duration = ParseSeconds("--duration", ::optarg);
          break;
        case Fps:
          options.Fps = ParseNumber("--fps", ::optarg, 1, 30);
          break;
        case 'c':
          options.Count = ParseNumber("--count", ::optarg, 1, 100000);
          break;
        case 'i':
          options.Interval = ParseSeconds("--interval", ::optarg), intervalGiven = true;
          break;
        case 'q':
          options.Quiet = true;
          break;
        case 'h':
          options.Help = true;
          break;
        case 'V':
          options.Version = true;
          break;
        case ':':
          throw EUsage(Offending() + " needs a value");
        default:
          throw EUsage("unknown option " + Offending());
      }
    }
    for (int i = ::optind; i < argc; ++i)
      SetOutput(options, FPointers[static_cast<std::size_t>(i)]);
    Check(options, intervalGiven);
    return options;
  }

 private:
  std::string Offending() const {
    if (::optopt != 0 && ::optopt < 256) return std::string("-") + static_cast<char>(::optopt);
    return FPointers[static_cast<std::size_t>(::optind - 1)];
  }

  static void SetOutput(TCaptureOptions& options, const std::string& name) {
    if (!options.Output.empty())
      throw EUsage("one output only (\"" + options.Output + "\" and \"" + name + "\")");
    if (name.empty()) throw EUsage("an empty output name");
    options.Output = name;
  }

  static void Check(const TCaptureOptions& options, bool intervalGiven) {
    if (!options.Output.empty() && options.Output != "-") {
      FormatOfName(options.Output);
      NumberPatternOf(options.Output);
    }
    if (options.Output == "-" && options.Count > 1)
      throw EUsage("standard output takes one picture; give a file name for a series");
    if (intervalGiven && options.Count < 2) throw EUsage("--interval needs --count of 2 or more");
    bool animation = !options.Output.empty() && options.Output != "-" &&
                     IsAnimation(FormatOfName(options.Output));
    if ((options.Duration > 0 || options.Fps > 0) && !animation)
      throw EUsage("--duration and --fps need a .gif or .webp output");
    if (options.Duration > 0 && options.Count > 1)
      throw EUsage("--duration and --count exclude each other");
  }

  std::vector<std::string> FArguments;
  std::vector<char*> FPointers;
};

}  // namespace

void TStopRequest::Request(int signal) {
  std::lock_guard lock(FMutex);
  FSignal = signal;
  FRequested = true;
  if (FPort) FPort->AbortTransfers();
}

void TStopRequest::Attach(TCustomSerialPort* port) {
  std::lock_guard lock(FMutex);
  FPort = port;
}

bool IsAnimation(TPictureFormat format) {
  return format == TPictureFormat::Gif || format == TPictureFormat::WebP;
}

TPictureFormat FormatOfName(const std::string& name) {
  std::string extension = Extension(name);
  if (SameTextIgnoringCase(extension, ".bmp")) return TPictureFormat::Bmp;
  if (SameTextIgnoringCase(extension, ".jpg") || SameTextIgnoringCase(extension, ".jpeg"))
    return TPictureFormat::Jpeg;
  if (SameTextIgnoringCase(extension, ".png")) return TPictureFormat::Png;
  if (SameTextIgnoringCase(extension, ".gif")) return TPictureFormat::Gif;
  if (SameTextIgnoringCase(extension, ".webp")) return TPictureFormat::WebP;
  throw EUsage("\"" + name + "\": the name must end in .bmp, .jpg, .jpeg, .png, .gif or .webp");
}

std::string SeriesName(const std::string& name, int index) {
  char number[32];
  if (auto pattern = NumberPatternOf(name)) {
    std::snprintf(number, sizeof number, pattern->Zeros ? "%0*d" : "%*d", pattern->Width, index);
    return pattern->Before + number + pattern->After;
  }
  std::snprintf(number, sizeof number, "_%03d", index);
  std::string extension = Extension(name);
  return name.substr(0, name.size() - extension.size()) + number +
         name.substr(name.size() - extension.size());
}

TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments) {
  return TOptionParser(arguments).Parse();
}

int RunCaptureCommand(const TCaptureOptions& options, TCaptureSession& session) {
  try {
    if (options.List) return ListPorts(session);
    return CaptureSeries(options, session);
  } catch (const EUsage&) {
    throw;
  } catch (const std::exception& e) {
    ReportFailure(e.what(), session.Err);
    return 1;
  }
}

}  // namespace korbenit
