#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "SerialPortInterface.h"

namespace korbenit {

// A colour as drawing takes it: red + 256 x green + 65536 x blue.
using TColor = uint32_t;

inline constexpr int ScreenWidth = 240;
inline constexpr int ScreenHeight = 320;
inline constexpr int LinePayloadSize = 2 * ScreenWidth;
inline constexpr int AnswerBufferSize = 512;
inline constexpr uint8_t FrameStart = 0x1C;
inline constexpr int ByteTimeout = 300;
inline constexpr int32_t CaptureBaudRate = 5652814;
inline constexpr int32_t RestingBaudRate = 9600;

using TAnswerBuffer = std::array<uint8_t, AnswerBufferSize>;
using TLineColours = std::array<TColor, ScreenWidth>;

constexpr TColor MakeColor(uint8_t red, uint8_t green, uint8_t blue) {
  return TColor{red} + 256u * green + 65536u * blue;
}
constexpr uint8_t RedOf(TColor c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GreenOf(TColor c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(TColor c) { return static_cast<uint8_t>(c >> 16); }

// RGB565 to 8 bits per channel; the freed low bits are filled with ones.
constexpr TColor ConvertPixel(uint16_t w) {
  auto red = static_cast<uint8_t>(((w >> 8) & 0xF8) | 7);
  auto green = static_cast<uint8_t>(((w >> 3) & 0xFC) | 3);
  auto blue = static_cast<uint8_t>(((w & 0x1F) << 3) | 7);
  return MakeColor(red, green, blue);
}

// The commands the device understands.
std::string OpenCommandB();
std::string OpenCommandI();
std::string LineCommand(int line);

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
  TScreenTransfer(TSerialPortInterface& port, TCaptureView& view) : FPort(port), FView(view) {}

  // The whole transfer. Every failure once the port is in play ends in a beep and a
  // message in the status line, and the port closed; none of them escapes.
  void Run();

  void SendCommand(const std::string& command);
  // One byte, or -1 when none came within 3 x timeout milliseconds.
  int ReadByte(int timeout);
  // One answer frame: its payload length, the status byte when the length's low byte
  // is 0 or missing, -1 when a byte did not come, -100 for a wrong start byte.
  int ReadAnswer(TAnswerBuffer& buffer);

 private:
  void Exchange();
  void Request(const std::string& command);
  void FetchLine(int line, TAnswerBuffer& buffer);
  void ReportFailure(const std::string& message) noexcept;
  void Finish(bool reportFailures) noexcept;

  TSerialPortInterface& FPort;
  TCaptureView& FView;
};

}  // namespace korbenit
