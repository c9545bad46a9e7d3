// scan: every module on the line, by asking each address for its
// identification at each baud rate.  A silent address costs one time-out of
// the library and nothing more.
#include "ErrorCodes.h"
#include "Format.h"
#include "line_speed.h"
#include "Interrupt.h"
#include "Tool.h"

#include <array>
#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

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
        std::fprintf(stderr, "\r%6d Bd, adresa %3d (%d-%d) ", rate, address, range.first, range.last);
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
std::string RateOfFound(const kv618::Module& module, bool serial, int32_t rate) {
    if (serial) return std::to_string(rate);
    const auto index = module.ReadRegister(kv618::reg::BaudIndex);
    if (!index.ok() || index.value >= kv618::BaudRates.size()) return "?";
    return std::to_string(kv618::BaudRates[index.value]);
}

void AnnounceWorstCase(const Range& range, const std::vector<int32_t>& rates, const TData& data) {
    std::chrono::milliseconds worst{0};
    std::string list;
    for (const int32_t rate : rates) {
        worst += range.count() * ProbeTimeout(data, rate);
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    }
    std::fprintf(stderr, "Adresy %d-%d při %s Bd: nejhorší případ trvá %s.\n", range.first, range.last, list.c_str(),
                 DurationText(worst).c_str());
}

class Scanner {
public:
    Scanner(Session& session, const Range& range)
        : session_(session), range_(range), serial_(session.Data().Rozhrani == RozhraniCOM) {}

    // Every address of the range at one rate: Done, or the status to end with.
    int AtRate(int32_t rate) {
        for (int address = range_.first; address <= range_.last; ++address) {
            if (!serial_ && found_[address]) continue;
            if (interrupt::Requested()) {
                progress_.Clear();
                Say("Přerušeno; nalezeno modulů: " + std::to_string(count_) + ".");
                return Interrupted;
            }
            progress_.Show(rate, address, range_);
            if (const int status = Probe(static_cast<uint8_t>(address), rate); status != Done) return status;
        }
        return Done;
    }

    int Found() const { return count_; }

private:
    int Probe(uint8_t address, int32_t rate) {
        const kv618::Module module = session_.At(address);
        const auto identity = module.Identify();
        if (identity.error == kv618::NoReply) return Done;
        progress_.Clear();
        if (identity.ok()) {
            found_[address] = true;
            ++count_;
            PrintLine(std::to_string(address) + " " + RateOfFound(module, serial_, rate) + " " + identity.value.Text());
            return Done;
        }
        if (!ExchangeTookPlace(identity.error)) return session_.Fail(identity.error);
        // Something answered, but not as a module should: worth knowing, not the end.
        std::fprintf(stderr, "Adresa %d, %d Bd: %s\n", address, rate, session_.Text(identity.error).c_str());
        return Done;
    }

    Session& session_;
    Range range_;
    bool serial_;
    std::array<bool, 256> found_{};
    int count_ = 0;
    Progress progress_;
};

int Scan(const LinkOptions& link, const ScanOptions& o) {
    const auto range = ParseRange(o.addresses);
    if (!range) return Refuse("Adresy se zadávají jako A-B v rozsahu 0-255, např. 1-32");
    Resolved resolved = ResolveLink(link);
    if (resolved.status != Done) return resolved.status;
    const auto rates = ParseRates(o.bauds, resolved.data);
    if (!rates) return Refuse("Rychlosti se zadávají jako all nebo seznam jako 9600,19200 z " + RateList() + " Bd");
    AnnounceWorstCase(*range, *rates, resolved.data);

    int status = Done;
    const auto session = Session::Open(std::move(resolved.data), link.trace, status, rates->front());
    if (!session) return status;
    const auto started = std::chrono::steady_clock::now();
    Scanner scanner(*session, *range);
    for (size_t r = 0; r < rates->size(); ++r) {
        if (r > 0)  // the link was opened at the first
            if (const int32_t error = session->Link().SetRate((*rates)[r])) return session->Fail(error);
        if ((status = scanner.AtRate((*rates)[r])) != Done) return status;
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::fprintf(stderr, "Nalezeno modulů: %d (za %s).\n", scanner.Found(), DurationText(took).c_str());
    return Done;
}

}  // namespace

void AddScan(Tool& tool) {
    auto o = std::make_shared<ScanOptions>();
    CLI::App* scan = tool.app.add_subcommand("scan", "Najde všechny moduly na vedení");
    scan->add_option("--addresses", o->addresses, "Rozsah adres (výchozí 0-255)")->type_name("A-B");
    scan->add_option("--bauds", o->bauds,
                     "Rychlosti: seznam (9600,19200) nebo all; výchozí all na sériové lince, jinak rychlost připojení")
        ->type_name("LIST|all");
    scan->footer("Na standardní výstup jde řádek na modul: adresa, rychlost, identifikace.");
    tool.When(scan, [&tool, o] { return Scan(tool.link, *o); });
}

}  // namespace cli
