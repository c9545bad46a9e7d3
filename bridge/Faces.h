// Several faces behind one Publisher: the lines tell each of them what they
// read, in turn (the Modbus face first, then the MQTT topics or the
// Sparkplug node), so that one polling serves all of them.
#pragma once

#include "Publisher.h"

#include <memory>
#include <vector>

namespace kvbridge {

class Faces : public Publisher {
public:
    explicit Faces(std::vector<std::unique_ptr<Publisher>> faces);
    ~Faces() override;

    // Starts each in turn; when one cannot start, those started are stopped.
    void Start() override;
    void Stop() override;

    void Online(size_t module, const kv618::Identification& id) override;
    void Offline(size_t module) override;
    void Inputs(size_t module, uint32_t inputs) override;
    void Status(size_t module, uint32_t status) override;
    void Polled(size_t module, Reading what, uint32_t value) override;
    void Counters(size_t module, const kv618::CounterTable& values) override;
    void OutputsWritten(size_t module, uint32_t outputs) override;
    void PollFailed(size_t module, const char* poll, int code, const std::string& text) override;
    void LineFailed(size_t module, int code, const std::string& text) override;
    void LineOpen(size_t module) override;
    void CommandRefused(size_t module, const std::string& topic, std::string_view payload,
                        const std::string& why) override;

private:
    std::vector<std::unique_ptr<Publisher>> faces_;
    size_t started_ = 0;
};

}  // namespace kvbridge
