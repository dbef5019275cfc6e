// The Windows platform code against a fake of the Win32 serial calls, for what Wine does
// not emulate truthfully, and the file writer on a real (Wine's) file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>

#include "ProgramPlaces.h"
#include "RuntimeErrors.h"
#include "RuntimePlatform.h"
#include "SafeFile.h"
#include "SerialDevice.h"
#include "SerialError.h"
#include "SerialEventWaiter.h"
#include "TempFolder.h"
#include "windows/CommCalls.h"
#include "windows/WideText.h"

namespace korbenit {
namespace {

HANDLE const FakePort = reinterpret_cast<HANDLE>(0x4711);

// The serial calls as a test wants them: each answers what its row says, and the calls
// made are counted.
class TFakeComm : public TCommCalls {
 public:
  DWORD OpenError = 0;
  DCB Found{};  // what GetCommState finds before we set anything
  DCB Set{};
  COMMTIMEOUTS Timeouts{};
  DWORD QueuedBytes = 0, LineErrors = 0;
  DWORD ModemBits = 0, ModemError = 0;
  // A read: pending, then done with these bytes and this error (0: success).
  std::string ReadBytes;
  DWORD ReadError = 0;
  bool ReadPending = false;
  DWORD Events = 0, EventError = 0;
  std::map<std::string, int> Calls;
  DWORD Error = 0;

  TFakeComm() {
    Found.DCBlength = sizeof Found;
    Found.BaudRate = 9600, Found.fOutX = Found.fInX = Found.fNull = 1, Found.ByteSize = 7;
    UseCommCalls(this);
  }
  ~TFakeComm() override { UseCommCalls(nullptr); }

  // One call that fails, with its error, for the rows that go through each.
  std::string FailingCall;
  DWORD FailingError = 0;
  BOOL Fails(const char* call) { return FailingCall == call ? Fail(FailingError) : TRUE; }

  BOOL Fail(DWORD error) {
    Error = error;
    return FALSE;
  }
  HANDLE Open(const std::wstring&) override {
    ++Calls["Open"];
    Error = OpenError;
    return OpenError ? INVALID_HANDLE_VALUE : FakePort;
  }
  BOOL Close(HANDLE) override { return ++Calls["Close"], TRUE; }
  BOOL SetupComm(HANDLE, DWORD, DWORD) override { return Fails("SetupComm"); }
  BOOL GetCommState(HANDLE, DCB& dcb) override { return dcb = Found, Fails("GetCommState"); }
  BOOL SetCommState(HANDLE, DCB& dcb) override {
    if (!Fails("SetCommState")) return FALSE;
    return Set = dcb, Found = dcb, TRUE;
  }
  BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS& t) override {
    return Timeouts = t, Fails("SetCommTimeouts");
  }
  BOOL ReadFile(HANDLE, void* buffer, DWORD count, OVERLAPPED& overlapped) override {
    ++Calls["ReadFile"];
    std::size_t taken = std::min<std::size_t>(count, ReadBytes.size());
    std::copy_n(ReadBytes.data(), taken, static_cast<char*>(buffer));
    overlapped.InternalHigh = taken;
    overlapped.Internal = ReadError;
    if (!ReadPending) return ReadError ? Fail(ReadError) : TRUE;
    ::SetEvent(overlapped.hEvent);
    return Fail(ERROR_IO_PENDING);
  }
  BOOL WriteFile(HANDLE, const void*, DWORD count, OVERLAPPED& overlapped) override {
    if (!Fails("WriteFile")) return FALSE;
    overlapped.InternalHigh = count;
    overlapped.Internal = 0;
    return TRUE;
  }
  BOOL GetOverlappedResult(HANDLE, OVERLAPPED& overlapped, DWORD& done, BOOL) override {
    done = static_cast<DWORD>(overlapped.InternalHigh);
    return overlapped.Internal ? Fail(static_cast<DWORD>(overlapped.Internal)) : TRUE;
  }
  BOOL CancelIoEx(HANDLE, OVERLAPPED&) override { return TRUE; }
  BOOL PurgeComm(HANDLE, DWORD) override { return Fails("PurgeComm"); }
  BOOL ClearCommError(HANDLE, DWORD& errors, COMSTAT& status) override {
    if (!Fails("ClearCommError")) return FALSE;
    errors = LineErrors;
    status.cbInQue = QueuedBytes;
    return TRUE;
  }
  BOOL GetCommModemStatus(HANDLE, DWORD& bits) override {
    bits = ModemBits;
    return ModemError ? Fail(ModemError) : TRUE;
  }
  BOOL EscapeCommFunction(HANDLE, DWORD) override { return TRUE; }
  BOOL SetCommMask(HANDLE, DWORD mask) override {
    return ++Calls["SetCommMask" + std::to_string(mask)], TRUE;
  }
  BOOL WaitCommEvent(HANDLE, DWORD& events, OVERLAPPED&) override {
    events = Events;
    return EventError ? Fail(EventError) : TRUE;
  }
  DWORD LastError() override { return Error; }
};

TEST(WindowsSerial, EachOpenErrorHasItsKind) {
  struct TRow {
    DWORD Error;
    TFailureKind Kind;
  };
  for (const TRow& row : {TRow{ERROR_ACCESS_DENIED, TFailureKind::Busy},
                          TRow{ERROR_SHARING_VIOLATION, TFailureKind::Busy},
                          TRow{ERROR_FILE_NOT_FOUND, TFailureKind::Missing},
                          TRow{ERROR_PATH_NOT_FOUND, TFailureKind::Missing},
                          TRow{ERROR_INVALID_FUNCTION, TFailureKind::NotSerialPort},
                          TRow{ERROR_GEN_FAILURE, TFailureKind::Other}}) {
    TFakeComm fake;
    fake.OpenError = row.Error;
    TSerialDevice device;
    int error = device.Open("COM12");
    EXPECT_EQ(error, static_cast<int>(row.Error));
    EXPECT_FALSE(device.IsOpen());
    ESerialPort failure(serial_error::OpenFailed, error);
    EXPECT_EQ(failure.Kind(), row.Kind) << row.Error;
    EXPECT_EQ(failure.SystemError(), static_cast<int>(row.Error));
    EXPECT_NE(
        std::string(failure.what()).find("(win error code: " + std::to_string(row.Error) + ")"),
        std::string::npos);
  }
  for (DWORD lost : {ERROR_DEVICE_REMOVED, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED})
    EXPECT_EQ(ESerialPort(serial_error::ReadFailed, static_cast<int>(lost)).Kind(),
              TFailureKind::DeviceLost);
  EXPECT_EQ(CommDeviceName("COM12"), L"\\\\.\\COM12") << "COM10 and above open only so";
  EXPECT_EQ(CommDeviceName("\\\\.\\COM3"), L"\\\\.\\COM3");
}

// A call that fails hands the system's own error number to the port, which raises it
// with its numbered error (its "win error code").
TEST(WindowsSerial, EachFailingCallHandsOnItsError) {
  using TAction = std::function<int(TSerialDevice&)>;
  struct TRow {
    const char* Call;
    TAction Action;
  };
  const TRow rows[] = {
      {"SetupComm", [](TSerialDevice& d) { return d.SetQueueSizes(4096, 2048); }},
      {"GetCommState", [](TSerialDevice& d) { return d.SetLineSettings({}); }},
      {"SetCommState", [](TSerialDevice& d) { return d.SetLineSettings({}); }},
      {"SetCommTimeouts", [](TSerialDevice& d) { return d.SetTimeouts({}); }},
      {"WriteFile",
       [](TSerialDevice& d) {
         int32_t n = 0;
         return d.Write("B", 1, n);
       }},
      {"PurgeComm", [](TSerialDevice& d) { return d.Purge(purge_flags::RxClear); }},
      {"ClearCommError",
       [](TSerialDevice& d) {
         int32_t n = 0;
         return d.QueuedInput(n);
       }},
      {"ClearCommError",
       [](TSerialDevice& d) {
         uint32_t w = 0;
         return d.TakeErrorWord(w);
       }},
  };
  for (const TRow& row : rows) {
    TFakeComm fake;
    TSerialDevice device;
    ASSERT_EQ(device.Open("COM12"), 0);
    fake.FailingCall = row.Call, fake.FailingError = ERROR_GEN_FAILURE;
    EXPECT_EQ(row.Action(device), ERROR_GEN_FAILURE) << row.Call;
  }
  TSerialDevice closed;
  int32_t n = 0;
  EXPECT_EQ(closed.Write("B", 1, n), ERROR_INVALID_HANDLE) << "a closed port";
}

// Every field of the line comes from the record: what the driver held (XON/XOFF, null
// stripping, 7 bits) would lose bytes; any integer speed goes through as it is.
TEST(WindowsSerial, TheLineTakesTheRecordWholeAndItsSettingsGoBackAtClose) {
  TFakeComm fake;
  TSerialDevice device;
  ASSERT_EQ(device.Open("COM12"), 0);
  TDeviceControlRecord record;
  record.BaudRate = 5652814, record.Binary = true, record.ByteSize = 8;
  ASSERT_EQ(device.SetLineSettings(record), 0);
  EXPECT_EQ(fake.Set.BaudRate, 5652814u);
  EXPECT_EQ(fake.Set.fOutX | fake.Set.fInX | fake.Set.fNull, 0u);
  EXPECT_EQ(fake.Set.ByteSize, 8);
  device.Close();
  EXPECT_EQ(fake.Found.BaudRate, 5652814u) << "the speed stays";
  EXPECT_EQ(fake.Found.fOutX, 1u) << "the rest as found";
  EXPECT_EQ(fake.Calls["Close"], 1);
}

// Reads as the capture makes them: the first-byte form waits in the driver and an
// expiry (Wine ends it with ERROR_TIMEOUT) is what came; the immediate form asks the
// queue first, since Wine hangs on it; an abort ends every later transfer.
TEST(WindowsSerial, ReadsEndAsTheirTimeoutsSay) {
  struct TRow {
    const char* Name;
    TDeviceTimeouts Timeouts;
    std::string Bytes;
    DWORD Error;
    bool Pending;
    DWORD Queued;
    int Expected, Received, ReadCalls;
  };
  const TDeviceTimeouts firstByte{MAXDWORD, MAXDWORD, 900, 0, 0};
  const TDeviceTimeouts immediate{MAXDWORD, 0, 0, 0, 0};
  for (const TRow& row :
       {TRow{"complete", firstByte, "abcd", 0, true, 0, 0, 4, 1},
        TRow{"expired with what came", firstByte, "ab", ERROR_TIMEOUT, true, 0, 0, 2, 1},
        TRow{"expired with nothing", firstByte, "", ERROR_SEM_TIMEOUT, true, 0, 0, 0, 1},
        TRow{"line gone", firstByte, "", ERROR_DEVICE_REMOVED, false, 0, ERROR_DEVICE_REMOVED, 0,
             1},
        TRow{"immediate, queue empty", immediate, "", 0, false, 0, 0, 0, 0},
        TRow{"immediate, two queued", immediate, "xy", 0, false, 2, 0, 2, 1}}) {
    SCOPED_TRACE(row.Name);
    TFakeComm fake;
    fake.ReadBytes = row.Bytes, fake.ReadError = row.Error, fake.ReadPending = row.Pending;
    fake.QueuedBytes = row.Queued;
    TSerialDevice device;
    ASSERT_EQ(device.Open("COM12"), 0);
    ASSERT_EQ(device.SetTimeouts(row.Timeouts), 0);
    char buffer[8] = {};
    int32_t received = -1;
    EXPECT_EQ(device.Read(buffer, 4, received), row.Expected);
    EXPECT_EQ(received, row.Received);
    EXPECT_EQ(fake.Calls["ReadFile"], row.ReadCalls);
    EXPECT_EQ(fake.Timeouts.ReadTotalTimeoutMultiplier, MAXDWORD) << "never the hanging form";
  }
  TFakeComm fake;
  TSerialDevice device;
  ASSERT_EQ(device.Open("COM12"), 0);
  ASSERT_EQ(device.SetTimeouts(firstByte), 0);
  device.CancelWaits();
  char byte = 0;
  int32_t received = 0;
  EXPECT_EQ(device.Read(&byte, 1, received), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(fake.Calls["ReadFile"], 0);
  ASSERT_EQ(device.Open("COM12"), 0);
  fake.ReadBytes = "z";
  EXPECT_EQ(device.Read(&byte, 1, received), 0) << "opened again, the abort is over";
}

TEST(WindowsSerial, ModemLinesLineErrorsAndEvents) {
  struct TRow {
    DWORD Bits, Error;
    uint32_t Expected;
    int Result;
  };
  for (const TRow& row : {TRow{MS_CTS_ON | MS_RLSD_ON, 0, modem_bits::CTS | modem_bits::RLSD, 0},
                          TRow{MS_DSR_ON | MS_RING_ON, 0, modem_bits::DSR | modem_bits::Ring, 0},
                          TRow{0, ERROR_NOT_SUPPORTED, 0, 0},  // no modem lines (Wine's driver)
                          TRow{0, ERROR_GEN_FAILURE, 0, ERROR_GEN_FAILURE}}) {
    TFakeComm fake;
    fake.ModemBits = row.Bits, fake.ModemError = row.Error;
    TSerialDevice device;
    ASSERT_EQ(device.Open("COM12"), 0);
    uint32_t bits = 99;
    EXPECT_EQ(device.ModemStatus(bits), row.Result);
    EXPECT_EQ(bits, row.Expected);
  }
  TFakeComm fake;
  fake.LineErrors = CE_FRAME | CE_OVERRUN | 0x8000;
  fake.QueuedBytes = 17;
  fake.Events = EV_CTS | EV_RING | EV_RXCHAR;
  TSerialDevice device;
  ASSERT_EQ(device.Open("COM12"), 0);
  int32_t queued = 0;
  EXPECT_EQ(device.QueuedInput(queued), 0);
  EXPECT_EQ(queued, 17);
  fake.LineErrors = 0;  // the count cleared them in the driver: they are still told
  uint32_t word = 0;
  EXPECT_EQ(device.TakeErrorWord(word), 0);
  EXPECT_EQ(word, 0x0008u | 0x0002u);
  EXPECT_EQ(device.TakeErrorWord(word), 0);
  EXPECT_EQ(word, 0u) << "once";
  TSerialEventWaiter waiter(device, TSerialEvents::All(), 4096);
  EXPECT_EQ(fake.Calls["SetCommMask" + std::to_string(TSerialEvents::All().Mask())], 1);
  auto events = waiter.Wait();
  ASSERT_TRUE(events);
  EXPECT_EQ(events->Mask(), static_cast<uint32_t>(EV_CTS | EV_RING | EV_RXCHAR));
  waiter.Stop();
  EXPECT_FALSE(waiter.Wait()) << "stopped, it waits no more";
  fake.EventError = ERROR_ACCESS_DENIED;
  TSerialEventWaiter failing(device, TSerialEvents::All(), 4096);
  EXPECT_FALSE(failing.Wait()) << "a failed wait ends the watch";
}

// The file writer: reserved device names are no files; a file is replaced only once the
// new one is whole, and nothing of ours is left beside it.
TEST(WindowsFiles, AFileIsReplacedWholeOrNotAtAll) {
  testing::TTempFolder folder;
  for (const char* reserved : {"CON", "nul.txt", "COM1.png", "lpt9.bmp", "AUX"}) {
    try {
      TReplacingFile file(folder / reserved);
      ADD_FAILURE() << reserved << " taken";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Kind(), TFailureKind::CannotCreate) << reserved;
    }
  }
  std::string target = folder / "shot.png";
  testing::WriteBytes(target, "old");
  {
    TReplacingFile file(target);
    file.Write("new content", 11);
    EXPECT_EQ(testing::ReadBytes(target), "old") << "untouched until the commit";
    EXPECT_TRUE(file.ReserveAhead(1 << 20));
    file.PatchAt(0, "N", 1);
    file.Commit();
  }
  EXPECT_EQ(testing::ReadBytes(target), "New content");
  {
    TReplacingFile abandoned(target);
    abandoned.Write("x", 1);
  }
  EXPECT_EQ(testing::ReadBytes(target), "New content");
  EXPECT_EQ(folder.EntryCount(), 1u) << "no temporary left";
  // Past MAX_PATH; std::filesystem could not remove it, so the test does.
  std::wstring a = FilePath(folder / std::string(120, 'a')),
               b = FilePath(folder / (std::string(120, 'a') + "\\" + std::string(120, 'b')));
  std::string deepName = folder / (std::string(120, 'a') + "\\" + std::string(120, 'b') + "\\" +
                                   std::string(60, 'c') + ".bmp");
  ASSERT_TRUE(::CreateDirectoryW(a.c_str(), nullptr) && ::CreateDirectoryW(b.c_str(), nullptr));
  {
    TReplacingFile deep(deepName);
    deep.Write("deep", 4);
    deep.Commit();
  }
  EXPECT_EQ(ReadRegularFile(deepName).value_or(""), "deep");
  EXPECT_TRUE(::DeleteFileW(FilePath(deepName).c_str()) && ::RemoveDirectoryW(b.c_str()) &&
              ::RemoveDirectoryW(a.c_str()));
  ::SetFileAttributesW(FilePath(target).c_str(), FILE_ATTRIBUTE_READONLY);
  try {
    TReplacingFile file(target);
    ADD_FAILURE() << "a read-only file taken";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Kind(), TFailureKind::ReadOnly);
  }
  EXPECT_FALSE(MayWriteExistingFile(target));
  ::SetFileAttributesW(FilePath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
  try {
    TReplacingFile file(folder / "missing\\shot.png");
    ADD_FAILURE() << "a missing folder taken";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Kind(), TFailureKind::CannotCreate);
    EXPECT_NE(SystemErrorText(e.SystemError()).find("ot f"), std::string::npos)
        << "the system's words: " << SystemErrorText(e.SystemError());
  }
  EXPECT_EQ(FileFailureKind(ERROR_DISK_FULL, TFailureKind::Other), TFailureKind::DiskFull);
  EXPECT_EQ(FileFailureKind(ERROR_FILENAME_EXCED_RANGE, TFailureKind::Other),
            TFailureKind::NameTooLong);
  TFileLock first(target, true);
  EXPECT_TRUE(first.Held());
}

// Beside the .exe when it is a copy of the user's own, as the program always kept its INI;
// installed, in %APPDATA% and the Pictures folder.
TEST(WindowsFiles, TheProgramKeepsItsFilesWhereItsCopyMayWrite) {
  struct TRow {
    bool Portable, OwnUsable;
    TProgramPlaces Expected;
  };
  for (const TRow& row :
       {TRow{true, true, {"D:\\k\\", "D:\\k\\BMP", "D:\\k\\"}},
        TRow{false, true, {"P:\\Korbenit\\", "P:\\Korbenit", "A:\\Korbenit Screenshot\\"}},
        TRow{false, false, {"P:\\", "P:", "A:\\Korbenit Screenshot\\"}}}) {
    TProgramPlaces places = ProgramPlacesFor("D:\\k", row.Portable, "A:\\Korbenit Screenshot",
                                             "P:", row.OwnUsable, '\\');
    EXPECT_EQ(places.ExePath, row.Expected.ExePath);
    EXPECT_EQ(places.BmpPath, row.Expected.BmpPath);
    EXPECT_EQ(places.SettingsFolder, row.Expected.SettingsFolder);
  }
  // This test program's folder is the build's, the user's to write: a portable copy.
  wchar_t path[MAX_PATH];
  std::wstring exe(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  std::string folder = Narrow(exe.substr(0, exe.find_last_of(L'\\') + 1));
  EXPECT_EQ(ThisProgramsPlaces().SettingsFolder, folder);
}

}  // namespace
}  // namespace korbenit
