#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "SerialDevice.h"
#include "SerialError.h"
#include "SerialPortInterface.h"
#include "SerialSettings.h"
#include "SerialTypes.h"

namespace korbenit {

class TSerialThread;

// The fixed order in which one wake-up's events reach their handlers.
inline constexpr TSerialEvent HandlerOrder[] = {
    TSerialEvent::evError, TSerialEvent::evRxChar,  TSerialEvent::evTxEmpty, TSerialEvent::evBreak,
    TSerialEvent::evRing,  TSerialEvent::evCTS,     TSerialEvent::evDSR,     TSerialEvent::evRxFlag,
    TSerialEvent::evRLSD,  TSerialEvent::evRx80Full};

// One serial port: the whole line configuration as properties, pushed to the device at
// Open and again whenever a setting changes while the port is open.
class TCustomSerialPort : public TSerialPortInterface {
 public:
  using TSignalEvent = std::function<void(TSerialPortInterface& sender, bool onOff)>;
  using TCountEvent = std::function<void(TSerialPortInterface& sender, int32_t count)>;
  using TErrorEvent = std::function<void(TSerialPortInterface& sender, TLineErrors errors)>;

  TCustomSerialPort();
  ~TCustomSerialPort() override;

  void Open() override;
  void Close() override;
  void Purge(bool input, bool output) noexcept override;
  int32_t WriteText(const std::string& text) override;
  int32_t ReadText(std::string& text, int32_t count) override;
  void AbortTransfers() noexcept;
  void CancelWaits() noexcept override;
  int32_t PendingInput();
  uint32_t LineSignals();
  TLineErrors TakeLineErrors();

  std::string Port() const override { return FPort; }
  void SetPort(const std::string& port) override;
  TBaudRate BaudRate() const override { return FBaudRate; }
  void SetBaudRate(TBaudRate rate) override;
  int32_t CustomBaudRate() const override { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t rate) override;
  TSerialTimeouts& Timeouts() override { return FTimeouts; }
  bool Connected() const override { return FConnected; }
  void SetConnected(bool connected);

  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits bits);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits bits);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool discard);
  char EventChar() const { return FEventChar; }
  void SetEventChar(char eventChar);
  TSerialEvents Events() const { return FEvents; }
  void SetEvents(TSerialEvents events) { FEvents = events; }
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod method);
  TSerialParity& Parity() { return FParity; }
  TSerialFlowControl& FlowControl() { return FFlowControl; }
  TSerialBuffer& Buffer() { return FBuffer; }
  const TSerialParity& Parity() const { return FParity; }
  const TSerialFlowControl& FlowControl() const { return FFlowControl; }
  const TSerialBuffer& Buffer() const { return FBuffer; }
  const TSerialTimeouts& Timeouts() const { return FTimeouts; }

  // While loading a stored description, setters only store; EndLoading opens the port
  // when Connected was stored as true.
  void BeginLoading() { FLoading = true; }
  void EndLoading();

  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TSignalEvent OnCTSChange;
  TSignalEvent OnDSRChange;
  TSignalEvent OnRLSDChange;
  TCountEvent OnRxChar;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TNotifyEvent OnRxFlag;
  TErrorEvent OnError;
  TNotifyEvent OnRx80Full;

  // One step of the handler sequence that the event thread runs for a wake-up, in
  // HandlerOrder.
  void DispatchEvent(TSerialEvent event);
  bool HasEventThread() const { return FThread != nullptr; }
  bool EventThreadRunning() const;

 protected:
  // Opens the device named by Port; raises ESerialPort code 1 when it cannot.
  virtual void AcquireHandle();
  virtual void ReleaseHandle() noexcept;
  virtual void CommitSettings();
  virtual void CommitBufferSizes();
  virtual void CommitLineSettings();
  virtual void CommitTimeouts();

  // One raiser per event property: each calls a copy of its handler, so a handler may
  // assign its own property.
  virtual void DoBeforeOpen() { Raise(OnBeforeOpen); }
  virtual void DoAfterOpen() { Raise(OnAfterOpen); }
  virtual void DoBeforeClose() { Raise(OnBeforeClose); }
  virtual void DoAfterClose() { Raise(OnAfterClose); }
  virtual void DoCTSChange(bool onOff) { Raise(OnCTSChange, onOff); }
  virtual void DoDSRChange(bool onOff) { Raise(OnDSRChange, onOff); }
  virtual void DoRLSDChange(bool onOff) { Raise(OnRLSDChange, onOff); }
  virtual void DoRxChar(int32_t count) { Raise(OnRxChar, count); }
  virtual void DoTxEmpty() { Raise(OnTxEmpty); }
  virtual void DoBreak() { Raise(OnBreak); }
  virtual void DoRing() { Raise(OnRing); }
  virtual void DoRxFlag() { Raise(OnRxFlag); }
  virtual void DoError(TLineErrors errors) { Raise(OnError, errors); }
  virtual void DoRx80Full() { Raise(OnRx80Full); }

  TSerialDevice& Device() { return FDevice; }
  // Close for a destructor: a failing handler has nowhere to report to.
  void CloseQuietly() noexcept;

 private:
  friend class TSerialThread;

  template <typename THandler, typename... TArgs>
  void Raise(const THandler& handler, TArgs... args) {
    if (THandler call = handler) call(*this, args...);
  }
  bool CanCommit() const { return Connected() && !FLoading; }
  void CreateEventThread();
  void StopEventThread();
  void FireSignals(bool forceOff);
  template <typename T>
  void SetLineSetting(T& field, const T& value);

  TSerialDevice FDevice;
  bool FConnected = false;
  std::string FPort = "COM1";
  TBaudRate FBaudRate = TBaudRate::br9600;
  int32_t FCustomBaudRate = 9600;
  TDataBits FDataBits = TDataBits::dbEight;
  TStopBits FStopBits = TStopBits::sbOneStopBit;
  bool FDiscardNull = false;
  char FEventChar = 0;
  TSerialEvents FEvents = TSerialEvents::All();
  TSyncMethod FSyncMethod = TSyncMethod::smThreadSync;
  bool FLoading = false;
  bool FClosing = false;
  bool FStoredConnected = false;
  TSerialParity FParity;
  TSerialFlowControl FFlowControl;
  TSerialBuffer FBuffer;
  TSerialTimeouts FTimeouts;
  std::unique_ptr<TSerialThread> FThread;
};

// The device-control record that a port's settings produce.
TDeviceControlRecord BuildDeviceControlRecord(const TCustomSerialPort& port);

// The port to use. It closes itself in its own destructor, while the whole object still
// exists: the event thread may be calling a handler through it. A class that derives from
// it and overrides a raiser closes the port in its own destructor for the same reason.
class TSerialPort : public TCustomSerialPort {
 public:
  using TCustomSerialPort::TCustomSerialPort;
  ~TSerialPort() override;
};

}  // namespace korbenit
