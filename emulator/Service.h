// The module as its transports and its control channel see it: frames in,
// frames out, command lines in, reply lines out.  No I/O of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Control.h"
#include "Faults.h"
#include "EmulatedModule.h"
#include "Frame.h"

namespace emu {

// Outcome code of a request refused by an injected fault.
constexpr wire::Outcome OutcomeRefusedByFault = static_cast<wire::Outcome>(5);

struct Outgoing {
    std::vector<uint8_t> bytes;
    uint32_t delayMs = 0;  // extra delay from an injected fault
};

class Service {
public:
    static constexpr size_t LogSize = 64;

    explicit Service(const Clock& clock, uint8_t address = 1) : module(clock, address) {}

    // One request frame as it came off a transport.  nullopt: no answer.
    std::optional<Outgoing> OnFrame(std::span<const uint8_t> frame);
    // One request already decoded.  nullopt: no answer.
    std::optional<Outgoing> OnRequest(const wire::Request& request);
    // A frame that could not be taken (bad checksum, sync or length).
    void OnDamagedFrame() { module.DamagedFrame(); }
    // One control line; gives the reply line without its end of line.
    std::string OnControl(std::string_view line);
    std::string Execute(const Command& command);

    bool QuitRequested() const { return quit_; }

    EmulatedModule module;
    Faults faults;

private:
    struct Logged {
        uint8_t function, subcode;
        std::array<uint8_t, 5> data;
    };
    static std::string Describe(const Logged& entry);
    std::optional<wire::Reply> Answer(const wire::Request& request);

    uint64_t requests_ = 0;
    std::deque<Logged> log_;
    bool quit_ = false;
};

}  // namespace emu
