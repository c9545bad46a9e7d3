#include "Config.h"

#include "Commands.h"
#include "Interfaces.h"
#include "FileTexts.h"
#include "Files.h"
#include "Ini.h"
#include "Messages.h"
#include "Numbers.h"
#include "Ranges.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>

namespace kvbridge {

namespace {

using kv618::Interfaces;
using kv618::Parameter;
using kv618::ParameterKind;

constexpr Millis ShortestPoll{10};
constexpr size_t LongestName = 64;
// Each module's session holds three descriptors in libmosquitto, whose loop
// waits with select(): all of them must stay below FD_SETSIZE (1024).
constexpr size_t MostModules = 300;
// A Sparkplug node has one session whatever the number of modules; each line
// holds a descriptor or two, and the session's must still stay below 1024.
constexpr size_t MostSparkplugModules = 4000;
constexpr size_t MostSparkplugLines = 900;

using kv618::Failed;
using kv618::Outcome;
using files::SameName;
using i18n::Fill;

std::string Trim(std::string_view text) { return std::string(files::Trim(text)); }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// One "key = value" line of a section.
struct Entry {
    std::string key, value;
    int line;
};

struct Section {
    enum Kind { Broker, Module, Modbus } kind;
    std::string name;  // of a module, of a [modbus NAME]
    int line;
    std::vector<Entry> entries;
};

// Splits the text into sections of entries; the first fault of form, if any.
Outcome<std::vector<Section>> Sections(const files::IniText& text) {
    std::vector<Section> sections;
    for (const files::IniLine& line : text.Lines()) {
        const int number = line.number;
        switch (line.kind) {
            case files::IniLine::Blank:
            case files::IniLine::Comment: continue;
            case files::IniLine::Other:
                if (line.text.front() == '[') return Failed{_("a section header ends with \"]\""), number};
                return Failed{_("expected \"key = value\", a [section] or a # comment"), number};
            case files::IniLine::Section: {
                if (line.text.back() != ']') return Failed{_("a section header ends with \"]\""), number};
                const std::string header(line.name);
                const size_t blank = header.find_first_of(" \t");
                const std::string word = header.substr(0, blank);
                const std::string rest = blank == std::string::npos ? "" : Trim(header.substr(blank));
                if (SameName(word, "broker") && rest.empty()) {
                    for (const Section& s : sections)
                        if (s.kind == Section::Broker)
                            return Failed{Fill(_("a second [broker] section (the first is on line %s)"), s.line), number};
                    sections.push_back({Section::Broker, {}, number, {}});
                } else if (SameName(word, "module")) {
                    if (rest.empty()) return Failed{_("[module NAME] needs a name"), number};
                    sections.push_back({Section::Module, rest, number, {}});
                } else if (SameName(word, "modbus")) {
                    sections.push_back({Section::Modbus, rest, number, {}});
                } else {
                    return Failed{Fill(_("unknown section %s; there are [broker], [modbus] and [module NAME]"),
                                       Quoted(line.text)),
                                  number};
                }
                continue;
            }
            case files::IniLine::Entry: break;
        }
        Entry entry{std::string(line.key), std::string(line.value), number};
        if (entry.key.empty()) return Failed{_("a key is missing before \"=\""), number};
        if (sections.empty()) return Failed{Fill(_("%s stands before any [section]"), Quoted(entry.key)), number};
        const bool repeatable = sections.back().kind == Section::Modbus && RepeatableModbusKey(entry.key);
        for (const Entry& e : sections.back().entries)
            if (!repeatable && SameName(e.key, entry.key))
                return Failed{Fill(_("%s is given twice in this section (also on line %s)"), Quoted(entry.key), e.line),
                              number};
        sections.back().entries.push_back(std::move(entry));
    }
    return sections;
}

Outcome<> NumberIn(const Entry& e, int64_t low, int64_t high, int& out) {
    const auto n = files::ParseTyped(e.value);
    if (!n || *n < low || *n > high)
        return Failed{Fill(_("%s must be a whole number %s-%s, not %s"), e.key, low, high, Quoted(e.value)), e.line};
    out = static_cast<int>(*n);
    return {};
}

// One level of a topic: Sparkplug's group, edge node and host ids.
Outcome<> TopicLevel(const Entry& e, std::string& out) {
    if (e.value.empty() || e.value.find_first_of("/+#") != std::string::npos)
        return Failed{Fill(_("%s must be one level of a topic: not empty, without /, + and #, not %s"), e.key,
                           Quoted(e.value)),
                      e.line};
    out = e.value;
    return {};
}

Outcome<> YesNo(const Entry& e, bool& out) {
    if (SameName(e.value, "yes") || SameName(e.value, "true") || SameName(e.value, "on")) out = true;
    else if (SameName(e.value, "no") || SameName(e.value, "false") || SameName(e.value, "off")) out = false;
    else return Failed{Fill(_("%s is yes or no, not %s"), e.key, Quoted(e.value)), e.line};
    return {};
}

Outcome<> ReadBroker(const Section& section, BrokerConfig& broker) {
    int sparkplugLine = 0, discoveryLine = 0;
    for (const Entry& e : section.entries) {
        const auto path = [&](std::string& field, int& line) -> Outcome<> {
            if (e.value.empty()) return Failed{Fill(_("%s needs a file name"), e.key), e.line};
            field = e.value;
            line = e.line;
            return {};
        };
        Outcome<> fault;
        if (SameName(e.key, "host")) {
            if (e.value.empty()) fault = Failed{_("host needs a host name or address"), e.line};
            broker.host = e.value;
        } else if (SameName(e.key, "port")) fault = NumberIn(e, 1, 65535, broker.port);
        else if (SameName(e.key, "client id")) {
            if (e.value.empty()) fault = Failed{_("client id must not be empty"), e.line};
            broker.clientId = e.value;
        } else if (SameName(e.key, "user")) broker.user = e.value;
        else if (SameName(e.key, "password file")) fault = path(broker.passwordFile, broker.passwordLine);
        else if (SameName(e.key, "ca file")) fault = path(broker.caFile, broker.caLine);
        else if (SameName(e.key, "cert file")) fault = path(broker.certFile, broker.certLine);
        else if (SameName(e.key, "key file")) fault = path(broker.keyFile, broker.keyLine);
        else if (SameName(e.key, "keepalive")) fault = NumberIn(e, 5, 65535, broker.keepalive);
        else if (SameName(e.key, "qos")) fault = NumberIn(e, 0, 2, broker.qos);
        else if (SameName(e.key, "payload")) {
            if (SameName(e.value, "sparkplug")) broker.sparkplug = true;
            else if (SameName(e.value, "json")) broker.sparkplug = false;
            else fault = Failed{Fill(_("payload is json (the default) or sparkplug, not %s"), Quoted(e.value)), e.line};
            sparkplugLine = e.line;
        } else if (SameName(e.key, "group id")) fault = TopicLevel(e, broker.groupId);
        else if (SameName(e.key, "edge node id")) fault = TopicLevel(e, broker.edgeNodeId);
        else if (SameName(e.key, "primary host id")) fault = TopicLevel(e, broker.primaryHostId);
        else if (SameName(e.key, "homeassistant discovery")) {
            fault = YesNo(e, broker.homeAssistant);
            discoveryLine = e.line;
        } else if (SameName(e.key, "homeassistant prefix")) {
            if (e.value.empty() || e.value.find_first_of("+#") != std::string::npos || e.value.front() == '/' ||
                e.value.back() == '/')
                fault = Failed{Fill(_("homeassistant prefix must be a topic without + and # and without a / at either "
                                      "end, not %s"),
                                    Quoted(e.value)),
                               e.line};
            broker.discoveryPrefix = e.value;
        } else
            fault = Failed{Fill(_("unknown key %s in [broker]; known: host, port, client id, user, password file, "
                                  "ca file, cert file, key file, keepalive, qos, payload, group id, edge node id, "
                                  "primary host id, homeassistant discovery, homeassistant prefix"),
                                Quoted(e.key)),
                           e.line};
        if (!fault.ok()) return fault;
    }
    if (!broker.passwordFile.empty() && broker.user.empty())
        return Failed{_("a password file needs a user"), broker.passwordLine};
    if (broker.certFile.empty() != broker.keyFile.empty())
        return Failed{_("cert file and key file go together"), std::max(broker.certLine, broker.keyLine)};
    if (!broker.certFile.empty() && broker.caFile.empty())
        return Failed{_("a client certificate needs a ca file (TLS)"), broker.certLine};
    if (broker.sparkplug && broker.homeAssistant)
        return Failed{_("homeassistant discovery goes with the JSON topics, not with payload = sparkplug"),
                      std::max(sparkplugLine, discoveryLine)};
    return {};
}

Outcome<> ReadCommands(const Entry& e, Commands& commands) {
    commands = {};
    std::string words = e.value;
    std::replace(words.begin(), words.end(), ',', ' ');
    std::istringstream in(words);
    for (std::string word; in >> word;) {
        if (SameName(word, "outputs")) commands.setOutputs = true;
        else if (SameName(word, "counters")) commands.resetCounters = true;
        else if (SameName(word, "status")) commands.resetStatus = true;
        else if (SameName(word, "all")) commands = {true, true, true};
        else if (SameName(word, "none") || SameName(word, "off")) commands = {};
        else
            return Failed{Fill(_("commands takes outputs, counters, status, all or none, not %s"), Quoted(word)), e.line};
    }
    return {};
}

Outcome<> ReadInterval(const Entry& e, Millis& interval, bool mayBeOff) {
    if (!ParseInterval(e.value, interval) || (interval.count() == 0 && !mayBeOff))
        return Failed{Fill(mayBeOff ? _("%s takes a time such as \"100 ms\" or \"2 s\" or \"off\", not %s")
                                    : _("%s takes a time such as \"100 ms\" or \"2 s\", not %s"),
                           e.key, Quoted(e.value)),
                      e.line};
    if (interval.count() != 0 && interval < ShortestPoll)
        return Failed{Fill(_("%s of %s is shorter than the shortest, 10 ms"), e.key, e.value), e.line};
    return {};
}

// The interface whose table has a parameter of this name, for a better message.
const char* InterfaceWithKey(std::string_view key) {
    for (const auto& i : Interfaces)
        if (kv618::ParameterNamed(i, key)) return i.settingsName;
    return nullptr;
}

// The message that refuses a parameter's value: what the parameter takes.
std::string Refusal(const Entry& e, const Parameter& p, kv618::Notation notation) {
    const std::string value = Quoted(e.value);
    switch (p.kind) {
        case ParameterKind::PortNumber: return Fill(_("%s must be a whole number %s-%s, not %s"), e.key, 1, 255, value);
        case ParameterKind::IoBase:
            return Fill(notation == kv618::Notation::Stored
                            ? _("%s must be the I/O base in decimal (768) or hexadecimal (300h), at most FFFh, not %s")
                            : _("%s must be the I/O base in hexadecimal, 300h, at most FFFh, not %s"),
                        e.key, value);
        case ParameterKind::Address: return Fill(_("%s must be an IPv4 address in dotted decimal, not %s"), e.key, value);
        case ParameterKind::Bounded16: return Fill(_("%s must be a whole number %s-%s, not %s"), e.key, 0, 65535, value);
    }
    return {};
}

Outcome<> SetInterfaceParameter(const Entry& e, const kv618::NamedParameter& named, TData& data) {
    const auto value = kv618::ParseParameter(*named.parameter, e.value, named.notation);
    if (!value) return Failed{Refusal(e, *named.parameter, named.notation), e.line};
    kv618::SetParameter(data, *named.parameter, *value);
    return {};
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > LongestName) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

Outcome<> ReadModule(const Section& section, ModuleConfig& module) {
    module.name = section.name;
    module.line = section.line;
    if (!ValidName(module.name))
        return Failed{Fill(_("module name %s must be 1-64 of the letters a-z, A-Z, digits, \"-\", \"_\" and \".\" "
                             "(it is a level of MQTT topics)"),
                           Quoted(module.name)),
                      section.line};
    InicializujData(&module.data);
    // The interface first: which parameter keys belong depends on it.  The
    // settings file's name (Rozhraní = KV-1726) or the tool's (interface = kv1726).
    const Entry* interface = nullptr;
    bool toolsName = false;
    for (const Entry& e : section.entries) {
        const bool tools = SameName(e.key, "interface");
        if (!tools && !SameName(e.key, "Rozhraní")) continue;
        if (interface)
            return Failed{Fill(_("%s names the interface again (also on line %s)"), Quoted(e.key), interface->line),
                          e.line};
        interface = &e;
        toolsName = tools;
    }
    if (!interface)
        return Failed{Fill(_("module %s has no \"Rozhraní\" (COMx, PCI-726, PCI-1726, USB-1726 or KV-1726) nor "
                             "\"interface\" (com, pci726, pci1726, usb1726 or kv1726)"),
                           module.name),
                      section.line};
    const auto type = toolsName ? kv618::InterfaceOfOption(interface->value) : kv618::InterfaceOfSettingsName(interface->value);
    if (!type)
        return Failed{Fill(toolsName ? _("interface must be com, pci726, pci1726, usb1726 or kv1726, not %s")
                                     : _("Rozhraní must be COMx, PCI-726, PCI-1726, USB-1726 or KV-1726, not %s"),
                           Quoted(interface->value)),
                      interface->line};
    module.type = *type;
    module.data.Rozhrani = module.type;

    bool hasAddress = false;
    std::vector<const Parameter*> given;
    for (const Entry& e : section.entries) {
        Outcome<> fault;
        if (&e == interface) continue;
        if (SameName(e.key, "Adresa") || SameName(e.key, "address")) {
            const auto address = kv618::ParseAddress(e.value, files::Typed);
            if (!address)
                fault = Failed{Fill(_("%s must be a whole number %s-%s, not %s"), e.key, kv618::LowestAddress,
                                    kv618::HighestAddress, Quoted(e.value)),
                               e.line};
            else module.data.Adresa = *address;
            hasAddress = true;
        } else if (SameName(e.key, "Rychlost") || SameName(e.key, "rate")) {
            const auto rate = kv618::ParseRate(e.value, files::Typed);
            if (!rate)
                fault = Failed{Fill(_("%s must be one of %s, not %s"), e.key, kv618::RateList(), Quoted(e.value)),
                               e.line};
            else module.data.Rychlost = *rate;
        } else if (const auto named = kv618::ParameterNamed(Interfaces[module.type], e.key)) {
            if (std::find(given.begin(), given.end(), named->parameter) != given.end())
                fault = Failed{Fill(_("%s gives a parameter given before in this section"), Quoted(e.key)), e.line};
            else fault = SetInterfaceParameter(e, *named, module.data);
            given.push_back(named->parameter);
        } else if (const char* other = InterfaceWithKey(e.key)) {
            fault = Failed{Fill(_("%s is a parameter of %s, and this module's Rozhraní is %s"), Quoted(e.key), other,
                                Interfaces[module.type].settingsName),
                           e.line};
        } else if (SameName(e.key, "inputs")) fault = ReadInterval(e, module.inputs, true);
        else if (SameName(e.key, "status")) fault = ReadInterval(e, module.status, true);
        else if (SameName(e.key, "counters")) fault = ReadInterval(e, module.counters, true);
        else if (SameName(e.key, "heartbeat")) fault = ReadInterval(e, module.heartbeat, false);
        else if (SameName(e.key, "retry")) fault = ReadInterval(e, module.retry, false);
        else if (SameName(e.key, "commands")) fault = ReadCommands(e, module.commands);
        else if (SameName(e.key, "settings")) {
            if (e.value.empty()) fault = Failed{_("settings needs a file name (a saved-settings file)"), e.line};
            module.settings = e.value;
            module.settingsLine = e.line;
        }
        else if (SameName(e.key, "unit")) {
            fault = NumberIn(e, LowestUnit, HighestUnit, module.unit);
            module.unitLine = e.line;
        } else if (SameName(e.key, "modbus")) {
            module.modbus = e.value;
            module.modbusLine = e.line;
        } else if (SameName(e.key, "outputs"))
            fault = Failed{Fill(_("the module has no request that reads its outputs, so they cannot be polled; "
                                  "the bridge publishes on kv618/%s/outputs what it writes"),
                                module.name),
                           e.line};
        else
            fault = Failed{Fill(_("unknown key %s in [module %s]; known: Rozhraní (interface), Adresa (address), "
                                  "Rychlost (rate), the interface's parameters, inputs, status, counters, heartbeat, "
                                  "retry, commands, settings, unit, modbus"),
                                Quoted(e.key), module.name),
                           e.line};
        if (!fault.ok()) return fault;
    }
    if (!hasAddress)
        return Failed{Fill(_("module %s has no \"Adresa\" (address: its bus address, 0-255)"), module.name), section.line};
    // A text parameter (the converter's address) has no default a plant could rely on.
    for (const Parameter& p : Interfaces[module.type].parameters)
        if (p.kind == ParameterKind::Address && std::find(given.begin(), given.end(), &p) == given.end())
            return Failed{Fill(_("module %s on %s needs \"%s\""), module.name, Interfaces[module.type].settingsName, p.key),
                          section.line};
    return {};
}

// A file the configuration names, relative to the configuration's folder.
std::string Resolve(const std::string& folder, const std::string& path) {
    return path.empty() || path[0] == '/' ? path : folder + "/" + path;
}

}  // namespace

bool ParseInterval(std::string_view text, Millis& interval) {
    std::string t = Trim(text);
    if (SameName(t, "off")) {
        interval = Millis{0};
        return true;
    }
    size_t digits = 0;
    while (digits < t.size() && ((t[digits] >= '0' && t[digits] <= '9') || t[digits] == '.')) ++digits;
    if (digits == 0) return false;
    const std::string number = t.substr(0, digits);
    if (std::count(number.begin(), number.end(), '.') > 1 || number.front() == '.' || number.back() == '.')
        return false;
    const std::string unit = Trim(std::string_view(t).substr(digits));
    double scale = 0;
    if (unit == "ms") scale = 1;
    else if (unit == "s") scale = 1000;
    else if (unit == "min") scale = 60000;
    else if (unit == "h") scale = 3600000;
    else return false;
    const double value = std::strtod(number.c_str(), nullptr) * scale;
    if (!std::isfinite(value) || value > 24.0 * 3600 * 1000 || value != std::floor(value)) return false;
    interval = Millis{static_cast<int64_t>(value)};
    return true;
}

Outcome<Config> ParseConfig(std::string_view bytes, const std::string& fileName, Reader reader) {
    const auto message = [&](const Failed& f) { return Failed{fileName + ":" + std::to_string(f.line) + ": " + f.message}; };

    const auto parsed = Sections(files::IniText(bytes));
    if (!parsed.ok()) return message(parsed.failure());
    Config config;
    for (const Section& section : parsed.value()) {
        if (section.kind == Section::Broker) {
            if (auto fault = ReadBroker(section, config.broker); !fault.ok()) return message(fault.failure());
            config.brokerGiven = true;
            continue;
        }
        if (section.kind == Section::Modbus) {
            ModbusConfig modbus;
            modbus.name = section.name;
            modbus.line = section.line;
            if (auto fault = NamedModbus(config.modbus, modbus); !fault.ok()) return message(fault.failure());
            for (const Entry& e : section.entries)
                if (auto fault = ReadModbusKey(modbus, e.key, e.value, e.line); !fault.ok())
                    return message({fault.message(), e.line});
            FinishModbus(modbus);
            config.modbus.push_back(std::move(modbus));
            continue;
        }
        ModuleConfig module;
        if (auto fault = ReadModule(section, module); !fault.ok()) return message(fault.failure());
        for (const ModuleConfig& other : config.modules)
            if (other.name == module.name)
                return message(
                    {Fill(_("a second module %s (the first is on line %s)"), module.name, other.line), section.line});
        config.modules.push_back(std::move(module));
    }
    if (config.modules.empty()) return Failed{fileName + ": " + _("no [module NAME] section, so there is nothing to poll")};
    // After every section: [broker] may stand anywhere in the file.  The caps
    // are the bridge's sessions'; kv618 plant opens none.
    const bool bridge = reader == Reader::Bridge;
    if (bridge && config.Mqtt() && !config.broker.sparkplug && config.modules.size() > MostModules)
        return message({Fill(_("one bridge serves at most %s modules with the JSON topics (each has an MQTT session "
                               "of its own); run a second bridge with another client id for the others, or use "
                               "payload = sparkplug (one session for every module)"),
                             MostModules),
                        config.modules[MostModules].line});
    if (bridge && config.modules.size() > MostSparkplugModules)
        return message({Fill(_("one bridge serves at most %s modules; run a second bridge with another client id "
                               "and edge node id for the others"),
                             MostSparkplugModules),
                        config.modules[MostSparkplugModules].line});
    if (auto fault = GroupLines(config); !fault.ok()) return message(fault.failure());
    if (auto fault = PlaceUnits(config); !fault.ok()) return message(fault.failure());
    if (bridge && (config.broker.sparkplug || !config.Mqtt()) && config.lines.size() > MostSparkplugLines)
        return Failed{fileName + ": " + Fill(_("%s lines; one bridge serves at most %s; run a second bridge for the others"),
                                             config.lines.size(), MostSparkplugLines)};
    if (config.broker.clientId.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || !*host) std::strcpy(host, "localhost");
        config.broker.clientId = std::string("kv618-") + host;
    }
    if (config.broker.edgeNodeId.empty()) {
        config.broker.edgeNodeId = config.broker.clientId;
        std::replace_if(config.broker.edgeNodeId.begin(), config.broker.edgeNodeId.end(),
                        [](char c) { return c == '/' || c == '+' || c == '#'; }, '_');
    }
    return config;
}

Outcome<Config> LoadConfig(const std::string& path, Reader reader) {
    std::string bytes;
    // A pipe or a FIFO may carry the configuration; a device is read no further than the cap.
    if (const auto f = files::Read(path, bytes, files::Kinds::Any); f.failed())
        return Failed{path + ": " + i18n::Fill(_("cannot be read: %s"), i18n::FileReason(f))};
    auto parsed = ParseConfig(bytes, path, reader);
    if (!parsed.ok()) return parsed;
    BrokerConfig& broker = parsed->broker;
    const std::string folder = files::FolderOf(path);
    for (ModuleConfig& module : parsed->modules) module.settings = Resolve(folder, module.settings);
    if (reader == Reader::Plant) return parsed;
    const auto where = [&](int line) { return path + ":" + std::to_string(line) + ": "; };
    for (auto [file, line] : {std::pair{&broker.passwordFile, broker.passwordLine}, {&broker.caFile, broker.caLine},
                              {&broker.certFile, broker.certLine}, {&broker.keyFile, broker.keyLine}}) {
        *file = Resolve(folder, *file);
        if (!file->empty() && ::access(file->c_str(), R_OK) != 0)
            return Failed{where(line) + i18n::Fill(_("%s cannot be read: %s"), *file, std::strerror(errno))};
    }
    if (!broker.passwordFile.empty()) {
        std::string secret;
        if (const auto f = files::Read(broker.passwordFile, secret, files::Kinds::Any); f.failed())
            return Failed{where(broker.passwordLine) + i18n::Fill(_("%s cannot be read: %s"), broker.passwordFile, i18n::FileReason(f))};
        broker.password = secret.substr(0, secret.find_first_of("\r\n"));
        if (broker.password.empty()) return Failed{where(broker.passwordLine) + i18n::Fill(_("%s holds no password"), broker.passwordFile)};
    }
    return parsed;
}

}  // namespace kvbridge
