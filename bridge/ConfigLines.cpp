// Which modules of the file share a line: one interface with the same
// connection parameters is one link, polled by one thread.
#include "Config.h"

#include "Interfaces.h"
#include "Messages.h"

#include <map>

namespace kvbridge {

namespace {

using kv618::Failed;
using kv618::Interfaces;
using kv618::Parameter;
using i18n::Fill;

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

}  // namespace

kv618::Outcome<> GroupLines(Config& config) {
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
                return Failed{Fill(_("module %s is on the line %s with module %s (line %s) but gives another \"%s\""),
                                   m.name, line.name, first.name, first.line, p.key),
                              m.line};
        for (const size_t j : line.modules) {
            const ModuleConfig& other = config.modules[j];
            if (other.data.Adresa == m.data.Adresa)
                return Failed{Fill(_("module %s has address %s, as module %s (line %s) on the same line %s"), m.name,
                                   int(m.data.Adresa), other.name, other.line, line.name),
                              m.line};
        }
        line.modules.push_back(i);
    }
    return {};
}

}  // namespace kvbridge
