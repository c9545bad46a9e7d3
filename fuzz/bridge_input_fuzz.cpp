// What the bridge takes from outside on arbitrary bytes: a command's payload
// from the broker (and the refusal that echoes it), and its configuration file.
#include "Config.h"
#include "Payloads.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const char* const commands[] = {"set/outputs", "reset/counters", "reset/status", "set/clock"};
    if (data[0] < 0x80) {
        const auto parsed = kvbridge::ParseCommand(commands[data[0] % 4], rest);
        // Every payload either makes a command or has a reason, never both or neither.
        if (parsed.command.has_value() == !parsed.refusal.empty()) std::abort();
        (void)kvbridge::CommandErrorJson("kv618/m/set/outputs", rest, parsed.refusal, {});
        return 0;
    }
    auto config = kvbridge::ParseConfig(rest, "fuzz.conf");
    if (const auto* message = std::get_if<std::string>(&config)) {
        if (message->rfind("fuzz.conf", 0) != 0) std::abort();  // every fault names the file
        return 0;
    }
    // An accepted file puts every module on exactly one line.
    const auto& accepted = std::get<kvbridge::Config>(config);
    size_t placed = 0;
    for (const auto& line : accepted.lines) placed += line.modules.size();
    if (placed != accepted.modules.size()) std::abort();
    return 0;
}
