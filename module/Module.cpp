#include "Module.h"

#include "Kodovani.h"
#include "Dekl.h"

namespace kv618 {

std::string CharactersText(const Characters& characters) {
    std::string text;
    // A 0 byte would end the text wherever it is shown.
    for (const uint8_t c : characters) text += c == 0 ? ' ' : static_cast<char>(c);
    return Kodovani::Cp1250NaUtf8(text);
}

std::string Identification::Name() const { return CharactersText(parts[0]) + CharactersText(parts[1]); }
std::string Identification::Version() const { return CharactersText(parts[2]); }
std::string Identification::Text() const { return Name() + " v." + Version(); }

uint32_t Number(const std::array<uint8_t, 4>& b) { return SlozCislo(b[0], b[1], b[2], b[3]); }

std::array<uint8_t, 4> Bytes(uint32_t n) {
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
}

Reply Module::Exchange(uint8_t function, uint8_t subcode, std::array<uint8_t, 5> d) const {
    if (!link_.library || link_.handle == 0) return Reply{.error = NotInitialised};
    if (late_) return link_.library->Exchange(link_.handle, {address_, function, subcode, d}, *late_);
    return link_.library->Exchange(link_.handle, {address_, function, subcode, d});
}

Module Module::NamingLate(LateReplies& late) const {
    Module named = *this;
    named.late_ = &late;
    return named;
}

std::string Module::Text(int32_t code) const {
    if (link_.library) return link_.library->Text(code);
    return code >= LoadFailed ? CodeText(code) : std::string();
}

Result<Identification> Module::Identify() const { return Identify(AskIdentity()); }

Reply Module::AskIdentity() const { return Exchange(wire::function::Identify, wire::subcode::NameFirst); }

Result<Identification> Module::Identify(const Reply& first) const {
    if (first.error) return {first.error};
    Result<Identification> result;
    result.value.parts[wire::subcode::NameFirst] = first.data;
    uint8_t status = first.status;
    for (const uint8_t part : {wire::subcode::NameSecond, wire::subcode::Version}) {
        const Reply reply = Exchange(wire::function::Identify, part, {status, 0, 0, 0, 0});
        if (reply.error) return {reply.error};
        status = reply.status;
        result.value.parts[part] = reply.data;
    }
    return result;
}

Result<uint8_t> Module::ReadRegister(uint8_t reg, ReadBack asking, uint8_t value) const {
    const uint8_t echo = asking == ReadBack::Echo ? value : 0;
    const Reply reply = Exchange(wire::function::ReadRegister, 0, {0, reg, reg, echo, echo});
    if (reply.error) return {reply.error};
    return {0, reply.data[2]};
}

int32_t Module::WriteRegister(uint8_t reg, uint8_t value) const {
    return Exchange(wire::function::WriteRegister, 0, {0, reg, reg, value, value}).error;
}

Result<std::array<uint8_t, 4>> Module::ReadBytes(uint8_t function, uint8_t code) const {
    const Reply reply = Exchange(function, code);
    if (reply.error) return {reply.error};
    return {0, reply.data};
}

Result<uint32_t> Module::ReadNumber(uint8_t function, uint8_t code) const {
    const auto bytes = ReadBytes(function, code);
    return {bytes.error, Number(bytes.value)};
}

Result<ClockGroup> Module::ReadClockGroup(uint8_t group) const {
    const auto bytes = ReadBytes(wire::function::ReadClock, group);
    if (!bytes.ok()) return {bytes.error};
    return {0, {bytes.value[0], bytes.value[1], bytes.value[2]}};
}

int32_t Module::SetClockGroup(uint8_t group, ClockGroup v) const {
    return Exchange(wire::function::SetClock, group, {0, v.d1, v.d2, v.d3, 0}).error;
}

Result<ClockReading> Module::ReadClock() const {
    const auto time = ReadClockGroup(wire::subcode::ClockTime);
    if (!time.ok()) return {time.error};
    const auto date = ReadClockGroup(wire::subcode::ClockDate);
    if (!date.ok()) return {date.error};
    return {0, {time.value, date.value}};
}

int32_t Module::SetClock(const ClockReading& reading) const {
    if (const int32_t error = SetClockGroup(wire::subcode::ClockTime, reading.time)) return error;
    return SetClockGroup(wire::subcode::ClockDate, reading.date);
}

bool NeverRecorded(const ClockReading& r) {
    const bool midnight = r.time.d1 == 0 && r.time.d2 == 0 && r.time.d3 == 0;
    const bool firstDay = r.date.d1 == 1 && r.date.d2 == 1 && r.date.d3 == 0;
    const bool noDate = r.date.d1 == 0 && r.date.d2 == 0 && r.date.d3 == 0;
    return midnight && (firstDay || noDate);
}

bool NoPowerFailure(uint32_t status, const ClockReading& start, const ClockReading& end) {
    return !(status & wire::status::PRF) && NeverRecorded(start) && NeverRecorded(end);
}

Result<std::array<ClockReading, 2>> Module::ReadPowerFailures() const {
    Result<std::array<ClockReading, 2>> result;
    uint8_t group = wire::subcode::FailureStartTime;
    for (ClockReading& stamp : result.value) {
        for (ClockGroup* part : {&stamp.time, &stamp.date}) {
            const auto read = ReadClockGroup(group++);
            if (!read.ok()) return {read.error};
            *part = read.value;
        }
    }
    return result;
}

Result<uint32_t> Module::ReadInputs() const { return ReadNumber(wire::function::Read, wire::subcode::Inputs); }

Result<std::array<uint8_t, 4>> Module::ReadInputBytes() const {
    return ReadBytes(wire::function::Read, wire::subcode::Inputs);
}

int32_t Module::WriteOutputs(uint32_t outputs) const {
    const auto b = Bytes(outputs);
    return Exchange(wire::function::Write, wire::subcode::Outputs, {0, b[0], b[1], b[2], b[3]}).error;
}

Result<uint32_t> Module::ReadQuantity(wire::Quantity quantity, int counter) const {
    return ReadNumber(wire::function::Read, wire::QuantitySubcode(quantity, counter));
}

int32_t Module::ResetCounter(int counter) const {
    return Exchange(wire::function::Write, static_cast<uint8_t>(wire::subcode::ResetCounter + (counter & 3))).error;
}

int32_t Module::ResetCounters() const {
    for (int counter = 0; counter < wire::CounterCount; ++counter) {
        if (const int32_t error = ResetCounter(counter)) return error;
    }
    return 0;
}

Result<uint32_t> Module::ReadStatus() const { return ReadNumber(wire::function::ReadClock, wire::subcode::Status); }

Result<std::array<uint8_t, 4>> Module::ReadStatusBytes() const {
    return ReadBytes(wire::function::ReadClock, wire::subcode::Status);
}

int32_t Module::ResetStatus() const { return Exchange(wire::function::SetClock, wire::subcode::Status).error; }

}  // namespace kv618
