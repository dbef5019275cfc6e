#include "ScreenTransfer.h"

#include <stdexcept>

namespace korbenit {

void OpenForCapture(TSerialPortInterface& port, const std::string& name) {
  port.SetPort(name);
  port.SetCustomBaudRate(CaptureBaudRate);
  port.SetBaudRate(TBaudRate::brCustom);
  port.Open();
}

// A failure in the ending is answered rather than raised: after a failed transfer it is
// a follow-on of the first (an unplugged line fails every step) and would hide the cause.
std::string CloseAfterCapture(TSerialPortInterface& port) noexcept {
  std::string failure;
  auto note = [&](const char* message) {
    if (failure.empty()) failure = message;
  };
  try {
    if (port.Connected()) {
      try {
        port.SetCustomBaudRate(RestingBaudRate);
      } catch (const std::exception& e) {
        note(e.what());
      }
      port.Close();
    }
  } catch (const std::exception& e) {
    note(e.what());
  } catch (...) {
    note("Unknown error");
  }
  return failure;
}

void TScreenTransfer::Exchange() {
  OpenForCapture(FPort, FView.SelectedPort());
  FView.SetLampOpen(true);
  FView.ProcessMessages();
  FView.Pause(SettlingPause);
  FProtocol.FetchFrame([this](int line, const TLineColours& colours) {
    FView.PaintLine(line, colours);
    FView.ProcessMessages();
  });
  FView.SetSaveAsEnabled(true);
}

void TScreenTransfer::ReportFailure(const std::string& message) noexcept {
  try {
    FView.Beep();
    FView.SetStatusText(message);
  } catch (...) {
    // Nothing is left to report a failing status line to.
  }
}

void TScreenTransfer::Run() {
  FView.ClearPicture();
  FView.SetSaveAsEnabled(false);
  FView.SetStatusText("");
  FView.SetSaveAsEnabled(false);
  FView.ProcessMessages();
  bool failed = true;
  try {
    Exchange();
    failed = false;
  } catch (const TFrameStopped&) {
    failed = false;
  } catch (const std::exception& e) {
    // A stop may cut a transfer short on purpose (its wait aborted): that is no failure.
    if (FView.StopRequested())
      failed = false;
    else
      ReportFailure(e.what());
  } catch (...) {
    ReportFailure("Unknown error");
  }
  std::string ending = CloseAfterCapture(FPort);
  if (!failed && !ending.empty()) ReportFailure(ending);
  try {
    FView.SetLampOpen(false);
  } catch (...) {
  }
}

}  // namespace korbenit
