#include "DeviceModel.h"

#include <stdexcept>

namespace korbenit {
namespace {

constexpr char Esc = 0x1B;
constexpr char FrameStart = 0x1C;

std::string Frame(uint8_t status, const std::string& payload) {
  auto length = payload.size();
  std::string frame{FrameStart, static_cast<char>(status), static_cast<char>(length & 0xFF),
                    static_cast<char>((length >> 8) & 0xFF)};
  return frame + payload;
}

// Length of the command starting with ESC and the given letter, 0 for no command.
std::size_t CommandLength(char letter) {
  switch (letter) {
    case 'B':
    case 'I':
      return 2;
    case 'S':
      return 4;
    default:
      return 0;
  }
}

}  // namespace

TDeviceModel::TDeviceModel() : TDeviceModel(TestPattern()) {}

TDeviceModel::TDeviceModel(std::vector<uint16_t> picture) : FPicture(std::move(picture)) {
  if (FPicture.size() != static_cast<std::size_t>(ModelWidth * ModelHeight))
    throw std::invalid_argument("the device picture must be 240 x 320 pixels");
}

std::vector<uint16_t> TDeviceModel::TestPattern() {
  std::vector<uint16_t> picture(static_cast<std::size_t>(ModelWidth * ModelHeight));
  for (int y = 0; y < ModelHeight; ++y)
    for (int x = 0; x < ModelWidth; ++x) {
      auto red = static_cast<uint16_t>((x * 31 / (ModelWidth - 1)) << 11);
      auto green = static_cast<uint16_t>((y * 63 / (ModelHeight - 1)) << 5);
      auto blue = static_cast<uint16_t>(((x + y) / 8) % 32);
      picture[static_cast<std::size_t>(y * ModelWidth + x)] = red | green | blue;
    }
  return picture;
}

namespace {

// Digits of 3 x 5 cells, a bit a cell, the top row first.
constexpr uint16_t Digits[10] = {075557, 022222, 071747, 071717, 055711,
                                 074717, 074757, 071111, 075757, 075717};

bool InDigit(int digit, int column, int row) {
  return (Digits[digit] >> ((4 - row) * 3 + (2 - column))) & 1;
}

// The frame number, right-aligned in six digits of 12 x 20 pixels from (16, 16).
bool InNumber(int frame, int x, int y) {
  constexpr int Cell = 4, Left = 16, Top = 16, Places = 6;
  int place = (x - Left) / (4 * Cell);
  int column = (x - Left) % (4 * Cell) / Cell, row = (y - Top) / Cell;
  if (x < Left || y < Top || place >= Places || column > 2 || row > 4) return false;
  int value = frame;
  for (int i = Places - 1; i > place; --i) value /= 10;
  return InDigit(value % 10, column, row);
}

}  // namespace

std::vector<uint16_t> TDeviceModel::MovingScreen(int frame) {
  std::vector<uint16_t> picture(static_cast<std::size_t>(ModelWidth * ModelHeight));
  int bar = (frame * 8) % ModelHeight;
  for (int y = 0; y < ModelHeight; ++y)
    for (int x = 0; x < ModelWidth; ++x) {
      uint16_t word;
      if (InNumber(frame, x, y))
        word = 0x0000;
      else if (y >= bar && y < bar + 16)
        word = 0xFFFF;
      else {
        auto red = static_cast<uint16_t>(((x + 4 * frame) % ModelWidth) * 31 / (ModelWidth - 1));
        auto green = static_cast<uint16_t>(y * 63 / (ModelHeight - 1));
        auto blue = static_cast<uint16_t>((frame * 3) % 32);
        word = static_cast<uint16_t>(red << 11 | green << 5 | blue);
      }
      picture[static_cast<std::size_t>(y * ModelWidth + x)] = word;
    }
  return picture;
}

std::string TDeviceModel::LinePayload(int line) const {
  std::string payload;
  payload.reserve(2 * ModelWidth);
  for (int x = 0; x < ModelWidth; ++x) {
    uint16_t word = line >= 0 && line < ModelHeight ? Pixel(x, line) : 0;
    payload += static_cast<char>(word & 0xFF);
    payload += static_cast<char>(word >> 8);
  }
  return payload;
}

std::string TDeviceModel::Greeting() const {
  for (const auto& fault : FFaults)
    if (fault.Kind == TDeviceFault::TKind::StrayBytes) return Junk(fault.Value);
  return {};
}

std::string TDeviceModel::Receive(const std::string& bytes) {
  FPending += bytes;
  std::string reply;
  std::size_t pos = 0;
  while (pos < FPending.size()) {
    if (FPending[pos] != Esc) {
      ++pos;  // not a command: skipped until the next ESC
      continue;
    }
    if (pos + 1 >= FPending.size()) break;
    std::size_t length = CommandLength(FPending[pos + 1]);
    if (length == 0) {
      ++pos;
      continue;
    }
    if (pos + length > FPending.size()) break;
    std::string command = FPending.substr(pos, length);
    FCommands.push_back(command);
    if (FMoving && command[1] == 'B') FPicture = MovingScreen(++FFrameNumber);
    int line =
        length == 4 ? static_cast<uint8_t>(command[2]) | static_cast<uint8_t>(command[3]) << 8 : -1;
    reply += Answer(command[1], line);
    pos += length;
  }
  FPending.erase(0, pos);
  return reply;
}

std::string TDeviceModel::Answer(char command, int line) const {
  for (const auto& fault : FFaults)
    if (fault.Matches(command, line)) return ApplyFault(fault, command, line);
  return NormalAnswer(command, line);
}

std::string TDeviceModel::NormalAnswer(char command, int line) const {
  if (command == 'S') return Frame(0, LinePayload(line));
  return Frame(0, std::string{command, 0x01});
}

std::string TDeviceModel::ApplyFault(const TDeviceFault& fault, char command, int line) const {
  using K = TDeviceFault::TKind;
  std::string normal = NormalAnswer(command, line);
  switch (fault.Kind) {
    case K::Silence:
      return {};
    case K::WrongStartByte:
      return static_cast<char>(fault.Value) + normal.substr(1);
    case K::StatusOnly:
      return {FrameStart, static_cast<char>(fault.Value), 0, 0};
    case K::PayloadLength: {
      std::string payload = normal.substr(4);
      payload.resize(static_cast<std::size_t>(fault.Value), '\x5A');
      return Frame(0, payload);
    }
    case K::Stall:
      return normal.substr(0, static_cast<std::size_t>(fault.Value));
    case K::StrayBytes:
      return normal + Junk(fault.Value);
  }
  return normal;
}

// Junk never starts with the frame's start byte, so reading it as an answer fails.
std::string TDeviceModel::Junk(int count) const {
  std::string junk;
  for (int i = 0; i < count; ++i) junk += static_cast<char>(0xA0 + i % 16);
  return junk;
}

}  // namespace korbenit
