// kv618 bridge --config FILE: the modules of the file on an MQTT broker,
// until SIGTERM (docs/bridge.md).  Its exit statuses are the bridge's own:
// 78 for a wrong configuration file, so that a service manager does not
// restart it in vain.
#include "Bridge.h"
#include "Interrupt.h"
#include "Tool.h"

namespace cli {

void AddBridge(Tool& tool) {
    CLI::App* bridge = tool.app.add_subcommand(
        "bridge", "Zveřejňuje moduly z konfiguračního souboru na brokeru MQTT, dokud nedostane SIGTERM");
    auto config = std::make_shared<std::string>();
    bridge->footer("Moduly, jejich rozhraní a broker určuje konfigurační soubor (docs/bridge.md).");
    bridge->add_option("--config", *config, "Konfigurační soubor mostu")->required()->check(CLI::ExistingFile);
    // Reading the configuration and password files may wait (a FIFO): a
    // signal ends that wait at once; the bridge takes the signals itself
    // once it runs.
    tool.When(bridge, [config] {
        interrupt::Promptly prompt;
        return kvbridge::RunBridge(*config);
    });
}

}  // namespace cli
