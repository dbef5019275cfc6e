#pragma once

#include <unistd.h>

#include <QEvent>
#include <QObject>
#include <filesystem>
#include <memory>

#include "ModelPort.h"
#include "TempFolder.h"
#include "uMain.h"

namespace korbenit {

using testing::TModelPort;

// A machine with no tty devices and the given virtual ports.
struct TFakePorts {
  std::filesystem::path Root =
      std::filesystem::temp_directory_path() / ("korbenit-window-" + std::to_string(::getpid()));
  explicit TFakePorts(std::initializer_list<const char*> names) {
    std::filesystem::remove_all(Root);
    std::filesystem::create_directories(Root / "class");
    std::filesystem::create_directories(Root / "virtual");
    for (const char* name : names) Add(name);
  }
  ~TFakePorts() { std::filesystem::remove_all(Root); }
  void Add(const char* name) {
    std::filesystem::create_symlink("/dev/null", Root / "virtual" / name);
  }
  TPortListSources Sources() const {
    return {(Root / "class").string(), (Root / "virtual").string()};
  }
};

struct TWindowRig {
  TFakePorts Ports{"ttyKORB0"};
  testing::TTempFolder Settings;
  std::string SettingsFile = Settings / "Vantor_Screenshot.ini";
  TModelPort* Port;
  std::unique_ptr<TMain> Main;
  explicit TWindowRig(const char* settings = nullptr, bool show = true) {
    if (settings) testing::WriteBytes(SettingsFile, settings);
    auto port = std::make_unique<TModelPort>();
    Port = port.get();
    Main = std::make_unique<TMain>(std::move(port), QString::fromStdString(Settings.Path().string()));
    Main->PortSources = Ports.Sources();
    if (show) Main->show();
  }
  QColor PixelAt(int x, int y) const { return Main->Screen->Picture().pixelColor(x, y); }
};

// Counts close events reaching a window, to tell the close box from EXIT.
class TCloseCounter : public QObject {
 public:
  int Closes = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close) ++Closes;
    return false;
  }
};

}  // namespace korbenit
