// Reading every stored setting of a module and writing the ones that differ,
// each write read back: what `config load` and `plant apply` share, so both
// keep the same order of writes and the same rule for Ctrl-C.
#pragma once

#include "Module.h"
#include "SettingsFile.h"
#include "StoredSettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cli::settings {

// The address and the baud rate are the module's own place on its line.
bool IsLink(const Setting& s);

// Reads the three blocks into `held`; 0 or the code of the exchange that failed.
uint8_t ReadAll(const kv618::Module& module, TKonfigurace& held);

// The registers whose bytes differ, in the order that changes how the module
// is reached last: inputs and outputs, pulse numbers, then (with `withLink`)
// baud rate and address.
std::vector<uint8_t> RegistersToWrite(const TKonfigurace& wanted, const TKonfigurace& held, bool withLink);

// Where Ctrl-C stopped a write, if it did.
enum class Stop { None, AfterBlock, AtOnce };

// Writes the registers, each read back, with the program's windows' pacing
// (1 ms between exchanges).  The first Ctrl-C lets the block being written
// finish, each register with its read-back, so the module never keeps half a
// block (`finishing` is called once when that happens); a second one stops
// before the next register.  Safe on several threads at once, each with its
// own module.
kv618::SequenceResult WriteVerified(const kv618::Module& module, const std::vector<uint8_t>& registers,
                                    const TKonfigurace& wanted, Stop& stop,
                                    const std::function<void()>& finishing = [] {});

// What became of each byte of a setting when a write ended.
enum class ByteState { NotAsked, Written, Uncertain, Left };

struct SettingWrite {
    const Setting* setting = nullptr;
    std::vector<ByteState> bytes;  // least significant first

    bool Only(ByteState state) const;  // every byte that was asked for
    // The bytes (0 = least significant) in that state.
    std::vector<size_t> In(ByteState state) const;
    // Some bytes written and verified, the others not written: a write
    // stopped between two of its registers.
    bool HalfWritten() const;
};

// For every setting the registers touch: each byte written and verified,
// uncertain (the write or its read-back failed), or not written.
std::vector<SettingWrite> WhatWasWritten(const std::vector<uint8_t>& registers, const kv618::SequenceResult& result);

// What became of a setting, byte by byte, in the operator's words: "bytes 0,
// 1 written and verified; bytes 2, 3 not written".  `mismatch`: the
// uncertain byte read back otherwise.  Said alike by config load and plant
// apply.
std::string StateText(const SettingWrite& write, bool mismatch);

}  // namespace cli::settings
