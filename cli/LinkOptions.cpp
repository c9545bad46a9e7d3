#include "LinkOptions.h"

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Tool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace cli {

namespace {

using kv618::ParameterKind;

const char* TypeName(ParameterKind kind) {
    switch (kind) {
        case ParameterKind::PortNumber: return "N";
        case ParameterKind::IoBase: return "HEX";
        case ParameterKind::Address: return "IP";
        case ParameterKind::Bounded16: return "N";
    }
    return "TEXT";
}

std::string InterfaceNames() {
    std::string names;
    for (const auto& i : kv618::Interfaces) names += std::string(names.empty() ? "" : "|") + i.optionName;
    return names;
}

// The options' words: the interface table holds the dialog's Czech captions.
struct ParameterWords {
    const char* option;
    const char* description;
    const char* refused;
};
constexpr ParameterWords Words[] = {
    {"port", N_("COM port number"), N_("The port number must be within 1-255")},
    {"base", N_("Base address of the PCI-726"),
     N_("The base address must be a hexadecimal number 000-FFF (e.g. 300 or 300h)")},
    {"ip", N_("IP address"), N_("Invalid IP address")},
    {"udp-port", N_("UDP port"), N_("Invalid UDP port")},
    {"timeout", N_("UDP timeout"), N_("Invalid UDP timeout")},
};

const ParameterWords* WordsOf(const kv618::Parameter& p) {
    for (const ParameterWords& w : Words)
        if (std::string_view(w.option) == p.option) return &w;
    return nullptr;
}

std::string Description(const kv618::Parameter& p) {
    const ParameterWords* w = WordsOf(p);
    return w ? _(w->description) : p.label;
}

std::string Refusal(const kv618::Parameter& p) {
    const ParameterWords* w = WordsOf(p);
    return w ? _(w->refused) : kv618::RefusalText(p);
}

CLI::Validator InterfaceValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return kv618::InterfaceOfOption(text) ? std::string()
                                                  : i18n::Fill(_("unknown interface %s (%s)"), text, InterfaceNames());
        },
        "", "interface");
}

CLI::Validator ParameterValidator(const kv618::Parameter& p) {
    return CLI::Validator(
        [&p](std::string& text) -> std::string {
            return kv618::ParseParameter(p, text, kv618::Notation::Typed) ? std::string() : Refusal(p);
        },
        "", p.option);
}

int ApplySettingsFile(const std::string& path, TData& data) {
    if (path.empty()) {
        NactiNastaveni(&data);  // the program's file, when it has one
        return Done;
    }
    if (::access(path.c_str(), R_OK) != 0)
        return Refuse(i18n::Fill(_("The settings file %s cannot be read (%s)"), path, std::strerror(errno)));
    NastavCestuNastaveni(path);
    if (!NactiNastaveni(&data))
        return Refuse(
            i18n::Fill(_("The settings file %s names no interface (key Rozhraní in section Připojení)"), path));
    return Done;
}

}  // namespace

CLI::Validator AddressValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return kv618::ParseAddress(text, files::Given) ? std::string() : kv618::AddressRefusal();
        },
        "", "address");
}

CLI::Validator BaudValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return kv618::ParseRate(text, files::Given) ? std::string() : kv618::RateRefusal();
        },
        "", "baud");
}

namespace {

// The option with its type and group, where the line may name it (its text
// made only then); null where the line does not.
CLI::Option* AddNamed(CLI::App& app, const CommandLine& line, const std::string& names, std::string& value,
                      const std::function<std::string()>& description, const char* type) {
    if (!line.BuildsOption(names)) return nullptr;
    return app.add_option(names, value, description())->type_name(type)->group(_("Connection"));
}

}  // namespace

void LinkOptions::Add(CLI::App& app, const CommandLine& line) {
    AddNamed(app, line, "--settings", settings,
             [] { return _("The program's settings file (by default R_iv618.ini beside the program)"); }, "FILE");
    if (auto* o = AddNamed(app, line, "-i,--interface", interface,
                           [] { return i18n::Fill(_("Interface: %s"), InterfaceNames()); }, "NAME"))
        o->check(InterfaceValidator());
    for (size_t type = 0; type < kv618::Interfaces.size(); ++type) {
        for (const kv618::Parameter& p : kv618::Interfaces[type].parameters) {
            parameters.push_back({&p, static_cast<uint8_t>(type), {}, nullptr});
        }
    }
    for (ParameterOption& po : parameters) {
        // -p for the serial port, the commonest.
        const std::string name = std::string("--") + po.parameter->option;
        const auto description = [&po] {
            return Description(*po.parameter) + " (--interface " + kv618::Interfaces[po.type].optionName + ")";
        };
        po.option = AddNamed(app, line, name == "--port" ? "-p," + name : name, po.text, description,
                             TypeName(po.parameter->kind));
        if (po.option) po.option->check(ParameterValidator(*po.parameter));
    }
    if (auto* o = AddNamed(app, line, "-a,--address", address, [] { return _("Module address 0-255"); }, "N"))
        o->check(AddressValidator());
    if (auto* o = AddNamed(app, line, "--baud", baud,
                           [] { return i18n::Fill(_("Baud rate in Bd (%s)"), RateList()); }, "BD"))
        o->check(BaudValidator());
    AddNamed(app, line, "--trace", trace,
             [] { return _("Record of the libraries' exchanges into a file (- = standard error)"); }, "FILE|-");
}

Resolved ResolveLink(const LinkOptions& options) {
    Resolved r;
    InicializujData(&r.data);
    if ((r.status = ApplySettingsFile(options.settings, r.data)) != Done) return r;
    if (!options.interface.empty()) r.data.Rozhrani = *kv618::InterfaceOfOption(options.interface);
    for (const auto& po : options.parameters) {
        if (!po.option || po.option->count() == 0) continue;
        if (po.type != r.data.Rozhrani) {
            r.status = Refuse(i18n::Fill(_("Option --%s belongs to interface %s, %s is chosen"),
                                         po.parameter->option, kv618::Interfaces[po.type].optionName,
                                         kv618::Interfaces[r.data.Rozhrani].optionName));
            return r;
        }
        kv618::SetParameter(r.data, *po.parameter, *kv618::ParseParameter(*po.parameter, po.text, kv618::Notation::Typed));
    }
    if (const auto address = kv618::ParseAddress(options.address, files::Given)) r.data.Adresa = *address;
    if (const auto rate = kv618::ParseRate(options.baud, files::Given)) r.data.Rychlost = *rate;
    return r;
}

std::unique_ptr<LinkSession> LinkSession::Open(const LinkOptions& options, int& status, int32_t rate) {
    Resolved resolved = ResolveLink(options);
    if ((status = resolved.status) != Done) return nullptr;
    return Open(std::move(resolved.data), options.trace, status, rate);
}

std::unique_ptr<LinkSession> LinkSession::Open(TData data, const std::string& trace, int& status, int32_t rate) {
    std::unique_ptr<LinkSession> session(new LinkSession);
    session->data_ = std::move(data);
    // The libraries decide at _Init whether a link traces.
    if (!trace.empty()) ::setenv("KV618_TRACE", trace.c_str(), 1);
    const uint8_t type = session->data_.Rozhrani;
    int32_t code = 0;
    {
        // Until the link is open nothing is held: Ctrl-C ends a wait at _Init
        // (a trace file that is a FIFO without a reader) at once.
        interrupt::Promptly prompt;
        code = session->connection_.Open(type, kv618::InitBlock(session->data_, type),
                                         rate ? rate : session->data_.Rychlost);
    }
    if (code != 0) {
        Say(i18n::Fill(_("Connection initialisation error - %s"), session->connection_.Text(code)));
        status = Failed;
        return nullptr;
    }
    return session;
}

std::string LinkSession::LineName() const {
    const kv618::Interface& i = kv618::Interfaces[data_.Rozhrani];
    std::string name = i.settingsName;
    for (const kv618::Parameter& p : i.parameters) name += " " + kv618::ParameterText(data_, p);
    return name;
}

int LinkSession::Fail(int32_t code) const { return cli::Fail(connection_.Text(code)); }

}  // namespace cli
