// The control commands of the emulator, one per line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace emu {

enum class CommandKind {
    Ping, Quit,
    GetReg, SetReg,
    SetInputs, GetInputs, GetOutputs, GetPins,
    GetStatus, SetStatus,
    GetCounter, SetCounter, SetQuantity, ClearQuantity, Pulses,
    GetClock, SetClock, GetStamps, SetStamps,
    PowerFail, SupplyFault,
    FaultDrop, FaultDelay, FaultCrc, FaultAddress, FaultRefuse, FaultTimeout, FaultReadback, FaultRegister, FaultClear,
    GetRequests, GetLast, GetLog, ClearLog,
    GetAddress, GetBaud,
};

struct Command {
    CommandKind kind = CommandKind::Ping;
    uint32_t a = 0;         // register, counter, sub-code, function, percentage
    uint32_t b = 0;         // value, sub-code, delay
    uint32_t count = 0;     // repeat count of refuse/timeout, 0 = until cleared
    double hz = 0;          // pulse rate
    int64_t wall1 = 0;      // clock, failure start
    int64_t wall2 = 0;      // failure end
};

struct CommandError {
    std::string why;
};

// Parses one line (without its end of line).  Numbers may be decimal or
// 0x-hex.  Never throws.
std::variant<Command, CommandError> ParseCommand(std::string_view line);

// A number as commands take it: decimal or 0x-hex, up to 32 bits.
bool ParseU32(std::string_view text, uint32_t& value);

// A line "at ADDRESS COMMAND" names the module it is for; other lines don't.
struct Targeted {
    std::optional<uint8_t> address;
    std::string_view rest;
};
Targeted SplitTarget(std::string_view line);
// "modules": the list of the modules on the line.
bool IsModulesCommand(std::string_view line);

}  // namespace emu
