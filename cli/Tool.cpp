#include "Tool.h"

#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "kv_version.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace cli {

namespace {

bool quiet = false;

void Labels(CLI::FormatterBase& formatter) {
    formatter.label("Usage", _("Usage"));
    formatter.label("OPTIONS", _("OPTIONS"));
    formatter.label("SUBCOMMAND", _("SUBCOMMAND"));
    formatter.label("SUBCOMMANDS", _("SUBCOMMANDS"));
    formatter.label("REQUIRED", _("REQUIRED"));
    formatter.label("Positionals", _("Positionals"));
    formatter.label("Needs", _("Needs"));
    formatter.label("Excludes", _("Excludes"));
    formatter.column_width(34);
}

// CLI11's own texts are English: the commonest get words of their own, which
// a catalogue translates, the rest a headline before the library's text.
std::string Translated(const CLI::ParseError& e) {
    using i18n::Fill;
    const std::string what = e.what();
    const auto after = [&](const std::string& prefix) {
        return what.rfind(prefix, 0) == 0 ? std::optional(what.substr(prefix.size())) : std::nullopt;
    };
    if (what == "A subcommand is required") return _("A command is missing or unknown");
    if (auto rest = after("The following argument was not expected: ")) return Fill(_("Unexpected argument: %s"), *rest);
    if (auto rest = after("The following arguments were not expected: "))
        return Fill(_("Unexpected arguments: %s"), *rest);
    if (dynamic_cast<const CLI::RequiredError*>(&e) && what.size() > 12 &&
        what.compare(what.size() - 12, 12, " is required") == 0)
        return Fill(_("Missing %s"), what.substr(0, what.size() - 12));
    if (dynamic_cast<const CLI::ValidationError*>(&e)) return Fill(_("Invalid value %s"), what);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) return Fill(_("Wrong number of values: %s"), what);
    return Fill(_("Wrong usage: %s"), what);
}

// Options made before the default group was set (the help flags) join it.
void Groups(CLI::App& app) {
    for (CLI::Option* option : app.get_options())
        if (option->get_group() == "Options") option->group(_("Options"));
    for (CLI::App* sub : app.get_subcommands({})) Groups(*sub);
}

// The commands in the order the help lists them.
struct CommandEntry {
    std::string_view name;
    void (*add)(Tool&);
};
constexpr CommandEntry kCommands[] = {
    {"identify", AddIdentify}, {"out", AddOutputs},     {"reset", AddReset}, {"clock", AddClock},
    {"power-failures", AddPowerFailures}, {"scan", AddScan}, {"config", AddConfig}, {"watch", AddWatch},
    {"ports", AddPorts},
#ifdef KV_BRIDGE
    {"bridge", AddBridge},
#endif
    {"plant", AddPlant},
};

bool IsCommand(std::string_view word) {
    return std::any_of(std::begin(kCommands), std::end(kCommands),
                       [&](const CommandEntry& command) { return command.name == word; });
}

void AddCommands(Tool& tool, const CommandLine& line) {
    for (const CommandEntry& command : kCommands)
        if (line.Builds(command.name)) command.add(tool);
}

int UsageError(const CLI::ParseError& e) {
    Say(Translated(e));
    std::fputs(_("Help: kv618 --help, kv618 COMMAND --help\n"), stderr);
    return Usage;
}

}  // namespace

Tool::Tool(const CommandLine& line)
    : app(_("kv618 - the KV-618 module with its KV-619 extension from the command line"), "kv618") {
    // What only help shows: a line that asks for it builds everything.
    if (line.Whole()) {
        Labels(*app.get_formatter());
        app.set_help_flag("-h,--help", _("Prints this help"));
        app.footer(
            _("The connection comes from the program's settings file R_iv618.ini (or --settings); options change "
              "it.\nExit status: 0 done, 1 the module, the link or a file failed, 2 wrong usage,\n"
              "3 config diff found differences, 130 interrupted (Ctrl-C)."));
    }
    if (line.BuildsOption("--version"))
        app.set_version_flag("--version", std::string("kv618 ") + KV_VERSION, _("Prints the version"));
    app.option_defaults()->group(_("Options"));
    app.require_subcommand(1);
    // Options of the link may stand after the subcommand too.
    app.fallthrough();
    if (line.BuildsOption("-q,--quiet")) app.add_flag("-q,--quiet", quiet, _("Prints only results and errors"));
    if (line.BuildsOption("-v,--verbose"))
        app.add_flag("-v,--verbose", verbose, _("Shows the exchanges with the module on standard error (as --trace -)"));
    link.Add(app, line);
}

CLI::App* Tool::AddGroup(const std::string& name, const std::string& description) {
    CLI::App* group = app.add_subcommand(name, description);
    group->group(_("Commands"));
    group->require_subcommand(1);
    return group;
}

void Tool::When(CLI::App* sub, std::function<int()> run) {
    sub->group(_("Commands"));
    sub->callback([this, run = std::move(run)] { action = run; });
}

void Tool::WhenLinked(CLI::App* sub, std::function<int(LinkSession&)> run) {
    When(sub, [this, run = std::move(run)] { return WithSession(link, run); });
}

CLI::Option* Tool::AddJson(CLI::App* sub) {
    return sub->add_flag("--json", json, _("Prints the result as one JSON document (keys in kv618(1))"));
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

void Note(const std::string& text) {
    if (!quiet) Say(text);
}

bool Noted() { return !quiet; }

void Confirm(const std::string& text) {
    if (!quiet) PrintLine(text);
}

int PrintJson(const nlohmann::ordered_json& document) {
    // Texts from the module or a file that are not UTF-8 come out replaced, not as an exception.
    return PrintLine(document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) ? Done : Failed;
}

CLI::Validator OneOf(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& text) -> std::string {
            std::string list;
            for (const auto& name : names) {
                if (name == text) return {};
                list += (list.empty() ? "" : ", ") + name;
            }
            return i18n::Fill(_("value %s is not one of: %s"), text, list);
        },
        "", "one of");
}

int Run(int argc, char** argv) {
    i18n::Start();
    interrupt::Install();
    const CommandLine line(argc, argv, IsCommand);
    Tool tool(line);
    AddCommands(tool, line);
    if (line.Whole()) Groups(tool.app);
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
    quiet = tool.quiet;
    if (tool.verbose && tool.link.trace.empty()) tool.link.trace = "-";
    try {
        return tool.action();
    } catch (const std::exception& e) {
        // The session unwinds first: the link is closed with _Done all the same.
        return Fail(i18n::Fill(_("Unexpected error: %s"), e.what()));
    }
}

}  // namespace cli
