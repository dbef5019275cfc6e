#include "ScreenTransfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <vector>

#include "FailureHints.h"
#include "FileSizeLimit.h"
#include "Frame.h"
#include "ModelPort.h"
#include "RuntimeErrors.h"
#include "SafeFile.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

using testing::TModelPort;
using K = TDeviceFault::TKind;

constexpr TColor Untouched = 0xDEADBEEF;

// The window side of a transfer, recorded.
class TRecordingView : public TCaptureView {
 public:
  std::vector<TColor> Picture = std::vector<TColor>(ScreenWidth * ScreenHeight, Untouched);
  bool SaveAsEnabled = true;
  std::string Status = "old message";
  bool Lamp = false;
  int Beeps = 0;
  int LinesPainted = 0;
  int StopAfterLines = -1;
  bool StopInPause = false;
  std::vector<int> Pauses;

  std::string SelectedPort() const override { return "ttyKORB0"; }
  void ClearPicture() override { std::fill(Picture.begin(), Picture.end(), MakeColor(0, 0, 0)); }
  void PaintLine(int line, const TLineColours& colours) override {
    std::copy(colours.begin(), colours.end(), Picture.begin() + line * ScreenWidth);
    ++LinesPainted;
  }
  void SetSaveAsEnabled(bool enabled) override { SaveAsEnabled = enabled; }
  void SetStatusText(const std::string& text) override { Status = text; }
  void SetLampOpen(bool open) override { Lamp = open; }
  void ProcessMessages() override {}
  void Beep() override { ++Beeps; }
  void Pause(int ms) override {
    Pauses.push_back(ms);
    if (StopInPause) StopAfterLines = 0;
  }
  bool StopRequested() const override { return LinesPainted == StopAfterLines; }

  TColor At(int x, int y) const { return Picture[static_cast<std::size_t>(y * ScreenWidth + x)]; }
};

struct TTransferRig {
  TModelPort Port;
  TRecordingView View;
  TTransferRig() {
    Port.OnAfterOpen = [this](TSerialPortInterface&) { View.Lamp = true; };
    Port.OnAfterClose = [this](TSerialPortInterface&) { View.Lamp = false; };
  }
  void Run() { TScreenTransfer(Port, View).Run(); }
  bool LineMatchesModel(int line) const {
    for (int x = 0; x < ScreenWidth; ++x)
      if (View.At(x, line) != ConvertPixel(Port.Model.Pixel(x, line))) return false;
    return true;
  }
  bool LineBlack(int line) const {
    for (int x = 0; x < ScreenWidth; ++x)
      if (View.At(x, line) != 0) return false;
    return true;
  }
};

TEST(PixelConversion, FillsLowBitsWithOnes) {
  struct Case {
    uint16_t word;
    uint8_t red, green, blue;
  };
  for (auto c : {Case{0x0000, 7, 3, 7}, Case{0xFFFF, 255, 255, 255}, Case{0xF800, 255, 3, 7},
                 Case{0x07E0, 7, 255, 7}, Case{0x001F, 7, 3, 255}, Case{0x8410, 135, 131, 135}}) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(ConvertPixel(c.word), MakeColor(c.red, c.green, c.blue));
    // Every picture made of a frame holds the same colour, wherever the pixel stands.
    TFrame frame;
    frame.Line(ScreenHeight - 1)[ScreenWidth - 1] = c.word;
    TScreenLine line{};
    line.back() = c.word;
    EXPECT_EQ(LineColours(line).back(), MakeColor(c.red, c.green, c.blue));
    TPicture picture = PictureOf(frame);
    const uint8_t* bgrx = picture.Row(ScreenHeight - 1) + 4 * (ScreenWidth - 1);
    EXPECT_EQ(std::vector<uint8_t>(bgrx, bgrx + 4),
              (std::vector<uint8_t>{c.blue, c.green, c.red, 255}));
    std::vector<uint8_t> rgb = RgbOf(frame);
    EXPECT_EQ(std::vector<uint8_t>(rgb.end() - 3, rgb.end()),
              (std::vector<uint8_t>{c.red, c.green, c.blue}));
  }
}

TEST(Commands, LineNumbersGoLowByteFirst) {
  struct Case {
    int line;
    std::string hex;
  };
  for (const auto& c : {Case{0, "1B 53 00 00"}, Case{255, "1B 53 FF 00"}, Case{256, "1B 53 00 01"},
                        Case{319, "1B 53 3F 01"}})
    EXPECT_EQ(TModelPort::Hex(LineCommand(c.line)), c.hex) << c.line;
  EXPECT_EQ(TModelPort::Hex(OpenCommandB()), "1B 42");
  EXPECT_EQ(TModelPort::Hex(OpenCommandI()), "1B 49");
}

// Raw device bytes and what ReadAnswer makes of them.
TEST(ReadAnswer, ResultForEveryKindOfFrame) {
  struct Case {
    const char* name;
    std::string bytes;
    int result;
    std::size_t leftUnread;
  };
  std::string threeBytes{'\x1C', '\x09', '\x03', '\x00', 'a', 'b', 'c'};
  std::vector<Case> cases = {
      {"nothing", "", -1, 0},
      {"wrong start", std::string{'\x1D', '\x00', '\x03', '\x00'}, -100, 3},
      {"start only", std::string{'\x1C'}, -1, 0},
      {"status, no length", std::string{'\x1C', '\x05'}, 5, 0},
      {"status only", std::string{'\x1C', '\x05', '\x00', '\x00'}, 5, 1},
      {"status zero", std::string{'\x1C', '\x00', '\x00', '\x00'}, 0, 1},
      {"length 256", std::string{'\x1C', '\x07', '\x00', '\x01'} + std::string(256, 'x'), 7, 257},
      {"no high byte", std::string{'\x1C', '\x05', '\x03'}, -1, 0},
      {"short payload", std::string{'\x1C', '\x05', '\x03', '\x00', 'a'}, -1, 0},
      {"three bytes", threeBytes, 3, 0},
      {"479", std::string{'\x1C', 0, '\xDF', '\x01'} + std::string(479, 'x'), 479, 0},
      {"481", std::string{'\x1C', 0, '\xE1', '\x01'} + std::string(481, 'x'), 481, 0},
      {"above the buffer", std::string{'\x1C', 0, '\x58', '\x02'} + std::string(600, 'y') + "z",
       600, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TModelPort port;
    port.Queue(c.bytes);
    TAnswerBuffer buffer{};
    EXPECT_EQ(TScreenProtocol(port, [] { return false; }).ReadAnswer(buffer), c.result);
    EXPECT_EQ(port.QueuedBytes(), c.leftUnread);
  }
}

TEST(ReadAnswer, KeepsOnlyTheBufferOfAnOverlongPayload) {
  TModelPort port;
  std::string payload(700, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);
  port.Queue(std::string{'\x1C', 0, '\xBC', '\x02'} + payload);
  TAnswerBuffer buffer{};
  ASSERT_EQ(TScreenProtocol(port, [] { return false; }).ReadAnswer(buffer), 700);
  EXPECT_TRUE(
      std::equal(buffer.begin(), buffer.end(), payload.begin(),
                 [](uint8_t kept, char sent) { return kept == static_cast<uint8_t>(sent); }));
}

TEST(ReadByte, WaitsUpToThreeTimesTheTimeoutForOneByte) {
  TModelPort port;
  port.Queue("AB");
  TScreenProtocol transfer(port, [] { return false; });
  EXPECT_EQ(transfer.ReadByte(300), 'A');
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 900);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(transfer.ReadByte(300), 'B');
  EXPECT_EQ(transfer.ReadByte(300), -1);
  EXPECT_EQ(port.FReadWaits, std::vector<int>{900});
  EXPECT_EQ(port.FReadCalls, 3);
}

TEST(Transfer, CompleteTransferPaintsTheDevicePicture) {
  TTransferRig rig;
  rig.Run();
  EXPECT_EQ(rig.View.Status, "");
  EXPECT_TRUE(rig.View.SaveAsEnabled);
  EXPECT_EQ(rig.View.Beeps, 0);
  EXPECT_FALSE(rig.View.Lamp);
  EXPECT_FALSE(rig.Port.Connected());
  for (int line = 0; line < ScreenHeight; ++line) ASSERT_TRUE(rig.LineMatchesModel(line)) << line;
  EXPECT_EQ(rig.View.LinesPainted, ScreenHeight);
  EXPECT_EQ(rig.View.Pauses, std::vector<int>{200});
  EXPECT_EQ(rig.Port.Port(), "ttyKORB0");
  EXPECT_EQ(rig.Port.BaudRate(), TBaudRate::brCustom);
  EXPECT_EQ(rig.Port.CustomBaudRate(), 9600);
  EXPECT_TRUE(rig.Port.FReadWaits.empty());
}

TEST(Transfer, SendsEveryCommandOnceInOrderAfterAPurge) {
  TTransferRig rig;
  rig.Run();
  const auto& commands = rig.Port.Model.Commands();
  ASSERT_EQ(commands.size(), 322u);
  EXPECT_EQ(commands[0], OpenCommandB());
  EXPECT_EQ(commands[1], OpenCommandI());
  for (int line = 0; line < ScreenHeight; ++line)
    ASSERT_EQ(commands[static_cast<std::size_t>(line + 2)], LineCommand(line));

  const auto& log = rig.Port.FLog;
  auto open = std::find(log.begin(), log.end(), "Open ttyKORB0");
  ASSERT_NE(open, log.end());
  EXPECT_EQ(std::count(log.begin(), open, "CustomBaudRate 5652814"), 1);
  int writes = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].rfind("Write", 0) != 0) continue;
    ++writes;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(log[i - 1], "Purge 11") << i;
  }
  EXPECT_EQ(writes, 322);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "CustomBaudRate 9600");
  EXPECT_EQ(log.back(), "Close");
}

TEST(Transfer, StrayBytesBeforeAnswersAreDroppedByThePurge) {
  TTransferRig rig;
  rig.Port.Model.AddFault({K::StrayBytes, 'B', -1, 9});
  rig.Port.Model.AddFault({K::StrayBytes, 'I', -1, 5});
  rig.Port.Model.AddFault({K::StrayBytes, 'S', -1, 3});
  rig.Run();
  EXPECT_EQ(rig.View.Status, "");
  EXPECT_TRUE(rig.View.SaveAsEnabled);
  EXPECT_TRUE(rig.LineMatchesModel(319));
}

TEST(Transfer, StatusOnlyAnswersPassTheOpeningCommandsWhenNonZero) {
  TTransferRig rig;
  rig.Port.Model.AddFault({K::StatusOnly, 'B', -1, 5});
  rig.Port.Model.AddFault({K::PayloadLength, 'I', -1, 3});
  rig.Run();
  EXPECT_EQ(rig.View.Status, "");
  EXPECT_TRUE(rig.View.SaveAsEnabled);
}

struct TFailureCase {
  const char* name;
  TDeviceFault fault;
  const char* message;
  int linesKept;
};

void PrintTo(const TFailureCase& c, std::ostream* os) {
  *os << c.name;
}

class TransferFailure : public ::testing::TestWithParam<TFailureCase> {};

TEST_P(TransferFailure, BeepsReportsAndKeepsThePaintedLines) {
  const auto& c = GetParam();
  TTransferRig rig;
  rig.Port.Model.AddFault(c.fault);
  rig.Run();
  EXPECT_EQ(rig.View.Status, c.message);
  EXPECT_EQ(rig.View.Beeps, 1);
  EXPECT_FALSE(rig.View.Lamp);
  EXPECT_FALSE(rig.View.SaveAsEnabled);
  EXPECT_FALSE(rig.Port.Connected());
  EXPECT_EQ(rig.Port.CustomBaudRate(), 9600);
  EXPECT_EQ(rig.Port.FLog.back(), "Close");
  for (int line = 0; line < ScreenHeight; ++line)
    ASSERT_TRUE(line < c.linesKept ? rig.LineMatchesModel(line) : rig.LineBlack(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransferFailure,
    ::testing::Values(
        TFailureCase{"BSilent", {K::Silence, 'B', -1, 0}, "B: No Data", 0},
        TFailureCase{"BWrongStart", {K::WrongStartByte, 'B', -1, 0x1D}, "B: No Data", 0},
        TFailureCase{"BStatusZero", {K::StatusOnly, 'B', -1, 0}, "B: No Data", 0},
        TFailureCase{"BStall", {K::Stall, 'B', -1, 3}, "B: No Data", 0},
        TFailureCase{"ISilent", {K::Silence, 'I', -1, 0}, "I: No Data", 0},
        TFailureCase{"IWrongStart", {K::WrongStartByte, 'I', -1, 0x00}, "I: No Data", 0},
        TFailureCase{"SSilent", {K::Silence, 'S', 100, 0}, "S: No Data", 100},
        TFailureCase{"SWrongStart", {K::WrongStartByte, 'S', 0, 0x55}, "S: No Data", 0},
        TFailureCase{"SStatusOnly", {K::StatusOnly, 'S', 7, 0xE0}, "S: No Data", 7},
        TFailureCase{"S256", {K::PayloadLength, 'S', 256, 256}, "S: No Data", 256},
        TFailureCase{"S479", {K::PayloadLength, 'S', 12, 479}, "S: No Data", 12},
        TFailureCase{"S481", {K::PayloadLength, 'S', 13, 481}, "S: No Data", 13},
        TFailureCase{"SAboveBuffer", {K::PayloadLength, 'S', 319, 1000}, "S: No Data", 319},
        TFailureCase{"SStallMidFrame", {K::Stall, 'S', 200, 250}, "S: No Data", 200}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transfer, ASilentDeviceFailsAfterOneByteTimeLimit) {
  TTransferRig rig;
  rig.Port.Model.AddFault({K::Silence, 'B', -1, 0});
  rig.Run();
  EXPECT_EQ(rig.Port.FReadWaits, std::vector<int>{900});
}

TEST(Transfer, APortThatCannotOpenLeavesTheCaptureSpeedSet) {
  TTransferRig rig;
  rig.Port.FOpenError = ESerialPort(serial_error::OpenFailed, 2);
  rig.Run();
  EXPECT_EQ(rig.View.Status, "Unable to open com port (win error code: 2)");
  EXPECT_EQ(rig.View.Beeps, 1);
  EXPECT_FALSE(rig.View.Lamp);
  EXPECT_FALSE(rig.Port.Connected());
  EXPECT_EQ(rig.Port.BaudRate(), TBaudRate::brCustom);
  EXPECT_EQ(rig.Port.CustomBaudRate(), CaptureBaudRate);
  EXPECT_EQ(std::count(rig.Port.FLog.begin(), rig.Port.FLog.end(), "Close"), 0);
  EXPECT_TRUE(rig.LineBlack(0));
}

TEST(Transfer, ASerialFailureShowsItsOwnMessageAndCloses) {
  TTransferRig rig;
  rig.Port.FWriteError = ESerialPort(serial_error::WriteFailed, 5);
  rig.Run();
  EXPECT_EQ(rig.View.Status, "WriteFile function failed (win error code: 5)");
  EXPECT_EQ(rig.View.Beeps, 1);
  EXPECT_FALSE(rig.Port.Connected());
  EXPECT_EQ(rig.Port.CustomBaudRate(), 9600);
}

TEST(Transfer, AStopRequestEndsQuietlyAndClosesThePort) {
  TTransferRig rig;
  rig.View.StopAfterLines = 10;
  rig.Run();
  EXPECT_EQ(rig.View.LinesPainted, 10);
  EXPECT_EQ(rig.View.Beeps, 0);
  EXPECT_FALSE(rig.View.SaveAsEnabled);
  EXPECT_FALSE(rig.Port.Connected());
  EXPECT_EQ(rig.Port.CustomBaudRate(), 9600);
  EXPECT_EQ(rig.Port.Model.Commands().size(), 12u);
}

// An unplugged line fails the read and then the speed change of the ending; only the
// first failure is the user's business.
TEST(Transfer, AFailureInTheEndingAfterAFailedTransferStaysQuiet) {
  TTransferRig rig;
  rig.Port.FReadError = ESerialPort(serial_error::ReadFailed, 5);
  rig.Port.FSpeedError = ESerialPort(serial_error::LineSettingsFailed, 5);
  rig.Run();
  EXPECT_EQ(rig.View.Status, "ReadFile function failed (win error code: 5)");
  EXPECT_EQ(rig.View.Beeps, 1);
  EXPECT_FALSE(rig.Port.Connected());
  rig.Port.FReadError.reset();
  rig.Run();
  EXPECT_EQ(rig.View.Status, "SetCommState function failed (win error code: 5)")
      << "after a good transfer the ending's failure is reported";
  EXPECT_EQ(rig.View.Beeps, 2);
}

TEST(Transfer, AStopDuringTheSettlingPauseSendsNoCommand) {
  TTransferRig rig;
  rig.View.StopInPause = true;
  rig.Run();
  EXPECT_TRUE(rig.Port.Model.Commands().empty());
  EXPECT_EQ(rig.View.Beeps, 0);
  EXPECT_FALSE(rig.Port.Connected());
}

// The failures people meet most, each with its hint; others have none.
// Every failure that leaves the serial and file layers carries its kind, decided from the
// system's own numbers; the hint follows the kind alone.
TEST(FailureHints, EachKindFromItsFailureGetsItsHint) {
  using K = TFailureKind;
  testing::TTempFolder folder;
  testing::WriteBytes(folder / "read-only.bmp", "old");
  std::filesystem::permissions(folder / "read-only.bmp", std::filesystem::perms::owner_read);
  auto write = [&](const std::string& name, std::size_t size) {
    TReplacingFile file(folder / name);
    file.Write(std::string(size, 'x').data(), size);
    file.Commit();
  };
  struct Case {
    std::function<void()> fail;
    TFailureKind kind;
    const char* hintStart;
  };
  const Case cases[] = {
      {[] { throw ESerialPort(1, EACCES); }, K::Permission,
       "This user may not use the port, and no"},
      {[] { throw ESerialPort(1, EBUSY); }, K::Busy, "Another program holds the port"},
      {[] { throw ESerialPort(1, ENOENT); }, K::Missing, "The port is not there"},
      {[] { throw ESerialPort(1, ENOTTY); }, K::NotSerialPort, "That is not a serial port"},
      {[] { throw ESerialPort(3, EIO); }, K::DeviceLost, "The device went away"},
      {[] { throw ESerialPort(2, EIO); }, K::DeviceLost, "The device went away"},
      {[] { throw ESerialPort(1, EINVAL); }, K::Other, ""},
      {[] { throw ESerialPort(1, EISDIR); }, K::NotSerialPort, "That is not a serial port"},
      {[] { throw ESerialPort(23, ENOENT); }, K::PortListUnreadable, ""},
      {[&] { write("missing/x.bmp", 1); }, K::CannotCreate, "No file can be made there"},
      {[&] { write(std::string(300, 'n') + ".bmp", 1); }, K::NameTooLong, "The file's name is too"},
      {[&] { write("read-only.bmp", 1); }, K::ReadOnly, "The file or its disk may not be written"},
      {[&] {
         testing::TFileSizeLimit limit(1000);
         write("big.bmp", 5000);
       },
       K::DiskFull, "The disk is full"},
      {[] { throw EWriteError(); }, K::WriteFailed, "The file could not be written whole"},
      {[] { throw ENoData('B', K::NoAnswer); }, K::NoAnswer, "The device does not answer"},
      {[] { throw ENoData('S', K::AnswerStopped); }, K::AnswerStopped,
       "The device stopped answering in the middle"},
      {[] { throw ENoData('S', K::Protocol); }, K::Protocol, "The device's answer was not a"},
      {[] { throw std::runtime_error("anything"); }, K::Other, ""},
  };
  for (const auto& c : cases) {
    try {
      c.fail();
      ADD_FAILURE() << "no failure for kind " << static_cast<int>(c.kind);
    } catch (const std::exception& e) {
      SCOPED_TRACE(e.what());
      EXPECT_EQ(FailureKindOf(e), c.kind);
      std::string hint = FailureHint(FailureKindOf(e));
      EXPECT_EQ(hint.substr(0, std::string(c.hintStart).size()), c.hintStart);
      EXPECT_EQ(hint.empty(), std::string(c.hintStart).empty());
    }
  }
  // Knowing the port's group, a refused open names it; other kinds ignore it.
  EXPECT_EQ(FailureHint(K::Permission, "uucp"),
            "This user may not use the port: join its group uucp (\"sudo usermod -aG uucp "
            "$USER\") and log in again.");
  EXPECT_EQ(FailureHint(K::Busy, "uucp"), FailureHint(K::Busy));
  EXPECT_NE(FailureHint(K::NoDevicePort).find("switch USB on"), std::string::npos);
}

// What the device does wrong decides the kind: silence to the opening commands, silence in
// the middle of the picture, or an answer that is not the protocol's.
TEST(FailureHints, TheDevicesFaultsHaveTheirKinds) {
  struct Case {
    TDeviceFault fault;
    std::string message;
    TFailureKind kind;
  };
  for (const auto& c :
       {Case{{K::Silence, 'B', -1, 0}, "B: No Data", TFailureKind::NoAnswer},
        Case{{K::Silence, 'S', 100, 0}, "S: No Data", TFailureKind::AnswerStopped},
        Case{{K::WrongStartByte, 'I', -1, 0x1D}, "I: No Data", TFailureKind::Protocol},
        Case{{K::PayloadLength, 'S', 5, 479}, "S: No Data", TFailureKind::Protocol}}) {
    SCOPED_TRACE(c.message);
    TModelPort port;
    port.Model.AddFault(c.fault);
    TStopToken stop;
    TDeviceSession session(port, stop);
    session.Open("ttyKORB0");
    try {
      session.FetchFrame([](int, const TScreenLine&) {});
      ADD_FAILURE() << "no failure";
    } catch (const ENoData& e) {
      EXPECT_EQ(e.what(), c.message);
      EXPECT_EQ(e.Kind(), c.kind);
    }
  }
}

TEST(Transfer, ASecondTransferStartsFromABlackPicture) {
  TTransferRig rig;
  rig.Run();
  rig.Port.Model.AddFault({K::Silence, 'S', 0, 0});
  rig.Run();
  EXPECT_EQ(rig.View.Status, "S: No Data");
  EXPECT_TRUE(rig.LineBlack(0));
  EXPECT_TRUE(rig.LineBlack(319));
}

}  // namespace
}  // namespace korbenit
