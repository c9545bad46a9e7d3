#include "StoredSettings.h"

namespace kv618 {

namespace {

constexpr std::array<uint8_t, 2> AddressRegisters = {wire::reg::Address, wire::reg::BaudIndex};

// Whole fields one after another: the four bytes of the initial states, of
// the input negation, then of the output negation.
constexpr std::array<uint8_t, 12> IoRegisters = [] {
    std::array<uint8_t, 12> order{};
    size_t i = 0;
    for (const uint8_t base : {wire::reg::InitialOutputs, wire::reg::InputNegation, wire::reg::OutputNegation})
        for (int byte = 0; byte < 4; ++byte) order[i++] = wire::reg::IoByte(base, byte);
    return order;
}();

constexpr std::array<uint8_t, 8> PulseRegisters = {wire::reg::PulseLow(0), wire::reg::PulseHigh(0),
                                                   wire::reg::PulseLow(1), wire::reg::PulseHigh(1),
                                                   wire::reg::PulseLow(2), wire::reg::PulseHigh(2),
                                                   wire::reg::PulseLow(3), wire::reg::PulseHigh(3)};

// The byte of TKonfigurace an I/O register holds.
template <typename Settings>
auto& IoByte(Settings& s, uint8_t r) {
    const int byte = (r - wire::reg::InitialOutputs) / 3;
    switch ((r - wire::reg::InitialOutputs) % 3) {
        case 0: return s.PocatecniDOUT[byte];
        case 1: return s.NegaceDIN[byte];
        default: return s.NegaceDOUT[byte];
    }
}

}  // namespace

std::span<const uint8_t> Registers(Block block) {
    switch (block) {
        case Block::AddressAndBaud: return AddressRegisters;
        case Block::InputsOutputs: return IoRegisters;
        case Block::PulseNumbers: return PulseRegisters;
    }
    return {};
}

Block BlockOf(uint8_t r) {
    if (r <= wire::reg::PulseNumbersLast) return Block::PulseNumbers;
    if (r >= wire::reg::InitialOutputs && r <= wire::reg::IoLast) return Block::InputsOutputs;
    return Block::AddressAndBaud;
}

uint8_t StoredByte(const TKonfigurace& s, uint8_t r) {
    switch (BlockOf(r)) {
        case Block::PulseNumbers: {
            const uint16_t number = s.ImpulsniCislo[r / 2];
            return static_cast<uint8_t>(r % 2 == 0 ? number % 256 : number / 256);
        }
        case Block::InputsOutputs: return IoByte(s, r);
        case Block::AddressAndBaud: return r == wire::reg::Address ? s.UlozenaAdresa : s.UlozenaRychlost;
    }
    return 0;
}

void StoreByte(TKonfigurace& s, uint8_t r, uint8_t value) {
    switch (BlockOf(r)) {
        case Block::PulseNumbers: {
            uint16_t& number = s.ImpulsniCislo[r / 2];
            number = r % 2 == 0 ? value : static_cast<uint16_t>(number % 256 + value * 256);
            break;
        }
        case Block::InputsOutputs: IoByte(s, r) = value; break;
        case Block::AddressAndBaud: (r == wire::reg::Address ? s.UlozenaAdresa : s.UlozenaRychlost) = value; break;
    }
}

WriteStyle StyleOf(Block block) {
    if (block == Block::PulseNumbers) return {ReadBack::Echo, true};
    return {ReadBack::Plain, false};
}

SequenceResult ReadBlock(const Module& module, Block block, TKonfigurace& settings, const Pacing& pacing) {
    const auto registers = Registers(block);
    const int total = static_cast<int>(registers.size());
    SequenceResult result;
    for (const uint8_t r : registers) {
        if (result.done > 0 && !pacing.pause()) return {.stopped = true, .done = result.done};
        const auto value = module.ReadRegister(r);
        if (!value.ok()) return {.error = value.error, .done = result.done};
        StoreByte(settings, r, value.value);
        pacing.step(++result.done, total);
    }
    return result;
}

SequenceResult WriteRegisters(const Module& module, std::span<const uint8_t> registers,
                              const TKonfigurace& settings, const Pacing& pacing, const RegisterWrite& write) {
    const int total = static_cast<int>(registers.size());
    SequenceResult result;
    for (const uint8_t r : registers) {
        const WriteStyle style = StyleOf(BlockOf(r));
        if ((result.done > 0 || style.pauseBeforeWrite) && !pacing.pause())
            return {.stopped = true, .done = result.done};
        const auto settle = [&] {
            if (style.readBack == ReadBack::Plain) pacing.settle();
        };
        const uint8_t value = StoredByte(settings, r);
        const WriteCheck check = write ? write(module, r, value) : module.WriteVerified(r, value, style.readBack, settle);
        if (!check.ok()) return {.error = check.error, .mismatch = check.mismatch, .done = result.done};
        pacing.step(++result.done, total);
    }
    return result;
}

SequenceResult WriteBlock(const Module& module, Block block, const TKonfigurace& settings, const Pacing& pacing,
                          const RegisterWrite& write) {
    return WriteRegisters(module, Registers(block), settings, pacing, write);
}

}  // namespace kv618
