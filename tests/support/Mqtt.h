// What the bridge's tests and benchmarks stand on: a real mosquitto broker
// on 127.0.0.1 at a free port, a client that records every message it
// receives, and the bridge as a process of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;

namespace kvtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// mosquitto listening on 127.0.0.1 only, anonymous, without persistence: a
// restart forgets every retained message.
class Broker {
public:
    // `access`: lines that replace "allow_anonymous true" (users, an ACL).
    explicit Broker(const std::string& access = "allow_anonymous true\n");
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    uint16_t port() const { return port_; }
    // The broker's own folder, readable by the user mosquitto drops to.
    const std::string& dir() const { return dir_; }
    void stop();
    // Starts it again on the same port.
    void start();

private:
    std::string dir_, configPath_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

struct Message {
    std::string topic, payload;
    bool retained = false;
    Clock::time_point at;
};

// Subscribes to `filter` and keeps every message; reconnects on its own.
class MqttClient {
public:
    explicit MqttClient(uint16_t port, std::string filter = "kv618/#", const std::string& user = "",
                        const std::string& password = "");
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void publish(const std::string& topic, const std::string& payload, bool retain = false);
    // The first message from index `from` on that satisfies `match`, waiting up to `timeout`.
    std::optional<Message> waitFor(const std::function<bool(const Message&)>& match, Clock::duration timeout,
                                   size_t from = 0);
    // The first message on `topic` (from index `from`) whose payload satisfies `match`.
    std::optional<Message> waitOn(const std::string& topic, const std::function<bool(const std::string&)>& match,
                                  Clock::duration timeout, size_t from = 0);
    size_t count() const;
    std::vector<Message> messages() const;
    bool connected() const;
    // Waits until the client is subscribed (after a start or a broker restart).
    bool waitConnected(Clock::duration timeout);

private:
    mosquitto* client_ = nullptr;
    std::string filter_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
    std::set<int> acknowledged_;  // message ids the broker has acknowledged
    bool subscribed_ = false;
    void onConnect(int rc);
    void onDisconnect();
    void onSubscribe();
    void onMessage(const std::string& topic, std::string payload, bool retained);
    void onPublished(int mid);
};

// kv618 bridge --config FILE, from the executable's own folder, with the
// configuration written to a temporary file; its standard error is kept.
// Its state folder (XDG_STATE_HOME) is `stateFolder`, or one of its own.
// `launcher` runs it (e.g. setpriv as another user): the file is then
// readable by every user.
class BridgeProcess {
public:
    explicit BridgeProcess(const std::string& config, const std::string& stateFolder = "",
                           const std::vector<std::string>& launcher = {});
    ~BridgeProcess();
    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;

    pid_t pid() const { return pid_; }
    // SIGTERM, then the exit status (-1 when it had to be killed).
    int terminate(Clock::duration patience = 10s);
    // Waits for the process to end by itself: its exit status, or nothing.
    std::optional<int> waitExit(Clock::duration timeout);
    std::string log() const;

private:
    std::string dir_, configPath_, logPath_;
    pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
uint16_t FreeTcpPort();

}  // namespace kvtest
