#include <memory>

#include "Application.h"
#include "SerialPort.h"
#include "uMain.h"

int main(int argc, char** argv) {
  korbenit::TApplication app(argc, argv);
  korbenit::TMain Main(std::make_unique<korbenit::TSerialPort>());
  Main.show();
  return app.exec();
}
