// scan: every module on the line, by asking each address for its
// identification at each baud rate.  A silent address costs one time-out of
// the library and nothing more.
#include "ErrorCodes.h"
#include "Format.h"
#include "line_speed.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Tool.h"

#include <array>
#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

using i18n::Fill;

struct ScanOptions {
    std::string addresses = "0-255";
    std::string bauds;  // empty: every rate on a serial line, the link's own elsewhere
};

struct Range {
    int first = 0, last = 255;
    int count() const { return last - first + 1; }
};

std::optional<Range> ParseRange(const std::string& text) {
    const auto dash = text.find('-');
    uint64_t first = 0, last = 0;
    if (!ParseUnsigned(text.substr(0, dash), 255, first)) return std::nullopt;
    last = first;
    if (dash != std::string::npos && (!ParseUnsigned(text.substr(dash + 1), 255, last) || last < first))
        return std::nullopt;
    return Range{static_cast<int>(first), static_cast<int>(last)};
}

std::optional<std::vector<int32_t>> ParseRates(const std::string& text, const TData& data) {
    const bool serial = data.Rozhrani == RozhraniCOM;
    if (text == "all" || (text.empty() && serial)) return std::vector<int32_t>(kv618::BaudRates.begin(), kv618::BaudRates.end());
    if (text.empty()) return std::vector<int32_t>{data.Rychlost};
    std::vector<int32_t> rates;
    for (size_t start = 0; start <= text.size();) {
        const auto comma = std::min(text.find(',', start), text.size());
        uint64_t rate = 0;
        if (!ParseUnsigned(Trimmed(text.substr(start, comma - start)), 115200, rate) ||
            !kv618::BaudIndexOf(static_cast<int32_t>(rate)))
            return std::nullopt;
        rates.push_back(static_cast<int32_t>(rate));
        start = comma + 1;
    }
    return rates;
}

// How long the library waits for a silent module at this rate.
std::chrono::milliseconds ProbeTimeout(const TData& data, int32_t rate) {
    if (data.Rozhrani == RozhraniKV1726 && data.UDPTimeout > 0) return std::chrono::milliseconds(data.UDPTimeout);
    return std::chrono::milliseconds(wire::replyTimeoutMs(rate, TimeoutRychlosti(rate)));
}

// Codes of an exchange that took place (something answered or nothing did),
// as against a line that failed as a whole.
bool ExchangeTookPlace(int32_t code) { return kv618::IsSilence(code) || kv618::IsRefusal(code); }

class Progress {
public:
    Progress() : shown_(::isatty(STDERR_FILENO)) {}
    ~Progress() { Clear(); }
    void Show(int32_t rate, int address, const Range& range) {
        if (!shown_) return;
        char numbers[3][16];
        std::snprintf(numbers[0], sizeof numbers[0], "%6d", rate);
        std::snprintf(numbers[1], sizeof numbers[1], "%3d", address);
        std::snprintf(numbers[2], sizeof numbers[2], "%d-%d", range.first, range.last);
        std::fputs(("\r" + Fill(_("%s Bd, address %s (%s) "), numbers[0], numbers[1], numbers[2])).c_str(), stderr);
        std::fflush(stderr);
    }
    void Clear() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    bool shown_;
};

// On a serial line a module answers only at its own rate; elsewhere the rate
// goes no further than the library, so the module's stored rate is asked.
std::optional<int32_t> RateOfFound(const kv618::Module& module, bool serial, int32_t rate) {
    if (serial) return rate;
    const auto index = module.ReadRegister(kv618::reg::BaudIndex);
    if (!index.ok() || index.value >= kv618::BaudRates.size()) return std::nullopt;
    return kv618::BaudRates[index.value];
}

void AnnounceWorstCase(const Range& range, const std::vector<int32_t>& rates, const TData& data) {
    if (!Noted()) return;
    std::chrono::milliseconds worst{0};
    std::string list;
    for (const int32_t rate : rates) {
        worst += range.count() * ProbeTimeout(data, rate);
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    }
    std::fputs(Fill(_("Addresses %s-%s at %s Bd: the worst case takes %s.\n"), range.first, range.last, list,
                    DurationText(worst))
                   .c_str(),
               stderr);
}

class Scanner {
public:
    // With `json` the modules found are kept for one document at the end,
    // otherwise each is printed as it is found.
    Scanner(Session& session, const Range& range, bool json)
        : session_(session), range_(range), serial_(session.Data().Rozhrani == RozhraniCOM), json_(json) {}

    // Every address of the range at one rate: Done, or the status to end with.
    int AtRate(int32_t rate) {
        for (int address = range_.first; address <= range_.last; ++address) {
            if (!serial_ && found_[address]) continue;
            if (interrupt::Requested()) {
                progress_.Clear();
                Say(Fill(_("Interrupted; modules found: %s."), count_));
                return Interrupted;
            }
            progress_.Show(rate, address, range_);
            if (const int status = Probe(static_cast<uint8_t>(address), rate); status != Done) return status;
        }
        return Done;
    }

    int Found() const { return count_; }
    const nlohmann::ordered_json& Modules() const { return modules_; }

private:
    int Probe(uint8_t address, int32_t rate) {
        const kv618::Module module = session_.At(address);
        const auto identity = module.Identify();
        if (identity.error == kv618::NoReply) return Done;
        progress_.Clear();
        if (identity.ok()) {
            found_[address] = true;
            ++count_;
            const auto found = RateOfFound(module, serial_, rate);
            if (json_) {
                nlohmann::ordered_json entry = IdentityJson(identity.value, address);
                entry["baud"] = found ? nlohmann::ordered_json(*found) : nlohmann::ordered_json(nullptr);
                modules_.push_back(std::move(entry));
            } else {
                PrintLine(std::to_string(address) + " " + (found ? std::to_string(*found) : "?") + " " +
                          identity.value.Text());
            }
            return Done;
        }
        if (!ExchangeTookPlace(identity.error)) return session_.Fail(identity.error);
        // Something answered, but not as a module should: worth knowing, not the end.
        std::fputs(Fill(_("Address %s, %s Bd: %s\n"), address, rate, session_.Text(identity.error)).c_str(), stderr);
        return Done;
    }

    Session& session_;
    Range range_;
    bool serial_;
    bool json_;
    nlohmann::ordered_json modules_ = nlohmann::ordered_json::array();
    std::array<bool, 256> found_{};
    int count_ = 0;
    Progress progress_;
};

// Every module found, and whether the whole range was asked.
int PrintFound(const Scanner& scanner, bool complete) {
    return PrintJson({{"modules", scanner.Modules()}, {"complete", complete}});
}

int Scan(const LinkOptions& link, const ScanOptions& o, bool json) {
    const auto range = ParseRange(o.addresses);
    if (!range) return Refuse(_("Addresses are given as A-B within 0-255, e.g. 1-32"));
    Resolved resolved = ResolveLink(link);
    if (resolved.status != Done) return resolved.status;
    const auto rates = ParseRates(o.bauds, resolved.data);
    if (!rates) return Refuse(Fill(_("Rates are given as all or a list such as 9600,19200 of %s Bd"), RateList()));
    AnnounceWorstCase(*range, *rates, resolved.data);

    int status = Done;
    const auto session = Session::Open(std::move(resolved.data), link.trace, status, rates->front());
    if (!session) return status;
    const auto started = std::chrono::steady_clock::now();
    Scanner scanner(*session, *range, json);
    for (size_t r = 0; r < rates->size(); ++r) {
        if (r > 0)  // the link was opened at the first
            if (const int32_t error = session->Link().SetRate((*rates)[r])) return session->Fail(error);
        if ((status = scanner.AtRate((*rates)[r])) != Done) {
            // What was found before an interruption is worth as much as before it.
            if (json && status == Interrupted) PrintFound(scanner, false);
            return status;
        }
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    Note(Fill(_("Modules found: %s (in %s)."), scanner.Found(), DurationText(took)));
    return json ? PrintFound(scanner, true) : Done;
}

}  // namespace

void AddScan(Tool& tool) {
    auto o = std::make_shared<ScanOptions>();
    CLI::App* scan = tool.app.add_subcommand("scan", _("Finds every module on the line"));
    scan->add_option("--addresses", o->addresses, _("Range of addresses (default 0-255)"))->type_name("A-B");
    scan->add_option("--bauds", o->bauds,
                     _("Rates: a list (9600,19200) or all; default all on a serial line, otherwise the connection's rate"))
        ->type_name("LIST|all");
    tool.AddJson(scan);
    scan->footer(_("Standard output gets a line per module: address, rate, identification."));
    tool.When(scan, [&tool, o] { return Scan(tool.link, *o, tool.json); });
}

}  // namespace cli
