#include "Exchange.h"

#include "Codes.h"

#include <algorithm>

namespace drv {

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int32_t replyTimeoutMs(int32_t rate, int32_t time) {
    constexpr int64_t lineBits = static_cast<int64_t>(wire::RequestSize + wire::ReplySize) * 10;
    const int64_t lineMs = rate > 0 ? (lineBits * 1000 + rate - 1) / rate : 0;
    const int64_t total = lineMs + 10 * static_cast<int64_t>(std::max(time, 0));
    return static_cast<int32_t>(std::clamp<int64_t>(total, MinimumTimeoutMs, INT32_MAX));
}

ReplyJudge::Verdict ReplyJudge::judge(std::span<const uint8_t> bytes, bool oversized) {
    Verdict verdict;
    wire::Reply reply;
    if (oversized) {
        verdict = Verdict::Frame;
    } else {
        switch (wire::decode(bytes, reply)) {
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
    note(verdict);
    return verdict;
}

void ReplyJudge::note(Verdict v) {
    if (v == Verdict::Checksum) sawChecksum_ = true;
    if (v == Verdict::OtherAddress) sawAddress_ = true;
    if (v == Verdict::Frame) sawFrame_ = true;
}

int32_t ReplyJudge::timeoutCode() const {
    if (sawChecksum_) return BadChecksum;
    if (sawAddress_) return OtherAddress;
    if (sawFrame_) return BadFrame;
    return NoReply;
}

bool StreamScanner::feed(std::span<const uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    for (;;) {
        const auto sync = std::find(pending_.begin(), pending_.end(), wire::ReplySync);
        if (sync != pending_.begin()) {
            sawNoise_ = true;
            pending_.erase(pending_.begin(), sync);
        }
        if (pending_.size() < wire::ReplySize) return false;
        switch (judge_.judge(std::span<const uint8_t>(pending_.data(), wire::ReplySize))) {
            case ReplyJudge::Verdict::Accepted:
                pending_.clear();
                return true;
            case ReplyJudge::Verdict::Stale:
            case ReplyJudge::Verdict::OtherAddress:
                pending_.erase(pending_.begin(), pending_.begin() + wire::ReplySize);
                break;
            default:
                // The sync byte was noise or the frame is damaged: look again
                // from the next byte, where the true reply may begin.
                sawNoise_ = true;
                pending_.erase(pending_.begin());
        }
    }
}

int32_t refusalCode(wire::Outcome outcome) {
    switch (outcome) {
        case wire::Outcome::Done: return Ok;
        case wire::Outcome::UnknownFunction: return UnknownFunction;
        case wire::Outcome::UnknownSubcode: return UnknownSubcode;
        case wire::Outcome::UnknownRegister: return UnknownRegister;
        default: return Refused;
    }
}

namespace {

Result finish(const ReplyJudge& judge) {
    Result result;
    const wire::Reply& reply = judge.reply();
    result.code = refusalCode(reply.outcome);
    if (result.code == Ok) {
        result.status = reply.status;
        result.data = reply.data;
    }
    return result;
}

}  // namespace

Result exchange(Transport& transport, const wire::Request& request, int32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (const int32_t e = transport.discardInput()) return Result{e};
    const auto frame = wire::encode(request);
    if (const int32_t e = transport.send(frame, deadline)) return Result{e};

    ReplyJudge judge(request.transaction, request.address);
    StreamScanner scanner(judge);
    std::array<uint8_t, 512> buffer{};
    for (;;) {
        const Received got = transport.receive(buffer, deadline);
        if (got.error) return Result{got.error};
        if (got.timedOut) {
            int32_t code = judge.timeoutCode();
            if (code == NoReply && transport.isStream() && scanner.holdsBytes()) code = BadFrame;
            return Result{code};
        }
        const std::span<const uint8_t> bytes(buffer.data(), std::min(got.size, buffer.size()));
        const bool found = transport.isStream()
                               ? scanner.feed(bytes)
                               : judge.judge(bytes, got.oversized) == ReplyJudge::Verdict::Accepted;
        if (found) return finish(judge);
    }
}

}  // namespace drv
