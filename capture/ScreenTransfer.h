#pragma once

#include <string>

#include "DeviceSession.h"

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
  // A failure of the transfer: the stop-error sound and the message in the status line;
  // a window may add what it knows of the failure's kind.
  virtual void ShowFailure(const TFailure& failure) {
    Beep();
    SetStatusText(failure.Message);
  }
};

// One "GET SCREEN": 320 lines fetched from the device and painted as they arrive. The
// window's habits (its lamp, its messages handled between lines, its own pause) stay
// here; the device is spoken to through the one device session.
class TScreenTransfer {
 public:
  TScreenTransfer(TSerialPortInterface& port, TCaptureView& view)
      : FView(view), FStop(view), FSession(port, FStop) {}

  // The whole transfer. Every failure once the port is in play ends in a beep and a
  // message in the status line, and the port closed; none of them escapes.
  void Run();

 private:
  void Exchange();
  void ReportFailure(const TFailure& failure) noexcept;

  // The window's stop: the program ending, and its pause that lets messages run.
  class TViewStop : public TStopToken {
   public:
    explicit TViewStop(TCaptureView& view) : FView(view) {}
    bool Requested() const override { return TStopToken::Requested() || FView.StopRequested(); }
    bool Sleep(std::chrono::milliseconds time) override {
      FView.Pause(static_cast<int>(time.count()));
      return !Requested();
    }

   private:
    TCaptureView& FView;
  };

  TCaptureView& FView;
  TViewStop FStop;
  TDeviceSession FSession;
};

}  // namespace korbenit
