// The device simulator: a pseudo-terminal that answers the screen protocol.
#include <QImage>
#include <cstring>
#include <iostream>

#include "Simulator.h"

namespace {

const char* Usage =
    "usage: korbenit-sim [--name NAME] [--image FILE | --moving] [--delay-us N] [--log]\n"
    "                    [--fault KIND:B|I|S:LINE|*:VALUE]...\n"
    "Publishes a pseudo-terminal as the virtual port NAME (default korbenit-sim) and\n"
    "answers ESC B, ESC I and ESC S from a test pattern or from FILE (BMP, PNG or JPEG,\n"
    "scaled and cropped to 240 x 320), or with --moving from a screen that changes at every\n"
    "ESC B (a shifting colour ramp, a moving bar and the frame number). Fault kinds:\n"
    "silence, wrong-start (VALUE is the start byte), status-only (VALUE is the status),\n"
    "length (VALUE payload bytes), stall (VALUE bytes sent, then nothing), stray (VALUE\n"
    "junk bytes after answers).\n";

std::vector<uint16_t> LoadPicture(const std::string& path) {
  QImage image(QString::fromStdString(path));
  if (image.isNull()) throw std::runtime_error("cannot read the image " + path);
  QSize size(korbenit::ModelWidth, korbenit::ModelHeight);
  image = image.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
  QRect centre((image.width() - size.width()) / 2, (image.height() - size.height()) / 2,
               size.width(), size.height());
  image = image.copy(centre).convertToFormat(QImage::Format_RGB16);
  std::vector<uint16_t> picture;
  picture.reserve(static_cast<std::size_t>(size.width() * size.height()));
  for (int y = 0; y < size.height(); ++y) {
    auto* row = reinterpret_cast<const uint16_t*>(image.constScanLine(y));
    picture.insert(picture.end(), row, row + size.width());
  }
  return picture;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    korbenit::TSimulatorOptions options;
    korbenit::TDeviceModel model;
    std::vector<korbenit::TDeviceFault> faults;
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--name") options.Name = value();
      else if (arg == "--image") model = korbenit::TDeviceModel(LoadPicture(value()));
      else if (arg == "--delay-us") options.LineDelay = std::chrono::microseconds(std::stol(value()));
      else if (arg == "--fault") faults.push_back(korbenit::ParseFault(value()));
      else if (arg == "--log") options.LogCommands = true;
      else if (arg == "--moving") options.Moving = true;
      else {
        std::cerr << Usage;
        return arg == "--help" ? 0 : 2;
      }
    }
    for (const auto& fault : faults) model.AddFault(fault);
    korbenit::TPtySimulator simulator(std::move(model), options);
    std::cout << "port=" << options.Name << " link=" << simulator.LinkPath()
              << " terminal=" << simulator.TerminalPath() << std::endl;
    simulator.Run(std::cerr);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "korbenit-sim: " << e.what() << "\n";
    return 1;
  }
}
