#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "DeviceModel.h"
#include "ScreenTransfer.h"

namespace korbenit::testing {

// A window for the transfer that keeps the picture and the status line, and nothing else.
class TPictureView : public TCaptureView {
 public:
  explicit TPictureView(std::string port) : FPort(std::move(port)) {}
  std::vector<TColor> Picture = std::vector<TColor>(ScreenWidth * ScreenHeight, 1);
  std::string Status = "unset";
  bool SaveAs = false;

  std::string SelectedPort() const override { return FPort; }
  void ClearPicture() override { std::fill(Picture.begin(), Picture.end(), 0); }
  void PaintLine(int line, const TLineColours& c) override {
    std::copy(c.begin(), c.end(), Picture.begin() + line * ScreenWidth);
  }
  void SetSaveAsEnabled(bool enabled) override { SaveAs = enabled; }
  void SetStatusText(const std::string& text) override { Status = text; }
  void SetLampOpen(bool) override {}
  void ProcessMessages() override {}
  void Beep() override {}
  void Pause(int) override {}
  bool StopRequested() const override { return false; }

  // Whether every row (or every step-th row) holds the device model's picture.
  bool ShowsModel(const TDeviceModel& model, int step = 1) const {
    for (int y = 0; y < ScreenHeight; y += step)
      for (int x = 0; x < ScreenWidth; ++x)
        if (Picture[static_cast<std::size_t>(y * ScreenWidth + x)] != ConvertPixel(model.Pixel(x, y)))
          return false;
    return true;
  }

 private:
  std::string FPort;
};

}  // namespace korbenit::testing
