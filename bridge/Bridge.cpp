#include "Bridge.h"

#include "Line.h"
#include "Log.h"
#include "Payloads.h"
#include "Session.h"

#include <mosquitto.h>

#include <csignal>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <pthread.h>

namespace kvbridge {

namespace {

using namespace std::chrono_literals;

// How long the last words (online=false) may take to reach the broker.
constexpr auto LastWordsTime = 3s;
// The longest command payload taken: every command fits in a few bytes
// (docs/bridge.md), so a larger one is refused before it is read.
constexpr size_t MostCommandBytes = 1024;

bool Enabled(const Commands& enabled, Command::Kind kind) {
    switch (kind) {
        case Command::SetOutputs: return enabled.setOutputs;
        case Command::ResetCounters: return enabled.resetCounters;
        case Command::ResetStatus: return enabled.resetStatus;
    }
    return false;
}

}  // namespace

Bridge::Bridge(Config config) : config_(std::move(config)) {
    const BrokerConfig& broker = config_.broker;
    watch_ = std::make_unique<BrokerWatch>(broker.host + ":" + std::to_string(broker.Port()), config_.modules.size());
    ::mosquitto_lib_init();
    for (size_t i = 0; i < config_.modules.size(); ++i)
        sessions_.push_back(std::make_unique<Session>(
            config_.broker, config_.modules[i].name, *watch_,
            [this, i](const std::string& what, std::string_view payload, bool retained) {
                OnCommand(i, what, payload, retained);
            }));
    std::vector<Session*> sessions;
    for (auto& s : sessions_) sessions.push_back(s.get());
    lineOf_.resize(config_.modules.size());
    for (const LineConfig& line : config_.lines) {
        lines_.push_back(std::make_unique<Line>(line, config_.modules, sessions));
        for (const size_t m : line.modules) lineOf_[m] = lines_.back().get();
    }
}

Bridge::~Bridge() {
    Stop();
    lines_.clear();
    sessions_.clear();
    ::mosquitto_lib_cleanup();
}

void Bridge::Start() {
    running_ = true;
    Log("kv618 bridge: " + std::to_string(config_.modules.size()) + " module(s) on " +
        std::to_string(config_.lines.size()) + " line(s), broker " + config_.broker.host + ":" +
        std::to_string(config_.broker.Port()) + (config_.broker.Tls() ? " (TLS)" : "") + ", client id " +
        config_.broker.clientId);
    for (auto& session : sessions_) session->Start();
    for (auto& line : lines_) line->Start();
}

void Bridge::Stop() {
    if (!running_) return;
    running_ = false;
    for (auto& line : lines_) line->Stop();
    for (auto& session : sessions_) session->PublishOffline();
    const auto deadline = std::chrono::steady_clock::now() + LastWordsTime;
    for (auto& session : sessions_) session->WaitDelivered(deadline);
    for (auto& session : sessions_) session->Disconnect();
    for (auto& line : lines_) line->Close();
    Log("kv618 bridge: ended; every module published offline, every link closed");
}

void Bridge::OnCommand(size_t module, const std::string& what, std::string_view payload, bool retained) {
    Session& session = *sessions_[module];
    const std::string topic = Topic(config_.modules[module].name, what);
    const auto refuse = [&](const std::string& why) {
        session.PublishEvent(topic::Error, CommandErrorJson(topic, payload, why, std::chrono::system_clock::now()));
    };
    // The broker keeps a retained command and hands it over at every
    // subscription: carried out, it would repeat after each reconnection.
    // It is cleared from the broker, so it is refused once.  An empty
    // retained message is such a clearing (of anyone's) and says nothing.
    if (retained) {
        if (payload.empty()) return;
        session.ClearRetained(what);
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
    if (!lineOf_[module]->Post(module, parsed.value(), topic, std::string(payload)))
        refuse("the bridge is ending, or too many commands are waiting for this module's line; this one was not carried out");
}

int RunBridge(const std::string& configPath) {
    auto loaded = LoadConfig(configPath);
    if (!loaded.ok()) {
        Log(loaded.message());
        return ExitBadConfig;
    }
    // Every thread the bridge starts inherits the blocked signals; this one takes them.
    sigset_t ending, before;
    sigemptyset(&ending);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&ending, s);
    ::pthread_sigmask(SIG_BLOCK, &ending, &before);
    std::signal(SIGPIPE, SIG_IGN);
    // Large blocks (an oversized message the broker hands over) go back to
    // the system when freed, rather than staying in the heap for good.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    int status = ExitStopped;
    try {
        Bridge bridge(std::move(loaded.value()));
        bridge.Start();
        int signal = 0;
        ::sigwait(&ending, &signal);
        Log(std::string("kv618 bridge: ") + ::strsignal(signal) + ", ending");
        bridge.Stop();
    } catch (const std::exception& e) {
        Log(std::string("kv618 bridge: ") + e.what());
        status = ExitFailed;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return status;
}

}  // namespace kvbridge
