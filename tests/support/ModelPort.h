#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "DeviceModel.h"
#include "SerialError.h"
#include "SerialPortInterface.h"

namespace korbenit::testing {

// A serial port whose far end is the in-process device model. Time is virtual: a read
// that finds nothing queued records the wait it would have made and returns empty.
class TModelPort : public TSerialPortInterface {
 public:
  TModelPort() : FTimeouts([this] { FLog.push_back("Timeouts"); }) {}

  TDeviceModel Model;
  std::vector<std::string> FLog;        // Open, Close, Purge, Write, CustomBaudRate ...
  std::vector<int> FReadWaits;          // virtual milliseconds waited by empty reads
  std::optional<ESerialPort> FOpenError;
  std::optional<ESerialPort> FWriteError;
  std::optional<ESerialPort> FReadError;
  std::optional<ESerialPort> FSpeedError;  // raised by a speed change on the open port
  int FReadCalls = 0;

  void Open() override {
    if (FConnected) return;
    FLog.push_back("Open " + FPort);
    if (FOpenError) throw *FOpenError;
    FConnected = true;
    Queue(Model.Greeting());
    if (OnAfterOpen) OnAfterOpen(*this);
  }
  void Close() override {
    if (!FConnected) return;
    FLog.push_back("Close");
    FConnected = false;
    FInput.clear();
    if (OnAfterClose) OnAfterClose(*this);
  }
  void Purge(bool input, bool output) noexcept override {
    FLog.push_back(std::string("Purge ") + (input ? "1" : "0") + (output ? "1" : "0"));
    if (input) FInput.clear();
  }
  int32_t WriteText(const std::string& text) override {
    FLog.push_back("Write " + Hex(text));
    if (FWriteError) throw *FWriteError;
    Queue(Model.Receive(text));
    return static_cast<int32_t>(text.size());
  }
  int32_t ReadText(std::string& text, int32_t count) override {
    ++FReadCalls;
    text.clear();
    if (FReadError) throw *FReadError;
    while (static_cast<int32_t>(text.size()) < count && !FInput.empty()) {
      text += FInput.front();
      FInput.pop_front();
    }
    if (text.empty() && count > 0) FReadWaits.push_back(FTimeouts.ReadTotalConstant());
    return static_cast<int32_t>(text.size());
  }

  std::string Port() const override { return FPort; }
  void SetPort(const std::string& port) override { FPort = port; }
  TBaudRate BaudRate() const override { return FBaudRate; }
  void SetBaudRate(TBaudRate rate) override { FBaudRate = rate; }
  int32_t CustomBaudRate() const override { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t rate) override {
    if (rate == FCustomBaudRate) return;
    FCustomBaudRate = rate;
    if (FConnected && FSpeedError) throw *FSpeedError;
    FLog.push_back("CustomBaudRate " + std::to_string(rate));
  }
  TSerialTimeouts& Timeouts() override { return FTimeouts; }
  bool Connected() const override { return FConnected; }

  // Puts bytes into the input queue as if the device had sent them.
  void Queue(const std::string& bytes) { FInput.insert(FInput.end(), bytes.begin(), bytes.end()); }
  std::size_t QueuedBytes() const { return FInput.size(); }

  static std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
      if (!text.empty()) text += ' ';
      text += digits[c >> 4];
      text += digits[c & 15];
    }
    return text;
  }

 private:
  std::string FPort = "COM1";
  TBaudRate FBaudRate = TBaudRate::br9600;
  int32_t FCustomBaudRate = 9600;
  bool FConnected = false;
  TSerialTimeouts FTimeouts;
  std::deque<char> FInput;
};

}  // namespace korbenit::testing
