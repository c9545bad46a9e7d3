#include "EmulatedModule.h"

namespace emu {

using namespace wire;

EmulatedModule::EmulatedModule(const Clock& clock, uint8_t address)
    : clock_(clock),
      address_(address),
      counters_{PulseCounter(clock.SteadyMs()), PulseCounter(clock.SteadyMs()), PulseCounter(clock.SteadyMs()),
                PulseCounter(clock.SteadyMs())} {
    for (int n = 0; n < CounterCount; ++n) registers_[reg::PulseLow(n)] = 1;
    for (int k = 0; k < 4; ++k) {
        registers_[reg::IoByte(reg::InputNegation, k)] = 0xFF;
        registers_[reg::IoByte(reg::OutputNegation, k)] = 0xFF;
    }
    registers_[reg::BaudIndex] = DefaultBaudIndex;
    registers_[reg::Address] = address;
}

uint16_t EmulatedModule::PulseNumber(unsigned counter) const {
    const int n = static_cast<int>(counter & 3);
    return static_cast<uint16_t>(registers_[reg::PulseLow(n)] | registers_[reg::PulseHigh(n)] << 8);
}

int32_t EmulatedModule::BaudRate() const { return baudIndex_ < BaudRates.size() ? BaudRates[baudIndex_] : 0; }

uint32_t EmulatedModule::Field(uint8_t base) const {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value |= uint32_t{registers_[reg::IoByte(base, k)]} << (8 * k);
    return value;
}

void EmulatedModule::PowerUp(std::optional<int64_t> failureStart) {
    address_ = registers_[reg::Address];
    // An index outside the list keeps the last rate that worked.
    if (registers_[reg::BaudIndex] < BaudRates.size()) baudIndex_ = registers_[reg::BaudIndex];
    outputs_ = Field(reg::InitialOutputs);
    status_ |= status::PWR;
    if (failureStart) {
        failureStart_ = *failureStart;
        failureEnd_ = ModuleWall();
        status_ |= status::PRF;
    }
}

uint32_t EmulatedModule::CounterQuantity(wire::Quantity quantity, unsigned n) const {
    const PulseCounter& c = counters_[n];
    const int64_t now = clock_.SteadyMs();
    switch (quantity) {
        case wire::Quantity::Pulses: return c.Count(now);
        case wire::Quantity::Consumption: return ConsumptionWh(c.Count(now), PulseNumber(n));
        case wire::Quantity::Power: return PowerW(c.Rate(), PulseNumber(n));
        case wire::Quantity::Period: return c.PeriodMs();
        case wire::Quantity::Power10s: return PowerW10s(c.PulsesInWindow(now), PulseNumber(n));
    }
    return 0;
}

std::optional<uint32_t> EmulatedModule::Quantity(uint8_t subcode) const {
    if (const auto it = forced_.find(subcode); it != forced_.end()) return it->second;
    const auto which = QuantityOfSubcode(subcode);
    if (!which) return std::nullopt;
    return CounterQuantity(which->quantity, static_cast<unsigned>(which->counter));
}

ModuleState EmulatedModule::State() const {
    ModuleState s;
    s.registers = registers_;
    s.clockOffset = Clock::FloorDiv(clockOffsetMs_, 1000);
    s.lastAlive = ModuleWall();
    s.failureStart = failureStart_;
    s.failureEnd = failureEnd_;
    const int64_t now = clock_.SteadyMs();
    for (unsigned n = 0; n < 4; ++n) s.counts[n] = counters_[n].Count(now);
    s.status = status_;
    return s;
}

void EmulatedModule::Restore(const ModuleState& s) {
    for (unsigned r = 0; r < 256; ++r) {
        if (IsConfigRegister(r)) registers_[r] = s.registers[r];
    }
    clockOffsetMs_ = s.clockOffset * 1000;
    failureStart_ = s.failureStart;
    failureEnd_ = s.failureEnd;
    const int64_t now = clock_.SteadyMs();
    for (unsigned n = 0; n < 4; ++n) counters_[n].SetCount(s.counts[n], now);
    status_ = s.status;
}

}  // namespace emu
