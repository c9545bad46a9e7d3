#include "Frame.h"

#include <algorithm>

namespace wire {
namespace {

void PutCrc(std::span<uint8_t> frame) {
    const uint16_t crc = Crc16(frame.first(frame.size() - 2));
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

DecodeError Check(std::span<const uint8_t> bytes, size_t size, uint8_t sync) {
    if (bytes.size() != size) return DecodeError::Length;
    if (bytes[0] != sync) return DecodeError::Sync;
    const uint16_t crc = Crc16(bytes.first(size - 2));
    if (bytes[size - 2] != (crc & 0xFF) || bytes[size - 1] != (crc >> 8)) return DecodeError::Checksum;
    return DecodeError::None;
}

// Both frames are laid out alike: the sync byte, the transaction number
// (low byte first), the address, two code bytes (function and sub-code of a
// request, outcome and status of a reply), the data, and the checksum.
constexpr size_t DataOffset = 6;

template <size_t Size, size_t DataSize>
std::array<uint8_t, Size> Build(uint8_t sync, uint16_t transaction, uint8_t address, uint8_t first, uint8_t second,
                                const std::array<uint8_t, DataSize>& data) {
    static_assert(DataOffset + DataSize + 2 == Size);
    std::array<uint8_t, Size> f{sync, static_cast<uint8_t>(transaction & 0xFF), static_cast<uint8_t>(transaction >> 8),
                                address, first, second};
    std::copy(data.begin(), data.end(), f.begin() + DataOffset);
    PutCrc(f);
    return f;
}

template <size_t DataSize>
void ReadCommon(std::span<const uint8_t> b, uint16_t& transaction, uint8_t& address,
                std::array<uint8_t, DataSize>& data) {
    transaction = static_cast<uint16_t>(b[1] | (b[2] << 8));
    address = b[3];
    std::copy_n(b.begin() + DataOffset, DataSize, data.begin());
}

}  // namespace

// One table lookup per byte instead of eight shifts: both ends check and
// make a checksum on every exchange.
constexpr std::array<uint16_t, 256> CrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        table[byte] = crc;
    }
    return table;
}();

uint16_t Crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) crc = static_cast<uint16_t>((crc >> 8) ^ CrcTable[(crc ^ b) & 0xFF]);
    return crc;
}

std::array<uint8_t, RequestSize> Encode(const Request& r) {
    return Build<RequestSize>(RequestSync, r.transaction, r.address, r.function, r.subcode, r.data);
}

std::array<uint8_t, ReplySize> Encode(const Reply& r) {
    return Build<ReplySize>(ReplySync, r.transaction, r.address, static_cast<uint8_t>(r.outcome), r.status, r.data);
}

DecodeError Decode(std::span<const uint8_t> b, Request& out) {
    if (const auto e = Check(b, RequestSize, RequestSync); e != DecodeError::None) return e;
    ReadCommon(b, out.transaction, out.address, out.data);
    out.function = b[4];
    out.subcode = b[5];
    return DecodeError::None;
}

DecodeError Decode(std::span<const uint8_t> b, Reply& out) {
    if (const auto e = Check(b, ReplySize, ReplySync); e != DecodeError::None) return e;
    ReadCommon(b, out.transaction, out.address, out.data);
    out.outcome = static_cast<Outcome>(b[4]);
    out.status = b[5];
    return DecodeError::None;
}

RatedRequest WithRate(const std::array<uint8_t, RequestSize>& request, int32_t rate) {
    RatedRequest datagram{};
    std::copy(request.begin(), request.end(), datagram.begin());
    const auto bd = static_cast<uint32_t>(rate);
    datagram[RequestSize] = RateTag;
    for (size_t i = 0; i < 3; ++i) datagram[RequestSize + 1 + i] = static_cast<uint8_t>(bd >> (8 * i));
    return datagram;
}

// Anything else than a request with a well-formed suffix is passed on whole,
// to be judged (and refused) as a frame.
Datagram SplitRate(std::span<const uint8_t> datagram) {
    if (datagram.size() != RequestSize + RateSuffixSize || datagram[RequestSize] != RateTag) return {datagram, {}};
    int32_t rate = 0;
    for (size_t i = 0; i < 3; ++i) rate |= static_cast<int32_t>(datagram[RequestSize + 1 + i]) << (8 * i);
    return {datagram.first(RequestSize), rate};
}

}  // namespace wire
