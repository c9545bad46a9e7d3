#include "Links.h"

#include "Codes.h"
#include "LineSpeed.h"
#include "qxxx726_abi.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <sys/random.h>
#include <unistd.h>

namespace drv {
namespace {

class LinkTable {
public:
    int32_t Add(std::shared_ptr<Link> link, int32_t& handle) {
        std::lock_guard lock(mutex_);
        if (links_.size() >= MostLinks) return TooManyLinks;
        do {
            next_ = next_ >= INT32_MAX || next_ < 1 ? 1 : next_ + 1;
        } while (links_.count(next_));
        links_[next_] = std::move(link);
        handle = next_;
        return Ok;
    }

    std::shared_ptr<Link> Find(int32_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = links_.find(handle);
        return it == links_.end() ? nullptr : it->second;
    }

    std::shared_ptr<Link> Remove(int32_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = links_.find(handle);
        if (it == links_.end()) return nullptr;
        auto link = std::move(it->second);
        links_.erase(it);
        return link;
    }

private:
    std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Link>> links_;
    int32_t next_ = 0;
};

LinkTable& Table() {
    static LinkTable links;
    return links;
}

// Handle 0 is what a caller holds before any _Init: not an open link yet.
int32_t LookUp(int32_t handle, std::shared_ptr<Link>& link) {
    if (handle == 0) return NotInitialised;
    link = Table().Find(handle);
    return link ? Ok : InvalidHandle;
}

uint16_t FirstTransaction() {
    // A fresh start per link, so replies still in flight to an earlier
    // program or link are unlikely to carry a number this one expects.
    // getrandom rather than std::random_device, whose set-up asks the CPU
    // what it offers: a hypervisor traps each question, and a one-shot
    // command paid tens of microseconds for it.
    uint16_t start = 0;
    if (::getrandom(&start, sizeof start, GRND_NONBLOCK) == sizeof start) return start;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint16_t>(now ^ (static_cast<long long>(::getpid()) << 7));
}

bool IsOutcomeOfExchange(int32_t code) { return code >= NoReply && code <= UnknownRegister; }

// Under an exact time-out, the late replies in the reply area after the
// data (docs/library-abi.md, _Send); no cell past the data otherwise.
void NameLateReplies(const Result& result, int32_t* reply) {
    if (!result.namesLate) return;
    reply[QXXX726_LATE_COUNT_CELL] = static_cast<int32_t>(result.late.size());
    for (size_t i = 0; i < result.late.size(); ++i) reply[QXXX726_LATE_FIRST_CELL + i] = result.late[i];
}

}  // namespace

// The rates a serial line can run at; the others use the rate only for the time-out.
bool IsKnownRate(int32_t rate) { return wire::LineSpeed(rate) != B0; }

Link::Link(std::unique_ptr<Transport> transport, int32_t fixedTimeoutMs)
    : transport_(std::move(transport)),
      trace_(Trace::FromEnvironment()),
      fixedTimeoutMs_(fixedTimeoutMs),
      nextTransaction_(FirstTransaction()) {}

int32_t Link::SetConfig(int32_t rate, int32_t time, int32_t mode) {
    if (mode != OnlyMode || !IsKnownRate(rate) || !wire::IsValidTime(time)) return InvalidParameter;
    std::lock_guard lock(mutex_);
    if (const int32_t e = transport_->ApplyRate(rate)) return e;
    config_ = Config{rate, time, mode};
    return Ok;
}

Config Link::CurrentConfig() {
    std::lock_guard lock(mutex_);
    return config_;
}

int32_t Link::TimeoutLocked() const {
    if (fixedTimeoutMs_ > 0 && config_.time >= 0) return fixedTimeoutMs_;
    return wire::ReplyTimeoutMs(config_.rate, config_.time);
}

Result Link::Send(uint8_t address, uint8_t function, uint8_t subcode, const std::array<uint8_t, 5>& data) {
    std::lock_guard lock(mutex_);
    wire::Request request;
    request.transaction = nextTransaction_++;
    request.address = address;
    request.function = function;
    request.subcode = subcode;
    request.data = data;
    recent_.Note(request.transaction, address);
    // An exact time-out is short by choice: what comes after it is late, and
    // whoever asked for it wants to hear of a late reply.
    return Exchange(*transport_, request, TimeoutLocked(), trace_.get(), config_.time < 0 ? &recent_ : nullptr);
}

int32_t OpenLink(int32_t* handle, const Opener& open, int32_t fixedTimeoutMs) {
    if (!handle) return InvalidParameter;
    *handle = 0;
    std::unique_ptr<Transport> transport;
    if (const int32_t e = open(transport)) return e;
    if (!transport) return IoError;
    return Table().Add(std::make_shared<Link>(std::move(transport), fixedTimeoutMs), *handle);
}

int32_t RefuseInit(int32_t* handle, int32_t code) {
    if (handle) *handle = 0;
    return code;
}

int32_t SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode) {
    std::shared_ptr<Link> link;
    if (const int32_t e = LookUp(handle, link)) return e;
    return link->SetConfig(rate, time, mode);
}

int32_t GetConfig(int32_t handle, int32_t* rate, int32_t* time, int32_t* mode) {
    std::shared_ptr<Link> link;
    if (const int32_t e = LookUp(handle, link)) return e;
    if (!rate || !time || !mode) return InvalidParameter;
    const Config config = link->CurrentConfig();
    *rate = config.rate;
    *time = config.time;
    *mode = config.mode;
    return Ok;
}

int32_t Send(int32_t handle, const int32_t* request, int32_t* reply, int32_t* status, int32_t* error) {
    const auto fail = [&](int32_t code) {
        if (error) *error = code;
        if (status) *status = 0;
        if (reply) std::fill(reply, reply + 4, 0);
        return code;
    };
    if (!request || !reply || !status || !error) return fail(InvalidParameter);
    std::shared_ptr<Link> link;
    if (const int32_t e = LookUp(handle, link)) return fail(e);

    const auto byte = [&](int cell) { return static_cast<uint8_t>(request[cell] & 0xFF); };
    const Result result = link->Send(byte(0), byte(1), byte(2), {byte(3), byte(4), byte(5), byte(6), byte(7)});
    NameLateReplies(result, reply);
    if (result.code != Ok) {
        fail(result.code);
        // What the module did (or failed to do) is the exchange's outcome;
        // anything else kept the request from being exchanged at all.
        return IsOutcomeOfExchange(result.code) ? Ok : result.code;
    }
    *error = Ok;
    *status = result.status;
    for (size_t i = 0; i < result.data.size(); ++i) reply[i] = result.data[i];
    return Ok;
}

int32_t Done(int32_t* handle) {
    if (!handle) return InvalidParameter;
    if (*handle == 0) return NotInitialised;
    if (!Table().Remove(*handle)) return InvalidHandle;
    *handle = 0;
    return Ok;
}

int32_t ErrorText(int32_t code, int32_t* buffer) { return FillErrorText(code, buffer); }

}  // namespace drv
