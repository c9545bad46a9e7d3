// Finding the modules on a line: every address of a range asked for its
// identification at each rate of a list.  The one implementation behind
// `kv618 scan` and the program's window that finds modules.  It holds no
// text: it tells what happens through the events it is given, and the
// caller words it.
//
// A silent address costs one probe: as long as a module needs to answer at
// that rate (the line time of the request and its reply, the module's
// turnaround, and a margin for the delay of the host and a converter, grown
// to the delay the link showed beyond them on the replies so far: a LAN
// converter's round trip), not the link's whole time-out.  Nothing that
// answers within the whole time-out is missed for that: a reply that comes
// after its probe's wait is named by the library (docs/library-abi.md,
// _Send: its transaction number and address) and its address is asked
// again with the whole time-out; at the end of each rate, the last
// addresses asked get what is left of their whole time-out in one more
// request to the last of them.  A damaged reply, or a late one that the
// library does not name, has the silent addresses of the last whole
// time-out and itself asked again with the whole time-out.  A scan that
// ends Complete has asked every address within its time-out.
#pragma once

#include "Connection.h"
#include "Dekl.h"
#include "Module.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kv618 {

// Whether the interface carries the rate onto the modules' line (the serial
// line, the LAN converter): a module there answers only at its own rate.
// The cards take the rate for the time-out only, and every module hears.
bool CarriesRate(uint8_t interface);

struct ScanPlan {
    uint8_t first = 0, last = 255;
    std::vector<int32_t> rates;  // asked in this order
    // How long a silent address is waited for, ms: -1 as the rate and the
    // link need (above), 0 the link's whole time-out, otherwise exactly this
    // (then it is the address's time-out: only a reply the library names
    // late is asked again).
    int32_t probeMs = -1;
    uint8_t interface = 0;       // TData.Rozhrani
    int32_t fixedTimeoutMs = 0;  // the LAN block's time-out (TData.UDPTimeout); 0: the rule of _SetConfig

    // The record's line, every address, and every rate where the interface
    // carries the rate, the record's own rate elsewhere.
    static ScanPlan For(const TData& data);
    int Addresses() const { return last - first + 1; }
};

// Beyond the line time and the module's turnaround, a silent address is
// given this much more: the host's and a converter's delay in handing the
// reply on.  A reply later than that is not lost (above), only asked for
// again; a link whose replies show more delay gets that delay and
// DelaySpreadMs instead.
inline constexpr int32_t ProbeMarginMs = 3;
// Above the least delay a link's replies showed, what one reply may take more.
inline constexpr int32_t DelaySpreadMs = 2;

// A probe's wait at `rate` before any delay was measured.
int32_t ProbeMs(int32_t rate);
// The link's whole time-out at `rate`: what the library waits with the
// program's time value (the LAN block's own when it has one).
int32_t WholeTimeoutMs(const ScanPlan& plan, int32_t rate);

struct ScanProgress {
    int32_t rate = 0;
    uint8_t address = 0;            // about to be asked
    int asked = 0, total = 0;       // addresses times rates
    int found = 0;
    std::chrono::milliseconds left{0};  // at most, as the probes now wait
};

struct FoundModule {
    uint8_t address = 0;
    // The rate it answered at; where the interface does not carry the rate,
    // its stored rate, none when that could not be read.
    std::optional<int32_t> rate;
    Identification identity;
};

// Each may be empty.  Called on the scanning thread.
struct ScanEvents {
    std::function<void(const ScanProgress&)> progress;  // before each address
    std::function<void(const FoundModule&)> found;
    // Something answered at `address`, asked with the whole time-out, but
    // not as a module should: a refusal, a damaged reply, another address
    // (code from ErrorCodes.h).  Worth telling; the scan goes on.
    std::function<void(uint8_t address, int32_t rate, int32_t code)> oddAnswer;
    // The library takes no exact time-out: every silent address waits the
    // whole time-out.  Told once, before the first progress.
    std::function<void()> wholeTimeoutOnly;
    // Asked between exchanges: true ends the scan after the one in flight.
    std::function<bool()> cancelled;
};

enum class ScanEnd { Complete, Cancelled, LineFailed };

struct ScanOutcome {
    ScanEnd end = ScanEnd::Complete;
    int32_t code = 0;  // LineFailed: the code of the exchange or setting that failed
    int found = 0;
};

// Runs the plan on the caller's thread over an open connection that nothing
// else uses meanwhile: the tool's own, or in the program a job on its
// connection worker (ui/LinkWorker.h) with the Connection the job is given,
// whose events hand what they tell to the windows' thread.  Keeps no state
// beyond the call.  Leaves the connection at the last rate asked, with the
// program's time value for it: a caller that goes on using the link sets
// its own rate again.
ScanOutcome RunScan(Connection& connection, const ScanPlan& plan, const ScanEvents& events);

}  // namespace kv618
