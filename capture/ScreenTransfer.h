#pragma once

#include <string>

#include "ScreenProtocol.h"

namespace korbenit {

// What the transfer needs of the window it runs in.
class TCaptureView {
 public:
  virtual ~TCaptureView() = default;
  virtual std::string SelectedPort() const = 0;
  virtual void ClearPicture() = 0;
  virtual void PaintLine(int line, const TLineColours& colours) = 0;
  virtual void SetSaveAsEnabled(bool enabled) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetLampOpen(bool open) = 0;
  virtual void ProcessMessages() = 0;
  virtual void Beep() = 0;
  virtual void Pause(int milliseconds) = 0;
  // True once the program is ending: the transfer stops at the next line and closes.
  virtual bool StopRequested() const = 0;
};

// One "GET SCREEN": 320 lines fetched from the device and painted as they arrive.
class TScreenTransfer {
 public:
  TScreenTransfer(TSerialPortInterface& port, TCaptureView& view)
      : FPort(port), FView(view), FProtocol(port, [&view] { return view.StopRequested(); }) {}

  // The whole transfer. Every failure once the port is in play ends in a beep and a
  // message in the status line, and the port closed; none of them escapes.
  void Run();

 private:
  void Exchange();
  void ReportFailure(const std::string& message) noexcept;

  TSerialPortInterface& FPort;
  TCaptureView& FView;
  TScreenProtocol FProtocol;
};

// Opens a port for the device: its name, the capture's line speed.
void OpenForCapture(TSerialPortInterface& port, const std::string& name);

// The ending every capture shares: the line speed goes back to 9600 before the port
// closes, and the port is closed regardless. Answers the first failure, or "".
std::string CloseAfterCapture(TSerialPortInterface& port) noexcept;

}  // namespace korbenit
