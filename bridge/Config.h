// The bridge's configuration file: the broker, and each module with its
// interface, connection parameters, address and what to poll how often.
// Modules whose interface and connection parameters name the same line
// share one link.  docs/bridge.md describes the format.
#pragma once

#include "Dekl.h"
#include "ModbusConfig.h"
#include "Outcome.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvbridge {

using Millis = std::chrono::milliseconds;

struct BrokerConfig {
    std::string host = "localhost";
    int port = 0;  // 0: 1883, or 8883 with TLS
    std::string clientId;  // empty: "kv618-" and the host name
    std::string user;
    std::string passwordFile;  // its first line is the password
    std::string password;      // filled by LoadConfig
    std::string caFile, certFile, keyFile;
    // Lines of the file keys, for messages about the files they name.
    int passwordLine = 0, caLine = 0, certLine = 0, keyLine = 0;
    int keepalive = 30;  // seconds
    int qos = 1;
    // payload = sparkplug: the bridge is one Sparkplug edge node, each module a device.
    bool sparkplug = false;
    std::string groupId = "kv618";
    std::string edgeNodeId;     // empty: the client id
    std::string primaryHostId;  // empty: births go out without waiting for a host
    // With the JSON topics: Home Assistant's MQTT discovery under `discoveryPrefix`.
    bool homeAssistant = false;
    std::string discoveryPrefix = "homeassistant";

    int Port() const { return port != 0 ? port : caFile.empty() ? 1883 : 8883; }
    bool Tls() const { return !caFile.empty(); }
};

struct Commands {
    bool setOutputs = false;
    bool resetCounters = false;
    bool resetStatus = false;
};

struct ModuleConfig {
    std::string name;  // the topic level kv618/<name>/...
    int line = 0;      // of its section header in the file
    uint8_t type = 0;  // the interface (TData.Rozhrani)
    TData data;        // Adresa, Rychlost and the interface's parameters
    Millis inputs{100}, status{500}, counters{2000};  // 0: not polled
    Millis heartbeat{60000};  // inputs and status published at least this often
    Millis retry{5000};       // a silent module is asked again after this
    Commands commands;
    // The saved settings the module should hold (`settings = FILE`, read by
    // kv618 plant, not by the bridge); LoadConfig resolves it against the
    // file's folder.  Empty: none named.
    std::string settings;
    int settingsLine = 0;
    // The Modbus face: the [modbus] section named by `modbus = NAME` ("off":
    // none; empty: the first) and the unit id given by `unit = N` (-1: its
    // address), until PlaceUnits resolves them: the section's index (-1:
    // not served) and the unit id served.
    std::string modbus;
    int modbusSection = -1;
    int unit = -1;
    int modbusLine = 0, unitLine = 0;
};

// One link: an interface with its connection parameters, and the modules on it.
struct LineConfig {
    uint8_t type = 0;
    TData data;                  // the first module's record: parameters and rate
    std::vector<size_t> modules;  // indexes into Config::modules
    std::string name;            // e.g. "KV-1726 192.168.0.99:5000", for messages
};

struct Config {
    BrokerConfig broker;
    bool brokerGiven = false;  // a [broker] section
    std::vector<ModbusConfig> modbus;  // the [modbus] sections
    std::vector<ModuleConfig> modules;
    std::vector<LineConfig> lines;

    // MQTT is spoken where [broker] is given, or where no [modbus] is.
    bool Mqtt() const { return brokerGiven || modbus.empty(); }
};

// Who reads the file.  kv618 plant reads it as the plant's description: it
// talks to the modules, never to the broker, so the files of [broker] are
// not read, and the bridge's cap on modules (an MQTT session each) does not
// hold.  Every other check is the same.
enum class Reader { Bridge, Plant };

// The configuration, or one message "FILE:LINE: what is wrong" naming the
// first fault.  `fileName` is only used in messages; `bytes` may be UTF-8 or
// Windows-1250, as the program's settings file.
kv618::Outcome<Config> ParseConfig(std::string_view bytes, const std::string& fileName, Reader reader = Reader::Bridge);
// Reads the file (and, for the bridge, the password file it names; at most
// 1 MiB each) and parses it.
kv618::Outcome<Config> LoadConfig(const std::string& path, Reader reader = Reader::Bridge);

// Fills config.lines: modules whose interface and connection parameters are
// the same share one line (ConfigLines.cpp).  A module that gives its line
// another time-out, or the address of another module on it, is refused; the
// fault's line is the module's section.
kv618::Outcome<> GroupLines(Config& config);

// "100 ms", "2 s", "1.5 s", "1 min", "1 h", "off" (0); false for anything else.
bool ParseInterval(std::string_view text, Millis& interval);

}  // namespace kvbridge
