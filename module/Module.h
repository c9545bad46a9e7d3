// The module layer: the KV-618 with its KV-619 as typed operations over the
// link.  Each operation gives its values or an error code (0 = success)
// whose text comes from the interface library or the binding (Text).  It
// sends exactly the requests the windows have always sent; the windows, the
// command-line tool and the bridge all talk to the module through it.
#pragma once

#include "Commands.h"
#include "Library.h"

#include <array>
#include <cstdint>
#include <string>

namespace kv618 {

// The way to a module: an interface's library and an open link in it
// (a Connection gives it).
struct Link {
    uint8_t type = 0;  // the interface (TData.Rozhrani)
    int32_t handle = 0;
    const Library* library = nullptr;
};

// An operation's values, or its error code (ErrorCodes.h; 0 = success).
template <typename T>
struct Result {
    int32_t error = 0;
    T value{};
    bool ok() const { return error == 0; }
};

// Four identification characters: Windows-1250 codes, a 0 standing as a blank.
using Characters = std::array<uint8_t, 4>;
std::string CharactersText(const Characters& characters);

struct Identification {
    std::array<Characters, 3> parts{};  // two halves of the name, the version
    std::string Name() const;           // eight characters
    std::string Version() const;
    std::string Text() const;           // name + " v." + version
};

// A clock group: time (seconds, minutes, hours) or date (day, month, year
// within the four-year cycle), as the module's D1-D3.
struct ClockGroup {
    uint8_t d1 = 0, d2 = 0, d3 = 0;
};

struct ClockReading {
    ClockGroup time, date;
};

// A power-failure stamp the module has never recorded: it reads as midnight
// of 1 January of the cycle's first year (or all zeros, which is no date at
// all).
bool NeverRecorded(const ClockReading& stamp);
// The module holds no power failure: its status bit PRF is clear (none since
// the register was last reset) and both stamps read as never recorded.
bool NoPowerFailure(uint32_t status, const ClockReading& start, const ClockReading& end);

// How a read-back after a write asks: with D3 = D4 = 0 as a plain read does,
// or with the value just written in them.
enum class ReadBack { Plain, Echo };

// The outcome of a write checked by reading it back.
struct WriteCheck {
    int32_t error = 0;      // of the write or of its read-back
    bool mismatch = false;  // the read-back gave another byte
    bool ok() const { return error == 0 && !mismatch; }
};

class Module {
public:
    Module(Link link, uint8_t address) : link_(link), address_(address) {}

    uint8_t Address() const { return address_; }
    const Link& GetLink() const { return link_; }

    // One request.  A link with no library or handle 0 sends nothing and
    // gives NotInitialised.
    Reply Exchange(uint8_t function, uint8_t subcode, std::array<uint8_t, 5> data = {}) const;
    // The text of an error code (and of 0, the library's success text).
    std::string Text(int32_t code) const;

    // Three requests; each carries the previous reply's status in D0.
    Result<Identification> Identify() const;
    // The identification's first request alone, as a scan asks an address.
    Reply AskIdentity() const;
    // The identification's other two requests, after the first one's reply.
    Result<Identification> Identify(const Reply& first) const;

    // The same module, each exchange of which adds the late replies that the
    // library names under an exact time-out to `late` (which must outlive
    // it; docs/library-abi.md, _Send).
    Module NamingLate(LateReplies& late) const;

    Result<uint8_t> ReadRegister(uint8_t reg, ReadBack asking = ReadBack::Plain, uint8_t value = 0) const;
    int32_t WriteRegister(uint8_t reg, uint8_t value) const;
    // Write, call `between` (may be empty), read back and compare.
    template <typename F>
    WriteCheck WriteVerified(uint8_t reg, uint8_t value, ReadBack asking, F&& between) const;
    WriteCheck WriteVerified(uint8_t reg, uint8_t value, ReadBack asking) const {
        return WriteVerified(reg, value, asking, [] {});
    }

    Result<ClockGroup> ReadClockGroup(uint8_t group) const;
    int32_t SetClockGroup(uint8_t group, ClockGroup value) const;
    Result<ClockReading> ReadClock() const;
    // Time first, then date; stops at the first error.
    int32_t SetClock(const ClockReading& reading) const;
    // Start and end of the last power failure.
    Result<std::array<ClockReading, 2>> ReadPowerFailures() const;

    Result<uint32_t> ReadInputs() const;
    // The bytes as they came, D1 first, for callers that show bits.
    Result<std::array<uint8_t, 4>> ReadInputBytes() const;
    int32_t WriteOutputs(uint32_t outputs) const;
    Result<uint32_t> ReadQuantity(wire::Quantity quantity, int counter) const;
    int32_t ResetCounter(int counter) const;
    // Counters 0-3 in turn; stops at the first error, leaving the later ones.
    int32_t ResetCounters() const;
    Result<uint32_t> ReadStatus() const;
    Result<std::array<uint8_t, 4>> ReadStatusBytes() const;
    int32_t ResetStatus() const;

private:
    Result<std::array<uint8_t, 4>> ReadBytes(uint8_t function, uint8_t subcode) const;
    Result<uint32_t> ReadNumber(uint8_t function, uint8_t subcode) const;

    Link link_;
    uint8_t address_;
    LateReplies* late_ = nullptr;
};

uint32_t Number(const std::array<uint8_t, 4>& bytes);
std::array<uint8_t, 4> Bytes(uint32_t number);

template <typename F>
WriteCheck Module::WriteVerified(uint8_t reg, uint8_t value, ReadBack asking, F&& between) const {
    if (const int32_t error = WriteRegister(reg, value)) return {error};
    between();
    const auto back = ReadRegister(reg, asking, value);
    if (!back.ok()) return {back.error};
    return {0, back.value != value};
}

}  // namespace kv618
