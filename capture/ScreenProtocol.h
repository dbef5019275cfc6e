#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "Failure.h"
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
// The settling pause after the port opens, before the first command.
inline constexpr int SettlingPause = 200;

using TAnswerBuffer = std::array<uint8_t, AnswerBufferSize>;
using TLineColours = std::array<TColor, ScreenWidth>;
// A line as the device sends it: RGB565 words.
using TScreenLine = std::array<uint16_t, ScreenWidth>;

constexpr TColor MakeColor(uint8_t red, uint8_t green, uint8_t blue) {
  return TColor{red} + 256u * green + 65536u * blue;
}
constexpr uint8_t RedOf(TColor c) {
  return static_cast<uint8_t>(c);
}
constexpr uint8_t GreenOf(TColor c) {
  return static_cast<uint8_t>(c >> 8);
}
constexpr uint8_t BlueOf(TColor c) {
  return static_cast<uint8_t>(c >> 16);
}

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

// A frame given up because a stop was asked: no failure.
struct TFrameStopped {};

// "B: No Data", "I: No Data" or "S: No Data": the device did not answer a command as
// it must. The kind tells silence from a wrong answer.
class ENoData : public EFailure {
 public:
  ENoData(char command, TFailureKind kind)
      : EFailure(std::string(1, command) + ": No Data", kind) {}
};

// The device's screen protocol on an open port: each command goes out after a purge of
// both queues, and every byte of its answer is awaited at most 3 x 300 milliseconds.
// The one copy of it, for a single transfer and a live session alike.
class TScreenProtocol {
 public:
  using TLineSink = std::function<void(int line, const TScreenLine& words)>;

  TScreenProtocol(TSerialPortInterface& port, std::function<bool()> stopRequested)
      : FPort(port), FStopRequested(std::move(stopRequested)) {}

  void SendCommand(const std::string& command);
  // One byte, or -1 when none came within 3 x timeout milliseconds.
  int ReadByte(int timeout);
  // One answer frame: its payload length, the status byte when the length's low byte
  // is 0 or missing, -1 when a byte did not come, -100 for a wrong start byte. The
  // payload is taken as it arrives, as many bytes in one read as are there.
  int ReadAnswer(TAnswerBuffer& buffer);
  // One picture: ESC B, ESC I, then ESC S for each line, each line handed to sink as it
  // arrives. Raises ENoData, or TFrameStopped when a stop is asked (it is
  // looked at before every command and after every line).
  void FetchFrame(const TLineSink& sink);

 private:
  int ReadSome(int count, std::string& received);
  // Raises ENoData for command unless the answer's result is acceptable.
  template <typename TAcceptable>
  void Check(char command, int answer, TAcceptable acceptable);
  void Request(const std::string& command);

  TSerialPortInterface& FPort;
  std::function<bool()> FStopRequested;
  TAnswerBuffer FBuffer{};
};

}  // namespace korbenit
