#include "ModuleSession.h"

#include "Payloads.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstring>

namespace kvbridge {

ModuleSession::ModuleSession(const BrokerConfig& broker, std::string module, BrokerWatch& watch,
                             CommandHandler onCommand)
    : broker_(broker),
      module_(std::move(module)),
      onCommand_(std::move(onCommand)),
      session_(broker, broker.clientId + "-" + module_, watch, *this) {
    const std::string online = Topic(module_, topic::Online);
    const char* offline = OnlinePayload(false);
    ::mosquitto_will_set(session_.Client(), online.c_str(), static_cast<int>(std::strlen(offline)), offline,
                         broker_.qos, true);
    state_[online] = offline;
}

ModuleSession::~ModuleSession() { session_.Stop(); }

void ModuleSession::OnConnect() {
    const std::string base = std::string(topic::Root) + "/" + module_ + "/";
    // Retained commands come with their flag; the session's own clearing of
    // one does not come back.
    const int options = MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL;
    for (const char* commands : {"set/+", "reset/+"})
        ::mosquitto_subscribe_v5(session_.Client(), nullptr, (base + commands).c_str(), broker_.qos, options, nullptr);
    if (!filter_.empty()) ::mosquitto_subscribe(session_.Client(), nullptr, filter_.c_str(), broker_.qos);
    // Under the lock, so a value published meanwhile cannot be overtaken by an older one.
    std::lock_guard lock(mutex_);
    for (const auto& [topic, payload] : state_) Publish(topic, payload, true);
    for (const auto& [topic, payload] : conditions_) Publish(topic, payload, false);
}

void ModuleSession::OnDisconnect() {
    std::lock_guard lock(mutex_);
    undelivered_.clear();
    changed_.notify_all();
}

void ModuleSession::OnMessage(const mosquitto_message& message) {
    const std::string base = std::string(topic::Root) + "/" + module_ + "/";
    const std::string topic = message.topic ? message.topic : "";
    const std::string_view payload(static_cast<const char*>(message.payload),
                                   message.payload ? static_cast<size_t>(message.payloadlen) : 0);
    const bool command = topic.rfind(base + "set/", 0) == 0 || topic.rfind(base + "reset/", 0) == 0;
    if (command) onCommand_(topic.substr(base.size()), payload, message.retain);
    else if (onMessage_) onMessage_(topic, payload);
}

void ModuleSession::OnPublish(int mid) {
    std::lock_guard lock(mutex_);
    if (undelivered_.erase(mid)) changed_.notify_all();
}

void ModuleSession::Publish(const std::string& topic, const std::string& payload, bool retain) {
    ::mosquitto_publish(session_.Client(), nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                        broker_.qos, retain);
}

void ModuleSession::PublishState(std::string_view what, std::string payload) {
    KeepRetained(Topic(module_, what), std::move(payload));
}

void ModuleSession::KeepRetained(const std::string& topic, std::string payload) {
    std::lock_guard lock(mutex_);
    auto& kept = state_[topic];
    kept = std::move(payload);
    if (session_.Connected()) Publish(topic, kept, true);
}

void ModuleSession::PublishEvent(std::string_view what, const std::string& payload) {
    if (session_.Connected()) Publish(Topic(module_, what), payload, false);
}

void ModuleSession::PublishCondition(std::string_view what, std::string payload) {
    const std::string topic = Topic(module_, what);
    std::lock_guard lock(mutex_);
    auto& kept = conditions_[topic];
    kept = std::move(payload);
    if (session_.Connected()) Publish(topic, kept, false);
}

void ModuleSession::ClearCondition(std::string_view what) {
    std::lock_guard lock(mutex_);
    conditions_.erase(Topic(module_, what));
}

void ModuleSession::ClearRetained(std::string_view what) {
    if (session_.Connected()) Publish(Topic(module_, what), "", true);
}

void ModuleSession::ClearRetainedTopic(const std::string& topic) {
    if (session_.Connected()) Publish(topic, "", true);
}

void ModuleSession::Subscribe(std::string filter, MessageHandler handler) {
    filter_ = std::move(filter);
    onMessage_ = std::move(handler);
}

void ModuleSession::PublishOffline() {
    const std::string topic = Topic(module_, topic::Online);
    const char* offline = OnlinePayload(false);
    std::lock_guard lock(mutex_);
    state_[topic] = offline;
    if (!session_.Connected()) return;
    int mid = 0;
    const int rc = ::mosquitto_publish(session_.Client(), &mid, topic.c_str(), static_cast<int>(std::strlen(offline)),
                                       offline, broker_.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && broker_.qos > 0) undelivered_.insert(mid);
}

void ModuleSession::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return undelivered_.empty() || !session_.Connected(); });
}

}  // namespace kvbridge
