// Frames of the link between an interface library and a KV-618 module.
// The byte layout is described in docs/protocol.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace wire {

constexpr uint8_t RequestSync = 0xA5;
constexpr uint8_t ReplySync = 0x5A;
constexpr size_t RequestSize = 13;
constexpr size_t ReplySize = 12;

// Outcome byte of a reply: anything but Done means the module refused.
enum class Outcome : uint8_t {
    Done = 0,
    UnknownFunction = 1,
    UnknownSubcode = 2,
    UnknownRegister = 3,
    BadValue = 4,  // a value the module will not take (copies that differ, out of range)
};

struct Request {
    uint16_t transaction = 0;
    uint8_t address = 0;
    uint8_t function = 0;
    uint8_t subcode = 0;
    std::array<uint8_t, 5> data{};  // D0..D4
};

struct Reply {
    uint16_t transaction = 0;
    uint8_t address = 0;
    Outcome outcome = Outcome::Done;
    uint8_t status = 0;
    std::array<uint8_t, 4> data{};  // D1..D4
};

// CRC-16/MODBUS: polynomial 0x8005 reflected (0xA001), initial 0xFFFF.
uint16_t Crc16(std::span<const uint8_t> bytes);

std::array<uint8_t, RequestSize> Encode(const Request& request);
std::array<uint8_t, ReplySize> Encode(const Reply& reply);

enum class DecodeError { None, Length, Sync, Checksum };

// Each decoder takes exactly one frame's bytes.
DecodeError Decode(std::span<const uint8_t> bytes, Request& out);
DecodeError Decode(std::span<const uint8_t> bytes, Reply& out);

// Over UDP the request is followed by the rate at which the LAN converter is
// to put it on its serial line: the tag 'B', then the rate in Bd, 3 bytes,
// lowest first.  A datagram of the request alone leaves the rate to the
// converter.
constexpr uint8_t RateTag = 0x42;
constexpr size_t RateSuffixSize = 4;
constexpr int32_t HighestSuffixRate = 0xFFFFFF;
using RatedRequest = std::array<uint8_t, RequestSize + RateSuffixSize>;
RatedRequest WithRate(const std::array<uint8_t, RequestSize>& request, int32_t rate);
// The request's bytes of a datagram and the rate it names, if it names one.
struct Datagram {
    std::span<const uint8_t> frame;
    std::optional<int32_t> rate;
};
Datagram SplitRate(std::span<const uint8_t> datagram);

}  // namespace wire
