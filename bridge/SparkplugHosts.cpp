// The hosts' commands to the node, carried out or refused: a rebirth request
// (NCMD), a device's writes (DCMD).  SparkplugCommands decodes and checks
// their payloads; this is what the node does with them.
#include "Sparkplug.h"

#include "Log.h"
#include "SparkplugCommands.h"
#include "sparkplug_b.pb.h"

#include <mosquitto.h>

namespace kvbridge {

using namespace sparkplug;

void SparkplugNode::OnMessage(const mosquitto_message& message) {
    const std::string topic = message.topic ? message.topic : "";
    const std::string_view payload(static_cast<const char*>(message.payload),
                                   message.payload ? static_cast<size_t>(message.payloadlen) : 0);
    const std::string devices = Topic("DCMD") + "/";
    if (topic == Topic("NCMD")) NodeCommand(payload, message.retain);
    else if (topic.rfind(devices, 0) == 0) DeviceCommand(topic.substr(devices.size()), payload, message.retain);
    else if (!stateTopic_.empty() && topic == stateTopic_) HostState(payload);
}

// Sparkplug has no answer to a command: a refusal is logged, held back when
// a host repeats it (a flood of unknown metrics).
void SparkplugNode::CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                                   const std::string& why) {
    Refuse(module, topic, payload, why, why.c_str());
}

void SparkplugNode::Refuse(size_t module, const std::string& topic, std::string_view what, const std::string& why,
                           const char* kind) {
    const std::string& name = config_.modules[module].name;
    refusals_.Line("module " + name + ": commands refused, " + kind,
                   "module " + name + ": command " + std::string(what) + " on " + topic + " not carried out: " + why);
}

// A host's rebirth request.  A retained one would come again at every connection.
void SparkplugNode::NodeCommand(std::string_view payload, bool retained) {
    const auto refuse = [&](const std::string& what, const std::string& why, const char* kind) {
        refusals_.Line(std::string("Sparkplug node: NCMD refused, ") + kind,
                       "Sparkplug node: NCMD " + what + " ignored: " + why);
    };
    if (retained) {
        if (!payload.empty())
            refuse("(retained)", "a retained NCMD is not carried out; publish it without the retain flag", "retained");
        return;
    }
    spb::Payload command;
    if (const auto whole = DecodeCommand(payload, command)) return refuse(whole->what, whole->why, whole->kind);
    const auto asked = DecodeNodeCommand(command);
    for (const Refusal& r : asked.refused) refuse(r.what, r.why, r.kind);
    if (!asked.rebirth) return;
    std::lock_guard lock(mutex_);
    if (!born_) return;
    Log("Sparkplug node: a host asked for a rebirth");
    Birth();
}

void SparkplugNode::DeviceCommand(const std::string& device, std::string_view payload, bool retained) {
    const std::string topic = Topic("DCMD") + "/" + device;
    const auto found = moduleNamed_.find(device);
    if (found == moduleNamed_.end())
        return refusals_.Line("Sparkplug node: DCMD refused, no such device",
                              "Sparkplug node: a DCMD for " + device + ", which is no module of this bridge; ignored");
    const size_t module = found->second;
    const auto refuse = [&](const std::string& what, const std::string& why, const char* kind) {
        Refuse(module, topic, what, why, kind);
    };
    // A retained command would act again at every connection: it is cleared
    // from the broker and refused once.  An empty one is such a clearing.
    if (retained) {
        if (payload.empty()) return;
        ::mosquitto_publish(session_.Client(), nullptr, topic.c_str(), 0, nullptr, DeathQos, true);
        return refuse("(retained)", "a retained command is never carried out; it was cleared from the broker",
                      "retained");
    }
    spb::Payload command;
    if (const auto whole = DecodeCommand(payload, command)) return refuse(whole->what, whole->why, whole->kind);
    const auto writes = DecodeDeviceCommand(command, module, config_.modules[module]);
    for (const Refusal& r : writes.refused) refuse(r.what, r.why, r.kind);
    for (const auto& [c, what] : writes.commands)
        if (!post_(module, c, topic, what))
            refuse(what, "too many commands are waiting for this module's line", "line busy");
}

}  // namespace kvbridge
