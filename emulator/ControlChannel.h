// The control channel: command lines on the control socket (--control), any
// number of connections, and on stdin (replies to stdout), one reply line each.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "Bus.h"
#include "Clock.h"
#include "Descriptors.h"
#include "Endpoint.h"

namespace emu {

class ControlChannel final : public Endpoint {
public:
    // `socketPath`: where the control socket listens; stdin alone when empty.
    ControlChannel(Bus& bus, const Clock& clock, std::string socketPath)
        : bus_(bus), clock_(clock), path_(std::move(socketPath)) {}
    ~ControlChannel() override;

    bool Open(std::string& why) override;
    std::string ReadyField() const override;
    void AddWatches(std::vector<Watch>& watches) override;
    std::optional<int64_t> DueMs() const override;

private:
    // Control input not yet a whole line; the rest of a line that was too
    // long is skipped up to its end.
    struct LineInput {
        std::string text;
        bool skipping = false;
    };
    struct Connection {
        int fd;
        LineInput input;
    };

    void OnListener();
    void OnConnection(uint64_t id);
    void OnStdin();
    // Carries out every whole line that came in; gives their replies.
    std::string CarryOut(LineInput& input, const char* bytes, size_t n);

    Bus& bus_;
    const Clock& clock_;
    std::string path_;
    int listener_ = -1;
    ListenerRest rest_;
    std::map<uint64_t, Connection> connections_;
    uint64_t nextConnection_ = 1;
    bool stdinOpen_ = true;
    LineInput stdinInput_;
};

}  // namespace emu
