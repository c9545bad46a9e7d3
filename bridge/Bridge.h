// The bridge between the modules and an MQTT broker: every line of the
// configuration polled on its own thread, every module published under
// kv618/<module>/ through a session of its own, or as a device of one
// Sparkplug edge node (docs/bridge.md).
#pragma once

#include "Config.h"

#include <memory>
#include <string>
#include <vector>

namespace kvbridge {

class BusLine;
class Publisher;

// Exit statuses of RunBridge.
inline constexpr int ExitStopped = 0;     // ended by SIGTERM or SIGINT
inline constexpr int ExitFailed = 1;      // could not start
inline constexpr int ExitBadConfig = 78;  // the configuration is wrong (sysexits' EX_CONFIG)

// Runs the bridge of the configuration file until SIGTERM or SIGINT, then
// publishes every module offline and closes every link.  A bad file gets one
// message on standard error naming its line.
int RunBridge(const std::string& configPath);
// Reads the configuration file as RunBridge would and ends there, without
// touching a module or the broker: ExitStopped with a summary, or
// ExitBadConfig with the message naming the line.
int CheckConfig(const std::string& configPath);

class Bridge {
public:
    explicit Bridge(Config config);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    void Start();
    // Polling ends, every module is published offline, the broker is left and
    // the links are closed with _Done.
    void Stop();

private:
    Config config_;
    std::unique_ptr<Publisher> publisher_;
    std::vector<std::unique_ptr<BusLine>> lines_;
    std::vector<BusLine*> lineOf_;  // by module
    bool running_ = false;
};

}  // namespace kvbridge
