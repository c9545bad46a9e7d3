// One MQTT session with the broker, kept up on a network thread of its own:
// a libmosquitto client (MQTT 5) that connects, gives up on a broker that
// takes the connection but never answers it within the keep-alive, and
// reconnects after a growing pause, until it is stopped.  Its two users are
// a module's session of the JSON topics (ModuleSession) and the Sparkplug
// node; what differs between them is the owner's: the will of each
// connection, what a connection and a message do, and how the thread waits
// on the socket.
#pragma once

#include "Config.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
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

class MqttSession {
public:
    // What the session's owner does; every call comes from the network
    // thread, except Wake.
    class Owner {
    public:
        virtual ~Owner() = default;
        // Before every connection: the will of this one.
        virtual void BeforeConnect(mosquitto*) {}
        // The broker took the connection.
        virtual void OnConnect() = 0;
        // The connection the broker took is gone (once per connection).
        virtual void OnDisconnect() {}
        virtual void OnMessage(const mosquitto_message& message) = 0;
        virtual void OnPublish(int) {}
        // One turn of the network loop, waiting at most about a second:
        // MOSQ_ERR_SUCCESS, or what ended the connection.
        virtual int Turn(mosquitto* client);
        // After every attempt, before the pause: whether the broker took it.
        virtual void AfterConnection(bool) {}
        // Stop was asked: a Turn that waits on more than the socket ends its wait.
        virtual void Wake() {}
    };

    MqttSession(const BrokerConfig& broker, const std::string& clientId, BrokerWatch& watch, Owner& owner);
    ~MqttSession();
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    mosquitto* Client() const { return client_; }
    bool Connected() const { return connected_; }
    bool Stopping() const { return stopping_; }

    // `threadName` (at most 15 characters) shows in top -H.
    void Start(const char* threadName = nullptr);
    // The disconnection, waited for at most a few seconds, and the thread's end.
    void Stop();

private:
    void Run();
    std::string Attempt(bool first);
    void Pause(std::chrono::milliseconds pause);
    void Connect(int rc);
    void Disconnect(int rc);

    const BrokerConfig& broker_;
    BrokerWatch& watch_;
    Owner& owner_;
    mosquitto* client_ = nullptr;
    std::thread thread_;
    std::atomic<bool> connected_{false};  // the broker took this connection, and it stands
    std::atomic<bool> accepted_{false};   // ... at some time during this attempt
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point stopDeadline_;  // set before stopping_
    std::mutex mutex_;  // the pause's
    std::condition_variable stopped_;
};

}  // namespace kvbridge
