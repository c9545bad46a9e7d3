#include "JsonTopics.h"

#include "Discovery.h"
#include "Messages.h"

#include <chrono>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;

// How long the last words (online=false) may take to reach the broker.
constexpr auto LastWordsTime = 3s;
// The longest command payload taken: every command fits in a few bytes
// (docs/bridge.md), so a larger one is refused before it is read.
constexpr size_t MostCommandBytes = 1024;

WallTime Now() { return std::chrono::system_clock::now(); }

}  // namespace

JsonTopics::JsonTopics(const Config& config, CommandPoster post) : config_(config), post_(std::move(post)) {
    const BrokerConfig& broker = config_.broker;
    watch_ = std::make_unique<BrokerWatch>(broker.host + ":" + std::to_string(broker.Port()), config_.modules.size(),
                                           i18n::Fill(_("%s module session(s)"), config_.modules.size()));
    if (broker.homeAssistant) announced_ = AnnouncedBy(config_);
    for (size_t i = 0; i < config_.modules.size(); ++i) {
        const std::string& name = config_.modules[i].name;
        sessions_.push_back(std::make_unique<ModuleSession>(
            broker, name, *watch_, [this, i](const std::string& what, std::string_view payload, bool retained) {
                OnCommand(i, what, payload, retained);
            }));
        if (!broker.homeAssistant) continue;
        ModuleSession& session = *sessions_.back();
        for (const auto& [topic, payload] : DiscoveryConfigs(config_, i)) session.KeepRetained(topic, payload);
        session.KeepRetained(DiscoveryIndexTopic(name), DiscoveryIndex(announced_, name));
        // Each session reads the index it replaces (its subscription goes
        // before its state, so the old one comes first) and clears what its
        // module announces no more; the first also reads every other
        // module's, and clears what this bridge announced for a module it no
        // longer has.
        session.Subscribe(DiscoveryIndexTopic(i == 0 ? "+" : name),
                          [this, &session](const std::string& topic, std::string_view payload) {
                              for (const std::string& gone : Withdrawn(announced_, topic, payload))
                                  session.ClearRetainedTopic(gone);
                          });
    }
}

JsonTopics::~JsonTopics() { Stop(); }

void JsonTopics::Start() {
    for (auto& session : sessions_) session->Start();
}

void JsonTopics::Stop() {
    for (auto& session : sessions_) session->PublishOffline();
    const auto deadline = std::chrono::steady_clock::now() + LastWordsTime;
    for (auto& session : sessions_) session->WaitDelivered(deadline);
    for (auto& session : sessions_) session->Disconnect();
}

void JsonTopics::Online(size_t module, const kv618::Identification& id) {
    sessions_[module]->PublishState(topic::Identification,
                                    IdentificationJson(id, config_.modules[module].data.Adresa, Now()));
    sessions_[module]->PublishState(topic::Online, OnlinePayload(true));
}

void JsonTopics::Offline(size_t module) { sessions_[module]->PublishState(topic::Online, OnlinePayload(false)); }

void JsonTopics::Inputs(size_t module, uint32_t inputs) {
    sessions_[module]->PublishState(topic::Inputs, InputsJson(inputs, Now()));
}

void JsonTopics::Status(size_t module, uint32_t status) {
    sessions_[module]->PublishState(topic::Status, StatusJson(status, Now()));
}

void JsonTopics::Counters(size_t module, const kv618::CounterTable& values) {
    sessions_[module]->PublishState(topic::Counters, CountersJson(values, Now()));
}

void JsonTopics::OutputsWritten(size_t module, uint32_t outputs) {
    sessions_[module]->PublishEvent(topic::Outputs, OutputsJson(outputs, Now()));
}

void JsonTopics::PollFailed(size_t module, const char* poll, int code, const std::string& text) {
    sessions_[module]->PublishEvent(topic::Error, PollErrorJson(poll, code, text, Now()));
}

void JsonTopics::LineFailed(size_t module, int code, const std::string& text) {
    // A session may connect only later: the reason stands until the line opens.
    sessions_[module]->PublishCondition(topic::Error, PollErrorJson("line", code, text, Now()));
}

void JsonTopics::LineOpen(size_t module) { sessions_[module]->ClearCondition(topic::Error); }

void JsonTopics::CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                                const std::string& why) {
    sessions_[module]->PublishEvent(topic::Error, CommandErrorJson(topic, payload, why, Now()));
}

void JsonTopics::OnCommand(size_t module, const std::string& what, std::string_view payload, bool retained) {
    const std::string topic = Topic(config_.modules[module].name, what);
    const auto refuse = [&](const std::string& why) { CommandRefused(module, topic, payload, why); };
    // The broker keeps a retained command and hands it over at every
    // subscription: carried out, it would repeat after each reconnection.
    // It is cleared from the broker, so it is refused once.  An empty
    // retained message is such a clearing (of anyone's) and says nothing.
    if (retained) {
        if (payload.empty()) return;
        sessions_[module]->ClearRetained(what);
        return refuse("a retained command is never carried out; it was cleared from the broker. "
                      "Publish commands without the retain flag");
    }
    if (payload.size() > MostCommandBytes)
        return refuse("a command payload of " + std::to_string(payload.size()) + " bytes is refused; at most " +
                      std::to_string(MostCommandBytes) + " are taken");
    const auto parsed = ParseCommand(what, payload);
    if (!parsed.ok()) return refuse(parsed.message());
    if (!Enabled(config_.modules[module].commands, parsed->kind))
        return refuse("the command " + what + " is not enabled for this module (key \"commands\" of [module " +
                      config_.modules[module].name + "])");
    if (!post_(module, parsed.value(), topic, std::string(payload)))
        refuse("the bridge is ending, or too many commands are waiting for this module's line; this one was not carried out");
}

}  // namespace kvbridge
