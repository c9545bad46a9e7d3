#include "ModbusConfig.h"

#include "Config.h"
#include "Ini.h"
#include "Messages.h"
#include "Numbers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
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

std::optional<int64_t> Whole(const std::string& text, int64_t least = 0, int64_t most = INT32_MAX) {
    return files::ParseNumber(text, least, most, files::Typed);
}

// A numeric address as IPv6 (IPv4 mapped), or nothing.
std::optional<std::array<uint8_t, 16>> Numeric(const std::string& host, bool& v4) {
    sockaddr_storage parsed{};
    auto& four = reinterpret_cast<sockaddr_in&>(parsed);
    auto& six = reinterpret_cast<sockaddr_in6&>(parsed);
    if (::inet_pton(AF_INET, host.c_str(), &four.sin_addr) == 1) four.sin_family = AF_INET;
    else if (::inet_pton(AF_INET6, host.c_str(), &six.sin6_addr) == 1) six.sin6_family = AF_INET6;
    else return std::nullopt;
    v4 = parsed.ss_family == AF_INET;
    std::array<uint8_t, 16> address;
    PeerAddress(reinterpret_cast<const sockaddr*>(&parsed), address);
    return address;
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
    const auto port = Whole(value.substr(colon + 1), 1, 65535);
    if (!Numeric(host, v4) || !port) return Failed{refusal};
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
    const auto bits = slash == std::string::npos ? std::optional<int64_t>(most) : Whole(value.substr(slash + 1), 0, most);
    if (!address || !bits)
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

Outcome<> NamedModbus(const std::vector<ModbusConfig>& before, const ModbusConfig& section) {
    const bool letters = std::all_of(section.name.begin(), section.name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
    if (!letters || section.name.size() > 64)
        return Failed{Fill(_("a [modbus NAME] is named with 1-64 of the letters a-z, A-Z, digits, \"-\", \"_\" and "
                             "\".\", not %s"),
                           Quoted(section.name)),
                      section.line};
    for (const ModbusConfig& other : before)
        if (other.name == section.name)
            return Failed{Fill(_("a second [modbus%s] section (the first is on line %s)"),
                               section.name.empty() ? "" : " " + section.name, other.line),
                          section.line};
    return {};
}

Outcome<> PlaceUnits(Config& config) {
    // Which module has each unit id, section by section.
    std::vector<std::array<const ModuleConfig*, HighestUnit + 1>> holders(config.modbus.size());
    for (auto& h : holders) h.fill(nullptr);
    for (ModuleConfig& m : config.modules) {
        m.modbusSection = -1;
        const int line = m.modbusLine ? m.modbusLine : m.line;
        if (SameName(m.modbus, "off")) continue;
        if (config.modbus.empty()) {
            if (m.modbus.empty()) continue;
            return Failed{Fill(_("module %s names [modbus %s], and the file has no [modbus] section"), m.name, m.modbus),
                          line};
        }
        size_t section = 0;
        if (!m.modbus.empty()) {
            const auto named = std::find_if(config.modbus.begin(), config.modbus.end(),
                                            [&](const ModbusConfig& s) { return s.name == m.modbus; });
            if (named == config.modbus.end())
                return Failed{Fill(_("module %s names [modbus %s], which the file does not have"), m.name, m.modbus),
                              line};
            section = static_cast<size_t>(named - config.modbus.begin());
        }
        const int unit = m.unit >= 0 ? m.unit : m.data.Adresa;
        if (unit < LowestUnit || unit > HighestUnit)
            return Failed{Fill(_("module %s has address %s, which is no Modbus unit id (1-247); give it one with "
                                 "\"unit = N\""),
                               m.name, unit),
                          m.line};
        if (const ModuleConfig* other = holders[section][static_cast<size_t>(unit)])
            return Failed{Fill(_("module %s has unit id %s, as module %s (line %s); give one of them another with "
                                 "\"unit = N\""),
                               m.name, unit, other->name, other->line),
                          m.unitLine ? m.unitLine : m.line};
        holders[section][static_cast<size_t>(unit)] = &m;
        m.modbusSection = static_cast<int>(section);
        m.unit = unit;
    }
    return {};
}

bool RepeatableModbusKey(std::string_view key) {
    return SameName(key, "listen") || SameName(key, "rtu") || SameName(key, "allow");
}

Outcome<> ReadModbusKey(ModbusConfig& modbus, std::string_view key, const std::string& value, int line) {
    if (SameName(key, "listen")) return ReadListen(modbus, value, line);
    if (SameName(key, "rtu")) return ReadSerial(modbus, value, line);
    if (SameName(key, "allow")) return ReadAllow(modbus, value);
    if (SameName(key, "max connections")) {
        const auto n = Whole(value, 1, MostConnections);
        if (!n)
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
