// scan: every module on the line, by asking each address for its
// identification at each baud rate.  A silent address costs one probe
// time-out: as long as a module needs to answer at that rate, not the
// link's whole time-out (docs/protocol.md, Time-outs).
#include "ErrorCodes.h"
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Tool.h"
#include "reply_time.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <utility>
#include <unistd.h>

namespace cli {

namespace {

struct ScanOptions {
    std::string addresses = "0-255";
    std::string bauds;  // empty: every rate on a serial line, the link's own elsewhere
    int probeTimeoutMs = -1;  // -1: from the rate; 0: the link's own time-out
};

struct Range {
    int first = 0, last = 255;
    int count() const { return last - first + 1; }
};

std::optional<Range> ParseRange(const std::string& text) {
    const auto dash = text.find('-');
    uint64_t first = 0, last = 0;
    if (!ParseUnsigned(text.substr(0, dash), kv618::HighestAddress, first)) return std::nullopt;
    last = first;
    if (dash != std::string::npos && (!ParseUnsigned(text.substr(dash + 1), kv618::HighestAddress, last) || last < first))
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
        const auto rate = kv618::ParseRate(Trimmed(text.substr(start, comma - start)), files::Given);
        if (!rate) return std::nullopt;
        rates.push_back(*rate);
        start = comma + 1;
    }
    return rates;
}

// Beyond the line time and the module's turnaround, a silent address is
// given this much more: the host's and a converter's delays in handing the
// reply on.
constexpr int32_t ProbeMarginMs = 5;

// How long a probe waits for a module at this rate.
int32_t ProbeTimeoutMs(int32_t rate) { return wire::lineTimeMs(rate) + wire::ModuleTurnaroundMs + ProbeMarginMs; }

// How long the library waits with the program's time value: a whole exchange's time-out.
int32_t FullTimeoutMs(const TData& data, int32_t rate) {
    if (data.Rozhrani == RozhraniKV1726 && data.UDPTimeout > 0) return data.UDPTimeout;
    return wire::replyTimeoutMs(rate, TimeoutRychlosti(rate));
}

// Codes of an exchange that took place (something answered or nothing did),
// as against a line that failed as a whole.
bool ExchangeTookPlace(int32_t code) { return kv618::IsSilence(code) || kv618::IsRefusal(code); }

class Progress {
public:
    Progress() : shown_(::isatty(STDERR_FILENO)) {}
    ~Progress() { Clear(); }
    void Show(int32_t rate, int address, const Range& range, int found) {
        if (!shown_) return;
        char numbers[3][16];
        std::snprintf(numbers[0], sizeof numbers[0], "%6d", rate);
        std::snprintf(numbers[1], sizeof numbers[1], "%3d", address);
        std::snprintf(numbers[2], sizeof numbers[2], "%d-%d", range.first, range.last);
        const std::string text =
            i18n::Fill(_("%s Bd, address %s (%s), modules found: %s "), numbers[0], numbers[1], numbers[2], found);
        std::fputs(("\r" + text).c_str(), stderr);
        std::fflush(stderr);
    }
    void Clear() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    bool shown_;
};

// On a serial line a module answers only at its own rate; elsewhere the
// module's stored rate is asked, which also holds where the converter does
// not carry the rate to the line.
std::optional<int32_t> RateOfFound(const kv618::Module& module, bool serial, int32_t rate) {
    if (serial) return rate;
    const auto index = module.ReadRegister(kv618::reg::BaudIndex);
    if (!index.ok() || index.value >= kv618::BaudRates.size()) return std::nullopt;
    return kv618::BaudRates[index.value];
}

class Scanner {
public:
    // With `json` the modules found are kept for one document at the end,
    // otherwise each is printed as it is found.
    Scanner(LinkSession& session, const Range& range, int probeTimeoutMs, bool json)
        : session_(session),
          range_(range),
          serial_(session.Data().Rozhrani == RozhraniCOM),
          json_(json),
          probeOption_(probeTimeoutMs) {}

    // Sets the rate with the probe's time-out: Done or the status to end with.
    int SetRate(int32_t rate) {
        rate_ = rate;
        if (probeOption_ != 0 && exact_) {
            const int32_t error = SetConfig(-ProbeMs(rate));
            if (error == 0) return Done;
            if (error != kv618::InvalidParameter) return session_.Fail(error);
            // A library that knows no exact time-out: every probe waits the whole time-out.
            exact_ = false;
            Say(_("The library did not take a shorter wait for a reply; every silent address waits the link's whole "
                  "time-out."));
        }
        if (const int32_t error = SetConfig(TimeoutRychlosti(rate))) return session_.Fail(error);
        return Done;
    }

    // How long a silent address waits at this rate.
    int32_t ProbeMs(int32_t rate) const {
        if (probeOption_ == 0 || !exact_) return FullTimeoutMs(session_.Data(), rate);
        return probeOption_ > 0 ? probeOption_ : ProbeTimeoutMs(rate);
    }

    // Every address of the range at one rate, but those already found: Done,
    // or the status to end with.
    int AtRate(int32_t rate) {
        if (const int status = SetRate(rate); status != Done) return status;
        recentSilent_.clear();
        for (int address = range_.first; address <= range_.last; ++address) {
            if (found_[address]) continue;
            if (interrupt::Requested()) {
                progress_.Clear();
                Say(i18n::Fill(_("Interrupted; modules found: %s."), count_));
                return Interrupted;
            }
            progress_.Show(rate, address, range_, count_);
            Verdict verdict = Probe(static_cast<uint8_t>(address));
            if (verdict == Verdict::Unclear) verdict = JudgeAgain(static_cast<uint8_t>(address));
            if (verdict == Verdict::LineFailed) return lineStatus_;
            if (verdict == Verdict::Silent) NoteSilent(address);
        }
        return Done;
    }

    int Found() const { return count_; }
    const nlohmann::ordered_json& Modules() const { return modules_; }

private:
    enum class Verdict { Silent, Found, Unclear, LineFailed };
    using Clock = std::chrono::steady_clock;

    // Silent addresses whose reply could still come: those probed within
    // the link's whole time-out.
    void NoteSilent(int address) {
        const auto now = Clock::now();
        const auto whole = std::chrono::milliseconds(FullTimeoutMs(session_.Data(), rate_));
        std::erase_if(recentSilent_, [&](const auto& probed) { return now - probed.second > whole; });
        recentSilent_.emplace_back(address, now);
    }

    // Something damaged or late answered at `address`: its own reply gone
    // wrong, or the late reply of an address probed just before.  Both are
    // asked again with the link's whole time-out before they are judged.
    Verdict JudgeAgain(uint8_t address) {
        if (const int32_t error = SetConfig(TimeoutRychlosti(rate_))) {
            lineStatus_ = session_.Fail(error);
            return Verdict::LineFailed;
        }
        const auto earlier = std::exchange(recentSilent_, {});
        for (const auto& probed : earlier)
            if (Probe(static_cast<uint8_t>(probed.first), true) == Verdict::LineFailed) return Verdict::LineFailed;
        const Verdict verdict = Probe(address, true);
        if (verdict == Verdict::LineFailed) return verdict;
        if (const int status = SetRate(rate_); status != Done) {
            lineStatus_ = status;
            return Verdict::LineFailed;
        }
        return verdict;
    }

    int32_t SetConfig(int32_t time) { return session_.Link().SetRate(rate_, time); }

    // One identification at `address`; `judged` is the last word on it,
    // with the link's whole time-out.
    Verdict Probe(uint8_t address, bool judged = false) {
        const kv618::Module module = session_.At(address);
        const auto identity = module.Identify();
        if (identity.error == kv618::NoReply) return Verdict::Silent;
        if (identity.ok()) {
            progress_.Clear();
            found_[address] = true;
            ++count_;
            const auto found = RateOfFound(module, serial_, rate_);
            if (json_) {
                nlohmann::ordered_json entry = IdentityJson(identity.value, address);
                entry["baud"] = found ? nlohmann::ordered_json(*found) : nlohmann::ordered_json(nullptr);
                modules_.push_back(std::move(entry));
            } else {
                PrintLine(std::to_string(address) + " " + (found ? std::to_string(*found) : "?") + " " +
                          identity.value.Text());
            }
            return Verdict::Found;
        }
        if (!ExchangeTookPlace(identity.error)) {
            progress_.Clear();
            lineStatus_ = session_.Fail(identity.error);
            return Verdict::LineFailed;
        }
        if (!judged) return Verdict::Unclear;
        // Something answered, but not as a module should: worth knowing, not the end.
        progress_.Clear();
        std::fputs(i18n::Fill(_("Address %s, %s Bd: %s\n"), address, rate_, session_.Text(identity.error)).c_str(),
                   stderr);
        return Verdict::Silent;
    }

    LinkSession& session_;
    Range range_;
    bool serial_;
    bool json_;
    nlohmann::ordered_json modules_ = nlohmann::ordered_json::array();
    int probeOption_;
    bool exact_ = true;  // the library takes an exact time-out
    int32_t rate_ = 0;
    int lineStatus_ = Failed;
    std::array<bool, 256> found_{};
    std::vector<std::pair<int, Clock::time_point>> recentSilent_;
    int count_ = 0;
    Progress progress_;
};

void AnnounceWorstCase(const Range& range, const std::vector<int32_t>& rates, const Scanner& scanner) {
    if (!Noted()) return;
    std::chrono::milliseconds worst{0};
    std::string list;
    for (const int32_t rate : rates) {
        worst += range.count() * std::chrono::milliseconds(scanner.ProbeMs(rate));
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    }
    std::fputs(i18n::Fill(_("Addresses %s-%s at %s Bd: the worst case takes %s.\n"), range.first, range.last, list,
                          DurationText(worst))
                   .c_str(),
               stderr);
}

// Every module found, and whether the whole range was asked.
int PrintFound(const Scanner& scanner, bool complete) {
    return PrintJson({{"modules", scanner.Modules()}, {"complete", complete}});
}

int Scan(const LinkOptions& link, const ScanOptions& o, bool json) {
    const auto range = ParseRange(o.addresses);
    if (!range) return Refuse(_("Addresses are given as A-B within 0-255, e.g. 1-32"));
    if (o.probeTimeoutMs > wire::LongestExactTimeoutMs)
        return Refuse(i18n::Fill(_("The wait for a reply is given in ms, 0-%s"), wire::LongestExactTimeoutMs));
    Resolved resolved = ResolveLink(link);
    if (resolved.status != Done) return resolved.status;
    const auto rates = ParseRates(o.bauds, resolved.data);
    if (!rates) return Refuse(i18n::Fill(_("Rates are given as all or a list such as 9600,19200 of %s Bd"), RateList()));

    int status = Done;
    const auto session = LinkSession::Open(std::move(resolved.data), link.trace, status, rates->front());
    if (!session) return status;
    const auto started = std::chrono::steady_clock::now();
    Scanner scanner(*session, *range, o.probeTimeoutMs, json);
    // The first rate is set before the announcement: it tells whether the
    // library takes the probe's time-out.
    if ((status = scanner.SetRate(rates->front())) != Done) return status;
    AnnounceWorstCase(*range, *rates, scanner);
    for (const int32_t rate : *rates) {
        if ((status = scanner.AtRate(rate)) != Done) {
            // What was found before an interruption is worth as much as before it.
            if (json && status == Interrupted) PrintFound(scanner, false);
            return status;
        }
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    Note(i18n::Fill(_("Modules found: %s (in %s)."), scanner.Found(), DurationText(took)));
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
    scan->add_option("--probe-timeout", o->probeTimeoutMs,
                     _("How long to wait for a silent address, ms; default the line time at the rate + 8 ms, "
                       "0 = the link's whole time-out"))
        ->type_name("MS")
        ->check(CLI::Range(0, wire::LongestExactTimeoutMs));
    tool.AddJson(scan);
    scan->footer(_("Standard output gets a line per module: address, rate, identification."));
    tool.When(scan, [&tool, o] { return Scan(tool.link, *o, tool.json); });
}

}  // namespace cli
