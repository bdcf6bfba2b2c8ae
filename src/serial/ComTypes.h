#pragma once

// Value types of the serial port component: speeds, frame formats, flow-control modes,
// line events and line errors. Every enumeration is stored in 8 bits; the ordinal is the
// position in the list.

#include <cstdint>
#include <initializer_list>

enum TBaudRate : std::uint8_t {
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
    br256000
};

enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};

enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};

// The four input lines.
enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };

// A set of enumeration values, bit n for ordinal n.
template <typename E, typename Bits> class TComSet {
public:
    constexpr TComSet() = default;
    constexpr TComSet(std::initializer_list<E> values)
    {
        for (E value : values)
            m_bits |= Bit(value);
    }
    static constexpr TComSet FromBits(Bits bits)
    {
        TComSet set;
        set.m_bits = bits;
        return set;
    }

    constexpr Bits ToBits() const { return m_bits; }
    constexpr bool Contains(E value) const { return (m_bits & Bit(value)) != 0; }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr void Include(E value) { m_bits |= Bit(value); }
    constexpr void Exclude(E value) { m_bits &= static_cast<Bits>(~Bit(value)); }
    constexpr TComSet operator|(TComSet other) const { return FromBits(m_bits | other.m_bits); }
    constexpr bool operator==(const TComSet&) const = default;

private:
    static constexpr Bits Bit(E value) { return static_cast<Bits>(Bits(1) << value); }
    Bits m_bits = 0;
};

using TComEvents = TComSet<TComEvent, std::uint16_t>;
using TComErrors = TComSet<TComError, std::uint8_t>;
using TComSignals = TComSet<TComSignal, std::uint8_t>;

inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x3FF);

// The speed in bit/s of a table value; 0 for brCustom, whose speed is the port's CustomBaudRate.
std::int32_t BaudRateSpeed(TBaudRate rate);
// The table value for a speed, brCustom when the speed is not in the table.
TBaudRate BaudRateFromSpeed(std::int32_t speed);
