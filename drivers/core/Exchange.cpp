#include "Exchange.h"

#include "Codes.h"
#include "qxxx726_abi.h"

#include <algorithm>

namespace drv {

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void RecentRequests::Note(uint16_t transaction, uint8_t address) {
    transactions_[next_] = transaction;
    addresses_[next_] = address;
    next_ = (next_ + 1) % Kept;
    count_ = std::min(count_ + 1, Kept);
}

bool RecentRequests::Answers(uint16_t transaction, uint8_t address) const {
    for (size_t i = 0; i < count_; ++i)
        if (transactions_[i] == transaction && addresses_[i] == address) return true;
    return false;
}

ReplyJudge::Verdict ReplyJudge::Judge(std::span<const uint8_t> bytes, bool oversized, bool quiet) {
    lastSize_ = std::min(bytes.size(), last_.size());
    std::copy_n(bytes.begin(), lastSize_, last_.begin());
    Verdict verdict;
    wire::Reply reply;
    if (oversized) {
        verdict = Verdict::Frame;
    } else {
        switch (wire::Decode(bytes, reply)) {
            case wire::DecodeError::Length:
            case wire::DecodeError::Sync: verdict = Verdict::Frame; break;
            case wire::DecodeError::Checksum: verdict = Verdict::Checksum; break;
            default:
                if (reply.transaction != transaction_) verdict = Verdict::Stale;
                else if (reply.address != address_) verdict = Verdict::OtherAddress;
                else verdict = Verdict::Accepted;
        }
    }
    if (verdict == Verdict::Accepted) reply_ = reply;
    if (!quiet) Note(verdict, reply);
    return verdict;
}

void ReplyJudge::Note(Verdict v, const wire::Reply& reply) {
    if (v == Verdict::Checksum) sawChecksum_ = true;
    if (v == Verdict::OtherAddress) sawAddress_ = true;
    if (v == Verdict::Frame) sawFrame_ = true;
    if (v == Verdict::Stale) {
        sawStale_ = true;
        if (earlier_ && late_.size() < QXXX726_LATE_MOST && earlier_->Answers(reply.transaction, reply.address))
            late_.push_back(reply.address);
    }
}

int32_t ReplyJudge::TimeoutCode() const {
    if (sawChecksum_) return BadChecksum;
    if (sawAddress_ || (earlier_ && sawStale_)) return OtherAddress;
    if (sawFrame_) return BadFrame;
    return NoReply;
}

bool StreamScanner::Feed(std::span<const uint8_t> bytes) {
    framer_.Add(bytes);
    for (auto candidate = framer_.Candidate(); !candidate.empty(); candidate = framer_.Candidate()) {
        // A candidate inside a valid frame is that frame's bytes, not noise.
        const auto verdict = judge_.Judge(candidate, false, framer_.InsideFrame());
        if (verdict == ReplyJudge::Verdict::Accepted) {
            framer_.Take();
            return true;
        }
        // Look again from the next byte, where the true reply may begin.
        framer_.Pass(verdict == ReplyJudge::Verdict::Stale || verdict == ReplyJudge::Verdict::OtherAddress);
    }
    return false;
}

const char* ReplyJudge::TimeoutVerdict() const {
    if (sawChecksum_) return "bad checksum";
    if (sawAddress_) return "other address";
    if (sawFrame_) return "bad frame";
    if (sawStale_) return "stale";
    return "no reply";
}

int32_t RefusalCode(wire::Outcome outcome) {
    switch (outcome) {
        case wire::Outcome::Done: return Ok;
        case wire::Outcome::UnknownFunction: return UnknownFunction;
        case wire::Outcome::UnknownSubcode: return UnknownSubcode;
        case wire::Outcome::UnknownRegister: return UnknownRegister;
        case wire::Outcome::BadValue:
        default: return Refused;
    }
}

namespace {

Result Finish(const ReplyJudge& judge) {
    Result result;
    const wire::Reply& reply = judge.Reply();
    result.code = RefusalCode(reply.outcome);
    if (result.code == Ok) {
        result.status = reply.status;
        result.data = reply.data;
    }
    return result;
}

}  // namespace

namespace {

// What the trace says of an exchange that ended with `result`.
std::string VerdictOf(const Result& result, const ReplyJudge& judge, bool accepted) {
    if (accepted) return result.code == Ok ? "accepted" : "refused (code " + std::to_string(result.code) + ")";
    if (result.code == NoReply || result.code == BadChecksum || result.code == OtherAddress || result.code == BadFrame)
        return judge.TimeoutVerdict();
    return "failed (code " + std::to_string(result.code) + ")";
}

Result WaitForReply(Transport& transport, ReplyJudge& judge, Clock::time_point deadline, bool& accepted) {
    StreamScanner scanner(judge);
    std::array<uint8_t, 512> buffer{};
    for (;;) {
        // A flood keeps every transport's wait returning at once, so the
        // deadline is checked here as well, before each wait.
        const Received got =
            Clock::now() < deadline ? transport.Receive(buffer, deadline) : Received{.timedOut = true};
        if (got.error) return Result{got.error};
        if (got.timedOut) {
            int32_t code = judge.TimeoutCode();
            if (code == NoReply && transport.IsStream() && scanner.HoldsBytes()) code = BadFrame;
            return Result{code};
        }
        const std::span<const uint8_t> bytes(buffer.data(), std::min(got.size, buffer.size()));
        accepted = transport.IsStream() ? scanner.Feed(bytes)
                                        : judge.Judge(bytes, got.oversized) == ReplyJudge::Verdict::Accepted;
        if (accepted) return Finish(judge);
    }
}

// Under an exact time-out, what came since the last exchange is looked at
// before it is thrown away: a late reply among it is named all the same.
// Nothing else of it counts.
std::vector<uint8_t> LateWaiting(Transport& transport, const wire::Request& request, const RecentRequests& earlier) {
    ReplyJudge judge(request.transaction, request.address, &earlier);
    StreamScanner scanner(judge);
    std::array<uint8_t, 512> buffer{};
    // Bounded as DiscardInput is: a flood must not hold the request back.
    for (int i = 0; i < 4096; ++i) {
        const Received got = transport.TakeWaiting(buffer);
        if (got.timedOut || got.error) break;
        const std::span<const uint8_t> bytes(buffer.data(), std::min(got.size, buffer.size()));
        if (transport.IsStream()) scanner.Feed(bytes);
        else judge.Judge(bytes, got.oversized);
    }
    return judge.Late();
}

}  // namespace

Result Exchange(Transport& transport, const wire::Request& request, int32_t timeoutMs, Trace* trace,
                const RecentRequests* earlier) {
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const auto frame = wire::Encode(request);
    ReplyJudge judge(request.transaction, request.address, earlier);
    bool accepted = false;
    Result result;
    std::vector<uint8_t> late;
    if (earlier) late = LateWaiting(transport, request, *earlier);
    if (const int32_t e = transport.DiscardInput()) result = Result{e};
    else if (const int32_t e = transport.Send(frame, deadline)) result = Result{e};
    else result = WaitForReply(transport, judge, deadline, accepted);
    result.namesLate = earlier != nullptr;
    late.insert(late.end(), judge.Late().begin(), judge.Late().end());
    late.resize(std::min<size_t>(late.size(), QXXX726_LATE_MOST));
    result.late = std::move(late);
    if (trace) trace->Record(frame, judge.LastCandidate(), VerdictOf(result, judge, accepted), Clock::now() - start);
    return result;
}

}  // namespace drv
