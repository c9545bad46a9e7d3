#include "SettingsWrite.h"

#include "Interrupt.h"
#include "Messages.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace cli::settings {

bool IsLink(const Setting& s) { return s.kind == Kind::Address || s.kind == Kind::Rate; }

uint8_t ReadAll(const kv618::Module& module, TKonfigurace& held) {
    for (const kv618::Block block : kv618::Blocks) {
        const auto read = kv618::ReadBlock(module, block, held);
        if (read.error) return read.error;
    }
    return 0;
}

std::vector<uint8_t> RegistersToWrite(const TKonfigurace& wanted, const TKonfigurace& held, bool withLink) {
    std::vector<uint8_t> registers;
    for (const kv618::Block block :
         {kv618::Block::InputsOutputs, kv618::Block::PulseNumbers, kv618::Block::AddressAndBaud}) {
        if (block == kv618::Block::AddressAndBaud && !withLink) continue;
        for (const uint8_t r : kv618::Registers(block)) {
            if (kv618::StoredByte(wanted, r) != kv618::StoredByte(held, r)) registers.push_back(r);
        }
    }
    return registers;
}

kv618::SequenceResult WriteVerified(const kv618::Module& module, const std::vector<uint8_t>& registers,
                                    const TKonfigurace& wanted, Stop& stop, const std::function<void()>& finishing) {
    int done = 0;
    bool announced = false;
    kv618::Pacing pacing;
    pacing.step = [&](int finished, int) { done = finished; };
    pacing.pause = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int signals = interrupt::Count();
        if (signals == 0) return true;
        if (signals >= 2) {
            stop = Stop::AtOnce;
            return false;
        }
        const bool sameBlock = done > 0 && done < static_cast<int>(registers.size()) &&
                               kv618::BlockOf(registers[done]) == kv618::BlockOf(registers[done - 1]);
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
    return kv618::WriteRegisters(module, registers, wanted, pacing);
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

std::vector<SettingWrite> WhatWasWritten(const std::vector<uint8_t>& registers, const kv618::SequenceResult& result) {
    std::vector<SettingWrite> writes;
    for (const Setting& s : All()) {
        SettingWrite write{&s, std::vector<ByteState>(s.registers.size(), ByteState::NotAsked)};
        bool touched = false;
        for (size_t byte = 0; byte < s.registers.size(); ++byte) {
            const auto at = std::find(registers.begin(), registers.end(), s.registers[byte]) - registers.begin();
            if (at == static_cast<long>(registers.size())) continue;
            touched = true;
            write.bytes[byte] = at < result.done                         ? ByteState::Written
                                : at == result.done && !result.ok() && !result.stopped ? ByteState::Uncertain
                                                                                       : ByteState::Left;
        }
        if (touched) writes.push_back(std::move(write));
    }
    return writes;
}

}  // namespace cli::settings

namespace cli::settings {

namespace {

// "byte 2 written", "bytes 0, 1 written"
std::string ByteList(const std::vector<size_t>& bytes, const char* one, const char* more) {
    std::string list;
    for (size_t i = 0; i < bytes.size(); ++i) list += (i ? ", " : "") + std::to_string(bytes[i]);
    return i18n::Fill(bytes.size() == 1 ? one : more, list);
}

}  // namespace

std::string StateText(const SettingWrite& w, bool mismatch) {
    const std::vector<size_t> written = w.In(ByteState::Written), uncertain = w.In(ByteState::Uncertain),
                              left = w.In(ByteState::Left);
    if (uncertain.empty() && left.empty()) return _("written and verified");
    if (uncertain.empty() && written.empty()) return _("not written");
    if (w.setting->registers.size() == 1)
        return mismatch ? _("another value read back after the write") : _("uncertain (the write or its check failed)");
    std::vector<std::string> parts;
    if (!written.empty())
        parts.push_back(ByteList(written, _("byte %s written and verified"), _("bytes %s written and verified")));
    if (!uncertain.empty())
        parts.push_back(i18n::Fill(mismatch ? _("byte %s read back otherwise after the write")
                                            : _("byte %s is uncertain (the write or its check failed)"),
                                   uncertain.front()));
    if (!left.empty()) parts.push_back(ByteList(left, _("byte %s not written"), _("bytes %s not written")));
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

}  // namespace cli::settings
