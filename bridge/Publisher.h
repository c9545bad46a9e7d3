// What the lines tell of their modules to the bridge's faces: the broker's
// JSON topics with a session per module (JsonTopics) or one Sparkplug edge
// node (Sparkplug), and the Modbus server (modbus/ModbusFace), all behind
// one Faces.  Calls come from every line's thread at once.
#pragma once

#include "Config.h"
#include "Payloads.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kvbridge {

// Hands a checked command for a module (an index into the configuration) to
// its line: false when too many wait already.  `topic` and `payload` name the
// command in a refusal.
using CommandPoster = std::function<bool(size_t module, Command command, std::string topic, std::string payload)>;

bool Enabled(const Commands& enabled, Command::Kind kind);

// How commands posted with a completion (the Modbus face's writes) ended:
// every one carried out, or the first that was not and why.
struct CommandResult {
    enum Kind {
        Done,
        Silent,   // the module is not answering, or did not answer this one
        Refused,  // the module refused it, or the outputs are not known
        NotSent,  // the bridge ended before the line could send it
    } kind = Done;
    std::string why;
};
using CommandDone = std::function<void(const CommandResult&)>;

// Why some outputs alone are refused: the others keep what the bridge wrote
// last, and it wrote nothing since the module answered.
inline constexpr const char* OutputsUnknown =
    "the outputs cannot be read back and the bridge has not written them since the module answered; "
    "write all 32 first";

// A poll the lines tell every time it is answered, changed or not.
enum class Reading { Inputs, Status };

class Publisher {
public:
    virtual ~Publisher() = default;

    virtual void Start() = 0;
    // The last words (every module offline, or the node's death) and the
    // broker left; returns within a few seconds even without a broker.
    virtual void Stop() = 0;

    // What every face serves.
    // The module answered its identification (at start, or after being silent).
    virtual void Online(size_t module, const kv618::Identification& id) = 0;
    // The module fell silent, or its line cannot be opened.
    virtual void Offline(size_t module) = 0;
    virtual void Counters(size_t module, const kv618::CounterTable& values) = 0;
    // What the bridge wrote to the outputs (they cannot be read back).
    virtual void OutputsWritten(size_t module, uint32_t outputs) = 0;

    // The rest a face hears only where it needs them: the MQTT faces publish
    // changes and faults, the Modbus face serves fresh polls and answers
    // faults with its exceptions.
    // A change of the inputs or the status register, or the heartbeat of one.
    virtual void Inputs(size_t /*module*/, uint32_t /*inputs*/) {}
    virtual void Status(size_t /*module*/, uint32_t /*status*/) {}
    // Every answered poll of the inputs or the status register.
    virtual void Polled(size_t /*module*/, Reading /*what*/, uint32_t /*value*/) {}
    // A poll the module refused.
    virtual void PollFailed(size_t /*module*/, const char* /*poll*/, int /*code*/, const std::string& /*text*/) {}
    // The module's line cannot be opened: the reason stands until LineOpen.
    virtual void LineFailed(size_t /*module*/, int /*code*/, const std::string& /*text*/) {}
    virtual void LineOpen(size_t /*module*/) {}
    // A command posted without a completion that was not carried out.
    virtual void CommandRefused(size_t /*module*/, const std::string& /*topic*/, std::string_view /*payload*/,
                                const std::string& /*why*/) {}
};

}  // namespace kvbridge
