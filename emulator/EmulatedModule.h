// The emulated KV-618 module with its KV-619 counter extension, without any I/O.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Clock.h"
#include "Commands.h"
#include "Counters.h"
#include "StateFile.h"

namespace emu {

class EmulatedModule {
public:
    explicit EmulatedModule(const Clock& clock, uint8_t address = 1);

    static bool IsConfigRegister(unsigned reg) { return wire::reg::IsConfig(reg); }
    uint8_t Register(uint8_t reg) const { return registers_[reg]; }
    void SetRegister(uint8_t reg, uint8_t value) { registers_[reg] = value; }
    uint16_t PulseNumber(unsigned counter) const;

    // The address and baud rate in force since the last power-up.
    uint8_t Address() const { return address_; }
    uint8_t BaudIndex() const { return baudIndex_; }
    int32_t BaudRate() const;

    // A power-up.  With a failure start, the time in between is recorded as a
    // power failure that ends now.
    void PowerUp(std::optional<int64_t> failureStart);
    // A power failure of no length, now.
    void PowerFail() { PowerUp(ModuleWall()); }
    void SupplyFault() { status_ |= wire::status::ERR24; }
    void DamagedFrame() { status_ |= wire::status::FN; }

    void SetRawInputs(uint32_t pins) { rawInputs_ = pins; }
    uint32_t Inputs() const { return rawInputs_ ^ Field(wire::reg::InputNegation); }
    uint32_t Outputs() const { return outputs_; }
    void SetOutputs(uint32_t value) { outputs_ = value; }
    uint32_t OutputPins() const { return outputs_ ^ Field(wire::reg::OutputNegation); }

    uint32_t Status() const { return status_; }
    void SetStatus(uint32_t value) { status_ = value; }

    // The module's clock counts its seconds from the moment it was set, as a
    // real clock chip does, not from the turn of the host's second.
    int64_t ModuleWall() const { return Clock::FloorDiv(clock_.HostWallMs() + clockOffsetMs_, 1000); }
    void SetModuleWall(int64_t wall) { clockOffsetMs_ = wall * 1000 - clock_.HostWallMs(); }
    // Moves the clock by whole seconds (a new date) without restarting its second.
    void ShiftModuleWall(int64_t seconds) { clockOffsetMs_ += seconds * 1000; }
    int64_t HostYear() const { return ToCivil(clock_.HostWall()).year; }
    int64_t FailureStart() const { return failureStart_; }
    int64_t FailureEnd() const { return failureEnd_; }
    void SetStamps(int64_t start, int64_t end) {
        failureStart_ = start;
        failureEnd_ = end;
    }

    PulseCounter& Counter(unsigned n) { return counters_[n & 3]; }
    int64_t NowMs() const { return clock_.SteadyMs(); }
    // The value that a read of counter quantity `subcode` returns now, or
    // nullopt for a sub-code that is no counter quantity.
    std::optional<uint32_t> Quantity(uint8_t subcode) const;
    void ForceQuantity(uint8_t subcode, uint32_t value) { forced_[subcode] = value; }
    void ClearQuantity(uint8_t subcode) { forced_.erase(subcode); }

    // Registers whose reads are made to disagree with what is stored.
    std::bitset<256> readbackFault;

    ModuleState State() const;
    // Takes over what a state file kept.  The power-up that follows decides
    // what takes effect.
    void Restore(const ModuleState& state);

private:
    // A 32-bit field of the I/O configuration: base register + 3k holds byte k.
    uint32_t Field(uint8_t base) const;
    uint32_t CounterQuantity(wire::Quantity quantity, unsigned n) const;

    const Clock& clock_;
    std::array<uint8_t, 256> registers_{};
    uint8_t address_;
    uint8_t baudIndex_ = wire::DefaultBaudIndex;
    uint32_t rawInputs_ = 0;
    uint32_t outputs_ = 0;
    uint32_t status_ = 0;
    int64_t clockOffsetMs_ = 0;
    int64_t failureStart_ = NoStamp;
    int64_t failureEnd_ = NoStamp;
    std::array<PulseCounter, 4> counters_;
    std::map<uint8_t, uint32_t> forced_;
};

}  // namespace emu
