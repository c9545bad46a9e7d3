// scan: every module on the line.  The scan itself is the module layer's
// (module/Scan.h), shared with the program's window; here are its options,
// its words and its output.
#include "ErrorCodes.h"
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "ReplyTime.h"
#include "Scan.h"
#include "Tool.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace cli {

namespace {

struct ScanOptions {
    std::string addresses = "0-255";
    std::string bauds;        // empty: as the interface carries the rate (kv618::ScanPlan::For)
    int probeTimeoutMs = -1;  // as kv618::ScanPlan::probeMs
};

bool ParseRange(const std::string& text, kv618::ScanPlan& plan) {
    const auto dash = text.find('-');
    uint64_t first = 0, last = 0;
    if (!ParseUnsigned(text.substr(0, dash), kv618::HighestAddress, first)) return false;
    last = first;
    if (dash != std::string::npos && (!ParseUnsigned(text.substr(dash + 1), kv618::HighestAddress, last) || last < first))
        return false;
    plan.first = static_cast<uint8_t>(first);
    plan.last = static_cast<uint8_t>(last);
    return true;
}

bool ParseRates(const std::string& text, kv618::ScanPlan& plan) {
    if (text.empty()) return true;
    if (text == "all") {
        plan.rates.assign(wire::BaudRates.begin(), wire::BaudRates.end());
        return true;
    }
    std::vector<int32_t> rates;
    for (size_t start = 0; start <= text.size();) {
        const auto comma = std::min(text.find(',', start), text.size());
        const auto rate = kv618::ParseRate(Trimmed(text.substr(start, comma - start)), files::Given);
        if (!rate) return false;
        rates.push_back(*rate);
        start = comma + 1;
    }
    plan.rates = std::move(rates);
    return true;
}

// What is being asked, on standard error while it is a terminal.
class Progress {
public:
    explicit Progress(const kv618::ScanPlan& plan) : plan_(plan), shown_(::isatty(STDERR_FILENO)) {}
    ~Progress() { Clear(); }
    void Show(const kv618::ScanProgress& p) {
        if (!shown_) return;
        char numbers[3][16];
        std::snprintf(numbers[0], sizeof numbers[0], "%6d", p.rate);
        std::snprintf(numbers[1], sizeof numbers[1], "%3d", p.address);
        std::snprintf(numbers[2], sizeof numbers[2], "%d-%d", plan_.first, plan_.last);
        const std::string text =
            i18n::Fill(_("%s Bd, address %s (%s), modules found: %s "), numbers[0], numbers[1], numbers[2], p.found);
        std::fputs(("\r\033[K" + text).c_str(), stderr);
        std::fflush(stderr);
    }
    void Clear() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    const kv618::ScanPlan& plan_;
    bool shown_;
};

void AnnounceWorstCase(const kv618::ScanPlan& plan, std::chrono::milliseconds worst) {
    if (!Noted()) return;
    std::string list;
    for (const int32_t rate : plan.rates) list += (list.empty() ? "" : ", ") + std::to_string(rate);
    std::fputs(
        i18n::Fill(_("Addresses %s-%s at %s Bd: the worst case takes %s.\n"), plan.first, plan.last, list, DurationText(worst))
            .c_str(),
        stderr);
}

// The modules found: a line each as they are found, or one JSON document at
// the end with whether the whole range was asked.
class Output {
public:
    explicit Output(bool json) : json_(json) {}
    void Found(const kv618::FoundModule& m) {
        if (!json_) {
            PrintLine(std::to_string(m.address) + " " + (m.rate ? std::to_string(*m.rate) : "?") + " " +
                      m.identity.Text());
            return;
        }
        nlohmann::ordered_json entry = IdentityJson(m.identity, m.address);
        entry["baud"] = m.rate ? nlohmann::ordered_json(*m.rate) : nlohmann::ordered_json(nullptr);
        modules_.push_back(std::move(entry));
    }
    int End(bool complete) const {
        return json_ ? PrintJson({{"modules", modules_}, {"complete", complete}}) : Done;
    }

private:
    bool json_;
    nlohmann::ordered_json modules_ = nlohmann::ordered_json::array();
};

int Scan(const LinkOptions& link, const ScanOptions& o, bool json) {
    kv618::ScanPlan plan;
    if (!ParseRange(o.addresses, plan)) return Refuse(_("Addresses are given as A-B within 0-255, e.g. 1-32"));
    if (o.probeTimeoutMs > wire::LongestExactTimeoutMs)
        return Refuse(i18n::Fill(_("The wait for a reply is given in ms, 0-%s"), wire::LongestExactTimeoutMs));
    Resolved resolved = ResolveLink(link);
    if (resolved.status != Done) return resolved.status;
    const uint8_t first = plan.first, last = plan.last;
    plan = kv618::ScanPlan::For(resolved.data);
    plan.first = first;
    plan.last = last;
    plan.probeMs = o.probeTimeoutMs;
    if (!ParseRates(o.bauds, plan))
        return Refuse(i18n::Fill(_("Rates are given as all or a list such as 9600,19200 of %s Bd"), RateList()));

    int status = Done;
    const auto session = LinkSession::Open(std::move(resolved.data), link.trace, status, plan.rates.front());
    if (!session) return status;
    const auto started = std::chrono::steady_clock::now();
    Progress progress(plan);
    Output output(json);
    bool announced = false;
    kv618::ScanEvents events;
    events.progress = [&](const kv618::ScanProgress& p) {
        if (!std::exchange(announced, true)) AnnounceWorstCase(plan, p.left);
        progress.Show(p);
    };
    events.found = [&](const kv618::FoundModule& m) {
        progress.Clear();
        output.Found(m);
    };
    events.oddAnswer = [&](uint8_t address, int32_t rate, int32_t code) {
        // Something answered, but not as a module should: worth knowing, not the end.
        progress.Clear();
        std::fputs(i18n::Fill(_("Address %s, %s Bd: %s\n"), address, rate, session->Text(code)).c_str(), stderr);
    };
    events.wholeTimeoutOnly = [] {
        Say(_("The library did not take a shorter wait for a reply; every silent address waits the link's whole "
              "time-out."));
    };
    events.cancelled = [] { return interrupt::Requested(); };
    const kv618::ScanOutcome outcome = kv618::RunScan(session->Link(), plan, events);
    progress.Clear();
    switch (outcome.end) {
        case kv618::ScanEnd::LineFailed: return session->Fail(outcome.code);
        case kv618::ScanEnd::Cancelled:
            Say(i18n::Fill(_("Interrupted; modules found: %s."), outcome.found));
            // What was found before an interruption is worth as much as before it.
            if (json) output.End(false);
            return Interrupted;
        case kv618::ScanEnd::Complete: break;
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    Note(i18n::Fill(_("Modules found: %s (in %s)."), outcome.found, DurationText(took)));
    return output.End(true);
}

}  // namespace

void AddScan(Tool& tool) {
    auto o = std::make_shared<ScanOptions>();
    CLI::App* scan = tool.app.add_subcommand("scan", _("Finds every module on the line"));
    scan->add_option("--addresses", o->addresses, _("Range of addresses (default 0-255)"))->type_name("A-B");
    scan->add_option("--bauds", o->bauds,
                     _("Rates: a list (9600,19200) or all; default all on a serial line and over the LAN converter, "
                       "otherwise the connection's rate"))
        ->type_name("LIST|all");
    scan->add_option("--probe-timeout", o->probeTimeoutMs,
                     _("How long to wait for a silent address, ms; default the line time at the rate + 6 ms, more "
                       "where the link's replies show more delay, 0 = the link's whole time-out"))
        ->type_name("MS")
        ->check(CLI::Range(0, wire::LongestExactTimeoutMs));
    tool.AddJson(scan);
    scan->footer(_("Standard output gets a line per module: address, rate, identification."));
    tool.When(scan, [&tool, o] { return Scan(tool.link, *o, tool.json); });
}

}  // namespace cli
