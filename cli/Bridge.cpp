// kv618 bridge --config FILE: the modules of the file on an MQTT broker,
// until SIGTERM (docs/bridge.md).  Its exit statuses are the bridge's own:
// 78 for a configuration file that is wrong, missing or unreadable, so that a
// service manager does not restart it in vain.  --check reads the file and
// ends there: 0 or 78, without touching a module or the broker.
//
// Built only where the bridge is (KV_BRIDGE); without it kv618 has no
// bridge command.
#include "Bridge.h"
#include "Interrupt.h"
#include "Log.h"
#include "Tool.h"

namespace cli {

namespace {

int CheckBridgeConfig(const std::string& path) {
    const auto loaded = kvbridge::LoadConfig(path);
    if (!loaded.ok()) {
        kvbridge::Log(loaded.message());
        return kvbridge::ExitBadConfig;
    }
    const kvbridge::Config& config = loaded.value();
    kvbridge::Log(path + ": good, " + std::to_string(config.modules.size()) + " module(s) on " +
                  std::to_string(config.lines.size()) + " line(s), broker " + config.broker.host + ":" +
                  std::to_string(config.broker.Port()));
    return kvbridge::ExitStopped;
}

}  // namespace

void AddBridge(Tool& tool) {
    CLI::App* bridge = tool.app.add_subcommand(
        "bridge", "Zveřejňuje moduly z konfiguračního souboru na brokeru MQTT, dokud nedostane SIGTERM");
    auto config = std::make_shared<std::string>();
    auto check = std::make_shared<bool>(false);
    bridge->footer("Moduly, jejich rozhraní a broker určuje konfigurační soubor (docs/bridge.md).\n"
                   "Chybný, chybějící nebo nečitelný soubor: návratový kód 78.");
    // Not CLI::ExistingFile: a missing file is a wrong configuration (78), not wrong usage (2).
    bridge->add_option("--config", *config, "Konfigurační soubor mostu")->required();
    bridge->add_flag("--check", *check, "Jen zkontroluje soubor (0 v pořádku, 78 chybný), nepřipojuje se");
    // Reading the configuration and password files may wait (a FIFO): a
    // signal ends that wait at once; the bridge takes the signals itself
    // once it runs.
    tool.When(bridge, [config, check] {
        interrupt::Promptly prompt;
        return *check ? CheckBridgeConfig(*config) : kvbridge::RunBridge(*config);
    });
}

}  // namespace cli
