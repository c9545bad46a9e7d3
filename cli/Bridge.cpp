// kv618 bridge --config FILE: the modules of the file on an MQTT broker,
// until SIGTERM (docs/bridge.md).  Its exit statuses are the bridge's own:
// 78 for a configuration file that is wrong, missing or unreadable, so that a
// service manager does not restart it in vain.  --check reads the file and
// ends there: 0 or 78, without touching a module or the broker.
//
// The bridge is a plug-in beside the executable, loaded here and nowhere else
// (bridge/Plugin.h); where it is not built, kv618 has no bridge command.
#include "Dekl.h"
#include "Elf.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Plugin.h"
#include "Tool.h"

#include <cstring>
#include <dlfcn.h>

namespace cli {

namespace {

std::string NotLoadable(const files::ElfProblem& p) {
    switch (p.kind) {
        case files::ElfProblem::CannotOpen: return std::strerror(p.error);
        case files::ElfProblem::NotRegular: return _("it is not a regular file");
        case files::ElfProblem::OtherMachine: return _("it is a shared object of another machine");
        case files::ElfProblem::Truncated:
            return i18n::Fill(_("it is truncated (its headers name %s bytes, the file holds %s)"), p.needs, p.size);
        case files::ElfProblem::Damaged: return _("its headers are damaged");
        default: return _("it is not a shared object");
    }
}

// Loads the plug-in and calls one of its entry points; the plug-in stays
// loaded until the process ends, as the bridge's threads are gone only then.
// A damaged one (a half-copied upgrade, a FIFO in its place) is refused
// before dlopen, which would fault on it or wait for ever.
int RunPlugin(const char* entry, const std::string& config) {
    const std::string path = SlozkaProgramu() + "/" + KV618_BRIDGE_PLUGIN;
    if (const auto problem = files::CheckLoadable(path); problem.failed())
        return Fail(i18n::Fill(_("The MQTT bridge %s cannot be loaded: %s; install the package again"), path,
                               NotLoadable(problem)));
    void* plugin = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        const char* why = ::dlerror();
        return Fail(i18n::Fill(_("The MQTT bridge cannot be loaded: %s"), why ? why : path.c_str()));
    }
    const auto run = reinterpret_cast<Kv618BridgeEntry>(::dlsym(plugin, entry));
    if (!run) return Fail(i18n::Fill(_("The MQTT bridge %s has no entry point %s"), path, entry));
    return run(config.c_str());
}

}  // namespace

void AddBridge(Tool& tool) {
    CLI::App* bridge = tool.app.add_subcommand(
        "bridge", _("Publishes the modules of a configuration file on an MQTT broker until SIGTERM"));
    auto config = std::make_shared<std::string>();
    auto check = std::make_shared<bool>(false);
    bridge->footer(std::string(_("The configuration file names the modules, their interfaces and the broker (docs/bridge.md).")) +
                   "\n" + _("A wrong, missing or unreadable file: exit status 78."));
    // Not CLI::ExistingFile: a missing file is a wrong configuration (78), not wrong usage (2).
    bridge->add_option("--config", *config, _("The bridge's configuration file"))->required();
    bridge->add_flag("--check", *check, _("Only checks the file (0 good, 78 wrong), connects nowhere"));
    // Reading the configuration and password files may wait (a FIFO): a
    // signal ends that wait at once; the bridge takes the signals itself
    // once it runs.
    tool.When(bridge, [config, check] {
        interrupt::Promptly prompt;
        return RunPlugin(*check ? KV618_BRIDGE_CHECK : KV618_BRIDGE_RUN, *config);
    });
}

}  // namespace cli
