#include "SerialPort.h"

#include "SerialThread.h"

namespace korbenit {
namespace {

uint32_t DeviceValue(int32_t value) {
  return static_cast<uint32_t>(value);
}

TDeviceTimeouts ToDevice(const TSerialTimeoutValues& t) {
  return {DeviceValue(t.ReadInterval), DeviceValue(t.ReadTotalMultiplier),
          DeviceValue(t.ReadTotalConstant), DeviceValue(t.WriteTotalMultiplier),
          DeviceValue(t.WriteTotalConstant)};
}

void ThrowOnError(int error, int code) {
  if (error != 0) throw ESerialPort(code, error);
}

}  // namespace

int32_t BaudRateValue(TBaudRate rate, int32_t customBaudRate) {
  static constexpr int32_t Rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rate == TBaudRate::brCustom ? customBaudRate : Rates[static_cast<int>(rate)];
}

TDeviceControlRecord BuildDeviceControlRecord(const TCustomSerialPort& port) {
  const auto& parity = port.Parity().Values();
  const auto& flow = port.FlowControl().Values();
  TDeviceControlRecord r;
  r.BaudRate = DeviceValue(BaudRateValue(port.BaudRate(), port.CustomBaudRate()));
  r.Binary = true;
  r.ParityCheck = parity.Check;
  r.OutxCtsFlow = flow.OutCTSFlow;
  r.OutxDsrFlow = flow.OutDSRFlow;
  r.DtrControl = static_cast<uint8_t>(flow.ControlDTR);
  r.DsrSensitivity = flow.DSRSensitivity;
  r.TxContinueOnXoff = flow.TxContinueOnXoff;
  r.OutX = flow.XonXoffOut;
  r.InX = flow.XonXoffIn;
  r.ErrorReplace = parity.Check && parity.Replace;
  r.DiscardNull = port.DiscardNull();
  r.RtsControl = static_cast<uint8_t>(flow.ControlRTS);
  r.XonLimit = static_cast<uint16_t>(port.Buffer().InputSize() / 4);
  r.XoffLimit = r.XonLimit;
  r.ByteSize = static_cast<uint8_t>(DataBitsValue(port.DataBits()));
  r.Parity = static_cast<uint8_t>(parity.Bits);
  r.StopBits = static_cast<uint8_t>(port.StopBits());
  r.XonChar = flow.XonChar;
  r.XoffChar = flow.XoffChar;
  r.ErrorChar = r.ErrorReplace ? parity.ReplaceChar : 0;
  r.EventChar = port.EventChar();
  return r;
}

TCustomSerialPort::TCustomSerialPort()
    : FParity([this] { CommitLineSettings(); }),
      FFlowControl([this] { CommitLineSettings(); }),
      FBuffer([this] { CommitBufferSizes(); }),
      FTimeouts([this] { CommitTimeouts(); }) {}

TCustomSerialPort::~TCustomSerialPort() {
  CloseQuietly();
}

TSerialPort::~TSerialPort() {
  CloseQuietly();
}

void TCustomSerialPort::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
    // A handler that fails while the port is being destroyed has nowhere to report to.
  }
}

// The event thread waits for its first event only once the port is fully open, so a
// handler never meets a port that Open is still working on.
void TCustomSerialPort::Open() {
  if (Connected()) return;
  DoBeforeOpen();
  AcquireHandle();
  FConnected = true;
  try {
    CommitSettings();
    CreateEventThread();
  } catch (...) {
    ReleaseHandle();
    FConnected = false;
    throw;
  }
  struct TStartAtEnd {
    TCustomSerialPort& Port;
    ~TStartAtEnd() {
      if (Port.FThread && Port.Connected()) Port.FThread->Start();
    }
  } start{*this};
  DoAfterOpen();
  FireSignals(false);
}

// A Close from a handler that Close itself fires returns at once.
void TCustomSerialPort::Close() {
  if (!Connected() || FClosing) return;
  struct TClosing {
    bool& Flag;
    explicit TClosing(bool& flag) : Flag(flag) { Flag = true; }
    ~TClosing() { Flag = false; }
  };
  {
    TClosing closing(FClosing);
    FireSignals(true);
    DoBeforeClose();
    AbortTransfers();
    StopEventThread();
    ReleaseHandle();
    FConnected = false;
  }
  DoAfterClose();
}

void TCustomSerialPort::CreateEventThread() {
  if (!FEvents.Empty()) FThread = std::make_unique<TSerialThread>(*this);
}

// Waiting for the event thread from inside its own handler would wait for ourselves;
// such a thread is left to end on its own once the handler returns.
void TCustomSerialPort::StopEventThread() {
  if (FThread && FThread->DeliversOnThisThread()) TSerialThread::Abandon(std::move(FThread));
  FThread.reset();
  TSerialThread::JoinAbandoned(false);
}

// Each signal's state is read afresh, or reported off while closing.
void TCustomSerialPort::FireSignals(bool forceOff) {
  using TRaiser = void (TCustomSerialPort::*)(bool);
  const std::pair<TRaiser, uint32_t> signals[] = {
      {&TCustomSerialPort::DoCTSChange, modem_bits::CTS},
      {&TCustomSerialPort::DoDSRChange, modem_bits::DSR},
      {&TCustomSerialPort::DoRLSDChange, modem_bits::RLSD}};
  for (const auto& [raise, bit] : signals) (this->*raise)(!forceOff && (LineSignals() & bit));
}

void TCustomSerialPort::SetConnected(bool connected) {
  if (FLoading) {
    FStoredConnected = connected;
    return;
  }
  connected ? Open() : Close();
}

void TCustomSerialPort::EndLoading() {
  FLoading = false;
  if (FStoredConnected) Open();
}

void TCustomSerialPort::SetPort(const std::string& port) {
  if (port == FPort) return;
  FPort = port;
  if (CanCommit()) {
    Close();
    Open();
  }
}

template <typename T>
void TCustomSerialPort::SetLineSetting(T& field, const T& value) {
  if (field == value) return;
  field = value;
  CommitLineSettings();
}

void TCustomSerialPort::SetBaudRate(TBaudRate rate) {
  SetLineSetting(FBaudRate, rate);
}
void TCustomSerialPort::SetCustomBaudRate(int32_t rate) {
  SetLineSetting(FCustomBaudRate, rate);
}
void TCustomSerialPort::SetDataBits(TDataBits bits) {
  SetLineSetting(FDataBits, bits);
}
void TCustomSerialPort::SetStopBits(TStopBits bits) {
  SetLineSetting(FStopBits, bits);
}
void TCustomSerialPort::SetDiscardNull(bool discard) {
  SetLineSetting(FDiscardNull, discard);
}
void TCustomSerialPort::SetEventChar(char eventChar) {
  SetLineSetting(FEventChar, eventChar);
}

void TCustomSerialPort::SetSyncMethod(TSyncMethod method) {
  if (method == FSyncMethod) return;
  if (Connected() && !FLoading) throw ESerialPort(serial_error::SetWhileConnected);
  FSyncMethod = method;
}

void TCustomSerialPort::AcquireHandle() {
  if (int error = FDevice.Open(FPort)) throw ESerialPort(serial_error::OpenFailed, error);
}

void TCustomSerialPort::ReleaseHandle() noexcept {
  FDevice.Close();
}

void TCustomSerialPort::CommitSettings() {
  CommitBufferSizes();
  CommitLineSettings();
  CommitTimeouts();
}

void TCustomSerialPort::CommitBufferSizes() {
  if (!CanCommit()) return;
  ThrowOnError(FDevice.SetQueueSizes(FBuffer.InputSize(), FBuffer.OutputSize()),
               serial_error::BufferSizesFailed);
}

void TCustomSerialPort::CommitLineSettings() {
  if (!CanCommit()) return;
  ThrowOnError(FDevice.SetLineSettings(BuildDeviceControlRecord(*this)),
               serial_error::LineSettingsFailed);
}

void TCustomSerialPort::CommitTimeouts() {
  if (!CanCommit()) return;
  ThrowOnError(FDevice.SetTimeouts(ToDevice(FTimeouts.Values())), serial_error::TimeoutsFailed);
}

void TCustomSerialPort::Purge(bool input, bool output) noexcept {
  unsigned flags = (input ? purge_flags::RxClear : 0u) | (output ? purge_flags::TxClear : 0u);
  FDevice.Purge(flags);
}

void TCustomSerialPort::AbortTransfers() noexcept {
  FDevice.Purge(purge_flags::TxAbort | purge_flags::RxAbort);
}

void TCustomSerialPort::CancelWaits() noexcept {
  FDevice.CancelWaits();
}

int32_t TCustomSerialPort::WriteText(const std::string& text) {
  if (text.empty()) return 0;
  int32_t written = 0;
  ThrowOnError(FDevice.Write(text.data(), static_cast<int32_t>(text.size()), written),
               serial_error::WriteFailed);
  return written;
}

int32_t TCustomSerialPort::ReadText(std::string& text, int32_t count) {
  text.assign(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  int32_t received = 0;
  int error = FDevice.Read(text.data(), count, received);
  if (error != 0) {
    text.clear();
    throw ESerialPort(serial_error::ReadFailed, error);
  }
  text.resize(static_cast<std::size_t>(received));
  // The count itself is not wanted; a failing status query still fails the read.
  ThrowOnError(FDevice.CheckInputStatus(), serial_error::StatusQueryFailed);
  return received;
}

int32_t TCustomSerialPort::PendingInput() {
  int32_t count = 0;
  ThrowOnError(FDevice.QueuedInput(count), serial_error::StatusQueryFailed);
  return count;
}

TLineErrors TCustomSerialPort::TakeLineErrors() {
  uint32_t word = 0;
  ThrowOnError(FDevice.TakeErrorWord(word), serial_error::StatusQueryFailed);
  TLineErrors errors;
  for (int i = 0; i < 8; ++i) {
    auto error = static_cast<TLineError>(i);
    if (error == TLineError::leParity && !FParity.Check()) continue;
    if (word & LineErrorBit(error)) errors.set(static_cast<std::size_t>(i));
  }
  return errors;
}

bool TCustomSerialPort::EventThreadRunning() const {
  return FThread && !FThread->Ended();
}

void TCustomSerialPort::DispatchEvent(TSerialEvent event) {
  using E = TSerialEvent;
  switch (event) {
    case E::evError:
      if (auto errors = TakeLineErrors(); errors.any()) DoError(errors);
      break;
    case E::evRxChar:
      // Only counted: the bytes stay queued for ReadText.
      if (int32_t count = PendingInput(); count > 0) DoRxChar(count);
      break;
    case E::evTxEmpty:
      DoTxEmpty();
      break;
    case E::evBreak:
      DoBreak();
      break;
    case E::evRing:
      DoRing();
      break;
    case E::evCTS:
      DoCTSChange(LineSignals() & modem_bits::CTS);
      break;
    case E::evDSR:
      DoDSRChange(LineSignals() & modem_bits::DSR);
      break;
    case E::evRxFlag:
      DoRxFlag();
      break;
    case E::evRLSD:
      DoRLSDChange(LineSignals() & modem_bits::RLSD);
      break;
    case E::evRx80Full:
      DoRx80Full();
      break;
  }
}

uint32_t TCustomSerialPort::LineSignals() {
  uint32_t bits = 0;
  ThrowOnError(FDevice.ModemStatus(bits), serial_error::ModemStatusFailed);
  return bits;
}

}  // namespace korbenit
