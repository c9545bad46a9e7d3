#include "Config.h"

#include "Commands.h"
#include "Interfaces.h"
#include "Kodovani.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
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

// A fault found while parsing: the line it names and what is wrong there.
struct Fault {
    int line;
    std::string what;
};

std::string Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    size_t start = 0, end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return std::string(text.substr(start, end - start));
}

bool SameName(std::string_view a, std::string_view b) {
    return Kodovani::StejneBezVelikosti1250(Kodovani::Utf8NaCp1250(a), Kodovani::Utf8NaCp1250(b));
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::optional<int64_t> Whole(const std::string& text) {
    int64_t n = 0;
    if (!TextNaCislo(text, n)) return std::nullopt;
    return n;
}

// One "key = value" line of a section.
struct Entry {
    std::string key, value;
    int line;
};

struct Section {
    enum Kind { Broker, Module } kind;
    std::string name;  // of a module
    int line;
    std::vector<Entry> entries;
};

// Splits the text into sections of entries; the first fault of form, if any.
std::variant<std::vector<Section>, Fault> Sections(std::string_view text) {
    std::vector<Section> sections;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return Fault{number, "a section header ends with \"]\""};
            const std::string header = Trim(std::string_view(line).substr(1, line.size() - 2));
            const size_t blank = header.find_first_of(" \t");
            const std::string word = header.substr(0, blank);
            const std::string rest = blank == std::string::npos ? "" : Trim(header.substr(blank));
            if (SameName(word, "broker") && rest.empty()) {
                for (const Section& s : sections)
                    if (s.kind == Section::Broker)
                        return Fault{number, "a second [broker] section (the first is on line " +
                                                 std::to_string(s.line) + ")"};
                sections.push_back({Section::Broker, {}, number, {}});
            } else if (SameName(word, "module")) {
                if (rest.empty()) return Fault{number, "[module NAME] needs a name"};
                sections.push_back({Section::Module, rest, number, {}});
            } else {
                return Fault{number, "unknown section " + Quoted(line) + "; there are [broker] and [module NAME]"};
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return Fault{number, "expected \"key = value\", a [section] or a # comment"};
        Entry entry{Trim(std::string_view(line).substr(0, equals)), Trim(std::string_view(line).substr(equals + 1)),
                    number};
        if (entry.key.empty()) return Fault{number, "a key is missing before \"=\""};
        if (sections.empty()) return Fault{number, Quoted(entry.key) + " stands before any [section]"};
        for (const Entry& e : sections.back().entries)
            if (SameName(e.key, entry.key))
                return Fault{number, Quoted(entry.key) + " is given twice in this section (also on line " +
                                         std::to_string(e.line) + ")"};
        sections.back().entries.push_back(std::move(entry));
    }
    return sections;
}

std::optional<Fault> NumberIn(const Entry& e, int64_t low, int64_t high, int& out) {
    const auto n = Whole(e.value);
    if (!n || *n < low || *n > high)
        return Fault{e.line, e.key + " must be a whole number " + std::to_string(low) + "-" + std::to_string(high) +
                                 ", not " + Quoted(e.value)};
    out = static_cast<int>(*n);
    return std::nullopt;
}

// One level of a topic: Sparkplug's group, edge node and host ids.
std::optional<Fault> TopicLevel(const Entry& e, std::string& out) {
    if (e.value.empty() || e.value.find_first_of("/+#") != std::string::npos)
        return Fault{e.line, e.key + " must be one level of a topic: not empty, without /, + and #, not " +
                                 Quoted(e.value)};
    out = e.value;
    return std::nullopt;
}

std::optional<Fault> YesNo(const Entry& e, bool& out) {
    if (SameName(e.value, "yes") || SameName(e.value, "true") || SameName(e.value, "on")) out = true;
    else if (SameName(e.value, "no") || SameName(e.value, "false") || SameName(e.value, "off")) out = false;
    else return Fault{e.line, e.key + " is yes or no, not " + Quoted(e.value)};
    return std::nullopt;
}

std::optional<Fault> ReadBroker(const Section& section, BrokerConfig& broker) {
    int sparkplugLine = 0, discoveryLine = 0;
    for (const Entry& e : section.entries) {
        const auto path = [&](std::string& field, int& line) -> std::optional<Fault> {
            if (e.value.empty()) return Fault{e.line, e.key + " needs a file name"};
            field = e.value;
            line = e.line;
            return std::nullopt;
        };
        std::optional<Fault> fault;
        if (SameName(e.key, "host")) {
            if (e.value.empty()) fault = Fault{e.line, "host needs a host name or address"};
            broker.host = e.value;
        } else if (SameName(e.key, "port")) fault = NumberIn(e, 1, 65535, broker.port);
        else if (SameName(e.key, "client id")) {
            if (e.value.empty()) fault = Fault{e.line, "client id must not be empty"};
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
            else fault = Fault{e.line, "payload is json (the default) or sparkplug, not " + Quoted(e.value)};
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
                fault = Fault{e.line, "homeassistant prefix must be a topic without + and # and without a / at "
                                      "either end, not " + Quoted(e.value)};
            broker.discoveryPrefix = e.value;
        } else
            fault = Fault{e.line, "unknown key " + Quoted(e.key) +
                                      " in [broker]; known: host, port, client id, user, password file, ca file, "
                                      "cert file, key file, keepalive, qos, payload, group id, edge node id, "
                                      "primary host id, homeassistant discovery, homeassistant prefix"};
        if (fault) return fault;
    }
    if (!broker.passwordFile.empty() && broker.user.empty())
        return Fault{broker.passwordLine, "a password file needs a user"};
    if (broker.certFile.empty() != broker.keyFile.empty())
        return Fault{std::max(broker.certLine, broker.keyLine), "cert file and key file go together"};
    if (!broker.certFile.empty() && broker.caFile.empty())
        return Fault{broker.certLine, "a client certificate needs a ca file (TLS)"};
    if (broker.sparkplug && broker.homeAssistant)
        return Fault{std::max(sparkplugLine, discoveryLine),
                     "homeassistant discovery goes with the JSON topics, not with payload = sparkplug"};
    return std::nullopt;
}

std::optional<Fault> ReadCommands(const Entry& e, Commands& commands) {
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
            return Fault{e.line, "commands takes outputs, counters, status, all or none, not " + Quoted(word)};
    }
    return std::nullopt;
}

std::optional<Fault> ReadInterval(const Entry& e, Millis& interval, bool mayBeOff) {
    if (!ParseInterval(e.value, interval) || (interval.count() == 0 && !mayBeOff))
        return Fault{e.line, e.key + " takes a time such as \"100 ms\" or \"2 s\"" +
                                 std::string(mayBeOff ? " or \"off\"" : "") + ", not " + Quoted(e.value)};
    if (interval.count() != 0 && interval < ShortestPoll)
        return Fault{e.line, e.key + " of " + e.value + " is shorter than the shortest, 10 ms"};
    return std::nullopt;
}

// The parameter of an interface that a key names, if any.
const Parameter* ParameterOf(uint8_t type, std::string_view key) {
    for (const Parameter& p : Interfaces[type].parameters)
        if (SameName(p.key, key)) return &p;
    return nullptr;
}

// The interface whose table has a parameter of this name, for a better message.
const char* InterfaceWithKey(std::string_view key) {
    for (const auto& i : Interfaces)
        for (const Parameter& p : i.parameters)
            if (SameName(p.key, key)) return i.settingsName;
    return nullptr;
}

std::optional<Fault> SetInterfaceParameter(const Entry& e, const Parameter& p, TData& data) {
    int64_t low = 0, high = 65535;
    switch (p.kind) {
        case ParameterKind::PortNumber: low = 1, high = 255; break;
        case ParameterKind::IoBase: high = 0xFFF; break;
        case ParameterKind::Bounded16: break;
        case ParameterKind::Address: {
            in_addr address{};
            if (::inet_pton(AF_INET, e.value.c_str(), &address) != 1)
                return Fault{e.line, e.key + " must be an IPv4 address in dotted decimal, not " + Quoted(e.value)};
            kv618::SetParameter(data, p, e.value);
            return std::nullopt;
        }
    }
    const auto n = Whole(e.value);
    if (!n || *n < low || *n > high)
        return Fault{e.line, e.key + " must be a whole number " + std::to_string(low) + "-" + std::to_string(high) +
                                 ", not " + Quoted(e.value)};
    kv618::SetParameter(data, p, std::to_string(*n));
    return std::nullopt;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > LongestName) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

std::optional<Fault> ReadModule(const Section& section, ModuleConfig& module) {
    module.name = section.name;
    module.line = section.line;
    if (!ValidName(module.name))
        return Fault{section.line, "module name " + Quoted(module.name) +
                                       " must be 1-64 of the letters a-z, A-Z, digits, \"-\", \"_\" and \".\" "
                                       "(it is a level of MQTT topics)"};
    InicializujData(&module.data);
    // The interface first: which parameter keys belong depends on it.
    const Entry* interface = nullptr;
    for (const Entry& e : section.entries)
        if (SameName(e.key, "Rozhraní")) interface = &e;
    if (!interface) return Fault{section.line, "module " + module.name + " has no \"Rozhraní\" (COMx, PCI-726, PCI-1726, USB-1726 or KV-1726)"};
    bool known = false;
    for (size_t i = 0; i < Interfaces.size(); ++i)
        if (SameName(interface->value, Interfaces[i].settingsName)) {
            module.type = static_cast<uint8_t>(i);
            known = true;
        }
    if (!known)
        return Fault{interface->line, "Rozhraní must be COMx, PCI-726, PCI-1726, USB-1726 or KV-1726, not " +
                                          Quoted(interface->value)};
    module.data.Rozhrani = module.type;

    bool hasAddress = false;
    std::vector<const Parameter*> given;
    for (const Entry& e : section.entries) {
        std::optional<Fault> fault;
        if (&e == interface) continue;
        if (SameName(e.key, "Adresa")) {
            int address = 0;
            fault = NumberIn(e, 0, 255, address);
            module.data.Adresa = static_cast<uint8_t>(address);
            hasAddress = true;
        } else if (SameName(e.key, "Rychlost")) {
            const auto rate = Whole(e.value);
            if (!rate || !kv618::BaudIndexOf(static_cast<int32_t>(*rate)) || *rate != static_cast<int32_t>(*rate))
                fault = Fault{e.line, "Rychlost must be one of 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                                      "115200, not " + Quoted(e.value)};
            else module.data.Rychlost = static_cast<int32_t>(*rate);
        } else if (const Parameter* p = ParameterOf(module.type, e.key)) {
            fault = SetInterfaceParameter(e, *p, module.data);
            given.push_back(p);
        } else if (const char* other = InterfaceWithKey(e.key)) {
            fault = Fault{e.line, Quoted(e.key) + " is a parameter of " + other + ", and this module's Rozhraní is " +
                                      Interfaces[module.type].settingsName};
        } else if (SameName(e.key, "inputs")) fault = ReadInterval(e, module.inputs, true);
        else if (SameName(e.key, "status")) fault = ReadInterval(e, module.status, true);
        else if (SameName(e.key, "counters")) fault = ReadInterval(e, module.counters, true);
        else if (SameName(e.key, "heartbeat")) fault = ReadInterval(e, module.heartbeat, false);
        else if (SameName(e.key, "retry")) fault = ReadInterval(e, module.retry, false);
        else if (SameName(e.key, "commands")) fault = ReadCommands(e, module.commands);
        else if (SameName(e.key, "outputs"))
            fault = Fault{e.line, "the module has no request that reads its outputs, so they cannot be polled; "
                                  "the bridge publishes on kv618/" + module.name + "/outputs what it writes"};
        else
            fault = Fault{e.line, "unknown key " + Quoted(e.key) + " in [module " + module.name +
                                      "]; known: Rozhraní, Adresa, Rychlost, the interface's parameters, inputs, "
                                      "status, counters, heartbeat, retry, commands"};
        if (fault) return fault;
    }
    if (!hasAddress) return Fault{section.line, "module " + module.name + " has no \"Adresa\" (its bus address, 0-255)"};
    // A text parameter (the converter's address) has no default a plant could rely on.
    for (const Parameter& p : Interfaces[module.type].parameters)
        if (p.kind == ParameterKind::Address && std::find(given.begin(), given.end(), &p) == given.end())
            return Fault{section.line, "module " + module.name + " on " + Interfaces[module.type].settingsName +
                                           " needs \"" + p.key + "\""};
    return std::nullopt;
}

// The time-out says how long to wait on a line, not where the line is.
bool NamesTheLine(const Parameter& p) { return !(p.field == kv618::ParameterField{&TData::UDPTimeout}); }

std::string LineKey(const ModuleConfig& m) {
    std::string key = Interfaces[m.type].settingsName;
    for (const Parameter& p : Interfaces[m.type].parameters)
        if (NamesTheLine(p)) key += "|" + kv618::ParameterText(m.data, p);
    return key;
}

std::string LineName(const ModuleConfig& m) {
    std::string name = Interfaces[m.type].settingsName;
    if (m.type == RozhraniKV1726) return name + " " + m.data.IPAdresa + ":" + std::to_string(m.data.UDPPort);
    for (const Parameter& p : Interfaces[m.type].parameters)
        if (NamesTheLine(p)) name += " " + kv618::ParameterText(m.data, p);
    return name;
}

std::optional<Fault> GroupLines(Config& config) {
    std::map<std::string, size_t> byKey;
    for (size_t i = 0; i < config.modules.size(); ++i) {
        const ModuleConfig& m = config.modules[i];
        const auto [at, fresh] = byKey.emplace(LineKey(m), config.lines.size());
        if (fresh) {
            config.lines.push_back({m.type, m.data, {i}, LineName(m)});
            continue;
        }
        LineConfig& line = config.lines[at->second];
        const ModuleConfig& first = config.modules[line.modules.front()];
        for (const Parameter& p : Interfaces[m.type].parameters)
            if (!NamesTheLine(p) && kv618::ParameterText(m.data, p) != kv618::ParameterText(first.data, p))
                return Fault{m.line, "module " + m.name + " is on the line " + line.name + " with module " +
                                         first.name + " (line " + std::to_string(first.line) + ") but gives another \"" +
                                         p.key + "\""};
        for (const size_t j : line.modules) {
            const ModuleConfig& other = config.modules[j];
            if (other.data.Adresa == m.data.Adresa)
                return Fault{m.line, "module " + m.name + " has address " + std::to_string(m.data.Adresa) +
                                         ", as module " + other.name + " (line " + std::to_string(other.line) +
                                         ") on the same line " + line.name};
        }
        line.modules.push_back(i);
    }
    return std::nullopt;
}

std::string ReadAll(const std::string& path, bool& ok) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    ok = file.good() || file.eof();
    if (!file.is_open()) ok = false;
    return text.str();
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
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

std::variant<Config, std::string> ParseConfig(std::string_view bytes, const std::string& fileName) {
    std::string text(bytes);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (!Kodovani::JePlatneUtf8(text)) text = Kodovani::Cp1250NaUtf8(text);
    const auto message = [&](const Fault& f) { return fileName + ":" + std::to_string(f.line) + ": " + f.what; };

    auto parsed = Sections(text);
    if (auto* fault = std::get_if<Fault>(&parsed)) return message(*fault);
    Config config;
    for (const Section& section : std::get<std::vector<Section>>(parsed)) {
        if (section.kind == Section::Broker) {
            if (auto fault = ReadBroker(section, config.broker)) return message(*fault);
            continue;
        }
        ModuleConfig module;
        if (auto fault = ReadModule(section, module)) return message(*fault);
        for (const ModuleConfig& other : config.modules)
            if (other.name == module.name)
                return message({section.line, "a second module " + module.name + " (the first is on line " +
                                                  std::to_string(other.line) + ")"});
        config.modules.push_back(std::move(module));
    }
    if (config.modules.empty()) return fileName + ": no [module NAME] section, so there is nothing to poll";
    // After every section: [broker] may stand anywhere in the file.
    if (!config.broker.sparkplug && config.modules.size() > MostModules)
        return message({config.modules[MostModules].line,
                        "one bridge serves at most " + std::to_string(MostModules) +
                            " modules with the JSON topics (each has an MQTT session of its own); run a second "
                            "bridge with another client id for the others, or use payload = sparkplug (one "
                            "session for every module)"});
    if (config.modules.size() > MostSparkplugModules)
        return message({config.modules[MostSparkplugModules].line,
                        "one bridge serves at most " + std::to_string(MostSparkplugModules) +
                            " modules; run a second bridge with another client id and edge node id for the others"});
    if (auto fault = GroupLines(config)) return message(*fault);
    if (config.broker.sparkplug && config.lines.size() > MostSparkplugLines)
        return fileName + ": " + std::to_string(config.lines.size()) + " lines; one bridge serves at most " +
               std::to_string(MostSparkplugLines) + "; run a second bridge for the others";
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

std::variant<Config, std::string> LoadConfig(const std::string& path) {
    bool ok = false;
    const std::string bytes = ReadAll(path, ok);
    if (!ok) return path + ": cannot be read: " + std::strerror(errno);
    auto parsed = ParseConfig(bytes, path);
    auto* config = std::get_if<Config>(&parsed);
    if (!config) return parsed;
    BrokerConfig& broker = config->broker;
    const std::string folder = FolderOf(path);
    const auto where = [&](int line) { return path + ":" + std::to_string(line) + ": "; };
    for (auto [file, line] : {std::pair{&broker.passwordFile, broker.passwordLine}, {&broker.caFile, broker.caLine},
                              {&broker.certFile, broker.certLine}, {&broker.keyFile, broker.keyLine}}) {
        *file = Resolve(folder, *file);
        if (!file->empty() && ::access(file->c_str(), R_OK) != 0)
            return where(line) + *file + " cannot be read: " + std::strerror(errno);
    }
    if (!broker.passwordFile.empty()) {
        const std::string secret = ReadAll(broker.passwordFile, ok);
        if (!ok) return where(broker.passwordLine) + broker.passwordFile + " cannot be read";
        broker.password = secret.substr(0, secret.find_first_of("\r\n"));
        if (broker.password.empty()) return where(broker.passwordLine) + broker.passwordFile + " holds no password";
    }
    return parsed;
}

}  // namespace kvbridge
