// Reading every stored setting of a module and writing the ones that differ
// from a file's, each write read back: what kv618's `config load` and
// `plant apply` and the program's backup window share, so that all keep the
// same order of writes and the same rule for stopping.
#pragma once

#include "Module.h"
#include "SettingsFile.h"
#include "StoredSettings.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kv618::settings {

// Reads the three blocks into `held`; 0 or the code of the exchange that failed.
int32_t ReadAll(const Module& module, TKonfigurace& held);

// A setting whose value differs between what is wanted and what is held.
struct Difference {
    const Setting* setting = nullptr;
    uint32_t wanted = 0, held = 0;
};
// Every setting that differs, in the order of the file.
std::vector<Difference> Differences(const TKonfigurace& wanted, const TKonfigurace& held);

// The registers whose bytes differ, in the order that changes how the module
// is reached last: inputs and outputs, pulse numbers, then (with `withLink`)
// baud rate and address.
std::vector<uint8_t> RegistersToWrite(const TKonfigurace& wanted, const TKonfigurace& held, bool withLink);

// Where a request to stop stopped a write, if it did.
enum class Stop { None, AfterBlock, AtOnce };

// How many times the write has been asked to stop so far (kv618: Ctrl-C).
using StopRequests = std::function<int()>;

// Writes the registers, each read back, with the program's windows' pacing
// (1 ms between exchanges).  The first request to stop lets the block being
// written finish, each register with its read-back, so the module never
// keeps half a block (`finishing` is called once when that happens); a
// second one stops before the next register.  Without requests (the
// program's window: a write begun is finished) it writes them all.  Safe on
// several threads at once, each with its own module.
SequenceResult WriteVerified(const Module& module, const std::vector<uint8_t>& registers,
                             const TKonfigurace& wanted, Stop& stop, const StopRequests& requests = {},
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
std::vector<SettingWrite> WhatWasWritten(const std::vector<uint8_t>& registers, const SequenceResult& result);

}  // namespace kv618::settings
