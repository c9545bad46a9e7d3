#include "Sparkplug.h"

#include "Log.h"
#include "Messages.h"
#include "SparkplugCommands.h"
#include "kv_version.h"
#include "sparkplug_b.pb.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;
using namespace sparkplug;
using Clock = std::chrono::steady_clock;

constexpr const char* Namespace = "spBv1.0";
constexpr int LoopWaitMs = 1000;  // how long one turn of the network thread may wait on the socket
// The messages the lines publish are written in batches, at most one this
// often: a thousand modules' DDATA then cost a wake-up of the network thread
// per batch rather than one per message.  It is all they wait.
constexpr auto WriteEvery = 10ms;
constexpr auto LastWordsTime = 3s;  // for the node's death to reach the broker when ending

uint64_t NowMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

}  // namespace

SparkplugNode::SparkplugNode(const Config& config, CommandPoster post)
    : config_(config),
      post_(std::move(post)),
      watch_(config.broker.host + ":" + std::to_string(config.broker.Port()), 1,
             i18n::Fill(_("the Sparkplug node's session (%s/%s)"), config.broker.groupId, config.broker.edgeNodeId)),
      devices_(config.modules.size()),
      data_(std::make_unique<spb::Payload>()),
      storedBdSeq_(config.broker),
      session_(config.broker, config.broker.clientId, watch_, *this) {
    if (!config_.broker.primaryHostId.empty())
        stateTopic_ = std::string(Namespace) + "/STATE/" + config_.broker.primaryHostId;
    hostOnline_ = stateTopic_.empty();
    bdSeq_ = storedBdSeq_.First();
    for (size_t i = 0; i < config_.modules.size(); ++i) {
        moduleNamed_.emplace(config_.modules[i].name, i);
        devices_[i].dataTopic = DeviceTopic("DDATA", i);
    }
    nudge_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (nudge_ < 0) throw std::runtime_error(std::string("the Sparkplug node: eventfd: ") + std::strerror(errno));
}

SparkplugNode::~SparkplugNode() {
    Stop();
    if (nudge_ >= 0) ::close(nudge_);
}

std::string SparkplugNode::Topic(const char* type) const {
    return std::string(Namespace) + "/" + config_.broker.groupId + "/" + type + "/" + config_.broker.edgeNodeId;
}

std::string SparkplugNode::DeviceTopic(const char* type, size_t module) const {
    return Topic(type) + "/" + config_.modules[module].name;
}

// The network thread is named for top -H and the benchmark.
void SparkplugNode::Start() { session_.Start("kv-sparkplug"); }

// Every connection has a will of its own, the node's death with this
// session's bdSeq: a host tells the sessions apart by it.
void SparkplugNode::BeforeConnect(mosquitto* client) {
    std::lock_guard lock(mutex_);
    leave_ = false;
    const std::string death = NodeDeath();
    ::mosquitto_will_set(client, Topic("NDEATH").c_str(), static_cast<int>(death.size()), death.data(), DeathQos,
                         false);
}

void SparkplugNode::AfterConnection(bool accepted) {
    std::lock_guard lock(mutex_);
    born_ = false;
    for (Device& d : devices_) d.born = false;
    // The next connection has a will of its own; a host tells them apart by bdSeq.
    if (accepted) bdSeq_ = (bdSeq_ + 1) % 256;
}

// One turn of the network thread, in place of mosquitto_loop, which wakes
// for every message another thread publishes (the client is threaded, so
// publishing only queues).  This thread waits for the broker, for the first
// reading or message after a quiet spell (a nudge), or for the socket to take
// the rest of what it could not take at once; what came meanwhile goes out
// together, WriteEvery after the last batch.
int SparkplugNode::Turn(mosquitto* client) {
    LeaveOnceDeathDelivered(client);
    refusals_.Flush();
    const auto now = Clock::now();
    bool blocked = false;  // the socket did not take everything
    if ((anyUnsent_ || ::mosquitto_want_write(client)) && now >= nextWrite_) {
        SendUnsent();
        if (const int rc = ::mosquitto_loop_write(client, 1)) return rc;
        nextWrite_ = now + WriteEvery;
        blocked = ::mosquitto_want_write(client);
    }
    const int socket = ::mosquitto_socket(client);
    if (socket < 0) return MOSQ_ERR_NO_CONN;
    // Up before looking at the queue, so that a message queued after the
    // look nudges; down again while a batch waits for its time.
    waiting_ = true;
    int waitMs = LoopWaitMs;
    if (!blocked && (anyUnsent_ || ::mosquitto_want_write(client))) {
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
        if (const int rc = ::mosquitto_loop_read(client, 1)) return rc;
    if (fds[0].revents & POLLOUT)
        if (const int rc = ::mosquitto_loop_write(client, 1)) return rc;
    return ::mosquitto_loop_misc(client);
}

// Wakes the network thread if it waits with nothing to write.
void SparkplugNode::Nudge() {
    if (!waiting_.exchange(false)) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(nudge_, &one, sizeof one);
}

void SparkplugNode::OnConnect() {
    storedBdSeq_.Keep(bdSeq_);  // before the birth that names it
    mosquitto* client = session_.Client();
    // Retained commands come with their flag; the node's own clearing of one does not come back.
    const int options = MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL;
    ::mosquitto_subscribe_v5(client, nullptr, Topic("NCMD").c_str(), DeathQos, options, nullptr);
    ::mosquitto_subscribe_v5(client, nullptr, (Topic("DCMD") + "/+").c_str(), DeathQos, options, nullptr);
    if (!stateTopic_.empty()) ::mosquitto_subscribe(client, nullptr, stateTopic_.c_str(), DeathQos);
    std::lock_guard lock(mutex_);
    // With a primary host, the births wait for its STATE (retained: it comes at once if the host is there).
    if (!stateTopic_.empty()) {
        hostOnline_ = false;
        Log("Sparkplug node " + config_.broker.groupId + "/" + config_.broker.edgeNodeId + ": waiting for " +
            stateTopic_ + " to say online");
    }
    Birth();
}

void SparkplugNode::OnDisconnect() {
    std::lock_guard lock(mutex_);
    born_ = false;
    for (Device& d : devices_) d.born = false;
    undelivered_.clear();
    changed_.notify_all();
}

void SparkplugNode::OnPublish(int mid) {
    std::lock_guard lock(mutex_);
    if (undelivered_.erase(mid)) changed_.notify_all();
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
    ::mosquitto_publish(session_.Client(), nullptr, topic.c_str(), static_cast<int>(bytes_.size()), bytes_.data(),
                        DataQos, false);
    Nudge();
}

void SparkplugNode::Birth() {
    if (!session_.Connected() || !hostOnline_) return;
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

void SparkplugNode::PollFailed(size_t module, const char* poll, int code, const std::string& text) {
    Log("module " + config_.modules[module].name + ": the poll of " + poll + " was refused (" + std::to_string(code) +
        "): " + text);
}

void SparkplugNode::HostState(std::string_view payload) {
    const auto state = ParseHostState(payload);
    if (!state) {
        Log("Sparkplug node: " + stateTopic_ + " says neither online nor offline; ignored");
        return;
    }
    std::lock_guard lock(mutex_);
    // A host's STATE older than the last one heard is stale.
    if (state->time != 0 && state->time < hostTime_) return;
    if (state->time != 0) hostTime_ = state->time;
    if (state->online) {
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
    PublishDeath();
    leaveDeadline_ = Clock::now() + LastWordsTime;
    leave_ = true;
}
// Once the broker has the node's death, or it took too long: a message in
// flight would go again on reconnection.
void SparkplugNode::LeaveOnceDeathDelivered(mosquitto* client) {
    if (!leave_) return;
    {
        std::lock_guard lock(mutex_);
        if (!undelivered_.empty() && Clock::now() <= leaveDeadline_) return;
    }
    if (leave_.exchange(false)) ::mosquitto_disconnect(client);
}

// The node's death, as the will would say it; under mutex_.
void SparkplugNode::PublishDeath() {
    const std::string death = NodeDeath();
    int mid = 0;
    if (::mosquitto_publish(session_.Client(), &mid, Topic("NDEATH").c_str(), static_cast<int>(death.size()),
                            death.data(), DeathQos, false) == MOSQ_ERR_SUCCESS)
        undelivered_.insert(mid);
    born_ = false;
    for (Device& d : devices_) d.born = false;
}

void SparkplugNode::Stop() {
    {
        std::unique_lock lock(mutex_);
        if (session_.Connected()) {
            PublishDeath();
            Nudge();
        }
        changed_.wait_for(lock, LastWordsTime, [this] { return undelivered_.empty() || !session_.Connected(); });
    }
    session_.Stop();
}

}  // namespace kvbridge
