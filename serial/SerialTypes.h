#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>

namespace korbenit {

enum class TBaudRate {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};

enum class TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum class TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum class TSyncMethod { smThreadSync, smWindowSync, smNone };

enum class TSerialEvent {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full,
};

// The device's event-mask bit of each event.
constexpr uint32_t EventMaskBit(TSerialEvent event) {
  constexpr uint32_t Bits[] = {0x0001, 0x0004, 0x0002, 0x0100, 0x0040,
                               0x0008, 0x0010, 0x0080, 0x0020, 0x0400};
  return Bits[static_cast<int>(event)];
}

inline constexpr TSerialEvent AllSerialEvents[] = {
    TSerialEvent::evRxChar, TSerialEvent::evTxEmpty, TSerialEvent::evRxFlag,
    TSerialEvent::evRing,   TSerialEvent::evBreak,   TSerialEvent::evCTS,
    TSerialEvent::evDSR,    TSerialEvent::evError,   TSerialEvent::evRLSD,
    TSerialEvent::evRx80Full};

// A set of events, kept as the device's mask; bits outside the table are dropped.
class TSerialEvents {
 public:
  constexpr TSerialEvents() = default;
  constexpr TSerialEvents(std::initializer_list<TSerialEvent> events) {
    for (auto e : events) Include(e);
  }
  static constexpr TSerialEvents All() {
    TSerialEvents all;
    for (auto e : AllSerialEvents) all.Include(e);
    return all;
  }
  static constexpr TSerialEvents FromMask(uint32_t mask) {
    TSerialEvents set;
    set.FMask = mask & All().FMask;
    return set;
  }
  constexpr void Include(TSerialEvent e) { FMask |= EventMaskBit(e); }
  constexpr bool Contains(TSerialEvent e) const { return (FMask & EventMaskBit(e)) != 0; }
  constexpr bool Empty() const { return FMask == 0; }
  constexpr uint32_t Mask() const { return FMask; }
  constexpr bool operator==(const TSerialEvents&) const = default;

 private:
  uint32_t FMask = 0;
};

enum class TLineError { leFrame, leParity, leOverrun, leBreak, leIO, leMode, leRxOver, leTxFull };

// The device's error-word bit of each line error.
constexpr uint32_t LineErrorBit(TLineError error) {
  constexpr uint32_t Bits[] = {0x0008, 0x0004, 0x0002, 0x0010, 0x0400, 0x8000, 0x0001, 0x0100};
  return Bits[static_cast<int>(error)];
}

using TLineErrors = std::bitset<8>;

// The line speed a named rate stands for; brCustom has none of its own.
int32_t BaudRateValue(TBaudRate rate, int32_t customBaudRate);

inline int DataBitsValue(TDataBits bits) { return 5 + static_cast<int>(bits); }

}  // namespace korbenit
