#include "LinkOptions.h"

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "Tool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

CLI::Validator InterfaceValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return kv618::InterfaceOfOption(text) ? std::string() : "neznámé rozhraní " + text + " (" + InterfaceNames() + ")";
        },
        "", "interface");
}

CLI::Validator ParameterValidator(const kv618::Parameter& p) {
    return CLI::Validator(
        [&p](std::string& text) -> std::string {
            return kv618::ParseParameter(p, text, kv618::Notation::Typed) ? std::string() : kv618::RefusalText(p);
        },
        "", p.option);
}

int ApplySettingsFile(const std::string& path, TData& data) {
    if (path.empty()) {
        NactiNastaveni(&data);  // the program's file, when it has one
        return Done;
    }
    if (::access(path.c_str(), R_OK) != 0)
        return Refuse("Soubor nastavení " + path + " nelze číst (" + std::strerror(errno) + ")");
    NastavCestuNastaveni(path);
    if (!NactiNastaveni(&data))
        return Refuse("Soubor nastavení " + path + " neuvádí rozhraní (klíč Rozhraní v sekci Připojení)");
    return Done;
}

}  // namespace

CLI::Validator AddressValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            uint64_t n = 0;
            return ParseUnsigned(text, 255, n) ? std::string() : "Adresa modulu musí být v rozsahu 0-255.";
        },
        "", "address");
}

CLI::Validator BaudValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            uint64_t n = 0;
            if (ParseUnsigned(text, 115200, n) && kv618::BaudIndexOf(static_cast<int32_t>(n))) return {};
            return "Komunikační rychlost musí být jedna z " + RateList() + " Bd.";
        },
        "", "baud");
}

void LinkOptions::Add(CLI::App& app) {
    const std::string group = "Připojení";
    app.add_option("--settings", settings, "Soubor nastavení programu (výchozí R_iv618.ini u programu)")
        ->type_name("FILE")
        ->group(group);
    app.add_option("--interface", interface, "Rozhraní: " + InterfaceNames())
        ->type_name("NAME")
        ->check(InterfaceValidator())
        ->group(group);
    for (size_t type = 0; type < kv618::Interfaces.size(); ++type) {
        for (const kv618::Parameter& p : kv618::Interfaces[type].parameters) {
            parameters.push_back({&p, static_cast<uint8_t>(type), {}, nullptr});
        }
    }
    for (ParameterOption& po : parameters) {
        const std::string description =
            std::string(po.parameter->label) + " (--interface " + kv618::Interfaces[po.type].optionName + ")";
        po.option = app.add_option(std::string("--") + po.parameter->option, po.text, description)
                        ->type_name(TypeName(po.parameter->kind))
                        ->check(ParameterValidator(*po.parameter))
                        ->group(group);
    }
    app.add_option("--address", address, "Adresa modulu 0-255")->type_name("N")->check(AddressValidator())->group(group);
    app.add_option("--baud", baud, "Komunikační rychlost v Bd (" + RateList() + ")")
        ->type_name("BD")
        ->check(BaudValidator())
        ->group(group);
    app.add_option("--trace", trace, "Záznam komunikace knihoven do souboru (- = chybový výstup)")
        ->type_name("FILE|-")
        ->group(group);
}

Resolved ResolveLink(const LinkOptions& options) {
    Resolved r;
    InicializujData(&r.data);
    if ((r.status = ApplySettingsFile(options.settings, r.data)) != Done) return r;
    if (!options.interface.empty()) r.data.Rozhrani = *kv618::InterfaceOfOption(options.interface);
    for (const auto& po : options.parameters) {
        if (po.option->count() == 0) continue;
        if (po.type != r.data.Rozhrani) {
            r.status = Refuse(std::string("Volba --") + po.parameter->option + " patří k rozhraní " +
                              kv618::Interfaces[po.type].optionName + ", zvoleno je " +
                              kv618::Interfaces[r.data.Rozhrani].optionName);
            return r;
        }
        kv618::SetParameter(r.data, *po.parameter, *kv618::ParseParameter(*po.parameter, po.text, kv618::Notation::Typed));
    }
    uint64_t number = 0;
    if (ParseUnsigned(options.address, 255, number)) r.data.Adresa = static_cast<uint8_t>(number);
    if (ParseUnsigned(options.baud, 115200, number)) r.data.Rychlost = static_cast<int32_t>(number);
    return r;
}

std::unique_ptr<Session> Session::Open(const LinkOptions& options, int& status, int32_t rate) {
    Resolved resolved = ResolveLink(options);
    if ((status = resolved.status) != Done) return nullptr;
    return Open(std::move(resolved.data), options.trace, status, rate);
}

std::unique_ptr<Session> Session::Open(TData data, const std::string& trace, int& status, int32_t rate) {
    std::unique_ptr<Session> session(new Session);
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
        Say("Chyba inicializace připojení - " + session->connection_.Text(code));
        status = Failed;
        return nullptr;
    }
    return session;
}

std::string Session::LineName() const {
    const kv618::Interface& i = kv618::Interfaces[data_.Rozhrani];
    std::string name = i.settingsName;
    for (const kv618::Parameter& p : i.parameters) name += " " + kv618::ParameterText(data_, p);
    return name;
}

int Session::Fail(int32_t code) const { return cli::Fail(connection_.Text(code)); }

}  // namespace cli
