#include "SettingsFile.h"

#include "Commands.h"
#include "Format.h"
#include "StoredSettings.h"

#include <map>
#include <variant>

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
        {"address", "Adresa modulu", Kind::Address, {reg::Address}},
        {"baud", "Komunikační rychlost", Kind::Rate, {reg::BaudIndex}},
        {"initial-outputs", "Počáteční stav DOUT", Kind::Bits, IoRegisters(reg::InitialOutputs)},
        {"input-negation", "Negace DIN", Kind::Bits, IoRegisters(reg::InputNegation)},
        {"output-negation", "Negace DOUT", Kind::Bits, IoRegisters(reg::OutputNegation)},
    };
    static const char* const keys[CounterCount] = {"pulse-number.0", "pulse-number.1", "pulse-number.2",
                                                   "pulse-number.3"};
    static const char* const labels[CounterCount] = {"Impulsní číslo, čítač 0", "Impulsní číslo, čítač 1",
                                                     "Impulsní číslo, čítač 2", "Impulsní číslo, čítač 3"};
    for (int counter = 0; counter < CounterCount; ++counter)
        all.push_back({keys[counter], labels[counter], Kind::Pulses, {reg::PulseLow(counter), reg::PulseHigh(counter)}});
    return all;
}

// The value of a setting's text, or why it is none; the texts of the
// program's windows where they have one.
std::optional<uint32_t> ValueOfText(const Setting& setting, const std::string& text, std::string& problem) {
    uint64_t n = 0;
    switch (setting.kind) {
        case Kind::Address:
            if (ParseUnsigned(text, 255, n)) return static_cast<uint32_t>(n);
            problem = "Adresa modulu musí být v rozsahu 0-255.";
            break;
        case Kind::Rate:
            if (ParseUnsigned(text, 115200, n))
                if (const auto index = kv618::BaudIndexOf(static_cast<int32_t>(n))) return *index;
            problem = "Komunikační rychlost musí být jedna z " + RateList() + " Bd.";
            break;
        case Kind::Bits:
            if (ParseUnsigned(text, UINT32_MAX, n)) return static_cast<uint32_t>(n);
            problem = std::string(setting.label) + " musí být 32bitové číslo, např. 0x0000FFFF.";
            break;
        case Kind::Pulses:
            if (ParseUnsigned(text, 1000, n) && n >= 1) return static_cast<uint32_t>(n);
            problem = "Impulsní číslo musí být v rozsahu 1-1000.";
            break;
    }
    return std::nullopt;
}

struct Line {
    int number;
    std::string key, value;
};

Parsed Fault(int line, std::string problem) { return {std::nullopt, line, std::move(problem)}; }

struct Lines {
    std::vector<Line> lines;
    int count = 0;  // of the file, comments included
};

// Every `key = value` line with its number; comments and blank lines go.
std::variant<Lines, Parsed> KeyLines(std::string_view text) {
    std::vector<Line> lines;
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) return Fault(number, "očekává se klíč = hodnota");
        lines.push_back({number, Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1))});
    }
    if (lines.empty()) return Fault(std::max(number, 1), "soubor neobsahuje žádná nastavení");
    return Lines{std::move(lines), number};
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

Parsed Parse(std::string_view text) {
    const auto lines = KeyLines(text);
    if (const auto* fault = std::get_if<Parsed>(&lines)) return *fault;
    const auto& all = std::get<Lines>(lines).lines;
    if (all.front().key != "format" || all.front().value != FormatLine)
        return Fault(all.front().number, std::string("soubor nezačíná řádkem \"format = ") + FormatLine + "\"");

    SavedFile file;
    file.settings = VychoziKonfigurace();
    std::map<std::string, int> seen;
    for (const Line& line : all) {
        if (const auto earlier = seen.find(line.key); earlier != seen.end())
            return Fault(line.number, "klíč " + line.key + " už stojí na řádku " + std::to_string(earlier->second));
        seen[line.key] = line.number;
        if (line.key == "format") continue;
        if (line.key == "module" || line.key == "version" || line.key == "saved") {
            if (line.value.empty()) return Fault(line.number, "klíč " + line.key + " nemá hodnotu");
            if (line.key == "module") file.module = line.value, file.moduleLine = line.number;
            else (line.key == "version" ? file.version : file.saved) = line.value;
            continue;
        }
        const Setting* setting = nullptr;
        for (const Setting& s : settings::All())
            if (line.key == s.key) setting = &s;
        if (!setting) return Fault(line.number, "neznámý klíč " + line.key);
        std::string problem;
        const auto value = ValueOfText(*setting, line.value, problem);
        if (!value) return Fault(line.number, problem);
        Put(*setting, *value, file.settings);
    }
    std::vector<std::string> required = {"module", "version", "saved"};
    for (const Setting& s : settings::All()) required.push_back(s.key);
    for (const std::string& key : required)
        if (!seen.count(key)) return Fault(std::get<Lines>(lines).count, "soubor končí, ale chybí v něm klíč " + key);
    return {file, 0, {}};
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
    text += "saved = " + LocalTime(when) + "\n\n";
    for (const Setting& s : All()) text += std::string(s.key) + " = " + ValueText(s, ValueOf(s, settings)) + "\n";
    return text;
}

}  // namespace cli::settings
