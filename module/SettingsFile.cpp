#include "SettingsFile.h"

#include "Commands.h"
#include "Ini.h"
#include "Numbers.h"
#include "Ranges.h"
#include "StoredSettings.h"
#include "Times.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace kv618::settings {

namespace {

FileFault Fault(FileFault::Kind kind, int line, std::string key = {}, int earlier = 0, const Setting* setting = nullptr) {
    return FileFault{kind, line, std::move(key), earlier, setting};
}

std::vector<uint8_t> IoRegisters(uint8_t base) {
    std::vector<uint8_t> registers;
    for (int byte = 0; byte < 4; ++byte) registers.push_back(wire::reg::IoByte(base, byte));
    return registers;
}

std::vector<Setting> MakeAll() {
    std::vector<Setting> all = {
        {"address", "Module address", Kind::Address, {wire::reg::Address}},
        {"baud", "Baud rate", Kind::Rate, {wire::reg::BaudIndex}},
        {"initial-outputs", "Initial state of DOUT", Kind::Bits, IoRegisters(wire::reg::InitialOutputs)},
        {"input-negation", "DIN negation", Kind::Bits, IoRegisters(wire::reg::InputNegation)},
        {"output-negation", "DOUT negation", Kind::Bits, IoRegisters(wire::reg::OutputNegation)},
    };
    static const char* const keys[wire::CounterCount] = {"pulse-number.0", "pulse-number.1", "pulse-number.2",
                                                         "pulse-number.3"};
    static const char* const labels[wire::CounterCount] = {"Pulse number, counter 0", "Pulse number, counter 1",
                                                           "Pulse number, counter 2", "Pulse number, counter 3"};
    for (int counter = 0; counter < wire::CounterCount; ++counter)
        all.push_back({keys[counter], labels[counter], Kind::Pulses,
                       {wire::reg::PulseLow(counter), wire::reg::PulseHigh(counter)}});
    return all;
}

// The value of a setting's text, when it is within the setting's range (the
// range of the program's window for it).
std::optional<uint32_t> ValueOfText(const Setting& setting, std::string_view text) {
    switch (setting.kind) {
        case Kind::Address:
            if (const auto address = ParseAddress(text, files::Given)) return uint32_t{*address};
            break;
        case Kind::Rate:
            if (const auto rate = ParseRate(text, files::Given)) return uint32_t{*wire::BaudIndexOf(*rate)};
            break;
        case Kind::Bits:
            if (const auto n = files::ParseCount(text, UINT32_MAX, files::Given)) return static_cast<uint32_t>(*n);
            break;
        case Kind::Pulses:
            if (const auto n = files::ParseNumber(text, 1, 1000, files::Given)) return static_cast<uint32_t>(*n);
            break;
    }
    return std::nullopt;
}

struct Line {
    int number;
    std::string key, value;
};

struct Lines {
    std::vector<Line> lines;
    int count = 0;  // of the file, comments included
};

// Every `key = value` line with its number; comments and blank lines go.
std::optional<FileFault> KeyLines(std::string_view bytes, Lines& lines) {
    const files::IniText text(bytes);
    lines.count = text.LineCount();
    for (const files::IniLine& line : text.Lines()) {
        if (line.kind == files::IniLine::Blank || line.kind == files::IniLine::Comment) continue;
        if (line.kind != files::IniLine::Entry) return Fault(FileFault::NoEntry, line.number);
        lines.lines.push_back({line.number, std::string(line.key), std::string(line.value)});
    }
    if (lines.lines.empty()) return Fault(FileFault::Empty, std::max(lines.count, 1));
    return std::nullopt;
}

const Setting* SettingOf(std::string_view key) {
    for (const Setting& s : All())
        if (key == s.key) return &s;
    return nullptr;
}

std::optional<FileFault> ReadLines(const Lines& lines, SavedFile& file) {
    std::map<std::string, int> seen;
    for (const Line& line : lines.lines) {
        if (const auto earlier = seen.find(line.key); earlier != seen.end())
            return Fault(FileFault::Repeated, line.number, line.key, earlier->second);
        seen[line.key] = line.number;
        if (line.key == "format") continue;
        if (line.key == "module" || line.key == "version" || line.key == "saved") {
            if (line.value.empty()) return Fault(FileFault::NoValue, line.number, line.key);
            if (line.key == "module") file.module = line.value, file.moduleLine = line.number;
            else (line.key == "version" ? file.version : file.saved) = line.value;
            continue;
        }
        const Setting* setting = SettingOf(line.key);
        if (!setting) return Fault(FileFault::UnknownKey, line.number, line.key);
        const auto value = ValueOfText(*setting, line.value);
        if (!value) return Fault(FileFault::BadValue, line.number, line.key, 0, setting);
        Put(*setting, *value, file.settings);
    }
    std::vector<std::string> required = {"module", "version", "saved"};
    for (const Setting& s : All()) required.push_back(s.key);
    for (const std::string& key : required)
        if (!seen.count(key)) return Fault(FileFault::Missing, lines.count, key);
    return std::nullopt;
}

std::string Trimmed(std::string_view text) { return std::string(files::Trim(text)); }

}  // namespace

const std::vector<Setting>& All() {
    static const std::vector<Setting> all = MakeAll();
    return all;
}

const Setting& AddressSetting() { return All().front(); }

bool IsLink(const Setting& s) { return s.kind == Kind::Address || s.kind == Kind::Rate; }

uint32_t ValueOf(const Setting& setting, const TKonfigurace& settings) {
    uint32_t value = 0;
    for (size_t i = 0; i < setting.registers.size(); ++i)
        value |= static_cast<uint32_t>(StoredByte(settings, setting.registers[i])) << (8 * i);
    return value;
}

void Put(const Setting& setting, uint32_t value, TKonfigurace& settings) {
    // Low byte first: a pulse number's low byte starts it afresh.
    for (size_t i = 0; i < setting.registers.size(); ++i)
        StoreByte(settings, setting.registers[i], static_cast<uint8_t>(value >> (8 * i)));
}

std::string ValueText(const Setting& setting, uint32_t value) {
    switch (setting.kind) {
        case Kind::Rate:
            // An index the module should not hold is kept visible, and refused on loading.
            return value < wire::BaudRates.size() ? std::to_string(wire::BaudRates[value])
                                                  : "index " + std::to_string(value);
        case Kind::Bits: return files::Hex32(value);
        case Kind::Address:
        case Kind::Pulses: return std::to_string(value);
    }
    return {};
}

Parsed Parse(std::string_view text) {
    Parsed parsed;
    Lines lines;
    if ((parsed.fault = KeyLines(text, lines))) return parsed;
    const Line& first = lines.lines.front();
    if (first.key != "format" || first.value != FormatLine) {
        parsed.fault = Fault(FileFault::NoFormatLine, first.number);
        return parsed;
    }
    parsed.file.settings = VychoziKonfigurace();
    parsed.fault = ReadLines(lines, parsed.file);
    return parsed;
}

std::string Compose(const Identification& identity, const TKonfigurace& settings,
                    std::chrono::system_clock::time_point when) {
    std::string text =
        "# Nastavení uložená v modulu (kv618 config save); popis v docs/settings-file.md.\n"
        "# Lze upravit; kv618 config load zapíše jen to, co se v modulu liší.\n"
        "# Bity vstupů a výstupů: DIN0/DOUT0 = bit 0 ... DIN31/DOUT31 = bit 31.\n";
    text += std::string("format = ") + FormatLine + "\n";
    text += "module = " + Trimmed(identity.Name()) + "\n";
    text += "version = " + Trimmed(identity.Version()) + "\n";
    text += "saved = " + i18n::IsoTime(when, false) + "\n\n";
    for (const Setting& s : All()) text += std::string(s.key) + " = " + ValueText(s, ValueOf(s, settings)) + "\n";
    return text;
}

std::string RegisterList(const std::vector<uint8_t>& registers, size_t from, size_t to) {
    std::string list;
    char text[8];
    for (size_t i = from; i < std::min(to, registers.size()); ++i) {
        std::snprintf(text, sizeof text, "0x%02X", registers[i]);
        list += (list.empty() ? "" : ", ") + std::string(text);
    }
    return list;
}

bool SameKind(const SavedFile& file, const Identification& identity) { return file.module == Trimmed(identity.Name()); }

bool SameVersion(const SavedFile& file, const Identification& identity) {
    return file.version == Trimmed(identity.Version());
}

}  // namespace kv618::settings
