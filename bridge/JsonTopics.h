// The bridge's own topics, kv618/<module>/..., in JSON: a session per module,
// since a session carries one last will and each module's online topic needs
// its own.  With Home Assistant discovery, each session also keeps the
// module's retained discovery configurations.
#pragma once

#include "Publisher.h"
#include "Discovery.h"
#include "ModuleSession.h"

#include <memory>
#include <vector>

namespace kvbridge {

class JsonTopics : public Publisher {
public:
    JsonTopics(const Config& config, CommandPoster post);
    ~JsonTopics() override;

    void Start() override;
    void Stop() override;

    void Online(size_t module, const kv618::Identification& id) override;
    void Offline(size_t module) override;
    void Inputs(size_t module, uint32_t inputs) override;
    void Status(size_t module, uint32_t status) override;
    void Counters(size_t module, const kv618::CounterTable& values) override;
    void OutputsWritten(size_t module, uint32_t outputs) override;
    void PollFailed(size_t module, const char* poll, int code, const std::string& text) override;
    void LineFailed(size_t module, int code, const std::string& text) override;
    void LineOpen(size_t module) override;
    void CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                        const std::string& why) override;

private:
    void OnCommand(size_t module, const std::string& what, std::string_view payload, bool retained);

    const Config& config_;
    CommandPoster post_;
    std::unique_ptr<BrokerWatch> watch_;
    Announced announced_;  // Home Assistant's configurations, with discovery on
    std::vector<std::unique_ptr<ModuleSession>> sessions_;
};

}  // namespace kvbridge
