#include "SettingsWrite.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kv618::settings {

int32_t ReadAll(const Module& module, TKonfigurace& held) {
    for (const Block block : Blocks) {
        const auto read = ReadBlock(module, block, held);
        if (read.error) return read.error;
    }
    return 0;
}

std::vector<Difference> Differences(const TKonfigurace& wanted, const TKonfigurace& held) {
    std::vector<Difference> differences;
    for (const Setting& s : All()) {
        const uint32_t w = ValueOf(s, wanted), h = ValueOf(s, held);
        if (w != h) differences.push_back({&s, w, h});
    }
    return differences;
}

std::vector<uint8_t> RegistersToWrite(const TKonfigurace& wanted, const TKonfigurace& held, bool withLink) {
    std::vector<uint8_t> registers;
    for (const Block block : {Block::InputsOutputs, Block::PulseNumbers, Block::AddressAndBaud}) {
        if (block == Block::AddressAndBaud && !withLink) continue;
        for (const uint8_t r : Registers(block)) {
            if (StoredByte(wanted, r) != StoredByte(held, r)) registers.push_back(r);
        }
    }
    return registers;
}

SequenceResult WriteVerified(const Module& module, const std::vector<uint8_t>& registers, const TKonfigurace& wanted,
                             Stop& stop, const StopRequests& requests, const std::function<void()>& finishing) {
    int done = 0;
    bool announced = false;
    Pacing pacing;
    pacing.step = [&](int finished, int) { done = finished; };
    pacing.pause = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int asked = requests ? requests() : 0;
        if (asked == 0) return true;
        if (asked >= 2) {
            stop = Stop::AtOnce;
            return false;
        }
        const bool sameBlock = done > 0 && done < static_cast<int>(registers.size()) &&
                               BlockOf(registers[done]) == BlockOf(registers[done - 1]);
        if (!sameBlock) {
            stop = Stop::AfterBlock;
            return false;
        }
        if (!announced) {
            announced = true;
            finishing();
        }
        return true;
    };
    pacing.settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    return WriteRegisters(module, registers, wanted, pacing);
}

bool SettingWrite::Only(ByteState state) const {
    return std::all_of(bytes.begin(), bytes.end(), [state](ByteState b) { return b == ByteState::NotAsked || b == state; });
}

std::vector<size_t> SettingWrite::In(ByteState state) const {
    std::vector<size_t> in;
    for (size_t byte = 0; byte < bytes.size(); ++byte)
        if (bytes[byte] == state) in.push_back(byte);
    return in;
}

bool SettingWrite::HalfWritten() const {
    return In(ByteState::Uncertain).empty() && !In(ByteState::Written).empty() && !In(ByteState::Left).empty();
}

std::vector<SettingWrite> WhatWasWritten(const std::vector<uint8_t>& registers, const SequenceResult& result) {
    std::vector<SettingWrite> writes;
    for (const Setting& s : All()) {
        SettingWrite write{&s, std::vector<ByteState>(s.registers.size(), ByteState::NotAsked)};
        bool touched = false;
        for (size_t byte = 0; byte < s.registers.size(); ++byte) {
            const auto at = std::find(registers.begin(), registers.end(), s.registers[byte]) - registers.begin();
            if (at == static_cast<long>(registers.size())) continue;
            touched = true;
            write.bytes[byte] = at < result.done                                        ? ByteState::Written
                                : at == result.done && !result.ok() && !result.stopped ? ByteState::Uncertain
                                                                                       : ByteState::Left;
        }
        if (touched) writes.push_back(std::move(write));
    }
    return writes;
}

}  // namespace kv618::settings
