#include "Options.h"

#include <cstdio>
#include <sstream>

#include "Control.h"
#include "FileTexts.h"
#include "Files.h"
#include "Messages.h"
#include "Numbers.h"

namespace emu {

const char* Usage() {
    return _("usage: kv618emu [--address N | --module ADDRESS[:BAUD]... | --bus FILE]\n"
           "                [--udp HOST:PORT | --no-udp] [--allow-nonlocal]\n"
           "                [--pty] [--pty-link PATH] [--cards DIR | --no-cards] [--isa-base HEX]\n"
           "                [--state FILE] [--control PATH] [--line-timing] [--reply-delay MS]\n"
           "                [--do \"CONTROL COMMAND\"]... [--life]\n"
           "e.g. --do \"set inputs 0xFF\" --do \"pulses 0 10\" --do \"fault drop 20\"\n");
}

std::string IsaSocketName(uint16_t base) {
    char name[32];
    std::snprintf(name, sizeof name, "pci726-%03x.sock", base);
    return name;
}

bool ParseBusModule(std::string_view text, BusModule& entry) {
    const size_t colon = text.find(':');
    uint32_t address = 0;
    if (!ParseU32(text.substr(0, colon), address) || address > 255) return false;
    entry.address = static_cast<uint8_t>(address);
    entry.baudIndex = wire::DefaultBaudIndex;
    if (colon == std::string_view::npos) return true;
    uint32_t rate = 0;
    if (!ParseU32(text.substr(colon + 1), rate)) return false;
    const auto index = wire::BaudIndexOf(static_cast<int32_t>(rate));
    if (!index) return false;
    entry.baudIndex = *index;
    return true;
}

std::string StateFileOf(const std::string& stateFile, size_t index) {
    return index == 0 ? stateFile : stateFile + "." + std::to_string(index + 1);
}

namespace {

// A line holds at most 256 modules, one short line each; far more than that
// is no bus file.
constexpr size_t LargestBusFile = 64 * 1024;

// The whole of a regular file of at most LargestBusFile bytes: a FIFO or a
// device is refused without waiting on it or reading it without end.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& why) {
    const files::Failure read = files::Read(path, text, files::Kinds::RegularOnly, LargestBusFile);
    if (read.kind == files::Failure::TooLarge)
        why = i18n::Fill(_("%s: larger than %s KiB"), path, LargestBusFile / 1024);
    else if (read.failed())
        why = path + ": " + i18n::FileReason(read);
    return !read.failed();
}

// A bus file: one module per line, "ADDRESS[:BAUD]"; '#' starts a comment.
bool ReadBusFile(const std::string& path, std::vector<BusModule>& modules, std::string& why) {
    std::string text;
    if (!ReadSmallFile(path, text, why)) return false;
    std::istringstream file(text);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = line.substr(0, line.find('#'));
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        const size_t last = line.find_last_not_of(" \t\r");
        BusModule entry;
        if (!ParseBusModule(std::string_view(line).substr(first, last - first + 1), entry)) {
            why = i18n::Fill(_("%s:%s: not ADDRESS[:BAUD]"), path, number);
            return false;
        }
        modules.push_back(entry);
    }
    if (modules.empty()) why = i18n::Fill(_("%s: names no module"), path);
    return !modules.empty();
}

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    uint32_t value = 0;
    if (!ParseU32(std::string_view(text).substr(colon + 1), value) || value > 65535) return false;
    host = text.substr(0, colon);
    if (host == "localhost") host = "127.0.0.1";
    port = static_cast<uint16_t>(value);
    return true;
}

bool ParseHex(const std::string& text, uint16_t& value) {
    const auto n = files::ParseNumber(text, 0, 0xFFF, {.hex = true, .base = 16});
    if (n) value = static_cast<uint16_t>(*n);
    return n.has_value();
}

}  // namespace

std::variant<Options, OptionsError> ParseOptions(const std::vector<std::string>& args) {
    Options o;
    bool addressGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        uint32_t n = 0;
        if (a == "--help" || a == "-h") o.help = true;
        else if (a == "--address") {
            if (!value(v) || !ParseU32(v, n) || n > 255) return OptionsError{_("--address needs 0-255")};
            o.address = static_cast<uint8_t>(n);
            addressGiven = true;
        } else if (a == "--module") {
            BusModule entry;
            if (!value(v) || !ParseBusModule(v, entry))
                return OptionsError{_("--module needs ADDRESS[:BAUD], ADDRESS 0-255 and BAUD a module rate")};
            o.modules.push_back(entry);
        } else if (a == "--bus") {
            std::string why;
            if (!value(v)) return OptionsError{_("--bus needs a file")};
            if (!ReadBusFile(v, o.modules, why)) return OptionsError{"--bus: " + why};
        } else if (a == "--udp") {
            if (!value(v) || !ParseHostPort(v, o.udpHost, o.udpPort)) return OptionsError{_("--udp needs HOST:PORT")};
            o.udp = true;
        } else if (a == "--no-udp") o.udp = false;
        else if (a == "--allow-nonlocal") o.allowNonlocal = true;
        else if (a == "--pty") o.pty = true;
        else if (a == "--pty-link") {
            if (!value(o.ptyLink) || o.ptyLink.empty()) return OptionsError{_("--pty-link needs a path")};
            o.pty = true;
        } else if (a == "--cards") {
            if (!value(o.cardDir) || o.cardDir.empty()) return OptionsError{_("--cards needs a folder")};
            o.cards = true;
        } else if (a == "--no-cards") o.cards = false;
        else if (a == "--isa-base") {
            if (!value(v) || !ParseHex(v, o.isaBase)) return OptionsError{_("--isa-base needs a hexadecimal address")};
        } else if (a == "--state") {
            if (!value(o.stateFile) || o.stateFile.empty()) return OptionsError{_("--state needs a file")};
        } else if (a == "--control") {
            if (!value(o.control) || o.control.empty()) return OptionsError{_("--control needs a path")};
        } else if (a == "--line-timing") o.lineTiming = true;
        else if (a == "--reply-delay") {
            if (!value(v) || !ParseU32(v, n) || n > 600'000) return OptionsError{_("--reply-delay needs milliseconds")};
            o.replyDelayMs = n;
        } else if (a == "--life") {
            o.life = true;
        } else if (a == "--do") {
            if (!value(v) || v.empty()) return OptionsError{_("--do needs a control command")};
            if (const auto parsed = ParseCommand(SplitTarget(v).rest); std::holds_alternative<CommandError>(parsed))
                return OptionsError{"--do \"" + v + "\": " + std::get<CommandError>(parsed).why};
            o.commands.push_back(v);
        } else {
            return OptionsError{i18n::Fill(_("unknown option %s"), a)};
        }
    }
    if (addressGiven && !o.modules.empty()) return OptionsError{_("give --address or --module/--bus, not both")};
    // Two modules at one address would both take every request to it and
    // answer over each other on a real line.
    for (size_t i = 0; i < o.modules.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (o.modules[j].address == o.modules[i].address)
                return OptionsError{i18n::Fill(_("modules %s and %s on the line both have address %s"), j + 1, i + 1,
                                               o.modules[i].address)};
        }
    }
    if (o.modules.empty()) o.modules.push_back({o.address, wire::DefaultBaudIndex});
    return o;
}

}  // namespace emu
