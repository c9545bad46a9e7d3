// Frame decoders on arbitrary bytes; a frame that decodes must encode back
// to the very same bytes.
#include "Frame.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    wire::Request request;
    if (wire::Decode(bytes, request) == wire::DecodeError::None) {
        const auto back = wire::Encode(request);
        if (std::memcmp(back.data(), data, back.size()) != 0) std::abort();
    }
    wire::Reply reply;
    if (wire::Decode(bytes, reply) == wire::DecodeError::None) {
        const auto back = wire::Encode(reply);
        if (std::memcmp(back.data(), data, back.size()) != 0) std::abort();
    }
    return 0;
}
