#include "MqttSession.h"

#include "Log.h"
#include "Messages.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <stdexcept>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int LoopWaitMs = 1000;  // how long one turn of the loop may wait on the socket
constexpr auto GoodbyeTime = 3s;  // for the disconnection to leave when ending

MqttSession& Of(void* object) { return *static_cast<MqttSession*>(object); }

// What every session sets on its client: threads, no delay for small
// packets, the user and password, TLS.  Throws when the TLS files are not taken.
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

MqttSession::MqttSession(const BrokerConfig& broker, const std::string& clientId, BrokerWatch& watch, Owner& owner)
    : broker_(broker), watch_(watch), owner_(owner) {
    client_ = ::mosquitto_new(clientId.c_str(), true, this);
    if (!client_) throw std::runtime_error("cannot create an MQTT client " + clientId);
    // MQTT 3.1.1 hands a retained message to a subscriber that is already
    // there without its retain flag: only MQTT 5 tells it from a fresh command.
    ::mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    ConfigureClient(client_, broker_);
    ::mosquitto_connect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).Connect(rc); });
    ::mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).Disconnect(rc); });
    ::mosquitto_message_callback_set(client_, [](mosquitto*, void* o, const mosquitto_message* m) {
        if (m) Of(o).owner_.OnMessage(*m);
    });
    ::mosquitto_publish_callback_set(client_, [](mosquitto*, void* o, int mid) { Of(o).owner_.OnPublish(mid); });
}

MqttSession::~MqttSession() {
    Stop();
    if (client_) ::mosquitto_destroy(client_);
}

int MqttSession::Owner::Turn(mosquitto* client) { return ::mosquitto_loop(client, LoopWaitMs, 1); }

void MqttSession::Start(const char* threadName) {
    thread_ = std::thread([this] { Run(); });
    if (threadName) ::pthread_setname_np(thread_.native_handle(), threadName);
}

// The will may change with every connection (the Sparkplug node's bdSeq), so
// the loop is ours, not libmosquitto's: the owner sets it before each one.
void MqttSession::Run() {
    Reconnection reconnection;
    bool first = true;
    while (!stopping_) {
        const std::string why = Attempt(first);
        first = false;
        if (connected_.exchange(false)) {
            watch_.Lost(why, stopping_);
            owner_.OnDisconnect();
        }
        owner_.AfterConnection(accepted_);
        if (stopping_) break;
        Pause(reconnection.After(accepted_, watch_, why));
    }
}

// One connection, from the attempt until it ends: why it ended.
std::string MqttSession::Attempt(bool first) {
    accepted_ = false;
    owner_.BeforeConnect(client_);
    const int rc = first ? ::mosquitto_connect_async(client_, broker_.host.c_str(), broker_.Port(), broker_.keepalive)
                         : ::mosquitto_reconnect_async(client_);
    if (rc != MOSQ_ERR_SUCCESS)
        return rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : ::mosquitto_strerror(rc);
    // A broker that takes the connection but never answers it is given up after the keepalive.
    const auto giveUp = Clock::now() + std::chrono::seconds(broker_.keepalive);
    int loop = MOSQ_ERR_SUCCESS;
    while ((loop = owner_.Turn(client_)) == MOSQ_ERR_SUCCESS) {
        if (stopping_ && (!connected_ || Clock::now() > stopDeadline_)) break;
        if (!connected_ && !accepted_ && Clock::now() > giveUp) return _("no answer to the connection");
    }
    return ::mosquitto_strerror(loop);
}

void MqttSession::Pause(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    stopped_.wait_for(lock, pause, [this] { return stopping_.load(); });
}

void MqttSession::Connect(int rc) {
    if (rc != 0) {
        const bool oldBroker = rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        watch_.Failed(i18n::Fill(_("the broker refused the connection: %s"), ::mosquitto_reason_string(rc)) +
                      (oldBroker ? _(" (the bridge speaks MQTT 5; Mosquitto 1.6 or later does)") : ""));
        return;
    }
    accepted_ = true;
    connected_ = true;
    owner_.OnConnect();
    watch_.Connected();
}

void MqttSession::Disconnect(int rc) {
    if (!connected_.exchange(false)) return;
    watch_.Lost(rc == 0 ? "disconnected" : ::mosquitto_strerror(rc), stopping_);
    owner_.OnDisconnect();
}

void MqttSession::Stop() {
    if (!thread_.joinable()) return;
    stopDeadline_ = Clock::now() + GoodbyeTime;
    stopping_ = true;
    ::mosquitto_disconnect(client_);
    {
        std::lock_guard lock(mutex_);
        stopped_.notify_all();
    }
    owner_.Wake();
    thread_.join();
}

}  // namespace kvbridge
