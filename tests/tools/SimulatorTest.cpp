#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PictureView.h"
#include "ScreenTransfer.h"
#include "SerialPort.h"
#include "Simulator.h"
#include "SimulatorProcess.h"

namespace korbenit {
namespace {

using Clock = std::chrono::steady_clock;

using TPlainView = testing::TPictureView;

TEST(Simulator, ParsesFaultSwitches) {
  auto fault = ParseFault("length:S:*:481");
  EXPECT_EQ(fault.Kind, TDeviceFault::TKind::PayloadLength);
  EXPECT_EQ(fault.Command, 'S');
  EXPECT_EQ(fault.Line, -1);
  EXPECT_EQ(fault.Value, 481);
  fault = ParseFault("wrong-start:B:0:0x1D");
  EXPECT_EQ(fault.Kind, TDeviceFault::TKind::WrongStartByte);
  EXPECT_EQ(fault.Value, 0x1D);
  for (const char* bad : {"", "silence", "silence:X:1:0", "nap:S:1:0", "stall:S:1"})
    EXPECT_THROW(ParseFault(bad), std::invalid_argument) << bad;
}

// The real program on a pseudo-terminal, reached by its virtual port name.
TEST(Simulator, AWholeCaptureThroughTheVirtualPort) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  TSerialPort port;
  TPlainView view(simulator.Name());
  TScreenTransfer(port, view).Run();
  EXPECT_EQ(view.Status, "");
  EXPECT_TRUE(view.SaveAs);
  EXPECT_TRUE(view.ShowsModel(TDeviceModel(), 7));
  // The port can be taken again for a second capture.
  TScreenTransfer(port, view).Run();
  EXPECT_EQ(view.Status, "");
}

TEST(Simulator, AStalledLineEndsTheCaptureWithinTheByteLimit) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {"--fault", "stall:S:3:100"});
  TSerialPort port;
  TPlainView view(simulator.Name());
  auto start = Clock::now();
  TScreenTransfer(port, view).Run();
  EXPECT_EQ(view.Status, "S: No Data");
  EXPECT_FALSE(view.SaveAs);
  EXPECT_FALSE(port.Connected());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

// A capture killed while it holds the port leaves the terminal marked exclusive; the
// simulator keeps the terminal open, so only it can see the mark has no holder left and
// clear it, for users whom the kernel would refuse. Then the next capture works.
TEST(Simulator, AKilledCaptureLeavesThePortUsable) {
  TSimulatorProcess simulator(KORBENIT_SIMULATOR, {});
  pid_t capture = ::fork();
  if (capture == 0) {
    TSerialPort held;
    held.SetEvents({});
    held.SetPort(simulator.Link());
    held.Open();
    ::raise(SIGKILL);
  }
  ::waitpid(capture, nullptr, 0);
  int look = ::open(simulator.Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(look, 0);
  int exclusive = 1;
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < deadline && ::ioctl(look, TIOCGEXCL, &exclusive) == 0 && exclusive)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::close(look);
  EXPECT_EQ(exclusive, 0);
  TSerialPort port;
  TPlainView view(simulator.Name());
  TScreenTransfer(port, view).Run();
  EXPECT_EQ(view.Status, "");
}

TEST(Simulator, APortThatIsNotThereFailsToOpen) {
  TSerialPort port;
  TPlainView view("no-such-korbenit-port");
  TScreenTransfer(port, view).Run();
  EXPECT_EQ(view.Status, "Unable to open com port (win error code: 2)");
}

}  // namespace
}  // namespace korbenit
