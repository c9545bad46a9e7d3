#include "Bridge.h"

#include "JsonTopics.h"
#include "BusLine.h"
#include "Discovery.h"
#include "Faces.h"
#include "Log.h"
#include "ModbusFace.h"
#include "Messages.h"
#include "Sparkplug.h"

#include <mosquitto.h>

#include <csignal>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <pthread.h>

namespace kvbridge {

bool Enabled(const Commands& enabled, Command::Kind kind) {
    switch (kind) {
        case Command::SetOutputs: return enabled.setOutputs;
        case Command::ResetCounters: return enabled.resetCounters;
        case Command::ResetStatus: return enabled.resetStatus;
    }
    return false;
}

Bridge::Bridge(Config config) : config_(std::move(config)) {
    ::mosquitto_lib_init();
    lineOf_.resize(config_.modules.size());
    const CommandPoster post = [this](size_t module, Command command, std::string topic, std::string payload) {
        return lineOf_[module]->Post(module, command, std::move(topic), std::move(payload));
    };
    // A write through Modbus is answered when the module confirmed it.
    const modbus::WritePoster write = [this](size_t module, std::vector<Command> commands, CommandDone done) {
        return lineOf_[module]->Post(module, std::move(commands), std::move(done));
    };
    std::vector<std::unique_ptr<Publisher>> faces;
    if (!config_.modbus.empty()) faces.push_back(std::make_unique<modbus::ModbusFace>(config_, write));
    if (config_.Mqtt() && config_.broker.sparkplug) faces.push_back(std::make_unique<SparkplugNode>(config_, post));
    else if (config_.Mqtt()) faces.push_back(std::make_unique<JsonTopics>(config_, post));
    if (faces.size() == 1) publisher_ = std::move(faces.front());
    else publisher_ = std::make_unique<Faces>(std::move(faces));
    for (const LineConfig& line : config_.lines) {
        lines_.push_back(std::make_unique<BusLine>(line, config_.modules, *publisher_));
        for (const size_t m : line.modules) lineOf_[m] = lines_.back().get();
    }
}

Bridge::~Bridge() {
    Stop();
    lines_.clear();
    publisher_.reset();
    ::mosquitto_lib_cleanup();
}

void Bridge::Start() {
    if (config_.Mqtt())
        Log("kv618 bridge: " +
            i18n::Fill(_("%s module(s) on %s line(s), broker %s:%s%s, client id %s"), config_.modules.size(),
                       config_.lines.size(), config_.broker.host, config_.broker.Port(),
                       config_.broker.Tls() ? " (TLS)" : "", config_.broker.clientId) +
            (config_.broker.sparkplug
                 ? i18n::Fill(_(", Sparkplug edge node %s/%s"), config_.broker.groupId, config_.broker.edgeNodeId)
                 : std::string()));
    else
        Log("kv618 bridge: " + i18n::Fill(_("%s module(s) on %s line(s), Modbus only"), config_.modules.size(),
                                          config_.lines.size()));
    // A listen address that cannot be had ends the start before any line polls.
    publisher_->Start();
    running_ = true;
    for (auto& line : lines_) line->Start();
}

void Bridge::Stop() {
    if (!running_) return;
    running_ = false;
    for (auto& line : lines_) line->Stop();
    publisher_->Stop();
    for (auto& line : lines_) line->Close();
    Log(std::string("kv618 bridge: ") + (!config_.Mqtt()             ? _("ended; every link closed")
                                         : config_.broker.sparkplug ? _("ended; the node's death published, every link closed")
                                                                    : _("ended; every module published offline, every link closed")));
}

namespace {

// The file read and checked as the bridge takes it: what kv618 plant also
// reads (LoadConfig), and what only the bridge needs (the discovery's ids).
kv618::Outcome<Config> Load(const std::string& configPath) {
    auto loaded = LoadConfig(configPath);
    if (!loaded.ok()) return loaded;
    if (auto shared = SharedDiscoveryId(loaded.value(), configPath)) return kv618::Failed{*shared};
    return loaded;
}

}  // namespace

int CheckConfig(const std::string& configPath) {
    const auto loaded = Load(configPath);
    if (!loaded.ok()) {
        Log(loaded.message());
        return ExitBadConfig;
    }
    const Config& config = loaded.value();
    std::string summary = i18n::Fill(_("good, %s module(s) on %s line(s)"), config.modules.size(), config.lines.size());
    if (config.Mqtt()) summary += i18n::Fill(_(", broker %s:%s"), config.broker.host, config.broker.Port());
    for (const ModbusConfig& m : config.modbus) {
        std::string where;
        for (const auto& at : m.listen) where += (where.empty() ? "" : ", ") + at.Text();
        for (const auto& port : m.rtu) where += (where.empty() ? "" : ", ") + port.Text();
        summary += i18n::Fill(_(", Modbus on %s"), where);
    }
    Log(configPath + ": " + summary);
    return ExitStopped;
}

int RunBridge(const std::string& configPath) {
    auto loaded = Load(configPath);
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
        Log("kv618 bridge: " + i18n::Fill(_("%s, ending"), ::strsignal(signal)));
        bridge.Stop();
    } catch (const std::exception& e) {
        Log(std::string("kv618 bridge: ") + e.what());
        status = ExitFailed;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return status;
}

}  // namespace kvbridge
