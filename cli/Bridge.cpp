// kv618 bridge --config FILE: the modules of the file on an MQTT broker,
// until SIGTERM (docs/bridge.md).  Its exit statuses are the bridge's own:
// 78 for a wrong configuration file, so that a service manager does not
// restart it in vain.  The bridge is a plug-in beside the executable, loaded
// here and nowhere else (bridge/Plugin.h).
#include "Dekl.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Plugin.h"
#include "Tool.h"

#include <dlfcn.h>

namespace cli {

namespace {

// Loads the plug-in and runs the bridge; the plug-in stays loaded until the
// process ends, as the bridge's threads are gone only then.
int RunPlugin(const std::string& config) {
    const std::string path = SlozkaProgramu() + "/" + KV618_BRIDGE_PLUGIN;
    void* plugin = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        const char* why = ::dlerror();
        return Fail(i18n::Fill(_("The MQTT bridge cannot be loaded: %s"), why ? why : path.c_str()));
    }
    const auto run = reinterpret_cast<Kv618BridgeRun>(::dlsym(plugin, KV618_BRIDGE_RUN));
    if (!run) return Fail(i18n::Fill(_("The MQTT bridge %s has no entry point %s"), path, KV618_BRIDGE_RUN));
    return run(config.c_str());
}

}  // namespace

void AddBridge(Tool& tool) {
    CLI::App* bridge = tool.app.add_subcommand(
        "bridge", _("Publishes the modules of a configuration file on an MQTT broker until SIGTERM"));
    auto config = std::make_shared<std::string>();
    bridge->footer(_("The configuration file names the modules, their interfaces and the broker (docs/bridge.md)."));
    bridge->add_option("--config", *config, _("The bridge's configuration file"))->required()->check(CLI::ExistingFile);
    // Reading the configuration and password files may wait (a FIFO): a
    // signal ends that wait at once; the bridge takes the signals itself
    // once it runs.
    tool.When(bridge, [config] {
        interrupt::Promptly prompt;
        return RunPlugin(*config);
    });
}

}  // namespace cli
