// The settings the module stores, by block, and the sequences that read and
// write a block register by register into and out of TKonfigurace.
#pragma once

#include "Dekl.h"
#include "Module.h"

#include <cstdint>
#include <functional>
#include <span>

namespace kv618 {

enum class Block {
    AddressAndBaud,  // bus address, baud-rate index
    InputsOutputs,   // initial output states, input negation, output negation
    PulseNumbers,    // of the four counters
};
inline constexpr std::array<Block, 3> Blocks = {Block::AddressAndBaud, Block::InputsOutputs, Block::PulseNumbers};

// The block's registers in the order they are read and written.
std::span<const uint8_t> Registers(Block block);
Block BlockOf(uint8_t reg);

// A register's byte in the program's copy of the settings, and back.  A
// pulse number is read low byte first: storing its low byte starts the
// number afresh (high byte 0), storing its high byte completes it.
uint8_t StoredByte(const TKonfigurace& settings, uint8_t reg);
void StoreByte(TKonfigurace& settings, uint8_t reg, uint8_t value);

// How a block is written.  The counter extension's registers are read back
// with the value just written and paused before each write; the others are
// read back plainly after a pause between the write and the read-back.
struct WriteStyle {
    ReadBack readBack;
    bool pauseBeforeWrite;
};
WriteStyle StyleOf(Block block);

// What a sequence does between its exchanges.
struct Pacing {
    // After each register: how many are done, of how many.
    std::function<void(int done, int total)> step = [](int, int) {};
    // Between two registers; false stops the sequence there.
    std::function<bool()> pause = [] { return true; };
    // Between a write and its read-back: a write is always read back.
    std::function<void()> settle = [] {};
};

struct SequenceResult {
    int32_t error = 0;      // of the exchange that stopped the sequence
    bool mismatch = false;  // a read-back differed from the byte written
    bool stopped = false;   // Pacing::pause asked to stop
    int done = 0;           // registers read, or written and verified
    bool ok() const { return error == 0 && !mismatch && !stopped; }
};

// Reads the block into `settings`, each byte as soon as it comes; on a
// failure the bytes read before it stay.
SequenceResult ReadBlock(const Module& module, Block block, TKonfigurace& settings, const Pacing& pacing = {});
// Writes one register and reads it back.  Empty: Module::WriteVerified in
// the style of the register's block; the counter window brings its own
// (its designed ZapisBajt, on the connection worker).
using RegisterWrite = std::function<WriteCheck(const Module& module, uint8_t reg, uint8_t value)>;

// Writes the block from `settings`, each byte checked by reading it back;
// a failure leaves the registers before it written.
SequenceResult WriteBlock(const Module& module, Block block, const TKonfigurace& settings,
                          const Pacing& pacing = {}, const RegisterWrite& write = {});
// Writes the given registers (each of the block its style comes from).
SequenceResult WriteRegisters(const Module& module, std::span<const uint8_t> registers,
                              const TKonfigurace& settings, const Pacing& pacing = {},
                              const RegisterWrite& write = {});

}  // namespace kv618
