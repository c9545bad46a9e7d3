// The module's stored settings by name, and the plain text file that keeps
// them (docs/settings-file.md): what `config` shows, saves, compares and
// writes.
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "Outcome.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli::settings {

enum class Kind {
    Address,  // 0-255
    Rate,     // the register holds the index of a rate; the file the rate in Bd
    Bits,     // 32 bits, channel n = bit n
    Pulses,   // a counter's pulse number, 1-1000
};

struct Setting {
    const char* key;    // in the file
    const char* label;  // for the operator, in English: _(label) translates it
    Kind kind;
    std::vector<uint8_t> registers;  // least significant byte first
};

// In the order of the file.
const std::vector<Setting>& All();
const Setting& AddressSetting();

uint32_t ValueOf(const Setting& setting, const TKonfigurace& settings);
void Put(const Setting& setting, uint32_t value, TKonfigurace& settings);
// As the file writes it: 9600, 0x0000FFFF, 1000.
std::string ValueText(const Setting& setting, uint32_t value);

struct SavedFile {
    std::string module;   // the module's name, without its trailing blanks
    std::string version;
    std::string saved;
    int moduleLine = 0;   // where the name stands, for a refusal
    TKonfigurace settings{};
};

// The file's settings, or the first fault with its line.  UTF-8 (with or
// without a byte-order mark) or Windows-1250.
kv618::Outcome<SavedFile> Parse(std::string_view text);

std::string Compose(const kv618::Identification& identity, const TKonfigurace& settings,
                    std::chrono::system_clock::time_point when);

}  // namespace cli::settings
