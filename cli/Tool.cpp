#include "Tool.h"

#include "Interrupt.h"
#include "kv_version.h"

#include <cstdio>

namespace cli {

namespace {

void CzechLabels(CLI::FormatterBase& formatter) {
    formatter.label("Usage", "Použití");
    formatter.label("OPTIONS", "VOLBY");
    formatter.label("SUBCOMMAND", "PŘÍKAZ");
    formatter.label("SUBCOMMANDS", "PŘÍKAZY");
    formatter.label("REQUIRED", "(povinné)");
    formatter.label("Positionals", "Argumenty");
    formatter.label("Needs", "Vyžaduje");
    formatter.label("Excludes", "Vylučuje");
    formatter.column_width(34);
}

// CLI11's own texts are English: the commonest get their Czech words, the
// rest a Czech headline before the library's text.
std::string Translated(const CLI::ParseError& e) {
    const std::string what = e.what();
    const auto after = [&](const std::string& prefix) {
        return what.rfind(prefix, 0) == 0 ? std::optional(what.substr(prefix.size())) : std::nullopt;
    };
    if (what == "A subcommand is required") return "Chybí příkaz, nebo je neznámý";
    if (auto rest = after("The following argument was not expected: ")) return "Nečekaný argument: " + *rest;
    if (auto rest = after("The following arguments were not expected: ")) return "Nečekané argumenty: " + *rest;
    if (dynamic_cast<const CLI::RequiredError*>(&e) && what.size() > 12 &&
        what.compare(what.size() - 12, 12, " is required") == 0)
        return "Chybí " + what.substr(0, what.size() - 12);
    if (dynamic_cast<const CLI::ValidationError*>(&e)) return "Neplatná hodnota " + what;
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) return "Chybný počet hodnot: " + what;
    return "Chybné použití: " + what;
}

// Options made before the default group was set (the help flags) join it.
void CzechGroups(CLI::App& app) {
    for (CLI::Option* option : app.get_options())
        if (option->get_group() == "Options") option->group("Volby");
    for (CLI::App* sub : app.get_subcommands({})) CzechGroups(*sub);
}

int UsageError(const CLI::ParseError& e) {
    Say(Translated(e));
    std::fputs("Nápověda: kv618 --help, kv618 PŘÍKAZ --help\n", stderr);
    return Usage;
}

}  // namespace

Tool::Tool() : app("kv618 - modul KV-618 s rozšířením KV-619 z příkazové řádky", "kv618") {
    CzechLabels(*app.get_formatter());
    app.set_help_flag("-h,--help", "Vypíše tuto nápovědu");
    app.set_version_flag("--version", std::string("kv618 ") + KV_VERSION, "Vypíše verzi");
    app.option_defaults()->group("Volby");
    app.require_subcommand(1);
    // Options of the link may stand after the subcommand too.
    app.fallthrough();
    app.footer(
        "Připojení se bere ze souboru R_iv618.ini programu (nebo --settings), volby ho mění.\n"
        "Návratový kód: 0 hotovo, 1 selhal modul, spojení nebo soubor, 2 chybné použití,\n"
        "3 config diff našel rozdíly, 130 přerušeno (Ctrl-C).");
    link.Add(app);
}

void Tool::When(CLI::App* sub, std::function<int()> run) {
    sub->group("Příkazy");
    sub->callback([this, run = std::move(run)] { action = run; });
}

void Say(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "kv618: %s\n", text.c_str());
}

int Fail(const std::string& text) {
    Say(text);
    return Failed;
}

int Refuse(const std::string& text) {
    Say(text);
    return Usage;
}

CLI::Validator OneOf(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& text) -> std::string {
            std::string list;
            for (const auto& name : names) {
                if (name == text) return {};
                list += (list.empty() ? "" : ", ") + name;
            }
            return "hodnota " + text + " není jedna z: " + list;
        },
        "", "one of");
}

int Run(int argc, char** argv) {
    interrupt::Install();
    Tool tool;
    AddModuleCommands(tool);
    AddScan(tool);
    AddConfig(tool);
    AddWatch(tool);
    AddPorts(tool);
#ifdef KV_BRIDGE
    AddBridge(tool);
#endif
    AddPlant(tool);
    CzechGroups(tool.app);
    try {
        tool.app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return tool.app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return tool.app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return tool.app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(e);
    }
    if (!tool.action) return Usage;
    try {
        return tool.action();
    } catch (const std::exception& e) {
        // The session unwinds first: the link is closed with _Done all the same.
        return Fail(std::string("Neočekávaná chyba: ") + e.what());
    }
}

}  // namespace cli
