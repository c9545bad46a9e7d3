#include "ModbusConfig.h"

#include "Config.h"
#include "Dekl.h"
#include "Ini.h"
#include "Messages.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>

namespace kvbridge {

namespace {

using files::SameName;
using i18n::Fill;
using kv618::Failed;
using kv618::Outcome;

constexpr int MostConnections = 512;
constexpr std::chrono::milliseconds ShortestIdle{1000};
// The rates a serial port is set to (termios).
constexpr int SerialRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::optional<int64_t> Whole(const std::string& text) {
    int64_t n = 0;
    if (!TextNaCislo(text, n)) return std::nullopt;
    return n;
}

// A numeric address as IPv6 (IPv4 mapped), or nothing.
std::optional<std::array<uint8_t, 16>> Numeric(const std::string& host, bool& v4) {
    std::array<uint8_t, 16> address{};
    in_addr four{};
    if (::inet_pton(AF_INET, host.c_str(), &four) == 1) {
        address[10] = address[11] = 0xFF;
        std::memcpy(address.data() + 12, &four, 4);
        v4 = true;
        return address;
    }
    in6_addr six{};
    if (::inet_pton(AF_INET6, host.c_str(), &six) == 1) {
        std::memcpy(address.data(), &six, 16);
        v4 = false;
        return address;
    }
    return std::nullopt;
}

Outcome<> ReadListen(ModbusConfig& modbus, const std::string& value, int line) {
    const std::string refusal = Fill(
        _("listen takes ADDRESS:PORT with a numeric address (127.0.0.1:1502, 0.0.0.0:502, [::1]:1502), not %s"),
        Quoted(value));
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos) return Failed{refusal};
    std::string host = value.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos) return Failed{refusal};
    bool v4 = false;
    const auto port = Whole(value.substr(colon + 1));
    if (!Numeric(host, v4) || !port || *port < 1 || *port > 65535) return Failed{refusal};
    modbus.listen.push_back({host, static_cast<uint16_t>(*port), line});
    return {};
}

Outcome<> ReadSerial(ModbusConfig& modbus, const std::string& value, int line) {
    std::istringstream words(value);
    ModbusSerial serial;
    serial.line = line;
    std::string rate, format, extra;
    words >> serial.device >> rate >> format >> extra;
    if (serial.device.empty() || serial.device.front() != '/' || !extra.empty())
        return Failed{Fill(_("rtu takes a serial device, its rate and its format, e.g. \"/dev/ttyUSB1 19200 8E1\", "
                             "not %s"),
                           Quoted(value))};
    if (!rate.empty()) {
        const auto baud = Whole(rate);
        if (!baud || std::find(std::begin(SerialRates), std::end(SerialRates), *baud) == std::end(SerialRates))
            return Failed{Fill(_("the rate of rtu must be one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                                 "115200, 230400, not %s"),
                               Quoted(rate))};
        serial.baud = static_cast<int>(*baud);
    }
    if (!format.empty()) {
        // RTU carries eight data bits; the parity and the stop bits are the line's.
        const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(format.size() == 3 ? format[1] : 0)));
        if (format.size() != 3 || format[0] != '8' || (parity != 'N' && parity != 'E' && parity != 'O') ||
            (format[2] != '1' && format[2] != '2'))
            return Failed{Fill(_("the format of rtu is 8N1, 8E1, 8O1, 8N2, 8E2 or 8O2 (eight data bits, the parity, "
                                 "the stop bits), not %s"),
                               Quoted(format))};
        serial.parity = parity;
        serial.stopBits = format[2] - '0';
    }
    modbus.rtu.push_back(serial);
    return {};
}

Outcome<> ReadAllow(ModbusConfig& modbus, const std::string& value) {
    const size_t slash = value.find('/');
    const std::string host = value.substr(0, slash);
    bool v4 = false;
    const auto address = Numeric(host, v4);
    const int most = v4 ? 32 : 128;
    const auto bits = slash == std::string::npos ? std::optional<int64_t>(most) : Whole(value.substr(slash + 1));
    if (!address || !bits || *bits < 0 || *bits > most)
        return Failed{Fill(_("allow takes a network as ADDRESS/BITS (127.0.0.0/8, ::1/128) or one address, not %s"),
                           Quoted(value))};
    const ModbusNetwork network{*address, static_cast<int>(*bits) + (v4 ? 96 : 0)};
    // A network whose address has bits set past its prefix is most likely a typing error.
    auto masked = *address;
    for (int bit = network.bits; bit < 128; ++bit)
        masked[static_cast<size_t>(bit / 8)] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
    if (masked != *address)
        return Failed{Fill(_("allow %s has bits set past its first %s"), Quoted(value), *bits)};
    modbus.allow.push_back(network);
    return {};
}

}  // namespace

std::string ModbusListen::Text() const {
    const std::string address = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return address + ":" + std::to_string(port);
}

std::string ModbusSerial::Text() const {
    return device + " " + std::to_string(baud) + " " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

bool ModbusNetwork::Holds(const std::array<uint8_t, 16>& peer) const {
    for (int bit = 0; bit < bits; ++bit) {
        const auto byte = static_cast<size_t>(bit / 8);
        const int mask = 0x80 >> (bit % 8);
        if ((peer[byte] & mask) != (address[byte] & mask)) return false;
    }
    return true;
}

bool RepeatableModbusKey(std::string_view key) {
    return SameName(key, "listen") || SameName(key, "rtu") || SameName(key, "allow");
}

Outcome<> ReadModbusKey(ModbusConfig& modbus, std::string_view key, const std::string& value, int line) {
    if (SameName(key, "listen")) return ReadListen(modbus, value, line);
    if (SameName(key, "rtu")) return ReadSerial(modbus, value, line);
    if (SameName(key, "allow")) return ReadAllow(modbus, value);
    if (SameName(key, "max connections")) {
        const auto n = Whole(value);
        if (!n || *n < 1 || *n > MostConnections)
            return Failed{Fill(_("%s must be a whole number %s-%s, not %s"), key, 1, MostConnections, Quoted(value))};
        modbus.maxConnections = static_cast<int>(*n);
        return {};
    }
    if (SameName(key, "idle timeout")) {
        Millis idle{};
        if (!ParseInterval(value, idle) || (idle.count() != 0 && idle < ShortestIdle))
            return Failed{Fill(_("idle timeout takes a time of at least 1 s, such as \"60 s\", or \"off\", not %s"),
                               Quoted(value))};
        modbus.idle = idle;
        return {};
    }
    return Failed{Fill(_("unknown key %s in [modbus]; known: listen, rtu, allow, max connections, idle timeout"),
                       Quoted(key))};
}

void FinishModbus(ModbusConfig& modbus) {
    if (modbus.listen.empty() && modbus.rtu.empty()) modbus.listen.push_back({"127.0.0.1", DefaultModbusPort, modbus.line});
}

bool PeerAddress(const sockaddr* peer, std::array<uint8_t, 16>& address) {
    address = {};
    if (peer->sa_family == AF_INET) {
        const auto* four = reinterpret_cast<const sockaddr_in*>(peer);
        address[10] = address[11] = 0xFF;
        std::memcpy(address.data() + 12, &four->sin_addr, 4);
        return true;
    }
    if (peer->sa_family == AF_INET6) {
        std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr, 16);
        return true;
    }
    return false;
}

bool Allowed(const std::vector<ModbusNetwork>& allow, const std::array<uint8_t, 16>& peer) {
    return allow.empty() || std::any_of(allow.begin(), allow.end(), [&](const ModbusNetwork& n) { return n.Holds(peer); });
}

}  // namespace kvbridge
