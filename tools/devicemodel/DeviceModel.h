#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korbenit {

// A fault the model plays instead of its normal answer to matching commands.
struct TDeviceFault {
  enum class TKind {
    Silence,         // no answer at all
    WrongStartByte,  // the frame starts with Value instead of 1C
    StatusOnly,      // 1C, status Value, length 00 00, nothing more
    PayloadLength,   // declares and sends Value payload bytes
    Stall,           // sends only the first Value bytes of the answer, then nothing
    StrayBytes,      // Value junk bytes after the answer (and before the first one)
  };
  TKind Kind = TKind::Silence;
  char Command = 'S';  // 'B', 'I' or 'S'
  int Line = -1;       // for 'S': the one line it hits, -1 for every line
  int Value = 0;

  bool Matches(char command, int line) const {
    return command == Command && (command != 'S' || Line < 0 || Line == line);
  }
};

inline constexpr int ModelWidth = 240;
inline constexpr int ModelHeight = 320;

// The device's side of the screen protocol: it takes the host's bytes and answers
// ESC "B", ESC "I" and ESC "S" frames from a 240 x 320 RGB565 picture.
class TDeviceModel {
 public:
  TDeviceModel();
  explicit TDeviceModel(std::vector<uint16_t> picture);

  // A picture that exercises every channel and both byte orders.
  static std::vector<uint16_t> TestPattern();
  // The moving test screen's frame number n: a colour ramp that shifts with n, a white
  // bar that moves down 8 lines a frame, and n itself in large digits at the top.
  static std::vector<uint16_t> MovingScreen(int frame);

  // A moving screen: each ESC "B" starts the next frame (1, 2, ...) of MovingScreen.
  void SetMoving(bool moving) { FMoving = moving; }
  int FrameNumber() const { return FFrameNumber; }

  void AddFault(const TDeviceFault& fault) { FFaults.push_back(fault); }
  void ClearFaults() { FFaults.clear(); }

  // Feeds bytes from the host; returns what the device sends back.
  std::string Receive(const std::string& bytes);
  // Bytes the device sends on its own before it is asked anything.
  std::string Greeting() const;

  // Every complete command received, in order.
  const std::vector<std::string>& Commands() const { return FCommands; }
  uint16_t Pixel(int x, int y) const {
    return FPicture[static_cast<std::size_t>(y * ModelWidth + x)];
  }
  std::string LinePayload(int line) const;

 private:
  std::string Answer(char command, int line) const;
  std::string NormalAnswer(char command, int line) const;
  std::string ApplyFault(const TDeviceFault& fault, char command, int line) const;
  std::string Junk(int count) const;

  std::vector<uint16_t> FPicture;
  std::vector<TDeviceFault> FFaults;
  std::vector<std::string> FCommands;
  std::string FPending;
  bool FMoving = false;
  int FFrameNumber = 0;
};

}  // namespace korbenit
