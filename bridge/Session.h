// One module's MQTT session with the broker, through libmosquitto, on a
// network thread of its own.  A session carries exactly one last will, so
// each module has its own: a bridge that dies leaves every module's
// kv618/<module>/online at false.  The session keeps the retained state it
// published and publishes it again after every reconnection (a restarted
// broker may have lost it); it reconnects with a growing pause.
#pragma once

#include "Config.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace kvbridge {

// The broker as all sessions see it, for a log that says once that the
// broker went away and once that every session is back.
class BrokerWatch {
public:
    // `what` names the sessions in the log, e.g. "3 module session(s)".
    BrokerWatch(std::string broker, size_t sessions, std::string what)
        : broker_(std::move(broker)), sessions_(sessions), what_(std::move(what)) {}
    void Connected();
    void Lost(const std::string& why, bool ending);
    void Failed(const std::string& why);

private:
    std::mutex mutex_;
    std::string broker_;
    size_t sessions_;
    std::string what_;
    size_t connected_ = 0;
    bool allReported_ = false;
    std::string lastFailure_;
};

// When a session tries the broker again: 1 s after a connection the broker
// took, then twice as long after every attempt it did not take, at most 30 s.
class Reconnection {
public:
    // The pause before the next attempt; a failed one is told to `watch`.
    std::chrono::milliseconds After(bool taken, BrokerWatch& watch, const std::string& why);

    static constexpr std::chrono::milliseconds First{1000}, Longest{30000};

private:
    std::chrono::milliseconds pause_ = First;
};

// What every session of the bridge sets on its client: threads, no delay for
// small packets, the user and password, TLS.  Throws when the TLS files are
// not taken.
void ConfigureClient(mosquitto* client, const BrokerConfig& broker);

class Session {
public:
    // A command topic's last levels ("set/outputs"), its payload, and whether
    // it was published retained (the subscription asks MQTT 5's "retain as
    // published", so a retained message is told from a fresh command even
    // while the session is subscribed).
    using CommandHandler = std::function<void(const std::string& what, std::string_view payload, bool retained)>;

    Session(const BrokerConfig& broker, std::string module, BrokerWatch& watch, CommandHandler onCommand);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& Module() const { return module_; }
    void Start();

    // Kept, retained, and published again after every reconnection.
    void PublishState(std::string_view what, std::string payload);
    // The same for a topic outside kv618/<module>/ (Home Assistant's discovery).
    void KeepRetained(const std::string& topic, std::string payload);
    // Published once if the broker is there; lost if not.
    void PublishEvent(std::string_view what, const std::string& payload);
    // A condition that lasts (a line that cannot be opened): published at
    // once if the broker is there and again after every connection, not
    // retained, until cleared.
    void PublishCondition(std::string_view what, std::string payload);
    void ClearCondition(std::string_view what);
    // Removes a retained message from the broker: an empty retained one.
    void ClearRetained(std::string_view what);

    // Ending: online=false (returns at once), then waiting until the broker
    // has it or the deadline passes, then the disconnection and the thread's end.
    void PublishOffline();
    void WaitDelivered(std::chrono::steady_clock::time_point deadline);
    void Disconnect();

private:
    void Run();
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    void OnConnect(int rc);
    void OnDisconnect(int rc);
    void OnMessage(const mosquitto_message* message);
    void OnPublish(int mid);
    void Pause(std::chrono::milliseconds pause);

    const BrokerConfig& broker_;
    std::string module_;
    BrokerWatch& watch_;
    CommandHandler onCommand_;
    mosquitto* client_ = nullptr;
    std::thread thread_;

    std::atomic<bool> connected_{false};
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point stopDeadline_;  // set before stopping_
    std::mutex mutex_;  // the state, the last deliveries, the pause
    std::condition_variable changed_;
    std::map<std::string, std::string> state_;  // topic -> retained payload
    std::map<std::string, std::string> conditions_;  // topic -> payload, not retained
    std::set<int> undelivered_;                 // message ids of the last words
    bool sawConnection_ = false;
};

}  // namespace kvbridge
