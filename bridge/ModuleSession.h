// One module's MQTT session of the JSON topics.  A session carries exactly
// one last will, so each module has its own: a bridge that dies leaves every
// module's kv618/<module>/online at false.  The session keeps the retained
// state it published and publishes it again after every reconnection (a
// restarted broker may have lost it).
#pragma once

#include "MqttSession.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace kvbridge {

class ModuleSession : private MqttSession::Owner {
public:
    // A command topic's last levels ("set/outputs"), its payload, and whether
    // it was published retained (the subscription asks MQTT 5's "retain as
    // published", so a retained message is told from a fresh command even
    // while the session is subscribed).
    using CommandHandler = std::function<void(const std::string& what, std::string_view payload, bool retained)>;
    // A message on a topic outside the module's commands (Subscribe).
    using MessageHandler = std::function<void(const std::string& topic, std::string_view payload)>;

    ModuleSession(const BrokerConfig& broker, std::string module, BrokerWatch& watch, CommandHandler onCommand);
    ~ModuleSession() override;

    const std::string& Module() const { return module_; }
    void Start() { session_.Start(); }

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
    void ClearRetainedTopic(const std::string& topic);
    // Subscribes to `filter` at every connection, its messages to `handler`; before Start.
    void Subscribe(std::string filter, MessageHandler handler);

    // Ending: online=false (returns at once), then waiting until the broker
    // has it or the deadline passes, then the disconnection and the thread's end.
    void PublishOffline();
    void WaitDelivered(std::chrono::steady_clock::time_point deadline);
    void Disconnect() { session_.Stop(); }

private:
    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(const mosquitto_message& message) override;
    void OnPublish(int mid) override;
    void Publish(const std::string& topic, const std::string& payload, bool retain);

    const BrokerConfig& broker_;
    std::string module_;
    CommandHandler onCommand_;
    std::string filter_;  // Subscribe's
    MessageHandler onMessage_;

    std::mutex mutex_;  // the state, the last deliveries
    std::condition_variable changed_;
    std::map<std::string, std::string> state_;  // topic -> retained payload
    std::map<std::string, std::string> conditions_;  // topic -> payload, not retained
    std::set<int> undelivered_;                 // message ids of the last words
    MqttSession session_;  // last: its thread calls the members above
};

}  // namespace kvbridge
