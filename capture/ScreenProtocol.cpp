#include "ScreenProtocol.h"

#include <algorithm>

namespace korbenit {
namespace {

constexpr char Esc = 0x1B;

}  // namespace

std::string OpenCommandB() {
  return {Esc, 'B'};
}
std::string OpenCommandI() {
  return {Esc, 'I'};
}

std::string LineCommand(int line) {
  return {Esc, 'S', static_cast<char>(line & 0xFF), static_cast<char>((line >> 8) & 0xFF)};
}

void TScreenProtocol::SendCommand(const std::string& command) {
  FPort.Purge(true, true);
  FPort.WriteText(command);
}

// Whatever has arrived, up to count bytes, or the first byte to come within the limit;
// nothing when none came.
int TScreenProtocol::ReadSome(int count, std::string& received) {
  FPort.Timeouts().SetReadTotalMultiplier(-1);
  FPort.Timeouts().SetReadTotalConstant(3 * ByteTimeout);
  return FPort.ReadText(received, count);
}

int TScreenProtocol::ReadByte(int timeout) {
  FPort.Timeouts().SetReadTotalMultiplier(-1);
  FPort.Timeouts().SetReadTotalConstant(3 * timeout);
  std::string received;
  if (FPort.ReadText(received, 1) != 1 || received.size() != 1) return -1;
  return static_cast<uint8_t>(received[0]);
}

int TScreenProtocol::ReadAnswer(TAnswerBuffer& buffer) {
  int start = ReadByte(ByteTimeout);
  if (start < 0) return -1;
  if (start != FrameStart) return -100;
  int status = ReadByte(ByteTimeout);
  if (status < 0) return -1;
  int low = ReadByte(ByteTimeout);
  if (low <= 0) return status;
  int high = ReadByte(ByteTimeout);
  if (high < 0) return -1;
  int length = low + 256 * high;
  // A declared length beyond the buffer is read whole, to keep in step with the
  // stream, but only the buffer's worth is kept.
  std::string received;
  for (int done = 0; done < length;) {
    int got = ReadSome(length - done, received);
    if (got <= 0) return -1;
    int kept = std::clamp(AnswerBufferSize - done, 0, got);
    std::copy_n(received.begin(), kept, buffer.begin() + done);
    done += got;
  }
  return length;
}

// No command goes out once a stop has been asked.
void TScreenProtocol::Request(const std::string& command) {
  if (FStopRequested()) throw TFrameStopped{};
  SendCommand(command);
}

// Silence to an opening command is a device that does not answer; silence to a line's,
// one that stopped after it had answered; anything else is a wrong answer.
template <typename TAcceptable>
void TScreenProtocol::Check(char command, int answer, TAcceptable acceptable) {
  if (acceptable(answer)) return;
  if (answer != -1) throw ENoData(command, TFailureKind::Protocol);
  throw ENoData(command, command == 'S' ? TFailureKind::AnswerStopped : TFailureKind::NoAnswer);
}

void TScreenProtocol::FetchFrame(const TLineSink& sink) {
  auto positive = [](int answer) { return answer > 0; };
  auto wholeLine = [](int answer) { return answer == LinePayloadSize; };
  Request(OpenCommandB());
  Check('B', ReadAnswer(FBuffer), positive);
  Request(OpenCommandI());
  Check('I', ReadAnswer(FBuffer), positive);
  TScreenLine words;
  for (int line = 0; line < ScreenHeight; ++line) {
    Request(LineCommand(line));
    Check('S', ReadAnswer(FBuffer), wholeLine);
    for (std::size_t column = 0; column < words.size(); ++column)
      words[column] = static_cast<uint16_t>(FBuffer[2 * column] | FBuffer[2 * column + 1] << 8);
    sink(line, words);
    if (FStopRequested()) throw TFrameStopped{};
  }
}

}  // namespace korbenit
