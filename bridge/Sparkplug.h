// The bridge as one Sparkplug B edge node (payload = sparkplug): each module
// a device, one MQTT session for all of them, with the node's death (NDEATH)
// as its will.  Births (NBIRTH, then a DBIRTH per answering module) go out on
// every connection, on a host's rebirth request and, with a primary host,
// once its STATE says online; then only what changed (DDATA).  A silent
// module dies (DDEATH) and is born again when it answers.  Commands (DCMD)
// go to the lines as the JSON topics' commands do.
#pragma once

#include "Publisher.h"
#include "BdSeq.h"
#include "Log.h"
#include "MqttSession.h"
#include "SparkplugMetrics.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace kvbridge {

class SparkplugNode : public Publisher, private MqttSession::Owner {
public:
    SparkplugNode(const Config& config, CommandPoster post);
    ~SparkplugNode() override;

    void Start() override;
    void Stop() override;

    void Online(size_t module, const kv618::Identification& id) override;
    void Offline(size_t module) override;
    void Inputs(size_t module, uint32_t inputs) override;
    void Status(size_t module, uint32_t status) override;
    void Counters(size_t module, const kv618::CounterTable& values) override;
    void OutputsWritten(size_t module, uint32_t outputs) override;
    // Logged: Sparkplug has no error topic.  LineFailed is not heard at all:
    // the line's failure is in the log already, and its modules are not born.
    void PollFailed(size_t module, const char* poll, int code, const std::string& text) override;
    void CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                        const std::string& why) override;

private:
    // Births and data go at QoS 0 and are not retained; the death and the
    // subscriptions (and the clearing of a retained command) at QoS 1.
    static constexpr int DataQos = 0;
    static constexpr int DeathQos = 1;

    // What a line reads, kept until the network thread's next batch.
    enum Reading : uint8_t { InputsRead, StatusRead, CountersRead, OutputsRead, Readings };

    struct Device {
        sparkplug::DeviceValues values;  // as read
        sparkplug::DeviceValues sent;    // as the hosts know them since the last DBIRTH
        bool online = false;             // the module answers
        bool born = false;               // its DBIRTH went out since the node's birth
        uint8_t unsent = 0;              // bits 1 << Reading: read, not yet compared with `sent`
        bool listed = false;             // in unsent_
        uint64_t readAt[Readings] = {};  // ms UTC of each reading
        std::string dataTopic;           // its DDATA's, made once
    };

    void BeforeConnect(mosquitto* client) override;
    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(const mosquitto_message& message) override;
    void OnPublish(int mid) override;
    int Turn(mosquitto* client) override;
    void AfterConnection(bool accepted) override;
    void Wake() override { Nudge(); }
    void Nudge();
    void LeaveOnceDeathDelivered(mosquitto* client);

    // All under mutex_.
    void Birth();
    void DeviceBirth(size_t module);
    void DeviceData(size_t module);
    template <typename Apply>
    void Take(size_t module, Reading reading, Apply apply);
    void SendUnsent();
    void Send(const std::string& topic, spb::Payload& payload);
    std::string NodeDeath() const;
    void HostState(std::string_view payload);
    void NodeCommand(std::string_view payload, bool retained);
    void DeviceCommand(const std::string& device, std::string_view payload, bool retained);
    void Refuse(size_t module, const std::string& topic, std::string_view what, const std::string& why,
                const char* kind);
    void PublishDeath();

    std::string Topic(const char* type) const;
    std::string DeviceTopic(const char* type, size_t module) const;

    const Config& config_;
    CommandPoster post_;
    std::string stateTopic_;  // the primary host's, or empty
    std::unordered_map<std::string, size_t> moduleNamed_;
    BrokerWatch watch_;
    LimitedLog refusals_;  // of the hosts' commands
    int nudge_ = -1;                        // an eventfd that wakes Turn from its wait
    std::atomic<bool> waiting_{false};      // Turn waits with nothing to write
    std::chrono::steady_clock::time_point nextWrite_;  // the network thread's only

    std::atomic<bool> leave_{false};  // disconnect and connect again (the primary host went offline)
    std::chrono::steady_clock::time_point leaveDeadline_;  // under mutex_
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Device> devices_;
    std::vector<size_t> unsent_;         // devices with readings for the next batch
    std::atomic<bool> anyUnsent_{false};
    std::unique_ptr<spb::Payload> data_;  // DDATA's payload, kept between messages for its memory
    std::string bytes_;             // the encoded payload, likewise
    StoredBdSeq storedBdSeq_;  // the last session's, for a restart
    uint64_t bdSeq_ = 0;      // of this connection's will; the network thread changes it
    uint64_t seq_ = 0;        // of the next message
    bool hostOnline_ = false; // no primary host, or its STATE says online
    uint64_t hostTime_ = 0;   // timestamp of the host's last STATE
    bool born_ = false;       // NBIRTH sent on this connection
    std::set<int> undelivered_;  // the final NDEATH
    MqttSession session_;  // last: its thread calls the members above
};

}  // namespace kvbridge
