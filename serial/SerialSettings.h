#pragma once

#include <cstdint>
#include <functional>

#include "SerialTypes.h"

namespace korbenit {

// Base of the small settings objects a port owns: it tells its port when a field
// really changed, so the port can push the new values to an open device.
class TSerialSettingsObject {
 public:
  using TChangeHandler = std::function<void()>;

  explicit TSerialSettingsObject(TChangeHandler onChange) : FOnChange(std::move(onChange)) {}
  TSerialSettingsObject(const TSerialSettingsObject&) = delete;
  TSerialSettingsObject& operator=(const TSerialSettingsObject&) = delete;

 protected:
  template <typename T>
  void SetField(T& field, const T& value) {
    if (field == value) return;
    field = value;
    Changed();
  }
  void Changed() const {
    if (FOnChange) FOnChange();
  }

 private:
  TChangeHandler FOnChange;
};

// A settings object holding one record of values. Assigning a whole object copies every
// field and always commits, once.
template <typename TValues>
class TSerialSettings : public TSerialSettingsObject {
 public:
  using TSerialSettingsObject::TSerialSettingsObject;

  const TValues& Values() const { return FValues; }
  void Assign(const TValues& values) {
    FValues = values;
    Changed();
  }
  void Assign(const TSerialSettings& other) { Assign(other.FValues); }

 protected:
  TValues FValues;
};

// Milliseconds; -1 stands for all bits set when handed to the device.
struct TSerialTimeoutValues {
  int32_t ReadInterval = -1;
  int32_t ReadTotalMultiplier = 0;
  int32_t ReadTotalConstant = 0;
  int32_t WriteTotalMultiplier = 100;
  int32_t WriteTotalConstant = 1000;
  bool operator==(const TSerialTimeoutValues&) const = default;
};

class TSerialTimeouts : public TSerialSettings<TSerialTimeoutValues> {
 public:
  using TSerialSettings::TSerialSettings;

  int32_t ReadInterval() const { return FValues.ReadInterval; }
  int32_t ReadTotalMultiplier() const { return FValues.ReadTotalMultiplier; }
  int32_t ReadTotalConstant() const { return FValues.ReadTotalConstant; }
  int32_t WriteTotalMultiplier() const { return FValues.WriteTotalMultiplier; }
  int32_t WriteTotalConstant() const { return FValues.WriteTotalConstant; }
  void SetReadInterval(int32_t v) { SetField(FValues.ReadInterval, v); }
  void SetReadTotalMultiplier(int32_t v) { SetField(FValues.ReadTotalMultiplier, v); }
  void SetReadTotalConstant(int32_t v) { SetField(FValues.ReadTotalConstant, v); }
  void SetWriteTotalMultiplier(int32_t v) { SetField(FValues.WriteTotalMultiplier, v); }
  void SetWriteTotalConstant(int32_t v) { SetField(FValues.WriteTotalConstant, v); }
};

struct TSerialParityValues {
  TParityBits Bits = TParityBits::prNone;
  bool Check = false;
  bool Replace = false;
  char ReplaceChar = 0;
  bool operator==(const TSerialParityValues&) const = default;
};

class TSerialParity : public TSerialSettings<TSerialParityValues> {
 public:
  using TSerialSettings::TSerialSettings;

  TParityBits Bits() const { return FValues.Bits; }
  bool Check() const { return FValues.Check; }
  bool Replace() const { return FValues.Replace; }
  char ReplaceChar() const { return FValues.ReplaceChar; }
  void SetBits(TParityBits v) { SetField(FValues.Bits, v); }
  void SetCheck(bool v) { SetField(FValues.Check, v); }
  void SetReplace(bool v) { SetField(FValues.Replace, v); }
  void SetReplaceChar(char v) { SetField(FValues.ReplaceChar, v); }
};

struct TSerialFlowControlValues {
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  TDTRFlowControl ControlDTR = TDTRFlowControl::dtrDisable;
  TRTSFlowControl ControlRTS = TRTSFlowControl::rtsDisable;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  char XonChar = 17;
  char XoffChar = 19;
  bool operator==(const TSerialFlowControlValues&) const = default;
};

class TSerialFlowControl : public TSerialSettings<TSerialFlowControlValues> {
 public:
  using TSerialSettings::TSerialSettings;

  bool OutCTSFlow() const { return FValues.OutCTSFlow; }
  bool OutDSRFlow() const { return FValues.OutDSRFlow; }
  TDTRFlowControl ControlDTR() const { return FValues.ControlDTR; }
  TRTSFlowControl ControlRTS() const { return FValues.ControlRTS; }
  bool XonXoffOut() const { return FValues.XonXoffOut; }
  bool XonXoffIn() const { return FValues.XonXoffIn; }
  bool DSRSensitivity() const { return FValues.DSRSensitivity; }
  bool TxContinueOnXoff() const { return FValues.TxContinueOnXoff; }
  char XonChar() const { return FValues.XonChar; }
  char XoffChar() const { return FValues.XoffChar; }
  void SetOutCTSFlow(bool v) { SetField(FValues.OutCTSFlow, v); }
  void SetOutDSRFlow(bool v) { SetField(FValues.OutDSRFlow, v); }
  void SetControlDTR(TDTRFlowControl v) { SetField(FValues.ControlDTR, v); }
  void SetControlRTS(TRTSFlowControl v) { SetField(FValues.ControlRTS, v); }
  void SetXonXoffOut(bool v) { SetField(FValues.XonXoffOut, v); }
  void SetXonXoffIn(bool v) { SetField(FValues.XonXoffIn, v); }
  void SetDSRSensitivity(bool v) { SetField(FValues.DSRSensitivity, v); }
  void SetTxContinueOnXoff(bool v) { SetField(FValues.TxContinueOnXoff, v); }
  void SetXonChar(char v) { SetField(FValues.XonChar, v); }
  void SetXoffChar(char v) { SetField(FValues.XoffChar, v); }
};

struct TSerialBufferValues {
  int32_t InputSize = 1024;
  int32_t OutputSize = 1024;
  bool operator==(const TSerialBufferValues&) const = default;
};

class TSerialBuffer : public TSerialSettings<TSerialBufferValues> {
 public:
  using TSerialSettings::TSerialSettings;

  int32_t InputSize() const { return FValues.InputSize; }
  int32_t OutputSize() const { return FValues.OutputSize; }
  void SetInputSize(int32_t v) { SetSize(FValues.InputSize, v); }
  void SetOutputSize(int32_t v) { SetSize(FValues.OutputSize, v); }
  void Assign(const TSerialBufferValues& values) {
    TSerialSettings::Assign({Even(values.InputSize), Even(values.OutputSize)});
  }
  void Assign(const TSerialBuffer& other) { Assign(other.Values()); }

 private:
  // Queue sizes stay even: a positive odd request loses one. The rounding comes after
  // the comparison, so 1025 over a stored 1024 still commits.
  static int32_t Even(int32_t value) { return (value > 0 && value % 2 != 0) ? value - 1 : value; }
  void SetSize(int32_t& field, int32_t value) {
    if (field == value) return;
    field = Even(value);
    Changed();
  }
};

}  // namespace korbenit
