#include "Requests.h"

namespace emu {

namespace {

using wire::Outcome;
using namespace wire;

void PutU32(wire::Reply& reply, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) reply.data[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const wire::Request& r) {
    return uint32_t{r.data[1]} | uint32_t{r.data[2]} << 8 | uint32_t{r.data[3]} << 16 | uint32_t{r.data[4]} << 24;
}

void PutTime(wire::Reply& reply, int64_t wall) {
    const CivilTime t = ToCivil(wall);
    reply.data = {static_cast<uint8_t>(t.second), static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.hour), 0};
}

void PutDate(wire::Reply& reply, int64_t wall) {
    const CivilTime t = ToCivil(wall);
    reply.data = {static_cast<uint8_t>(t.day), static_cast<uint8_t>(t.month), static_cast<uint8_t>(t.year % 4), 0};
}

Outcome Identify(const wire::Request& r, wire::Reply& reply) {
    if (r.subcode > subcode::Version) return Outcome::UnknownSubcode;
    const char* text = r.subcode == subcode::Version ? ModuleVersion : ModuleName + 4 * r.subcode;
    for (unsigned i = 0; i < 4; ++i) reply.data[i] = static_cast<uint8_t>(text[i]);
    return Outcome::Done;
}

Outcome Read(EmulatedModule& m, const wire::Request& r, wire::Reply& reply) {
    if (r.subcode == subcode::Inputs) {
        PutU32(reply, m.Inputs());
        return Outcome::Done;
    }
    const auto value = m.Quantity(r.subcode);
    if (!value) return Outcome::UnknownSubcode;
    PutU32(reply, *value);
    return Outcome::Done;
}

Outcome Write(EmulatedModule& m, const wire::Request& r) {
    if (r.subcode == subcode::Outputs) {
        m.SetOutputs(GetU32(r));
        return Outcome::Done;
    }
    if (r.subcode >= subcode::ResetCounter && r.subcode < subcode::ResetCounter + CounterCount) {
        m.Counter(r.subcode - subcode::ResetCounter).Reset(m.NowMs());
        m.SetStatus(m.Status() | status::RST);
        return Outcome::Done;
    }
    return Outcome::UnknownSubcode;
}

Outcome ReadClock(EmulatedModule& m, const wire::Request& r, wire::Reply& reply) {
    switch (r.subcode) {
        case subcode::Status: PutU32(reply, m.Status()); return Outcome::Done;
        case subcode::ClockTime: PutTime(reply, m.ModuleWall()); return Outcome::Done;
        case subcode::ClockDate: PutDate(reply, m.ModuleWall()); return Outcome::Done;
        case subcode::FailureStartTime: PutTime(reply, m.FailureStart()); return Outcome::Done;
        case subcode::FailureStartDate: PutDate(reply, m.FailureStart()); return Outcome::Done;
        case subcode::FailureEndTime: PutTime(reply, m.FailureEnd()); return Outcome::Done;
        case subcode::FailureEndDate: PutDate(reply, m.FailureEnd()); return Outcome::Done;
        default: return Outcome::UnknownSubcode;
    }
}

Outcome SetTime(EmulatedModule& m, const wire::Request& r) {
    const uint8_t s = r.data[1], min = r.data[2], h = r.data[3];
    if (s > 59 || min > 59 || h > 23) return Outcome::BadValue;
    CivilTime t = ToCivil(m.ModuleWall());
    t.hour = h;
    t.minute = min;
    t.second = s;
    m.SetModuleWall(FromCivil(t));
    return Outcome::Done;
}

// The module keeps only the year within the four-year cycle; the century and
// the rest come from the host, as the program shows the year.
Outcome SetDate(EmulatedModule& m, const wire::Request& r) {
    const uint8_t day = r.data[1], month = r.data[2], cycle = r.data[3];
    if (cycle > 3 || month < 1 || month > 12) return Outcome::BadValue;
    const int hostYear = static_cast<int>(m.HostYear());
    const int year = hostYear - hostYear % 4 + cycle;
    if (day < 1 || day > DaysInMonth(year, month)) return Outcome::BadValue;
    const int64_t now = m.ModuleWall();
    CivilTime t = ToCivil(now);
    t.year = year;
    t.month = month;
    t.day = day;
    m.ShiftModuleWall(FromCivil(t) - now);
    return Outcome::Done;
}

Outcome SetClock(EmulatedModule& m, const wire::Request& r) {
    switch (r.subcode) {
        case subcode::Status: m.SetStatus(0); return Outcome::Done;
        case subcode::ClockTime: return SetTime(m, r);
        case subcode::ClockDate: return SetDate(m, r);
        default: return Outcome::UnknownSubcode;
    }
}

// The register number travels twice (D1, D2), and so does a value written
// (D3, D4); copies that disagree mean a garbled request, which is refused.
Outcome ReadRegister(EmulatedModule& m, const wire::Request& r, wire::Reply& reply) {
    if (r.subcode != 0) return Outcome::UnknownSubcode;
    const uint8_t reg = r.data[1];
    if (reg != r.data[2] || !EmulatedModule::IsConfigRegister(reg)) return Outcome::UnknownRegister;
    uint8_t value = m.Register(reg);
    if (m.readbackFault[reg]) value = static_cast<uint8_t>(value ^ 0xFF);
    reply.data = {reg, reg, value, value};
    return Outcome::Done;
}

Outcome WriteRegister(EmulatedModule& m, const wire::Request& r, wire::Reply& reply) {
    if (r.subcode != 0) return Outcome::UnknownSubcode;
    const uint8_t reg = r.data[1];
    const uint8_t value = r.data[3];
    if (reg != r.data[2] || !EmulatedModule::IsConfigRegister(reg)) return Outcome::UnknownRegister;
    if (value != r.data[4]) return Outcome::BadValue;
    if (reg == wire::reg::BaudIndex && value >= BaudRates.size()) return Outcome::BadValue;
    m.SetRegister(reg, value);
    reply.data = {reg, reg, value, value};
    return Outcome::Done;
}

}  // namespace

std::optional<wire::Reply> HandleRequest(EmulatedModule& m, const wire::Request& r) {
    if (r.address != m.Address()) return std::nullopt;
    wire::Reply reply;
    reply.transaction = r.transaction;
    reply.address = m.Address();
    Outcome outcome = Outcome::UnknownFunction;
    switch (r.function) {
        case function::Read: outcome = Read(m, r, reply); break;
        case function::Write: outcome = Write(m, r); break;
        case function::ReadClock: outcome = ReadClock(m, r, reply); break;
        case function::SetClock: outcome = SetClock(m, r); break;
        case function::ReadRegister: outcome = ReadRegister(m, r, reply); break;
        case function::WriteRegister: outcome = WriteRegister(m, r, reply); break;
        case function::Identify: outcome = Identify(r, reply); break;
        default: break;
    }
    reply.outcome = outcome;
    if (outcome != Outcome::Done) reply.data = {};
    // Status byte: the low byte of the status register, after the request.
    reply.status = static_cast<uint8_t>(m.Status());
    return reply;
}

}  // namespace emu
