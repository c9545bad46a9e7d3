// What the bridge takes from outside on arbitrary bytes: a command's payload
// from the broker (and the refusal that echoes it), a Sparkplug command's
// metrics, a discovery index the broker keeps, and its configuration file.
#include "Config.h"
#include "Discovery.h"
#include "Payloads.h"
#include "SparkplugCommands.h"
#include "sparkplug_b.pb.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const char* const commands[] = {"set/outputs", "reset/counters", "reset/status", "set/clock",
                                           "set/DOUT7", "set/DOUT31", "set/DOUT32", "set/DOUT07"};
    if (data[0] < 0x80) {
        const auto parsed = kvbridge::ParseCommand(commands[data[0] % 8], rest);
        // A refused payload always has a reason.
        if (!parsed.ok() && parsed.message().empty()) std::abort();
        (void)kvbridge::CommandErrorJson("kv618/m/set/outputs", rest, parsed.message(), {});
        return 0;
    }
    if (data[0] < 0xA0) {
        // A DCMD or NCMD as the node decodes it: every command it accepts is a
        // whole one, every refusal has a reason.
        kvbridge::spb::Payload payload;
        if (!payload.ParseFromArray(rest.data(), static_cast<int>(rest.size()))) return 0;
        static const kvbridge::ModuleConfig module = [] {
            kvbridge::ModuleConfig m;
            m.name = "m";
            m.commands = {true, true, true};
            return m;
        }();
        const auto writes = kvbridge::sparkplug::DecodeDeviceCommand(payload, 0, module);
        for (const auto& posted : writes.commands)
            if (posted.what.empty() || (posted.command.kind == kvbridge::Command::SetOutputs && posted.command.mask == 0))
                std::abort();
        const auto node = kvbridge::sparkplug::DecodeNodeCommand(payload);
        for (const auto& refusals : {writes.refused, node.refused})
            for (const auto& r : refusals)
                if (r.what.empty() || r.why.empty()) std::abort();
        return 0;
    }
    if (data[0] < 0xB0) {
        // A discovery index as the broker hands it over: only configurations'
        // topics, or the index itself, are ever cleared.
        static const kvbridge::Announced now{"node", {{"m", {"homeassistant/switch/node/m_dout0/config"}}}};
        for (const char* topic : {"kv618/m/discovery", "kv618/gone/discovery"})
            for (const std::string& gone : kvbridge::Withdrawn(now, topic, rest))
                if (gone != topic && (gone.size() < 8 || gone.substr(gone.size() - 7) != "/config" ||
                                      gone.find_first_of("+#") != std::string::npos))
                    std::abort();
        return 0;
    }
    auto config = kvbridge::ParseConfig(rest, "fuzz.conf");
    if (!config.ok()) {
        if (config.message().rfind("fuzz.conf", 0) != 0) std::abort();  // every fault names the file
        return 0;
    }
    // An accepted file puts every module on exactly one line.
    const auto& accepted = config.value();
    size_t placed = 0;
    for (const auto& line : accepted.lines) placed += line.modules.size();
    if (placed != accepted.modules.size()) std::abort();
    return 0;
}
