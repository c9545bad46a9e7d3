#include "Module.h"

namespace emu {

Module::Module(const Clock& clock, uint8_t address)
    : clock_(clock),
      address_(address),
      counters_{PulseCounter(clock.SteadyMs()), PulseCounter(clock.SteadyMs()), PulseCounter(clock.SteadyMs()),
                PulseCounter(clock.SteadyMs())} {
    for (unsigned n = 0; n < 4; ++n) registers_[RegPulseNumbers + 2 * n] = 1;
    for (unsigned k = 0; k < 4; ++k) {
        registers_[0x21 + 3 * k] = 0xFF;  // inputs negated
        registers_[0x22 + 3 * k] = 0xFF;  // outputs negated
    }
    registers_[RegBaud] = DefaultBaudIndex;
    registers_[RegAddress] = address;
}

bool Module::IsConfigRegister(unsigned reg) {
    return reg <= 0x07 || (reg >= RegIoFirst && reg <= RegIoLast) || reg == RegBaud || reg == RegAddress;
}

uint16_t Module::PulseNumber(unsigned counter) const {
    const unsigned n = counter & 3;
    return static_cast<uint16_t>(registers_[RegPulseNumbers + 2 * n] | registers_[RegPulseNumbers + 2 * n + 1] << 8);
}

int32_t Module::BaudRate() const { return baudIndex_ < BaudRates.size() ? BaudRates[baudIndex_] : 0; }

uint32_t Module::Field(uint8_t base) const {
    uint32_t value = 0;
    for (unsigned k = 0; k < 4; ++k) value |= uint32_t{registers_[base + 3 * k]} << (8 * k);
    return value;
}

void Module::PowerUp(std::optional<int64_t> failureStart) {
    address_ = registers_[RegAddress];
    // An index outside the list keeps the last rate that worked.
    if (registers_[RegBaud] < BaudRates.size()) baudIndex_ = registers_[RegBaud];
    outputs_ = Field(0x20);
    status_ |= StatusPWR;
    if (failureStart) {
        failureStart_ = *failureStart;
        failureEnd_ = ModuleWall();
        status_ |= StatusPRF;
    }
}

uint32_t Module::CounterQuantity(unsigned kind, unsigned n) const {
    const PulseCounter& c = counters_[n];
    const int64_t now = clock_.SteadyMs();
    switch (kind) {
        case 0: return c.Count(now);
        case 1: return ConsumptionWh(c.Count(now), PulseNumber(n));
        case 2: return PowerW(c.Rate(), PulseNumber(n));
        case 3: return c.PeriodMs();
        default: return PowerW10s(c.PulsesInWindow(now), PulseNumber(n));
    }
}

std::optional<uint32_t> Module::Quantity(uint8_t subcode) const {
    if (const auto it = forced_.find(subcode); it != forced_.end()) return it->second;
    if (subcode >= 0x50 && subcode <= 0x53) return CounterQuantity(0, subcode - 0x50u);
    if (subcode >= 0x80 && subcode <= 0x83) return CounterQuantity(1, subcode - 0x80u);
    if (subcode >= 0x84 && subcode <= 0x87) return CounterQuantity(2, subcode - 0x84u);
    if (subcode >= 0x88 && subcode <= 0x8B) return CounterQuantity(3, subcode - 0x88u);
    if (subcode >= 0x9C && subcode <= 0x9F) return CounterQuantity(4, subcode - 0x9Cu);
    return std::nullopt;
}

ModuleState Module::State() const {
    ModuleState s;
    s.registers = registers_;
    s.clockOffset = clockOffset_;
    s.lastAlive = ModuleWall();
    s.failureStart = failureStart_;
    s.failureEnd = failureEnd_;
    const int64_t now = clock_.SteadyMs();
    for (unsigned n = 0; n < 4; ++n) s.counts[n] = counters_[n].Count(now);
    s.status = status_;
    return s;
}

void Module::Restore(const ModuleState& s) {
    for (unsigned r = 0; r < 256; ++r) {
        if (IsConfigRegister(r)) registers_[r] = s.registers[r];
    }
    clockOffset_ = s.clockOffset;
    failureStart_ = s.failureStart;
    failureEnd_ = s.failureEnd;
    const int64_t now = clock_.SteadyMs();
    for (unsigned n = 0; n < 4; ++n) counters_[n].SetCount(s.counts[n], now);
    status_ = s.status;
}

}  // namespace emu
