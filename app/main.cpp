#include <memory>

#include "Application.h"
#include "SerialPort.h"
#include "uAbout.h"
#include "uDebug.h"
#include "uMain.h"

int main(int argc, char** argv) {
  korbenit::TApplication app(argc, argv);
  korbenit::TMain Main(std::make_unique<korbenit::TSerialPort>());
  korbenit::TDebug Debug;
  korbenit::TAbout About(&Main);
  Main.Debug = &Debug;
  Main.About = &About;
  Main.show();
  return app.exec();
}
