#include "CaptureCommand.h"

#include <QBuffer>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "AsciiCase.h"
#include "FailureHints.h"
#include "ImageFiles.h"
#include "SafeFile.h"
#include "ScreenTransfer.h"
#include "SerialPort.h"
#include "Synchronizer.h"

namespace korbenit {

const char* const CaptureUsage =
    "usage: korbenit-capture [--port NAME] [-o FILE] [--quality N] [--count N --interval SECONDS]\n"
    "                        [--quiet]\n"
    "       korbenit-capture --list\n"
    "       korbenit-capture --help\n"
    "\n"
    "Fetches the screen of a Korbenit handheld over its serial port and saves it.\n"
    "  --list             the ports present, one a line, with what is known about each\n"
    "  --port NAME        the device's port (default: the only port present)\n"
    "  -o, --output FILE  .bmp, .jpg/.jpeg or .png (default Korbenit_yyyymmdd_hhnnss.png);\n"
    "                     \"-\" writes PNG to standard output\n"
    "  --quality N        JPEG quality, 1 to 100 (default 90)\n"
    "  --count N          take N pictures, named FILE_001, FILE_002, ... (default 1)\n"
    "  --interval SECONDS wait between the pictures of a series (default 0)\n"
    "  -q, --quiet        no progress bar and no line for a saved picture\n"
    "Exit status: 0 done, 1 a capture failed, 2 a usage error, 130 interrupted.\n";

namespace {

using Clock = std::chrono::steady_clock;

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

double ParseSeconds(const std::string& text) {
  std::size_t used = 0;
  double value = -1;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !(value >= 0) || value > 86400)
    throw EUsage("--interval takes seconds from 0 to 86400, not \"" + text + "\"");
  return value;
}

std::string Extension(const std::string& name) {
  auto slash = name.rfind('/');
  auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(dot);
}

// The transfer's window here: the picture in memory, a progress bar on a terminal.
class TCommandView : public TCaptureView {
 public:
  TCommandView(std::string port, TCaptureSession& session, bool showProgress)
      : FPort(std::move(port)), FSession(session), FShowProgress(showProgress) {}

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
  bool StopRequested() const override { return FSession.Stop.load(); }

  void ClearProgress() {
    if (FShowProgress) FSession.Err << "\r\033[K" << std::flush;
  }
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - FStart).count();
  }

 private:
  void DrawProgress() {
    if (!FShowProgress) return;
    constexpr int Width = 32;
    int filled = FLines * Width / ScreenHeight;
    char text[128];
    std::snprintf(text, sizeof text, "\r[%s%s] %3d/%d lines %5.1f s",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(Width - filled), '.').c_str(), FLines,
                  ScreenHeight, static_cast<double>(ElapsedMs()) / 1000);
    FSession.Err << text << std::flush;
  }

  std::string FPort;
  TCaptureSession& FSession;
  bool FShowProgress;
  Clock::time_point FStart = Clock::now();
  int FLines = 0;
};

std::vector<uint8_t> EncodePng(const TPicture& picture) {
  QImage image(picture.Row(0), picture.Width(), picture.Height(), picture.Stride(),
               QImage::Format_RGB32);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {bytes.begin(), bytes.end()};
}

// Writes the picture as its name asks; answers the bytes written.
std::size_t WritePicture(const TPicture& picture, const std::string& name, int quality,
                         std::ostream& out) {
  if (name == "-") {
    std::vector<uint8_t> png = EncodePng(picture);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.flush();
    return png.size();
  }
  switch (FormatOfName(name)) {
    case TPictureFormat::Bmp: SaveBitmapFile(picture, name); break;
    case TPictureFormat::Jpeg: SaveJpegFile(picture, name, quality); break;
    case TPictureFormat::Png: {
      std::vector<uint8_t> png = EncodePng(picture);
      TReplacingFile file(name);
      file.Write(png.data(), png.size());
      file.Commit();
      break;
    }
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
  return 0;
}

std::string ChoosePort(const TCaptureOptions& options, TCaptureSession& session) {
  if (!options.Port.empty()) return options.Port;
  TStringList ports = PortsInNaturalOrder(session.Ports);
  if (ports.size() == 1) return ports.front();
  if (ports.empty()) return {};
  std::string names;
  for (const auto& port : ports) names += (names.empty() ? "" : ", ") + port;
  throw EUsage("several ports are present (" + names + "); choose one with --port NAME");
}

enum class TOutcome { Saved, Failed, Stopped };

TOutcome CaptureOne(const std::string& port, const std::string& name,
                    const TCaptureOptions& options, TCaptureSession& session) {
  TSerialPort serial;
  TCommandView view(port, session, session.ErrIsTerminal && !options.Quiet);
  TScreenTransfer(serial, view).Run();
  view.ClearProgress();
  if (!view.Complete) {
    if (!view.Status.empty()) ReportFailure(view.Status, session.Err, port);
    return view.Status.empty() && session.Stop ? TOutcome::Stopped : TOutcome::Failed;
  }
  std::size_t bytes = WritePicture(view.Picture, name, options.Quality, session.Out);
  if (!options.Quiet)
    (name == "-" ? session.Err : session.Out)
        << "saved " << name << " (" << ScreenWidth << " x " << ScreenHeight << ", " << bytes
        << " bytes, " << view.ElapsedMs() << " ms)\n";
  return TOutcome::Saved;
}

bool WaitOrStop(double seconds, const std::atomic<bool>& stop) {
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(seconds));
  while (Clock::now() < end && !stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return !stop;
}

int CaptureSeries(const TCaptureOptions& options, TCaptureSession& session) {
  std::string port = ChoosePort(options, session);
  if (port.empty()) {
    session.Err << "no serial port found\nIs the device connected and switched on?\n";
    return 1;
  }
  std::string base =
      options.Output.empty() ? DefaultPictureName(std::time(nullptr)) + ".png" : options.Output;
  for (int index = 1; index <= options.Count; ++index) {
    if (index > 1 && !WaitOrStop(options.Interval, session.Stop)) return 130;
    std::string name = options.Count > 1 ? SeriesName(base, index) : base;
    switch (CaptureOne(port, name, options, session)) {
      case TOutcome::Saved: break;
      case TOutcome::Failed: return 1;
      case TOutcome::Stopped: return 130;
    }
  }
  return 0;
}

}  // namespace

TPictureFormat FormatOfName(const std::string& name) {
  std::string extension = Extension(name);
  if (SameTextIgnoringCase(extension, ".bmp")) return TPictureFormat::Bmp;
  if (SameTextIgnoringCase(extension, ".jpg") || SameTextIgnoringCase(extension, ".jpeg"))
    return TPictureFormat::Jpeg;
  if (SameTextIgnoringCase(extension, ".png")) return TPictureFormat::Png;
  throw EUsage("\"" + name + "\": the name must end in .bmp, .jpg, .jpeg or .png");
}

std::string SeriesName(const std::string& name, int index) {
  char number[16];
  std::snprintf(number, sizeof number, "_%03d", index);
  std::string extension = Extension(name);
  return name.substr(0, name.size() - extension.size()) + number +
         name.substr(name.size() - extension.size());
}

TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments) {
  TCaptureOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw EUsage(arg + " needs a value");
      return arguments[++i];
    };
    if (arg == "--help" || arg == "-h") options.Help = true;
    else if (arg == "--list") options.List = true;
    else if (arg == "--quiet" || arg == "-q") options.Quiet = true;
    else if (arg == "--port") options.Port = value();
    else if (arg == "-o" || arg == "--output") options.Output = value();
    else if (arg == "--quality") options.Quality = ParseNumber(arg, value(), 1, 100);
    else if (arg == "--count") options.Count = ParseNumber(arg, value(), 1, 100000);
    else if (arg == "--interval") options.Interval = ParseSeconds(value());
    else throw EUsage("unknown argument \"" + arg + "\"");
  }
  if (!options.Output.empty() && options.Output != "-") FormatOfName(options.Output);
  if (options.Output == "-" && options.Count > 1)
    throw EUsage("standard output takes one picture; give a file name for a series");
  return options;
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
