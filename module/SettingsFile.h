// The module's stored settings by name, and the plain text file that keeps
// them (docs/settings-file.md): what kv618's `config` and the program's
// backup window show, save, compare and write.  No texts for the operator
// here: a fault in a file comes as its kind with its values, and each face
// words it in its own language.
#pragma once

#include "Dekl.h"
#include "Module.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv618::settings {

enum class Kind {
    Address,  // 0-255
    Rate,     // the register holds the index of a rate; the file the rate in Bd
    Bits,     // 32 bits, channel n = bit n
    Pulses,   // a counter's pulse number, 1-1000
};

struct Setting {
    const char* key;    // in the file
    const char* label;  // kv618's name for it, in English (its catalogue translates it)
    Kind kind;
    std::vector<uint8_t> registers;  // least significant byte first
};

// In the order of the file.
const std::vector<Setting>& All();
const Setting& AddressSetting();
// The address and the baud rate are the module's own place on its line.
bool IsLink(const Setting& s);

uint32_t ValueOf(const Setting& setting, const TKonfigurace& settings);
void Put(const Setting& setting, uint32_t value, TKonfigurace& settings);
// As the file writes it: 9600, 0x0000FFFF, 1000.
std::string ValueText(const Setting& setting, uint32_t value);
// Registers [from, to) of `registers` as the tools and the windows name
// them: "0x21, 0x22".
std::string RegisterList(const std::vector<uint8_t>& registers, size_t from = 0, size_t to = SIZE_MAX);

// The first line every settings file has: "format = " and this.
inline constexpr const char* FormatLine = "kv618-settings 1";

struct SavedFile {
    std::string module;   // the module's name, without its trailing blanks
    std::string version;
    std::string saved;
    int moduleLine = 0;   // where the name stands, for a refusal
    TKonfigurace settings{};
};

// Why a file is refused, and where.
struct FileFault {
    enum Kind {
        NoEntry,       // a line that is no `key = value`
        Empty,         // no entry at all
        NoFormatLine,  // the first entry is not `format = kv618-settings 1`
        Repeated,      // `key` stands a second time (first on `earlierLine`)
        NoValue,       // `key` (module, version, saved) without a value
        UnknownKey,    // `key`
        BadValue,      // `setting`'s value is out of its range
        Missing,       // the file ends without `key`
    } kind = NoEntry;
    int line = 0;
    std::string key;
    int earlierLine = 0;
    const Setting* setting = nullptr;
};

struct Parsed {
    SavedFile file;
    std::optional<FileFault> fault;
    bool ok() const { return !fault; }
};

// The file's settings, or its first fault.  UTF-8 (with or without a
// byte-order mark) or Windows-1250.
Parsed Parse(std::string_view text);

std::string Compose(const Identification& identity, const TKonfigurace& settings,
                    std::chrono::system_clock::time_point when);

// The file was saved from a module of the identified module's kind (its
// name), and of its version.
bool SameKind(const SavedFile& file, const Identification& identity);
bool SameVersion(const SavedFile& file, const Identification& identity);

}  // namespace kv618::settings
