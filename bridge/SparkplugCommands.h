// What a Sparkplug host sends the node, decoded and checked against the
// device's metrics before anything is carried out: a DCMD's writes, an NCMD's
// rebirth request, the primary host's STATE.  Plain functions of the payload
// and the configuration; the node posts what they accept and logs what they
// refuse.
#pragma once

#include "SparkplugMetrics.h"

#include <string_view>

namespace kvbridge::sparkplug {

// A command is refused before it is decoded above this size: a DCMD writes a
// few metrics, an NCMD asks for a rebirth.
inline constexpr size_t MostCommandBytes = 16 * 1024;

// A metric of a command that is not carried out, and why; `kind` names the
// reason alone, for a log that holds back repeats.
struct Refusal {
    std::string what;  // "Outputs/Value = 90", "alias 1234 = true"
    std::string why;
    const char* kind;
};

// Decodes a command's payload into `command`; the refusal of the whole when
// it is over MostCommandBytes or no Sparkplug B payload.
std::optional<Refusal> DecodeCommand(std::string_view payload, spb::Payload& command);

// What one DCMD asks of a device: the commands for its line, each with the
// metrics it carries out (for a refusal when the line cannot take it), and
// the metrics refused.
struct DeviceWrites {
    struct Posted {
        Command command;
        std::string what;
    };
    std::vector<Posted> commands;
    std::vector<Refusal> refused;
};
DeviceWrites DecodeDeviceCommand(const spb::Payload& command, size_t module, const ModuleConfig& config);

// What one NCMD asks: a rebirth or not, and the metrics the node does not take.
struct NodeCommand {
    bool rebirth = false;
    std::vector<Refusal> refused;
};
NodeCommand DecodeNodeCommand(const spb::Payload& command);

// The primary host's STATE: {"online": true, "timestamp": ms} (3.0), or the
// plain ONLINE and OFFLINE of older hosts (no time: 0); nothing for anything else.
struct HostState {
    bool online = false;
    uint64_t time = 0;
};
std::optional<HostState> ParseHostState(std::string_view payload);

// A metric's value as a refusal shows it.
std::string ValueText(const Metric& m);

}  // namespace kvbridge::sparkplug
