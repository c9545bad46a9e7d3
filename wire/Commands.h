// What the KV-618 module with its KV-619 counter extension understands: the
// function codes and sub-codes of its requests, its configuration registers,
// its status bits and its baud-rate table.  The program, the command-line
// tools, the emulator and the tests all take them from here; no other file
// spells a request code or a register number.
//
// A request carries a module address, a function code, a sub-code and five
// data bytes D0-D4; a reply carries a status byte and four data bytes D1-D4
// (docs/protocol.md has the frames around them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace wire {

// Function codes.
namespace function {
inline constexpr uint8_t Read = 0x00;           // inputs, counter quantities
inline constexpr uint8_t Write = 0x01;          // outputs, counter resets
inline constexpr uint8_t ReadClock = 0x64;      // status register, clock, power-failure stamps
inline constexpr uint8_t SetClock = 0x65;       // status reset, clock time and date
inline constexpr uint8_t ReadRegister = 0x66;   // D1 = D2 = register; reply D3 = its byte
inline constexpr uint8_t WriteRegister = 0x67;  // D1 = D2 = register, D3 = D4 = value
inline constexpr uint8_t Identify = 0xC8;       // sub-codes 0-2, four characters each
}  // namespace function

// Sub-codes of Read and Write.
namespace subcode {
inline constexpr uint8_t Inputs = 0x40;   // Read: DIN0-DIN31 in D1-D4
inline constexpr uint8_t Outputs = 0x40;  // Write: DOUT0-DOUT31 in D1-D4
inline constexpr uint8_t ResetCounter = 0x50;  // Write: + counter number 0-3
// Sub-codes of ReadClock and SetClock.
inline constexpr uint8_t Status = 0;      // ReadClock: the register; SetClock: its reset
inline constexpr uint8_t ClockTime = 1;   // D1-D3 = seconds, minutes, hours
inline constexpr uint8_t ClockDate = 2;   // D1-D3 = day, month, year within the four-year cycle
inline constexpr uint8_t FailureStartTime = 3;
inline constexpr uint8_t FailureStartDate = 4;
inline constexpr uint8_t FailureEndTime = 5;
inline constexpr uint8_t FailureEndDate = 6;
// Sub-codes of Identify: the two halves of the name, then the version.
inline constexpr uint8_t NameFirst = 0;
inline constexpr uint8_t NameSecond = 1;
inline constexpr uint8_t Version = 2;
}  // namespace subcode

// The clock's groups of three bytes, by their ReadClock sub-code.
inline constexpr bool IsTimeGroup(uint8_t group) { return group % 2 == 1; }

// The five quantities of each counter, read with function Read at the
// quantity's base sub-code plus the counter number.  Each is a 32-bit
// number in D1-D4, least significant byte first.
enum class Quantity : uint8_t {
    Pulses = 0x50,
    Consumption = 0x80,
    Power = 0x84,
    Period = 0x88,  // ms
    Power10s = 0x9C,
};
inline constexpr int CounterCount = 4;
inline constexpr std::array<Quantity, 5> Quantities = {Quantity::Pulses, Quantity::Consumption, Quantity::Power,
                                                       Quantity::Period, Quantity::Power10s};

inline constexpr uint8_t QuantitySubcode(Quantity quantity, int counter) {
    return static_cast<uint8_t>(static_cast<uint8_t>(quantity) + (counter & 3));
}

// The quantity and counter a sub-code reads, or nothing for another sub-code.
struct CounterQuantity {
    Quantity quantity;
    int counter;
};
inline constexpr std::optional<CounterQuantity> QuantityOfSubcode(uint8_t code) {
    for (const Quantity q : Quantities) {
        const auto base = static_cast<uint8_t>(q);
        if (code >= base && code < base + CounterCount) return CounterQuantity{q, code - base};
    }
    return std::nullopt;
}

// Configuration registers.  The module keeps them; the address and the baud
// rate take effect at its next power-up.
namespace reg {
// Pulse number of counter n: low byte in PulseNumbers + 2n, high in + 2n + 1.
inline constexpr uint8_t PulseNumbers = 0x00;
inline constexpr uint8_t PulseNumbersLast = 0x07;
// Digital I/O: byte k of each 32-bit field is in its base register + 3k.
inline constexpr uint8_t InitialOutputs = 0x20;
inline constexpr uint8_t InputNegation = 0x21;
inline constexpr uint8_t OutputNegation = 0x22;
inline constexpr uint8_t IoLast = 0x2B;
inline constexpr uint8_t BaudIndex = 0x3E;  // an index into BaudRates
inline constexpr uint8_t Address = 0x3F;

inline constexpr uint8_t PulseLow(int counter) { return static_cast<uint8_t>(PulseNumbers + 2 * (counter & 3)); }
inline constexpr uint8_t PulseHigh(int counter) { return static_cast<uint8_t>(PulseLow(counter) + 1); }
inline constexpr uint8_t IoByte(uint8_t base, int byte) { return static_cast<uint8_t>(base + 3 * (byte & 3)); }

inline constexpr bool IsConfig(unsigned r) {
    return r <= PulseNumbersLast || (r >= InitialOutputs && r <= IoLast) || r == BaudIndex || r == Address;
}
}  // namespace reg

// Bits of the status register.
namespace status {
inline constexpr uint32_t FN = 1u << 1;     // a damaged frame was received
inline constexpr uint32_t PRF = 1u << 2;    // a power failure was recorded
inline constexpr uint32_t PWR = 1u << 4;    // the module powered up
inline constexpr uint32_t RST = 1u << 5;    // a counter was reset
inline constexpr uint32_t ERR24 = 1u << 6;  // the 24 V supply failed
}  // namespace status

// The baud rates the module knows, by the index it stores in reg::BaudIndex.
// Every rate list of the program stands in this order.
inline constexpr std::array<int32_t, 9> BaudRates = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// The time value handed to a library's _SetConfig with each rate.
inline constexpr std::array<int32_t, 9> BaudTimeValues = {100, 100, 50, 25, 13, 7, 5, 5, 5};
inline constexpr uint8_t DefaultBaudIndex = 4;  // 9600 Bd

inline constexpr std::optional<uint8_t> BaudIndexOf(int32_t rate) {
    for (size_t i = 0; i < BaudRates.size(); ++i)
        if (BaudRates[i] == rate) return static_cast<uint8_t>(i);
    return std::nullopt;
}

}  // namespace wire
