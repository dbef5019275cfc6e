#include "ScreenTransfer.h"

#include <stdexcept>

namespace korbenit {
namespace {

constexpr char Esc = 0x1B;

// Ends a transfer quietly because the program is closing.
struct TTransferStopped {};

class ENoData : public std::runtime_error {
 public:
  explicit ENoData(char command) : std::runtime_error(std::string(1, command) + ": No Data") {}
};

}  // namespace

std::string OpenCommandB() { return {Esc, 'B'}; }
std::string OpenCommandI() { return {Esc, 'I'}; }

std::string LineCommand(int line) {
  return {Esc, 'S', static_cast<char>(line & 0xFF), static_cast<char>((line >> 8) & 0xFF)};
}

void TScreenTransfer::SendCommand(const std::string& command) {
  FPort.Purge(true, true);
  FPort.WriteText(command);
}

int TScreenTransfer::ReadByte(int timeout) {
  FPort.Timeouts().SetReadTotalMultiplier(-1);
  FPort.Timeouts().SetReadTotalConstant(3 * timeout);
  std::string received;
  if (FPort.ReadText(received, 1) != 1 || received.size() != 1) return -1;
  return static_cast<uint8_t>(received[0]);
}

int TScreenTransfer::ReadAnswer(TAnswerBuffer& buffer) {
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
  for (int i = 0; i < length; ++i) {
    int value = ReadByte(ByteTimeout);
    if (value < 0) return -1;
    if (i < AnswerBufferSize) buffer[static_cast<std::size_t>(i)] = static_cast<uint8_t>(value);
  }
  return length;
}

// The program may be ending: no command goes out once it has asked to stop.
void TScreenTransfer::Request(const std::string& command) {
  if (FView.StopRequested()) throw TTransferStopped{};
  SendCommand(command);
}

void TScreenTransfer::FetchLine(int line, TAnswerBuffer& buffer) {
  Request(LineCommand(line));
  if (ReadAnswer(buffer) != LinePayloadSize) throw ENoData('S');
  TLineColours colours;
  for (int column = 0; column < ScreenWidth; ++column) {
    auto low = buffer[static_cast<std::size_t>(2 * column)];
    auto high = buffer[static_cast<std::size_t>(2 * column + 1)];
    colours[static_cast<std::size_t>(column)] = ConvertPixel(static_cast<uint16_t>(low | high << 8));
  }
  FView.PaintLine(line, colours);
  FView.ProcessMessages();
  if (FView.StopRequested()) throw TTransferStopped{};
}

void TScreenTransfer::Exchange() {
  FPort.SetPort(FView.SelectedPort());
  FPort.SetCustomBaudRate(CaptureBaudRate);
  FPort.SetBaudRate(TBaudRate::brCustom);
  FPort.Open();
  FView.SetLampOpen(true);
  FView.ProcessMessages();
  FView.Pause(200);

  TAnswerBuffer buffer{};
  Request(OpenCommandB());
  if (ReadAnswer(buffer) <= 0) throw ENoData('B');
  Request(OpenCommandI());
  if (ReadAnswer(buffer) <= 0) throw ENoData('I');
  for (int line = 0; line < ScreenHeight; ++line) FetchLine(line, buffer);
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

// The line speed goes back to 9600 before the port closes, and the port is closed
// regardless: it must not stay held. A failure here is reported only when the transfer
// itself went well; otherwise it is a follow-on of the first (an unplugged line fails
// every step) and would hide the real cause.
void TScreenTransfer::Finish(bool reportFailures) noexcept {
  auto report = [&](const char* message) {
    if (reportFailures) ReportFailure(message);
    reportFailures = false;
  };
  try {
    if (FPort.Connected()) {
      try {
        FPort.SetCustomBaudRate(RestingBaudRate);
      } catch (const std::exception& e) {
        report(e.what());
      }
      FPort.Close();
    }
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("Unknown error");
  }
  try {
    FView.SetLampOpen(false);
  } catch (...) {
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
  } catch (const TTransferStopped&) {
    failed = false;
  } catch (const std::exception& e) {
    // A stop may cut a transfer short on purpose (its wait aborted): that is no failure.
    if (FView.StopRequested()) failed = false;
    else ReportFailure(e.what());
  } catch (...) {
    ReportFailure("Unknown error");
  }
  Finish(!failed);
}

}  // namespace korbenit
