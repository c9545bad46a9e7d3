#include "Sparkplug.h"

#include "Log.h"
#include "Messages.h"
#include "kv_version.h"
#include "sparkplug_b.pb.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;
using namespace sparkplug;
using Clock = std::chrono::steady_clock;

constexpr const char* Namespace = "spBv1.0";
constexpr int LoopWaitMs = 1000;
// The messages the lines publish are written in batches, at most one this
// often: a thousand modules' DDATA then cost a wake-up of the network thread
// per batch rather than one per message.  It is all they wait.
constexpr auto WriteEvery = 10ms;
constexpr auto LastWordsTime = 3s;  // for the node's death to reach the broker when ending
constexpr auto GoodbyeTime = 3s;
// Births and data go at QoS 0 and are not retained; the death and the
// subscriptions at QoS 1.
constexpr int DataQos = 0;
constexpr int DeathQos = 1;
// A DCMD writes a few metrics; a larger one is refused before it is decoded.
constexpr size_t MostCommandBytes = 16 * 1024;

SparkplugNode& Of(void* object) { return *static_cast<SparkplugNode*>(object); }

uint64_t NowMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

std::string ValueText(const spb::Payload::Metric& m) {
    switch (m.value_case()) {
        case spb::Payload::Metric::kBooleanValue: return m.boolean_value() ? "true" : "false";
        case spb::Payload::Metric::kIntValue: return std::to_string(m.int_value());
        case spb::Payload::Metric::kLongValue: return std::to_string(m.long_value());
        case spb::Payload::Metric::kStringValue: return "\"" + m.string_value().substr(0, 64) + "\"";
        default: return "(another type)";
    }
}

}  // namespace

SparkplugNode::SparkplugNode(const Config& config, CommandPoster post)
    : config_(config),
      post_(std::move(post)),
      watch_(config.broker.host + ":" + std::to_string(config.broker.Port()), 1,
             i18n::Fill(_("the Sparkplug node's session (%s/%s)"), config.broker.groupId, config.broker.edgeNodeId)),
      devices_(config.modules.size()) {
    const BrokerConfig& broker = config_.broker;
    if (!broker.primaryHostId.empty()) stateTopic_ = std::string(Namespace) + "/STATE/" + broker.primaryHostId;
    hostOnline_ = stateTopic_.empty();
    for (size_t i = 0; i < config_.modules.size(); ++i) {
        moduleNamed_.emplace(config_.modules[i].name, i);
        devices_[i].dataTopic = DeviceTopic("DDATA", i);
    }
    data_ = new spb::Payload;
    nudge_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (nudge_ < 0) throw std::runtime_error(std::string("the Sparkplug node: eventfd: ") + std::strerror(errno));
    client_ = ::mosquitto_new(broker.clientId.c_str(), true, this);
    if (!client_) throw std::runtime_error("cannot create the MQTT client of the Sparkplug node");
    ConfigureClient(client_, broker);
    // MQTT 5, as the JSON sessions: only it tells a retained command from a
    // fresh one while the node is subscribed.
    ::mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    ::mosquitto_connect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).OnConnect(rc); });
    ::mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* o, int rc) { Of(o).OnDisconnect(rc); });
    ::mosquitto_message_callback_set(client_,
                                     [](mosquitto*, void* o, const mosquitto_message* m) { Of(o).OnMessage(m); });
    ::mosquitto_publish_callback_set(client_, [](mosquitto*, void* o, int mid) { Of(o).OnPublish(mid); });
}

SparkplugNode::~SparkplugNode() {
    Stop();
    if (client_) ::mosquitto_destroy(client_);
    if (nudge_ >= 0) ::close(nudge_);
    delete data_;
}

std::string SparkplugNode::Topic(const char* type) const {
    return std::string(Namespace) + "/" + config_.broker.groupId + "/" + type + "/" + config_.broker.edgeNodeId;
}

std::string SparkplugNode::DeviceTopic(const char* type, size_t module) const {
    return Topic(type) + "/" + config_.modules[module].name;
}

void SparkplugNode::Start() {
    thread_ = std::thread([this] { Run(); });
    ::pthread_setname_np(thread_.native_handle(), "kv-sparkplug");  // for top -H and the benchmark
}

// The will changes with every connection (its bdSeq), so the loop is ours,
// not libmosquitto's: the will is set before each connection.
void SparkplugNode::Run() {
    Reconnection reconnection;
    bool first = true;
    while (!stopping_) {
        {
            std::lock_guard lock(mutex_);
            accepted_ = false;
            leave_ = false;
            const std::string death = NodeDeath();
            ::mosquitto_will_set(client_, Topic("NDEATH").c_str(), static_cast<int>(death.size()), death.data(),
                                 DeathQos, false);
        }
        const BrokerConfig& broker = config_.broker;
        const int rc = first ? ::mosquitto_connect_async(client_, broker.host.c_str(), broker.Port(), broker.keepalive)
                             : ::mosquitto_reconnect_async(client_);
        first = false;
        std::string why;
        if (rc == MOSQ_ERR_SUCCESS) {
            const auto giveUp = Clock::now() + std::chrono::seconds(broker.keepalive);
            int loop = MOSQ_ERR_SUCCESS;
            while ((loop = Turn()) == MOSQ_ERR_SUCCESS) {
                bool connected, accepted, leave;
                {
                    std::lock_guard lock(mutex_);
                    connected = connected_, accepted = accepted_;
                    // Once the broker has the node's death: a message in flight would go again on reconnection.
                    leave = leave_ && (undelivered_.empty() || Clock::now() > leaveDeadline_);
                }
                if (stopping_ && (!connected || Clock::now() > stopDeadline_)) break;
                if (leave && leave_.exchange(false)) ::mosquitto_disconnect(client_);
                if (!connected && !accepted && Clock::now() > giveUp) {
                    loop = MOSQ_ERR_CONN_LOST;
                    why = "no answer to the connection";
                    break;
                }
            }
            if (why.empty()) why = ::mosquitto_strerror(loop);
        } else {
            why = rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : ::mosquitto_strerror(rc);
        }
        bool accepted;
        {
            std::lock_guard lock(mutex_);
            if (connected_) watch_.Lost(why, stopping_);
            connected_ = born_ = false;
            for (Device& d : devices_) d.born = false;
            accepted = accepted_;
            // The next connection has a will of its own; a host tells them apart by bdSeq.
            if (accepted) bdSeq_ = (bdSeq_ + 1) % 256;
        }
        if (stopping_) break;
        const auto pause = reconnection.After(accepted, watch_, why);
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, pause, [this] { return stopping_.load(); });
    }
}

// One turn of the network thread, in place of mosquitto_loop, which wakes
// for every message another thread publishes (the client is threaded, so
// publishing only queues).  This thread waits for the broker, for the first
// reading or message after a quiet spell (a nudge), or for the socket to take
// the rest of what it could not take at once; what came meanwhile goes out
// together, WriteEvery after the last batch.
int SparkplugNode::Turn() {
    const auto now = Clock::now();
    bool blocked = false;  // the socket did not take everything
    if ((anyUnsent_ || ::mosquitto_want_write(client_)) && now >= nextWrite_) {
        SendUnsent();
        if (const int rc = ::mosquitto_loop_write(client_, 1)) return rc;
        nextWrite_ = now + WriteEvery;
        blocked = ::mosquitto_want_write(client_);
    }
    const int socket = ::mosquitto_socket(client_);
    if (socket < 0) return MOSQ_ERR_NO_CONN;
    // Up before looking at the queue, so that a message queued after the
    // look nudges; down again while a batch waits for its time.
    waiting_ = true;
    int waitMs = LoopWaitMs;
    if (!blocked && (anyUnsent_ || ::mosquitto_want_write(client_))) {
        waiting_ = false;
        waitMs = static_cast<int>(std::max<int64_t>(
            0, std::chrono::ceil<std::chrono::milliseconds>(nextWrite_ - Clock::now()).count()));
    }
    pollfd fds[2] = {{socket, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0}, {nudge_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, waitMs);
    waiting_ = false;
    if (ready < 0) return errno == EINTR ? MOSQ_ERR_SUCCESS : MOSQ_ERR_ERRNO;
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(nudge_, &count, sizeof count);
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
        if (const int rc = ::mosquitto_loop_read(client_, 1)) return rc;
    if (fds[0].revents & POLLOUT)
        if (const int rc = ::mosquitto_loop_write(client_, 1)) return rc;
    return ::mosquitto_loop_misc(client_);
}

// Wakes the network thread if it waits with nothing to write.
void SparkplugNode::Nudge() {
    if (!waiting_.exchange(false)) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(nudge_, &one, sizeof one);
}

void SparkplugNode::OnConnect(int rc) {
    if (rc != 0) {
        const bool oldBroker = rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        watch_.Failed(std::string("the broker refused the connection: ") + ::mosquitto_reason_string(rc) +
                      (oldBroker ? " (the bridge speaks MQTT 5; Mosquitto 1.6 or later does)" : ""));
        return;
    }
    // Retained commands come with their flag; the node's own clearing of one does not come back.
    const int options = MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL;
    ::mosquitto_subscribe_v5(client_, nullptr, Topic("NCMD").c_str(), DeathQos, options, nullptr);
    ::mosquitto_subscribe_v5(client_, nullptr, (Topic("DCMD") + "/+").c_str(), DeathQos, options, nullptr);
    if (!stateTopic_.empty()) ::mosquitto_subscribe(client_, nullptr, stateTopic_.c_str(), DeathQos);
    std::lock_guard lock(mutex_);
    connected_ = accepted_ = true;
    watch_.Connected();
    // With a primary host, the births wait for its STATE (retained: it comes at once if the host is there).
    if (!stateTopic_.empty()) {
        hostOnline_ = false;
        Log("Sparkplug node " + config_.broker.groupId + "/" + config_.broker.edgeNodeId + ": waiting for " +
            stateTopic_ + " to say online");
    }
    Birth();
}

void SparkplugNode::OnDisconnect(int rc) {
    std::lock_guard lock(mutex_);
    if (!connected_) return;
    watch_.Lost(rc == 0 ? "disconnected" : ::mosquitto_strerror(rc), stopping_);
    connected_ = born_ = false;
    for (Device& d : devices_) d.born = false;
    undelivered_.clear();
    changed_.notify_all();
}

void SparkplugNode::OnPublish(int mid) {
    std::lock_guard lock(mutex_);
    if (undelivered_.erase(mid)) changed_.notify_all();
}

void SparkplugNode::OnMessage(const mosquitto_message* message) {
    const std::string topic = message->topic ? message->topic : "";
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   message->payload ? static_cast<size_t>(message->payloadlen) : 0);
    const std::string devices = Topic("DCMD") + "/";
    if (topic == Topic("NCMD")) {
        // A retained rebirth request would come again at every connection.
        if (message->retain) {
            if (!payload.empty()) Log("Sparkplug node: a retained NCMD is not carried out; publish it without the retain flag");
            return;
        }
        Rebirth(payload);
    }
    else if (topic.rfind(devices, 0) == 0) DeviceCommand(topic.substr(devices.size()), payload, message->retain);
    else if (!stateTopic_.empty() && topic == stateTopic_) HostState(payload);
}

std::string SparkplugNode::NodeDeath() const {
    spb::Payload death;
    death.set_timestamp(NowMs());
    spb::Payload::Metric& bdSeq = *death.add_metrics();
    bdSeq.set_name(BdSeqName);
    bdSeq.set_datatype(spb::UInt64);
    bdSeq.set_long_value(bdSeq_);
    return death.SerializeAsString();
}

void SparkplugNode::Send(const std::string& topic, spb::Payload& payload) {
    if (!payload.has_timestamp()) payload.set_timestamp(NowMs());
    payload.set_seq(seq_);
    seq_ = (seq_ + 1) % 256;
    payload.SerializeToString(&bytes_);  // its memory kept between messages
    ::mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(bytes_.size()), bytes_.data(), DataQos, false);
    Nudge();
}

void SparkplugNode::Birth() {
    if (!connected_ || !hostOnline_) return;
    seq_ = 0;
    spb::Payload birth;
    const uint64_t now = NowMs();
    birth.set_timestamp(now);
    const auto add = [&](const char* name, uint64_t alias, uint32_t type) -> spb::Payload::Metric& {
        spb::Payload::Metric& m = *birth.add_metrics();
        m.set_name(name);
        m.set_alias(alias);
        m.set_timestamp(now);
        m.set_datatype(type);
        return m;
    };
    add(BdSeqName, BdSeqAlias, spb::UInt64).set_long_value(bdSeq_);
    add(RebirthName, RebirthAlias, spb::Boolean).set_boolean_value(false);
    add(VersionName, VersionAlias, spb::String).set_string_value(KV_VERSION);
    Send(Topic("NBIRTH"), birth);
    born_ = true;
    size_t online = 0;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].online) DeviceBirth(i), ++online;
    Log("Sparkplug node " + config_.broker.groupId + "/" + config_.broker.edgeNodeId + ": born (bdSeq " +
        std::to_string(bdSeq_) + "), " + std::to_string(online) + " of " + std::to_string(devices_.size()) +
        " module(s) answering");
}

void SparkplugNode::DeviceBirth(size_t module) {
    Device& d = devices_[module];
    spb::Payload birth;
    const uint64_t now = NowMs();
    birth.set_timestamp(now);
    const Commands& commands = config_.modules[module].commands;
    for (size_t i = 0; i < DeviceMetrics().size(); ++i) {
        const DeviceMetric& m = DeviceMetrics()[i];
        if (!Writable(m) || Enabled(m, commands)) AddMetric(birth, module, i, d.values[i], true, now);
    }
    Send(DeviceTopic("DBIRTH", module), birth);
    d.sent = d.values;
    d.born = true;
}

namespace {

// The metrics each reading sets.
const MetricRange& RangeOfReading(int reading) {
    static const MetricRange ranges[] = {RangeOf(Source::Input), RangeOf(Source::StatusBit), RangeOf(Source::Quantity),
                                         RangeOf(Source::Output, Source::OutputsValue)};
    return ranges[reading];
}

}  // namespace

// Report by exception: the metrics of the unsent readings whose value
// changed since the hosts last heard of them, each with its reading's time.
void SparkplugNode::DeviceData(size_t module) {
    Device& d = devices_[module];
    const uint8_t unsent = d.unsent;
    d.unsent = 0;
    if (!born_ || !d.born) return;  // the birth will carry the values
    spb::Payload& data = *data_;
    data.Clear();
    for (int reading = 0; reading < Readings; ++reading) {
        if (!(unsent & (1u << reading))) continue;
        const MetricRange& range = RangeOfReading(reading);
        for (size_t i = range.first; i < range.last; ++i)
            if (d.values[i].known && !(d.values[i] == d.sent[i])) {
                AddMetric(data, module, i, d.values[i], false, d.readAt[reading]);
                d.sent.Set(i, d.values[i]);
            }
    }
    if (data.metrics_size() == 0) return;
    data.set_timestamp(NowMs());
    Send(d.dataTopic, data);
}

// A line's reading waits for the network thread's next batch, which compares
// and publishes it; the lines only hand their readings over.  A second
// reading of the same kind before that batch sends the first one at once:
// no change is lost between two batches.
template <typename Apply>
void SparkplugNode::Take(size_t module, Reading reading, Apply apply) {
    std::lock_guard lock(mutex_);
    Device& d = devices_[module];
    const uint8_t bit = static_cast<uint8_t>(1u << reading);
    if (d.unsent & bit) DeviceData(module);
    apply(d.values);
    d.readAt[reading] = NowMs();
    if (!d.listed) unsent_.push_back(module), d.listed = true;
    d.unsent |= bit;
    anyUnsent_ = true;
    Nudge();
}

void SparkplugNode::SendUnsent() {
    std::lock_guard lock(mutex_);
    anyUnsent_ = false;
    for (const size_t module : unsent_) {
        devices_[module].listed = false;
        if (devices_[module].unsent) DeviceData(module);
    }
    unsent_.clear();
}

void SparkplugNode::Online(size_t module, const kv618::Identification& id) {
    std::lock_guard lock(mutex_);
    Device& d = devices_[module];
    d.online = true;
    d.unsent = 0;  // what was read before is forgotten: the birth carries what is read now
    d.values.ForgetReadings();
    d.values.Identification(id, config_.modules[module].data.Adresa);
    if (born_) DeviceBirth(module);
}

void SparkplugNode::Offline(size_t module) {
    std::lock_guard lock(mutex_);
    Device& d = devices_[module];
    if (d.unsent) DeviceData(module);  // the last readings before the death
    d.online = false;
    d.values.ForgetReadings();
    if (!d.born) return;
    d.born = false;
    if (!born_) return;
    spb::Payload death;
    Send(DeviceTopic("DDEATH", module), death);
}

void SparkplugNode::Inputs(size_t module, uint32_t inputs) {
    Take(module, InputsRead, [&](DeviceValues& v) { v.Inputs(inputs); });
}

void SparkplugNode::Status(size_t module, uint32_t status) {
    Take(module, StatusRead, [&](DeviceValues& v) { v.Status(status); });
}

void SparkplugNode::Counters(size_t module, const kv618::CounterTable& values) {
    Take(module, CountersRead, [&](DeviceValues& v) { v.Counters(values); });
}

void SparkplugNode::OutputsWritten(size_t module, uint32_t outputs) {
    Take(module, OutputsRead, [&](DeviceValues& v) { v.Outputs(outputs); });
}

// A line that cannot be opened is in the log already, and its modules are
// not born; Sparkplug has no error topic.
void SparkplugNode::LineFailed(size_t, int, const std::string&) {}
void SparkplugNode::LineOpen(size_t) {}

void SparkplugNode::PollFailed(size_t module, const char* poll, int code, const std::string& text) {
    Log("module " + config_.modules[module].name + ": the poll of " + poll + " was refused (" + std::to_string(code) +
        "): " + text);
}

void SparkplugNode::CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                                   const std::string& why) {
    Log("module " + config_.modules[module].name + ": command " + std::string(payload) + " on " + topic +
        " not carried out: " + why);
}

void SparkplugNode::Rebirth(std::string_view payload) {
    spb::Payload command;
    if (!command.ParseFromArray(payload.data(), static_cast<int>(payload.size()))) {
        Log("Sparkplug node: an NCMD that is not a Sparkplug B payload; ignored");
        return;
    }
    for (const auto& m : command.metrics()) {
        const bool rebirth = m.has_name() ? m.name() == RebirthName : m.alias() == RebirthAlias;
        if (!rebirth) {
            Log("Sparkplug node: NCMD " + (m.has_name() ? m.name() : "alias " + std::to_string(m.alias())) +
                " is not a metric the node takes; ignored");
            continue;
        }
        if (!m.has_boolean_value() || !m.boolean_value()) continue;
        std::lock_guard lock(mutex_);
        if (!born_) return;
        Log("Sparkplug node: a host asked for a rebirth");
        Birth();
        return;
    }
}

void SparkplugNode::HostState(std::string_view payload) {
    // {"online": true, "timestamp": ms}; the plain ONLINE and OFFLINE of older hosts too.
    bool online = false;
    uint64_t time = 0;
    const auto j = nlohmann::json::parse(payload, nullptr, false);
    if (j.is_object() && j.contains("online") && j["online"].is_boolean()) {
        online = j["online"].get<bool>();
        if (j.contains("timestamp") && j["timestamp"].is_number_unsigned()) time = j["timestamp"].get<uint64_t>();
    } else if (payload == "ONLINE" || payload == "OFFLINE") {
        online = payload == "ONLINE";
    } else {
        Log("Sparkplug node: " + stateTopic_ + " says neither online nor offline; ignored");
        return;
    }
    std::lock_guard lock(mutex_);
    // A host's STATE older than the last one heard is stale.
    if (time != 0 && time < hostTime_) return;
    if (time != 0) hostTime_ = time;
    if (online) {
        if (hostOnline_) return;
        hostOnline_ = true;
        Log("Sparkplug node: the primary host " + config_.broker.primaryHostId + " is online");
        Birth();
        return;
    }
    if (!hostOnline_) return;
    hostOnline_ = false;
    if (!born_) return;
    // The host went away: the node dies and connects again, and is born when the host is back.
    Log("Sparkplug node: the primary host " + config_.broker.primaryHostId +
        " is offline; node death published, connecting again to wait for it");
    const std::string death = NodeDeath();
    int mid = 0;
    if (::mosquitto_publish(client_, &mid, Topic("NDEATH").c_str(), static_cast<int>(death.size()), death.data(),
                            DeathQos, false) == MOSQ_ERR_SUCCESS)
        undelivered_.insert(mid);
    born_ = false;
    for (Device& d : devices_) d.born = false;
    leaveDeadline_ = Clock::now() + LastWordsTime;
    leave_ = true;
}

void SparkplugNode::DeviceCommand(const std::string& device, std::string_view payload, bool retained) {
    const std::string topic = Topic("DCMD") + "/" + device;
    const auto found = moduleNamed_.find(device);
    if (found == moduleNamed_.end()) {
        Log("Sparkplug node: a DCMD for " + device + ", which is no module of this bridge; ignored");
        return;
    }
    const size_t module = found->second;
    const ModuleConfig& config = config_.modules[module];
    const auto refuse = [&](const std::string& what, const std::string& why) {
        CommandRefused(module, topic, what, why);
    };
    // A retained command would act again at every connection: it is cleared
    // from the broker and refused once.  An empty one is such a clearing.
    if (retained) {
        if (payload.empty()) return;
        ::mosquitto_publish(client_, nullptr, topic.c_str(), 0, nullptr, DeathQos, true);
        return refuse("(retained)", "a retained command is never carried out; it was cleared from the broker");
    }
    if (payload.size() > MostCommandBytes)
        return refuse("(" + std::to_string(payload.size()) + " bytes)",
                      "at most " + std::to_string(MostCommandBytes) + " bytes are taken");
    spb::Payload command;
    if (!command.ParseFromArray(payload.data(), static_cast<int>(payload.size())))
        return refuse("(not a Sparkplug B payload)", "it cannot be decoded");
    uint32_t mask = 0, outputs = 0;
    std::string written;  // the outputs' metrics, for a refusal
    for (const auto& m : command.metrics()) {
        std::optional<size_t> index;
        if (m.has_name()) index = MetricNamed(m.name());
        else if (const auto of = MetricOfAlias(m.alias()); of && of->first == module) index = of->second;
        const std::string what =
            (m.has_name() ? m.name() : "alias " + std::to_string(m.alias())) + " = " + ValueText(m);
        if (!index) {
            refuse(what, "no such metric on this device");
            continue;
        }
        const DeviceMetric& metric = DeviceMetrics()[*index];
        if (!Writable(metric)) {
            refuse(what, metric.name + " is not writable");
            continue;
        }
        if (!Enabled(metric, config.commands)) {
            refuse(what, "writing " + metric.name + " is not enabled for this module (key \"commands\" of [module " +
                             config.name + "])");
            continue;
        }
        const bool isBool = m.value_case() == spb::Payload::Metric::kBooleanValue;
        if (metric.source == Source::OutputsValue) {
            const bool isInt = m.value_case() == spb::Payload::Metric::kIntValue ||
                               (m.value_case() == spb::Payload::Metric::kLongValue && m.long_value() <= AllOutputs);
            if (!isInt) {
                refuse(what, metric.name + " takes a UInt32");
                continue;
            }
            mask = AllOutputs;
            outputs = m.value_case() == spb::Payload::Metric::kIntValue ? m.int_value()
                                                                          : static_cast<uint32_t>(m.long_value());
            written += (written.empty() ? "" : ", ") + what;
            continue;
        }
        if (!isBool) {
            refuse(what, metric.name + " takes a Boolean");
            continue;
        }
        if (metric.source == Source::Output) {
            mask |= 1u << metric.bit;
            outputs = m.boolean_value() ? outputs | (1u << metric.bit) : outputs & ~(1u << metric.bit);
            written += (written.empty() ? "" : ", ") + what;
            continue;
        }
        if (!m.boolean_value()) continue;  // a button released
        const Command c = metric.source == Source::CounterReset ? Command{Command::ResetCounters, 0, metric.counter}
                                                                : Command{Command::ResetStatus};
        if (!post_(module, c, topic, what)) refuse(what, "too many commands are waiting for this module's line");
    }
    if (mask != 0 && !post_(module, Command{Command::SetOutputs, outputs, -1, mask}, topic, written))
        refuse(written, "too many commands are waiting for this module's line");
}

void SparkplugNode::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        if (connected_) {
            const std::string death = NodeDeath();
            int mid = 0;
            if (::mosquitto_publish(client_, &mid, Topic("NDEATH").c_str(), static_cast<int>(death.size()),
                                    death.data(), DeathQos, false) == MOSQ_ERR_SUCCESS)
                undelivered_.insert(mid);
            born_ = false;
            Nudge();
        }
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, LastWordsTime, [this] { return undelivered_.empty() || !connected_; });
    }
    stopDeadline_ = Clock::now() + GoodbyeTime;
    stopping_ = true;
    ::mosquitto_disconnect(client_);
    Nudge();
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    thread_.join();
}

}  // namespace kvbridge
