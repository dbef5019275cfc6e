// korbenit-screenshot on Windows: the main window over the core.
#include <windows.h>

#include <commctrl.h>

#include <memory>

#include "SerialPort.h"
#include "uAbout.h"
#include "uDebug.h"
#include "uMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  korbenit::TMain Main(std::make_unique<korbenit::TSerialPort>());
  korbenit::TDebug Debug;
  korbenit::TAbout About(Main.Handle());
  Main.Debug = &Debug;
  Main.About = &About;
  Main.Show(showCommand);
  return Main.Run();
}
