// What the Modbus face serves: every unit's latest values as the lines read
// them, each with the moment it was read.  The lines write it from their
// threads; the server answers from it, never by asking a module, so that
// any number of clients costs the modules nothing.  A value older than three
// of its poll intervals is not served: the module counts as silent then.
#pragma once

#include "Config.h"
#include "Payloads.h"
#include "RegisterMap.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kvbridge::modbus {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// One served module: its place in the configuration, its poll intervals
// (0: not polled) and the commands its section enables.
struct UnitSetup {
    size_t module;
    Millis inputs, status, counters;
    Commands commands;
};

// The bits and registers of one answer, laid out as libmodbus's mapping
// keeps them (a byte per bit), addressed from 0.
struct Snapshot {
    Snapshot();
    std::vector<uint8_t> coils, discreteInputs;
    std::vector<uint16_t> inputRegisters, holdingRegisters;
};

class Image {
public:
    // `modules`: how many the configuration has; `units` the served ones.
    Image(size_t modules, const std::vector<UnitSetup>& units);
    ~Image();

    // From the lines, by the module's index in the configuration.
    void Online(size_t module, const kv618::Identification& id);
    void Offline(size_t module);
    void Inputs(size_t module, uint32_t inputs);
    void Status(size_t module, uint32_t status);
    void Counters(size_t module, const kv618::CounterTable& values);
    void OutputsWritten(size_t module, uint32_t outputs);

    // The served place of a module, or nothing.
    std::optional<size_t> PlaceOf(size_t module) const;
    size_t Units() const;

    // Fills `out` at [address, address + count) of `table` from the unit at
    // `place`: NoException, or what the unit answers instead.  The range is
    // inside the map (checked before).
    Exception Read(size_t place, Table table, uint16_t address, uint16_t count, Clock::time_point now,
                   Snapshot& out) const;

    // What a write needs to know: whether the module answers, what its
    // section enables and, where the bridge wrote them since, its outputs.
    struct Writable {
        bool online = false;
        Commands enabled;
        std::optional<uint32_t> outputs;
    };
    Writable WriteState(size_t place) const;

private:
    struct Unit;
    // Applies `change` to the module's unit under its lock; nothing for a module not served.
    template <class Change>
    void Update(size_t module, Change change);
    std::vector<std::unique_ptr<Unit>> units_;
    std::vector<int> placeOf_;  // by module; -1: not served
};

}  // namespace kvbridge::modbus
