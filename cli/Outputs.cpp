// out write | set | clear: the 32 digital outputs, written in one request.
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "OutputRecord.h"
#include "Tool.h"

namespace cli {

namespace {

constexpr int OutputCount = 32;

// "5" or "8-15": the outputs named, as a mask; nothing for a bad text.
std::optional<uint32_t> OutputsNamed(const std::vector<std::string>& texts) {
    uint32_t mask = 0;
    for (const std::string& text : texts) {
        const auto dash = text.find('-');
        uint64_t first = 0, last = 0;
        if (!ParseUnsigned(text.substr(0, dash), OutputCount - 1, first)) return std::nullopt;
        last = first;
        if (dash != std::string::npos && (!ParseUnsigned(text.substr(dash + 1), OutputCount - 1, last) || last < first))
            return std::nullopt;
        for (uint64_t n = first; n <= last; ++n) mask |= 1u << n;
    }
    return mask;
}

std::string ModuleKey(const LinkSession& session) {
    return session.LineName() + " @" + std::to_string(session.Address());
}

int WriteOutputs(const LinkSession& session, uint32_t value) {
    const std::string key = ModuleKey(session);
    if (const int32_t error = session.Module().WriteOutputs(value)) {
        // Whether the module carried it out is not known: no single output
        // may be changed on the strength of the old record.
        (void)outputs::Record(key, std::nullopt);
        return session.Fail(error);
    }
    Confirm(i18n::Fill(_("Outputs written: %s (%s)"), Hex32(value), Bits32(value)));
    if (const auto recorded = outputs::Record(key, value); !recorded.ok())
        Say(i18n::Fill(_("The value written was not recorded: %s"), recorded.message()));
    // One request: a Ctrl-C that came meanwhile let it finish.
    if (interrupt::Requested()) Say(_("Ctrl-C came during the write; the outputs were written."));
    return Done;
}

int WriteAll(const LinkOptions& link, const std::string& text) {
    uint64_t value = 0;
    if (!ParseUnsigned(text, UINT32_MAX, value))
        return Refuse(i18n::Fill(_("Output value \"%s\" is not a 32-bit number (decimal or 0x...)"), text));
    return WithSession(link, [value](const LinkSession& session) {
        return WriteOutputs(session, static_cast<uint32_t>(value));
    });
}

int Change(const LinkOptions& link, const std::vector<std::string>& texts, bool on) {
    const auto mask = OutputsNamed(texts);
    if (!mask) return Refuse(_("Outputs are given as numbers 0-31 or ranges such as 8-15"));
    return WithSession(link, [&](const LinkSession& session) {
        const auto recorded = outputs::Recorded(ModuleKey(session));
        if (!recorded)
            return Refuse(_("The state of this module's outputs is not known: the module does not report it and "
                            "kv618 has not written it yet. Write all outputs first: kv618 out write VALUE"));
        return WriteOutputs(session, on ? *recorded | *mask : *recorded & ~*mask);
    });
}

}  // namespace

void AddOutputs(Tool& tool) {
    CLI::App* out = tool.AddGroup("out", _("Writes the digital outputs DOUT0-DOUT31"));
    out->footer(_("The module does not report its outputs: set and clear start from what kv618 last wrote to it."));

    CLI::App* write = out->add_subcommand("write", _("Writes all 32 outputs at once"));
    auto value = std::make_shared<std::string>();
    write->add_option("VALUE", *value, _("Outputs as a number, DOUT0 = bit 0 (e.g. 0x81)"))->required();
    tool.When(write, [&tool, value] { return WriteAll(tool.link, *value); });

    auto setOutputs = std::make_shared<std::vector<std::string>>();
    CLI::App* set = out->add_subcommand("set", _("Switches outputs on, leaves the others"));
    set->add_option("N", *setOutputs, _("Output numbers 0-31 or ranges (8-15)"))->required();
    tool.When(set, [&tool, setOutputs] { return Change(tool.link, *setOutputs, true); });

    auto clearOutputs = std::make_shared<std::vector<std::string>>();
    CLI::App* clear = out->add_subcommand("clear", _("Switches outputs off, leaves the others"));
    clear->add_option("N", *clearOutputs, _("Output numbers 0-31 or ranges (8-15)"))->required();
    tool.When(clear, [&tool, clearOutputs] { return Change(tool.link, *clearOutputs, false); });
}

}  // namespace cli
