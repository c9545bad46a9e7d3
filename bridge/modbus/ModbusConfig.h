// A [modbus] section of the bridge's file: where the Modbus face listens
// (TCP addresses, serial ports for RTU), whom it lets in and how many at
// once.  docs/modbus.md describes the keys.
#pragma once

#include "Outcome.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

namespace kvbridge {

struct Config;

// A TCP address to listen on: a numeric IPv4 or IPv6 address and a port.
struct ModbusListen {
    std::string host;  // "127.0.0.1", "0.0.0.0", "::1"
    uint16_t port = 0;
    int line = 0;
    std::string Text() const;  // "127.0.0.1:1502", "[::1]:1502"
};

// A serial port the face serves as an RTU server.
struct ModbusSerial {
    std::string device;
    int baud = 19200;
    char parity = 'E';
    int dataBits = 8, stopBits = 1;
    int line = 0;
    std::string Text() const;  // "/dev/ttyUSB1 19200 8E1"
};

// A network clients may come from: an IPv4 (as IPv4-mapped IPv6) or IPv6
// prefix.
struct ModbusNetwork {
    std::array<uint8_t, 16> address{};
    int bits = 128;
    bool Holds(const std::array<uint8_t, 16>& peer) const;
};

struct ModbusConfig {
    std::string name;  // of [modbus NAME]; empty for [modbus]
    int line = 0;      // of its header
    std::vector<ModbusListen> listen;
    std::vector<ModbusSerial> rtu;
    std::vector<ModbusNetwork> allow;  // empty: every client
    int maxConnections = 32;
    std::chrono::milliseconds idle{60000};  // 0: connections are never closed for being idle
};

// A new section's name checked against those before it: empty for
// [modbus], unique, and one of the module names' letters.
kv618::Outcome<> NamedModbus(const std::vector<ModbusConfig>& before, const ModbusConfig& section);
// Places every module in its section (`modbus = NAME`, or the first; `off`:
// none) with its unit id (`unit = N`, or its address), unique in the
// section: the first fault, naming the module's line.
kv618::Outcome<> PlaceUnits(Config& config);

// Keys a [modbus] section may give more than once.
bool RepeatableModbusKey(std::string_view key);
// One "key = value" of a section, on line `line`; the message names neither
// the file nor the line.
kv618::Outcome<> ReadModbusKey(ModbusConfig& modbus, std::string_view key, const std::string& value, int line);
// The default listen address once the section is read: TCP on 127.0.0.1:1502
// where the section names neither a listen address nor a serial port.
void FinishModbus(ModbusConfig& modbus);

inline constexpr uint16_t DefaultModbusPort = 1502;
// Unit ids a module may have: 0 is the serial line's broadcast, 248-255 are reserved.
inline constexpr int LowestUnit = 1, HighestUnit = 247;

// A peer's address as an IPv6 address (IPv4 mapped); false for another family.
bool PeerAddress(const sockaddr* peer, std::array<uint8_t, 16>& address);
// Whether a client at `peer` may connect: the allow-list holds it, or is empty.
bool Allowed(const std::vector<ModbusNetwork>& allow, const std::array<uint8_t, 16>& peer);

}  // namespace kvbridge
