// One request/reply exchange over any transport: framing, transaction
// numbers, reply validation and the reply time-out.
#pragma once

#include "Frame.h"
#include "ReplyTime.h"
#include "SyncFramer.h"
#include "Trace.h"
#include "Transport.h"

#include <array>
#include <cstdint>

namespace drv {

// The last requests a link sent: a reply that carries the transaction
// number of one of them and the address it went to is that request's reply,
// come late.
class RecentRequests {
public:
    void Note(uint16_t transaction, uint8_t address);
    bool Answers(uint16_t transaction, uint8_t address) const;

private:
    static constexpr size_t Kept = 64;
    std::array<uint16_t, Kept> transactions_{};
    std::array<uint8_t, Kept> addresses_{};
    size_t next_ = 0, count_ = 0;
};

// What one exchange gave.
struct Result {
    int32_t code = 0;  // 0 = a valid reply that the module carried out
    uint8_t status = 0;
    std::array<uint8_t, 4> data{};
    // With an exact time-out: the addresses whose late replies came during
    // the wait, as they came (at most QXXX726_LATE_MOST).
    bool namesLate = false;
    std::vector<uint8_t> late{};
};

// Judges candidate frames against the request just sent and remembers the
// most telling fault seen, reported if no valid reply comes in time.
class ReplyJudge {
public:
    // `earlier`, given with an exact time-out: a reply to an earlier request
    // counts as one from another address (4) rather than as nothing, since
    // whoever asked for the short wait wants to hear of it, and a late reply
    // to one of the link's last requests is named by its address.
    ReplyJudge(uint16_t transaction, uint8_t address, const RecentRequests* earlier = nullptr)
        : transaction_(transaction), address_(address), earlier_(earlier) {}

    enum class Verdict { Accepted, Stale, OtherAddress, Checksum, Frame };

    // One whole candidate (a packet, or 12 bytes from a sync byte).  A quiet
    // candidate is taken if it is the reply but leaves no fault to report.
    Verdict Judge(std::span<const uint8_t> bytes, bool oversized = false, bool quiet = false);

    // Code when the time-out ends the wait.
    int32_t TimeoutCode() const;
    // For the trace: what the time-out ends, in words.
    const char* TimeoutVerdict() const;

    const wire::Reply& Reply() const { return reply_; }
    // The addresses whose late replies were judged, as they came.
    const std::vector<uint8_t>& Late() const { return late_; }
    // The last candidate judged (at most one frame's worth, for the trace).
    std::span<const uint8_t> LastCandidate() const { return {last_.data(), lastSize_}; }

private:
    void Note(Verdict v, const wire::Reply& reply);
    uint16_t transaction_;
    uint8_t address_;
    const RecentRequests* earlier_;
    wire::Reply reply_{};
    std::vector<uint8_t> late_;
    bool sawChecksum_ = false;
    bool sawAddress_ = false;
    bool sawFrame_ = false;
    bool sawStale_ = false;
    std::array<uint8_t, 32> last_{};
    size_t lastSize_ = 0;
};

// Searches a byte stream for reply frames (wire::SyncFramer): every
// candidate that is not the reply is passed by one byte only, so the reply is
// found wherever it begins.  A valid frame for another request or module may
// be junk that happens to pass the checksum together with the reply's first
// bytes; its own bytes, if it is a real one, are no fault of the line.
class StreamScanner {
public:
    explicit StreamScanner(ReplyJudge& judge) : judge_(judge) {}
    // Adds bytes; true once a valid reply has been found.
    bool Feed(std::span<const uint8_t> bytes);
    // True when bytes are held that did not make a frame.
    bool HoldsBytes() const { return framer_.HoldsNoise(); }

private:
    ReplyJudge& judge_;
    wire::SyncFramer framer_ = wire::ReplyFramer();
};

// Refusal codes from a reply's outcome byte.
int32_t RefusalCode(wire::Outcome outcome);

// Sends the request and waits for its reply; a trace, if given, gets one line.
// `earlier` as for ReplyJudge.
Result Exchange(Transport& transport, const wire::Request& request, int32_t timeoutMs, Trace* trace = nullptr,
                const RecentRequests* earlier = nullptr);

}  // namespace drv
