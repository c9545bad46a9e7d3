#include "SettingsFile.h"

#include "Commands.h"
#include "Format.h"
#include "Ini.h"
#include "Messages.h"
#include "StoredSettings.h"
#include "Times.h"

#include <map>

namespace cli::settings {

namespace {

constexpr const char* FormatLine = "kv618-settings 1";

std::vector<uint8_t> IoRegisters(uint8_t base) {
    std::vector<uint8_t> registers;
    for (int byte = 0; byte < 4; ++byte) registers.push_back(kv618::reg::IoByte(base, byte));
    return registers;
}

std::vector<Setting> MakeAll() {
    using namespace kv618;
    std::vector<Setting> all = {
        {"address", N_("Module address"), Kind::Address, {reg::Address}},
        {"baud", N_("Baud rate"), Kind::Rate, {reg::BaudIndex}},
        {"initial-outputs", N_("Initial state of DOUT"), Kind::Bits, IoRegisters(reg::InitialOutputs)},
        {"input-negation", N_("DIN negation"), Kind::Bits, IoRegisters(reg::InputNegation)},
        {"output-negation", N_("DOUT negation"), Kind::Bits, IoRegisters(reg::OutputNegation)},
    };
    static const char* const keys[CounterCount] = {"pulse-number.0", "pulse-number.1", "pulse-number.2",
                                                   "pulse-number.3"};
    static const char* const labels[CounterCount] = {N_("Pulse number, counter 0"), N_("Pulse number, counter 1"),
                                                     N_("Pulse number, counter 2"), N_("Pulse number, counter 3")};
    for (int counter = 0; counter < CounterCount; ++counter)
        all.push_back({keys[counter], labels[counter], Kind::Pulses, {reg::PulseLow(counter), reg::PulseHigh(counter)}});
    return all;
}

// The value of a setting's text, or why it is none; the texts of the
// program's windows where they have one.
kv618::Outcome<uint32_t> ValueOfText(const Setting& setting, const std::string& text) {
    uint64_t n = 0;
    switch (setting.kind) {
        case Kind::Address:
            if (const auto address = kv618::ParseAddress(text, files::Given)) return uint32_t{*address};
            return kv618::Failed{kv618::AddressRefusal()};
        case Kind::Rate:
            if (const auto rate = kv618::ParseRate(text, files::Given)) return uint32_t{*kv618::BaudIndexOf(*rate)};
            return kv618::Failed{kv618::RateRefusal()};
        case Kind::Bits:
            if (ParseUnsigned(text, UINT32_MAX, n)) return static_cast<uint32_t>(n);
            return kv618::Failed{i18n::Fill(_("%s must be a 32-bit number, e.g. 0x0000FFFF."), _(setting.label))};
        case Kind::Pulses:
            if (ParseUnsigned(text, 1000, n) && n >= 1) return static_cast<uint32_t>(n);
            return kv618::Failed{_("The pulse number must be within 1-1000.")};
    }
    return kv618::Failed{"?"};
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
kv618::Outcome<Lines> KeyLines(std::string_view bytes) {
    const files::IniText text(bytes);
    Lines lines;
    lines.count = text.LineCount();
    for (const files::IniLine& line : text.Lines()) {
        if (line.kind == files::IniLine::Blank || line.kind == files::IniLine::Comment) continue;
        if (line.kind != files::IniLine::Entry) return kv618::Failed{_("key = value expected"), line.number};
        lines.lines.push_back({line.number, std::string(line.key), std::string(line.value)});
    }
    if (lines.lines.empty()) return kv618::Failed{_("the file holds no settings"), std::max(lines.count, 1)};
    return lines;
}

}  // namespace

const std::vector<Setting>& All() {
    static const std::vector<Setting> all = MakeAll();
    return all;
}

const Setting& AddressSetting() { return All().front(); }

uint32_t ValueOf(const Setting& setting, const TKonfigurace& settings) {
    uint32_t value = 0;
    for (size_t i = 0; i < setting.registers.size(); ++i)
        value |= static_cast<uint32_t>(kv618::StoredByte(settings, setting.registers[i])) << (8 * i);
    return value;
}

void Put(const Setting& setting, uint32_t value, TKonfigurace& settings) {
    // Low byte first: a pulse number's low byte starts it afresh.
    for (size_t i = 0; i < setting.registers.size(); ++i)
        kv618::StoreByte(settings, setting.registers[i], static_cast<uint8_t>(value >> (8 * i)));
}

std::string ValueText(const Setting& setting, uint32_t value) {
    switch (setting.kind) {
        case Kind::Rate:
            // An index the module should not hold is kept visible, and refused on loading.
            return value < kv618::BaudRates.size() ? std::to_string(kv618::BaudRates[value])
                                                   : "index " + std::to_string(value);
        case Kind::Bits: return Hex32(value);
        case Kind::Address:
        case Kind::Pulses: return std::to_string(value);
    }
    return {};
}

kv618::Outcome<SavedFile> Parse(std::string_view text) {
    const auto lines = KeyLines(text);
    if (!lines.ok()) return lines.failure();
    const auto& all = lines->lines;
    if (all.front().key != "format" || all.front().value != FormatLine)
        return kv618::Failed{i18n::Fill(_("the file does not begin with the line \"format = %s\""), FormatLine), all.front().number};

    SavedFile file;
    file.settings = VychoziKonfigurace();
    std::map<std::string, int> seen;
    for (const Line& line : all) {
        if (const auto earlier = seen.find(line.key); earlier != seen.end())
            return kv618::Failed{i18n::Fill(_("key %s already stands on line %s"), line.key, earlier->second), line.number};
        seen[line.key] = line.number;
        if (line.key == "format") continue;
        if (line.key == "module" || line.key == "version" || line.key == "saved") {
            if (line.value.empty()) return kv618::Failed{i18n::Fill(_("key %s has no value"), line.key), line.number};
            if (line.key == "module") file.module = line.value, file.moduleLine = line.number;
            else (line.key == "version" ? file.version : file.saved) = line.value;
            continue;
        }
        const Setting* setting = nullptr;
        for (const Setting& s : settings::All())
            if (line.key == s.key) setting = &s;
        if (!setting) return kv618::Failed{i18n::Fill(_("unknown key %s"), line.key), line.number};
        const auto value = ValueOfText(*setting, line.value);
        if (!value.ok()) return kv618::Failed{value.message(), line.number};
        Put(*setting, value.value(), file.settings);
    }
    std::vector<std::string> required = {"module", "version", "saved"};
    for (const Setting& s : settings::All()) required.push_back(s.key);
    for (const std::string& key : required)
        if (!seen.count(key)) return kv618::Failed{i18n::Fill(_("the file ends, but key %s is missing from it"), key), lines->count};
    return file;
}

std::string Compose(const kv618::Identification& identity, const TKonfigurace& settings,
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

}  // namespace cli::settings
