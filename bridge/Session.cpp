#include "Session.h"

#include "Log.h"
#include "Messages.h"
#include "Payloads.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int LoopWaitMs = 1000;  // how long one turn of the loop may wait on the socket
constexpr auto GoodbyeTime = 3s;  // for the disconnection to leave when ending

Session& Of(void* object) { return *static_cast<Session*>(object); }

}  // namespace

void BrokerWatch::Connected() {
    std::lock_guard lock(mutex_);
    ++connected_;
    lastFailure_.clear();
    if (connected_ == sessions_ && !allReported_) {
        allReported_ = true;
        Log(i18n::Fill(_("broker %s: connected, %s"), broker_, what_));
    }
}

void BrokerWatch::Lost(const std::string& why, bool ending) {
    std::lock_guard lock(mutex_);
    if (connected_ > 0) --connected_;
    if (allReported_ && !ending) {
        allReported_ = false;
        Log(i18n::Fill(_("broker %s: connection lost (%s); reconnecting"), broker_, why));
    }
}

void BrokerWatch::Failed(const std::string& why) {
    std::lock_guard lock(mutex_);
    if (why == lastFailure_) return;
    lastFailure_ = why;
    Log(i18n::Fill(_("broker %s: %s"), broker_, why));
}

std::chrono::milliseconds Reconnection::After(bool taken, BrokerWatch& watch, const std::string& why) {
    if (taken) pause_ = First;
    else
        watch.Failed(i18n::Fill(_("cannot connect: %s; trying again after 1 s, then less often, at least every %s s"),
                                why, std::chrono::duration_cast<std::chrono::seconds>(Longest).count()));
    const auto pause = pause_;
    if (!taken) pause_ = std::min(pause_ * 2, Longest);
    return pause;
}

void ConfigureClient(mosquitto* client, const BrokerConfig& broker) {
    ::mosquitto_threaded_set(client, true);
    // A value that changed is a small packet: it leaves at once, not after the last one's ack.
    ::mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    if (!broker.user.empty())
        ::mosquitto_username_pw_set(client, broker.user.c_str(), broker.password.empty() ? nullptr : broker.password.c_str());
    if (broker.Tls()) {
        const auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        const int rc = ::mosquitto_tls_set(client, broker.caFile.c_str(), nullptr, orNull(broker.certFile),
                                           orNull(broker.keyFile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("TLS files of the broker: " + std::string(::mosquitto_strerror(rc)));
    }
}

Session::Session(const BrokerConfig& broker, std::string module, BrokerWatch& watch, CommandHandler onCommand)
    : broker_(broker), module_(std::move(module)), watch_(watch), onCommand_(std::move(onCommand)) {
    const std::string id = broker_.clientId + "-" + module_;
    client_ = ::mosquitto_new(id.c_str(), true, this);
    if (!client_) throw std::runtime_error("cannot create an MQTT client for module " + module_);
    // MQTT 3.1.1 hands a retained message to a subscriber that is already
    // there without its retain flag: only MQTT 5 tells it from a fresh command.
    ::mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    const std::string online = Topic(module_, topic::Online);
    const char* offline = OnlinePayload(false);
    ::mosquitto_will_set(client_, online.c_str(), static_cast<int>(std::strlen(offline)), offline, broker_.qos, true);
    ConfigureClient(client_, broker_);
    ::mosquitto_connect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).OnConnect(rc); });
    ::mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).OnDisconnect(rc); });
    ::mosquitto_message_callback_set(client_,
                                     [](mosquitto*, void* o, const mosquitto_message* m) { Of(o).OnMessage(m); });
    ::mosquitto_publish_callback_set(client_, [](mosquitto*, void* o, int mid) { Of(o).OnPublish(mid); });
    state_[online] = offline;
}

Session::~Session() {
    Disconnect();
    if (client_) ::mosquitto_destroy(client_);
}

void Session::Start() { thread_ = std::thread([this] { Run(); }); }

void Session::Run() {
    Reconnection reconnection;
    bool first = true;
    while (!stopping_) {
        {
            std::lock_guard lock(mutex_);
            sawConnection_ = false;
        }
        const int rc = first ? ::mosquitto_connect_async(client_, broker_.host.c_str(), broker_.Port(),
                                                         broker_.keepalive)
                             : ::mosquitto_reconnect_async(client_);
        first = false;
        std::string why;
        if (rc == MOSQ_ERR_SUCCESS) {
            // A broker that takes the connection but never answers it is given up after the keepalive.
            const auto giveUp = Clock::now() + std::chrono::seconds(broker_.keepalive);
            int loop = MOSQ_ERR_SUCCESS;
            while ((loop = ::mosquitto_loop(client_, LoopWaitMs, 1)) == MOSQ_ERR_SUCCESS) {
                if (stopping_ && (!connected_ || Clock::now() > stopDeadline_)) break;
                if (!connected_ && !sawConnection_ && Clock::now() > giveUp) {
                    loop = MOSQ_ERR_CONN_LOST;
                    why = _("no answer to the connection");
                    break;
                }
            }
            if (why.empty()) why = ::mosquitto_strerror(loop);
            if (connected_.exchange(false)) watch_.Lost(why, stopping_);
        } else {
            why = rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : ::mosquitto_strerror(rc);
        }
        if (stopping_) break;
        bool wasConnected;
        {
            std::lock_guard lock(mutex_);
            wasConnected = sawConnection_;
        }
        Pause(reconnection.After(wasConnected, watch_, why));
    }
}

void Session::Pause(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, pause, [this] { return stopping_.load(); });
}

void Session::OnConnect(int rc) {
    if (rc != 0) {
        const bool oldBroker = rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        watch_.Failed(i18n::Fill(_("the broker refused the connection: %s"), ::mosquitto_reason_string(rc)) +
                      (oldBroker ? _(" (the bridge speaks MQTT 5; Mosquitto 1.6 or later does)") : ""));
        return;
    }
    const std::string base = std::string(topic::Root) + "/" + module_ + "/";
    // Retained commands come with their flag; the session's own clearing of
    // one does not come back.
    const int options = MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL;
    for (const char* commands : {"set/+", "reset/+"})
        ::mosquitto_subscribe_v5(client_, nullptr, (base + commands).c_str(), broker_.qos, options, nullptr);
    std::lock_guard lock(mutex_);
    sawConnection_ = true;
    connected_ = true;
    // Under the lock, so a value published meanwhile cannot be overtaken by an older one.
    for (const auto& [topic, payload] : state_) Publish(topic, payload, true);
    for (const auto& [topic, payload] : conditions_) Publish(topic, payload, false);
    watch_.Connected();
}

void Session::OnDisconnect(int rc) {
    if (!connected_.exchange(false)) return;
    watch_.Lost(rc == 0 ? "disconnected" : ::mosquitto_strerror(rc), stopping_);
    std::lock_guard lock(mutex_);
    undelivered_.clear();
    changed_.notify_all();
}

void Session::OnMessage(const mosquitto_message* message) {
    const std::string base = std::string(topic::Root) + "/" + module_ + "/";
    const std::string topic = message->topic ? message->topic : "";
    if (topic.rfind(base, 0) != 0) return;
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   message->payload ? static_cast<size_t>(message->payloadlen) : 0);
    onCommand_(topic.substr(base.size()), payload, message->retain);
}

void Session::OnPublish(int mid) {
    std::lock_guard lock(mutex_);
    if (undelivered_.erase(mid)) changed_.notify_all();
}

void Session::Publish(const std::string& topic, const std::string& payload, bool retain) {
    ::mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                        broker_.qos, retain);
}

void Session::PublishState(std::string_view what, std::string payload) {
    KeepRetained(Topic(module_, what), std::move(payload));
}

void Session::KeepRetained(const std::string& topic, std::string payload) {
    std::lock_guard lock(mutex_);
    auto& kept = state_[topic];
    kept = std::move(payload);
    if (connected_) Publish(topic, kept, true);
}

void Session::PublishEvent(std::string_view what, const std::string& payload) {
    if (connected_) Publish(Topic(module_, what), payload, false);
}

void Session::PublishCondition(std::string_view what, std::string payload) {
    const std::string topic = Topic(module_, what);
    std::lock_guard lock(mutex_);
    auto& kept = conditions_[topic];
    kept = std::move(payload);
    if (connected_) Publish(topic, kept, false);
}

void Session::ClearCondition(std::string_view what) {
    std::lock_guard lock(mutex_);
    conditions_.erase(Topic(module_, what));
}

void Session::ClearRetained(std::string_view what) {
    if (connected_) Publish(Topic(module_, what), "", true);
}

void Session::PublishOffline() {
    const std::string topic = Topic(module_, topic::Online);
    const char* offline = OnlinePayload(false);
    std::lock_guard lock(mutex_);
    state_[topic] = offline;
    if (!connected_) return;
    int mid = 0;
    const int rc = ::mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(std::strlen(offline)), offline,
                                       broker_.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && broker_.qos > 0) undelivered_.insert(mid);
}

void Session::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return undelivered_.empty() || !connected_; });
}

void Session::Disconnect() {
    if (!thread_.joinable()) return;
    stopDeadline_ = Clock::now() + GoodbyeTime;
    stopping_ = true;
    ::mosquitto_disconnect(client_);
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    thread_.join();
}

}  // namespace kvbridge
