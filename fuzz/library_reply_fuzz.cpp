// The libraries' reply decoding on arbitrary bytes: as packets (UDP, card
// sockets) and as a byte stream cut at arbitrary points (serial line).  A
// reply is accepted only when it is the exact answer to the request sent.
#include "Exchange.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint16_t transaction = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint8_t address = data[2];
    const std::span<const uint8_t> rest(data + 3, size - 3);

    drv::ReplyJudge packets(transaction, address);
    if (packets.Judge(rest, size > 64) == drv::ReplyJudge::Verdict::Accepted) {
        if (packets.Reply().transaction != transaction || packets.Reply().address != address) std::abort();
    }
    (void)packets.TimeoutCode();

    drv::ReplyJudge stream(transaction, address);
    drv::StreamScanner scanner(stream);
    for (size_t at = 0; at < rest.size();) {
        const size_t piece = 1 + rest[at] % 7;
        const auto chunk = rest.subspan(at, std::min(piece, rest.size() - at));
        at += chunk.size();
        if (scanner.Feed(chunk)) {
            if (stream.Reply().transaction != transaction || stream.Reply().address != address) std::abort();
            break;
        }
    }
    (void)stream.TimeoutCode();
    (void)drv::RefusalCode(static_cast<wire::Outcome>(rest.empty() ? 0 : rest[0]));
    return 0;
}
