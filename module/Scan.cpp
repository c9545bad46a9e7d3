#include "Scan.h"

#include "ErrorCodes.h"
#include "Interfaces.h"
#include "ReplyTime.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kv618 {

bool CarriesRate(uint8_t interface) { return interface == RozhraniCOM || interface == RozhraniKV1726; }

ScanPlan ScanPlan::For(const TData& data) {
    ScanPlan plan;
    plan.interface = data.Rozhrani;
    plan.fixedTimeoutMs = data.Rozhrani == RozhraniKV1726 ? data.UDPTimeout : 0;
    if (CarriesRate(data.Rozhrani)) plan.rates.assign(wire::BaudRates.begin(), wire::BaudRates.end());
    else plan.rates = {data.Rychlost};
    return plan;
}

int32_t ProbeMs(int32_t rate) { return wire::LineTimeMs(rate) + wire::ModuleTurnaroundMs + ProbeMarginMs; }

int32_t WholeTimeoutMs(const ScanPlan& plan, int32_t rate) {
    if (plan.fixedTimeoutMs > 0) return plan.fixedTimeoutMs;
    return wire::ReplyTimeoutMs(rate, TimeoutRychlosti(rate));
}

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Codes of an exchange that took place (something answered, or nothing
// did), as against a line that failed as a whole.
bool ExchangeTookPlace(int32_t code) { return IsSilence(code) || IsRefusal(code); }

class Scanner {
public:
    Scanner(Connection& connection, const ScanPlan& plan, const ScanEvents& events)
        : connection_(connection), plan_(plan), events_(events) {}

    ScanOutcome Run() {
        exact_ = plan_.probeMs != 0;
        for (size_t i = 0; i < plan_.rates.size(); ++i)
            if (!AtRate(i)) break;
        // The program's time value again, for whoever uses the link next.
        if (outcome_.end != ScanEnd::LineFailed && rate_ != 0) connection_.SetRate(rate_);
        return outcome_;
    }

private:
    enum class Verdict { Silent, Found, Unclear };
    // A silent address at this rate that has not had its whole time-out:
    // its reply could still come.
    struct Pending {
        uint8_t address;
        Clock::time_point asked;
    };

    // Every address of the range at one rate, but those already found, then
    // what is left of the last ones' whole time-out: false when the scan
    // ends.
    bool AtRate(size_t index) {
        rateIndex_ = index;
        rate_ = plan_.rates[index];
        wait_ = -1;
        pending_.clear();
        // Set before the first progress: whether the library takes an exact
        // wait changes how long the rest takes.
        if (!SetWait(ProbeWait(rate_))) return false;
        for (int a = plan_.first; a <= plan_.last; ++a) {
            const auto address = static_cast<uint8_t>(a);
            if (found_[address]) continue;
            Progress(address);
            if (!Probe(address)) return false;
        }
        return Linger();
    }

    // One probe of `address`, and what it brought to light.
    bool Probe(uint8_t address) {
        const auto asked = Clock::now();
        Verdict verdict;
        if (!Ask(address, ProbeWait(rate_), true, verdict)) return false;
        if (verdict == Verdict::Silent && Lingers()) pending_.push_back({address, asked});
        if (verdict == Verdict::Unclear && !JudgeAgain(address)) return false;
        return AskLateOnes();
    }

    // The last addresses asked get the rest of their whole time-out: one
    // more request to the last of them waits until its probe's whole
    // time-out ends, and with it every earlier one's.
    bool Linger() {
        if (pending_.empty()) return true;
        const Pending last = pending_.back();
        const auto rest = std::chrono::ceil<milliseconds>(last.asked + milliseconds(WholeTimeoutMs(plan_, rate_)) -
                                                          Clock::now());
        if (rest.count() > 0) {
            Verdict verdict;
            if (!Ask(last.address, static_cast<int32_t>(rest.count()), true, verdict)) return false;
            if (verdict == Verdict::Unclear && !JudgeAgain(last.address)) return false;
            if (!AskLateOnes()) return false;
        }
        pending_.clear();
        return true;
    }

    // The addresses whose late replies the library named and that are still
    // open: each is asked again with the whole time-out, and so is any that
    // is named meanwhile.
    bool AskLateOnes() {
        while (!late_.empty()) {
            const uint8_t address = late_.front();
            late_.erase(late_.begin());
            if (!TakePending(address)) continue;
            Verdict verdict;
            if (!Ask(address, WholeTimeoutMs(plan_, rate_), false, verdict)) return false;
        }
        return true;
    }

    // Something damaged, or late and not named, answered during the probe
    // of `address`: its own reply gone wrong, or the late reply of an
    // address asked before.  All of them are asked again with the whole
    // time-out before they are judged.
    bool JudgeAgain(uint8_t address) {
        std::vector<uint8_t> addresses;
        const auto now = Clock::now();
        const milliseconds whole(WholeTimeoutMs(plan_, rate_));
        for (const Pending& p : std::exchange(pending_, {}))
            if (p.address != address && now - p.asked < whole) addresses.push_back(p.address);
        addresses.push_back(address);
        for (const uint8_t a : addresses) {
            Verdict verdict;
            if (!found_[a] && !Ask(a, WholeTimeoutMs(plan_, rate_), false, verdict)) return false;
        }
        return true;
    }

    // One identification request to `address` waiting `waitMs`: false when
    // the scan ends (cancelled before it, or the line failed).  The late
    // replies named during its exchanges go on the list to ask again.
    bool Ask(uint8_t address, int32_t waitMs, bool probe, Verdict& verdict) {
        verdict = Verdict::Silent;
        if (events_.cancelled && events_.cancelled()) {
            outcome_.end = ScanEnd::Cancelled;
            return false;
        }
        if (!SetWait(waitMs)) return false;
        LateReplies late;
        const bool going = Judge(connection_.At(address).NamingLate(late), late, probe, verdict);
        late_.insert(late_.end(), late.addresses.begin(), late.addresses.end());
        return going;
    }

    // What the identification's first request to the module shows.  A probe
    // leaves what it cannot judge Unclear; asked with the whole time-out,
    // something that answered but not as a module should is told of.
    bool Judge(const Module& module, const LateReplies& late, bool probe, Verdict& verdict) {
        const auto sent = Clock::now();
        const Reply first = module.AskIdentity();
        if (first.error == 0) {
            Measure(Clock::now() - sent);
            verdict = Verdict::Found;
            return Identify(module, first);
        }
        if (first.error == NoReply) return true;
        // Another address's late reply, named: this one is silent.
        if (first.error == OtherAddress && late.named && !late.addresses.empty()) return true;
        if (!ExchangeTookPlace(first.error)) return LineFailed(first.error);
        if (probe) verdict = Verdict::Unclear;
        else if (events_.oddAnswer) events_.oddAnswer(module.Address(), rate_, first.error);
        return true;
    }

    // The rest of an identification whose first part came, with the whole
    // time-out: a module that is there is given all the time it may need.
    bool Identify(const Module& module, const Reply& first) {
        if (!SetWait(WholeTimeoutMs(plan_, rate_))) return false;
        const auto identity = module.Identify(first);
        if (!identity.ok()) {
            if (!ExchangeTookPlace(identity.error)) return LineFailed(identity.error);
            if (events_.oddAnswer) events_.oddAnswer(module.Address(), rate_, identity.error);
            return true;
        }
        const FoundModule found{module.Address(), RateOf(module), identity.value};
        found_[found.address] = true;
        ++outcome_.found;
        TakePending(found.address);
        if (events_.found) events_.found(found);
        return true;
    }

    // Where the interface carries the rate, a module answers only at its
    // own; elsewhere its stored rate is read.
    std::optional<int32_t> RateOf(const Module& module) const {
        if (CarriesRate(plan_.interface)) return rate_;
        const auto index = module.ReadRegister(wire::reg::BaudIndex);
        if (!index.ok() || index.value >= wire::BaudRates.size()) return std::nullopt;
        return wire::BaudRates[index.value];
    }

    // The rate with an exact wait of `ms`, or with the program's time value
    // where the library takes no exact one (told once, at the first try).
    bool SetWait(int32_t ms) {
        if (!exact_) ms = WholeTimeoutMs(plan_, rate_);
        if (ms == wait_) return true;
        int32_t error = exact_ ? connection_.SetRate(rate_, -ms) : connection_.SetRate(rate_);
        if (error == InvalidParameter && exact_ && !exactTaken_) {
            exact_ = false;
            if (events_.wholeTimeoutOnly) events_.wholeTimeoutOnly();
            ms = WholeTimeoutMs(plan_, rate_);
            error = connection_.SetRate(rate_);
        }
        if (error) return LineFailed(error);
        exactTaken_ = exactTaken_ || exact_;
        wait_ = ms;
        return true;
    }

    bool LineFailed(int32_t code) {
        outcome_.end = ScanEnd::LineFailed;
        outcome_.code = code;
        return false;
    }

    // The probe's wait at `rate`, with the delay measured so far.
    int32_t ProbeWait(int32_t rate) const {
        if (!exact_) return WholeTimeoutMs(plan_, rate);
        if (plan_.probeMs > 0) return plan_.probeMs;
        // Whole ms: what is below one is within the spread.
        const auto delay = std::chrono::duration_cast<milliseconds>(delay_).count();
        const int32_t allowance = std::max<int32_t>(ProbeMarginMs, static_cast<int32_t>(delay) + DelaySpreadMs);
        return std::min(ProbeMs(rate) - ProbeMarginMs + allowance, WholeTimeoutMs(plan_, rate));
    }
    // Whether a silent address's reply could still come after its probe: a
    // probe shorter than the whole time-out that is not the operator's own.
    bool Lingers() const { return plan_.probeMs < 0 && exact_ && ProbeWait(rate_) < WholeTimeoutMs(plan_, rate_); }

    // The link's delay beyond the line time and the turnaround, as the
    // replies show it: the least seen, since the host only adds to it.
    void Measure(Clock::duration took) {
        const auto own = std::chrono::microseconds(wire::LineTimeUs(rate_)) + milliseconds(wire::ModuleTurnaroundMs);
        const auto delay = std::max<Clock::duration>(took - own, Clock::duration::zero());
        if (!delayMeasured_ || delay < delay_) delay_ = delay;
        delayMeasured_ = true;
    }

    // Takes `address` out of the open ones; whether it was open.  A late
    // reply counts whenever it is named: it came before its request was
    // asked again.
    bool TakePending(uint8_t address) {
        const auto it =
            std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.address == address; });
        if (it == pending_.end()) return false;
        pending_.erase(it);
        return true;
    }

    void Progress(uint8_t address) {
        if (!events_.progress) return;
        ScanProgress p;
        p.rate = rate_;
        p.address = address;
        p.total = plan_.Addresses() * static_cast<int>(plan_.rates.size());
        p.asked = static_cast<int>(rateIndex_) * plan_.Addresses() + (address - plan_.first);
        p.found = outcome_.found;
        p.left = Left(address);
        events_.progress(p);
    }

    // How long what is left takes at most: a probe for each address not
    // found yet, and at each rate the rest of its last ones' whole time-out.
    milliseconds Left(uint8_t next) const {
        milliseconds left{0};
        for (size_t i = rateIndex_; i < plan_.rates.size(); ++i) {
            const int32_t rate = plan_.rates[i];
            int count = 0;
            for (int a = i == rateIndex_ ? next : plan_.first; a <= plan_.last; ++a) count += !found_[a];
            left += milliseconds(count * ProbeWait(rate));
            if (plan_.probeMs < 0 && exact_) left += milliseconds(WholeTimeoutMs(plan_, rate) - ProbeWait(rate));
        }
        return left;
    }

    Connection& connection_;
    const ScanPlan& plan_;
    const ScanEvents& events_;
    ScanOutcome outcome_;
    size_t rateIndex_ = 0;
    int32_t rate_ = 0;
    int32_t wait_ = -1;       // as last set at this rate
    bool exact_ = true;       // the library takes an exact time-out (so far as known)
    bool exactTaken_ = false; // it took one
    Clock::duration delay_{};
    bool delayMeasured_ = false;
    std::array<bool, 256> found_{};
    std::vector<Pending> pending_;  // at this rate
    std::vector<uint8_t> late_;     // named late, not yet asked again
};

}  // namespace

ScanOutcome RunScan(Connection& connection, const ScanPlan& plan, const ScanEvents& events) {
    return Scanner(connection, plan, events).Run();
}

}  // namespace kv618
