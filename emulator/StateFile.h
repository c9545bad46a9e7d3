// What the module keeps through a power failure, and its file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace emu {

// A time stamp that was never recorded.
constexpr int64_t NoStamp = 946684800;  // 2000-01-01 00:00:00

struct ModuleState {
    std::array<uint8_t, 256> registers{};  // only the configuration registers are meaningful
    int64_t clockOffset = 0;               // module clock minus the host's local time, seconds
    int64_t lastAlive = NoStamp;               // module clock when the module was last known powered
    int64_t failureStart = NoStamp;            // power-failure stamps, module clock
    int64_t failureEnd = NoStamp;
    std::array<uint32_t, 4> counts{};      // pulse counts
    uint32_t status = 0;                   // status register
};

// Parses the text of a state file.  Anything malformed gives nullopt and, if
// `why` is given, a reason; the parser never throws and never reads beyond
// the bytes given.
std::optional<ModuleState> ParseState(std::string_view bytes, std::string* why = nullptr);
std::string FormatState(const ModuleState& state);

enum class LoadResult { Loaded, Missing, Damaged };
LoadResult LoadStateFile(const std::string& path, ModuleState& state, std::string& why);
// Replaces the file as files::Replace does: a reader (or a crash) never
// sees half a file.
bool SaveStateFile(const std::string& path, const ModuleState& state, std::string& why);

}  // namespace emu
