#include "Image.h"

#include <algorithm>
#include <array>
#include <string>

namespace kvbridge::modbus {

namespace {

// A value is served while it is younger than this many of its intervals.
constexpr int FreshIntervals = 3;

// Exceptions of one range, the one that matters most first: what the
// configuration does not poll, then what is not fresh, then the unknown outputs.
int Rank(Exception e) {
    switch (e) {
        case IllegalAddress: return 3;
        case TargetFailed: return 2;
        case DeviceFailure: return 1;
        default: return 0;
    }
}

uint32_t AgeMs(const std::optional<Clock::time_point>& at, Clock::time_point now) {
    if (!at) return 0xFFFFFFFFu;
    const auto ms = std::chrono::duration_cast<Millis>(now - *at).count();
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, 0xFFFFFFFE));
}

// The identification text, two characters a register, the first in the high
// byte, NUL-padded; cut short at a whole UTF-8 character.
std::array<uint16_t, IdentificationRegisters> TextRegisters(const std::string& text) {
    constexpr size_t room = 2 * IdentificationRegisters;
    size_t length = std::min(text.size(), room);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    std::array<uint8_t, room> bytes{};
    std::copy_n(text.begin(), length, bytes.begin());
    std::array<uint16_t, IdentificationRegisters> registers{};
    for (size_t i = 0; i < registers.size(); ++i)
        registers[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    return registers;
}

}  // namespace

struct Image::Unit {
    UnitSetup setup;
    mutable std::mutex mutex;
    bool online = false;
    std::optional<Clock::time_point> inputsAt, statusAt, countersAt;
    uint32_t inputs = 0, status = 0;
    kv618::CounterTable counters{};
    std::optional<uint32_t> outputs;
    std::array<uint16_t, IdentificationRegisters> identification{};

    Exception Servable(Source source, Clock::time_point now) const {
        const auto polled = [&](const std::optional<Clock::time_point>& at, Millis interval) {
            if (interval.count() == 0) return IllegalAddress;
            return at && now - *at <= FreshIntervals * interval ? NoException : TargetFailed;
        };
        switch (source) {
            case Source::Inputs: return polled(inputsAt, setup.inputs);
            case Source::Status: return polled(statusAt, setup.status);
            case Source::Counters: return polled(countersAt, setup.counters);
            case Source::Outputs: return outputs ? NoException : DeviceFailure;
            default: return NoException;
        }
    }

    uint32_t Value(const Point& p, Clock::time_point now) const {
        switch (p.source) {
            case Source::Inputs: return inputs;
            case Source::Status: return status & 0xFFFF;
            case Source::Counters: return counters[static_cast<size_t>(p.counter)][static_cast<size_t>(p.quantity)];
            case Source::Outputs: return outputs.value_or(0);
            case Source::OutputsKnown: return outputs ? 1 : 0;
            case Source::InputsAge: return AgeMs(inputsAt, now);
            case Source::StatusAge: return AgeMs(statusAt, now);
            case Source::CountersAge: return AgeMs(countersAt, now);
            case Source::Identification:
            case Source::ResetCounters:
            case Source::ResetStatus: return 0;
        }
        return 0;
    }

    uint16_t Register(const Point& p, uint16_t address, Clock::time_point now) const {
        const int offset = address - p.address;
        if (p.type == Type::Text) return identification[static_cast<size_t>(offset)];
        const uint32_t value = Value(p, now);
        // 32-bit values: the high word first.
        if (p.type == Type::Uint32) return static_cast<uint16_t>(offset == 0 ? value >> 16 : value);
        return static_cast<uint16_t>(value);
    }
};

Snapshot::Snapshot()
    : coils(TableSize(Table::Coils)),
      discreteInputs(TableSize(Table::DiscreteInputs)),
      inputRegisters(TableSize(Table::InputRegisters)),
      holdingRegisters(TableSize(Table::HoldingRegisters)) {}

Image::Image(size_t modules, const std::vector<UnitSetup>& units) : placeOf_(modules, -1) {
    for (const UnitSetup& setup : units) {
        placeOf_[setup.module] = static_cast<int>(units_.size());
        units_.push_back(std::make_unique<Unit>());
        units_.back()->setup = setup;
    }
}

Image::~Image() = default;

std::optional<size_t> Image::PlaceOf(size_t module) const {
    if (module >= placeOf_.size() || placeOf_[module] < 0) return std::nullopt;
    return static_cast<size_t>(placeOf_[module]);
}

size_t Image::Units() const { return units_.size(); }

template <class Change>
void Image::Update(size_t module, Change change) {
    const auto place = PlaceOf(module);
    if (!place) return;
    Unit& u = *units_[*place];
    std::lock_guard lock(u.mutex);
    change(u);
}

void Image::Online(size_t module, const kv618::Identification& id) {
    Update(module, [&](Unit& u) {
        // What was read before the silence is not served again, and a module
        // that may have lost power may have taken its initial outputs.
        u.online = true;
        u.inputsAt.reset();
        u.statusAt.reset();
        u.countersAt.reset();
        u.outputs.reset();
        u.identification = TextRegisters(id.Text());
    });
}

void Image::Offline(size_t module) {
    Update(module, [](Unit& u) { u.online = false; });
}

void Image::Inputs(size_t module, uint32_t inputs) {
    Update(module, [&](Unit& u) {
        u.inputs = inputs;
        u.inputsAt = Clock::now();
    });
}

void Image::Status(size_t module, uint32_t status) {
    Update(module, [&](Unit& u) {
        u.status = status;
        u.statusAt = Clock::now();
    });
}

void Image::Counters(size_t module, const kv618::CounterTable& values) {
    Update(module, [&](Unit& u) {
        u.counters = values;
        u.countersAt = Clock::now();
    });
}

void Image::OutputsWritten(size_t module, uint32_t outputs) {
    Update(module, [&](Unit& u) { u.outputs = outputs; });
}

Exception Image::Read(size_t place, Table table, uint16_t address, uint16_t count, Clock::time_point now,
                      Snapshot& out) const {
    const Unit& u = *units_[place];
    std::lock_guard lock(u.mutex);
    if (!u.online) return TargetFailed;
    const int end = address + count;
    Exception worst = NoException;
    for (int a = address; a < end;) {
        const Point& p = *PointAt(table, static_cast<uint16_t>(a));
        const Exception e = u.Servable(p.source, now);
        if (Rank(e) > Rank(worst)) worst = e;
        a = p.address + p.count;
    }
    if (worst != NoException) return worst;
    for (int a = address; a < end; ++a) {
        const auto at = static_cast<uint16_t>(a);
        const Point& p = *PointAt(table, at);
        switch (table) {
            case Table::Coils: out.coils[at] = (u.Value(p, now) >> (a - p.address)) & 1; break;
            case Table::DiscreteInputs: out.discreteInputs[at] = (u.Value(p, now) >> (a - p.address)) & 1; break;
            case Table::InputRegisters: out.inputRegisters[at] = u.Register(p, at, now); break;
            case Table::HoldingRegisters: out.holdingRegisters[at] = u.Register(p, at, now); break;
        }
    }
    return NoException;
}

Image::Writable Image::WriteState(size_t place) const {
    const Unit& u = *units_[place];
    std::lock_guard lock(u.mutex);
    return {u.online, u.setup.commands, u.outputs};
}

}  // namespace kvbridge::modbus
