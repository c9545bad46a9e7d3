// What the bridge publishes and what it accepts: the topics under
// kv618/<module>/, the JSON of each value with its time stamp, and the
// commands' payloads.  docs/bridge.md shows every one of them.
#pragma once

#include "Module.h"
#include "Outcome.h"
#include "Quantities.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvbridge {

using WallTime = std::chrono::system_clock::time_point;

namespace topic {
inline constexpr const char* Root = "kv618";
inline constexpr const char* Online = "online";
inline constexpr const char* Identification = "identification";
inline constexpr const char* Inputs = "inputs";
inline constexpr const char* Status = "status";
inline constexpr const char* Counters = "counters";
inline constexpr const char* Outputs = "outputs";
inline constexpr const char* Error = "error";
inline constexpr const char* SetOutputs = "set/outputs";
inline constexpr const char* ResetCounters = "reset/counters";
inline constexpr const char* ResetStatus = "reset/status";
inline constexpr const char* SetOutput = "set/DOUT";  // and the output's number, 0-31
}  // namespace topic

// "kv618/<module>/<what>".
std::string Topic(const std::string& module, std::string_view what);

// Local time with its offset, to the millisecond: 2026-12-07T11:56:39.015+01:00.
std::string Timestamp(WallTime when);

std::string InputsJson(uint32_t inputs, WallTime when);
std::string OutputsJson(uint32_t outputs, WallTime when);
std::string StatusJson(uint32_t status, WallTime when);
std::string CountersJson(const kv618::CounterTable& values, WallTime when);
std::string IdentificationJson(const kv618::Identification& id, uint8_t address, WallTime when);
inline const char* OnlinePayload(bool online) { return online ? "true" : "false"; }
// A refused or failed command: its topic, what came (cut short), why.
std::string CommandErrorJson(const std::string& topic, std::string_view payload, const std::string& why,
                             WallTime when);
// A poll the module refused: which one, the code and its text.
std::string PollErrorJson(const char* poll, int code, const std::string& text, WallTime when);

inline constexpr uint32_t AllOutputs = 0xFFFFFFFFu;

// A command as it came from the broker, checked and ready for the line.
struct Command {
    enum Kind { SetOutputs, ResetCounters, ResetStatus } kind;
    uint32_t outputs = 0;
    int counter = -1;  // reset/counters: 0-3, or -1 for all four
    uint32_t mask = AllOutputs;  // set/outputs: the outputs written; the others keep their last value
};

// The command of `what` (the topic below kv618/<module>/) with `payload`, or
// the reason it is refused.  Knows nothing of which commands are enabled.
kv618::Outcome<Command> ParseCommand(std::string_view what, std::string_view payload);

}  // namespace kvbridge
