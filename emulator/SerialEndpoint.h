// The serial line: a pseudo-terminal whose master end the emulator reads as
// the modules' side of the line, a byte stream searched for request frames.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "Clock.h"
#include "FrameEndpoint.h"
#include "SyncFramer.h"

namespace emu {

class SerialEndpoint final : public FrameEndpoint {
public:
    // `link`: a symbolic link to the slave, made at Open() (none when empty).
    // `lineTiming`: a reply leaves after the time the exchange takes on the line.
    SerialEndpoint(Bus& bus, Replies& replies, const Clock& clock, std::string link, bool lineTiming)
        : FrameEndpoint(bus, replies), clock_(clock), link_(std::move(link)), lineTiming_(lineTiming) {}
    ~SerialEndpoint() override;

    bool Open(std::string& why) override;
    std::string ReadyField() const override { return "pty=" + path_; }
    void AddWatches(std::vector<Watch>& watches) override;
    void Deliver(const Peer& peer, std::span<const uint8_t> bytes) override;
    // The check for exclusive mode left behind, every 100 ms.
    std::optional<int64_t> DueMs() const override { return nextCheckMs_; }
    void OnDue() override;

private:
    bool MakeLink(std::string& why);
    void OnReadable();
    void OnClosed();
    // The rate in Bd the master set on the line (0 for another speed).
    int32_t LineRate() const;
    void ApplyLineSettings();
    void ReleaseStaleExclusive();

    const Clock& clock_;
    std::string link_;
    bool linked_ = false;  // the link is ours to remove
    bool lineTiming_;
    int master_ = -1;
    int slave_ = -1;   // kept open so the line stays up between masters
    int closes_ = -1;  // inotify: a master closed the line
    std::string path_;
    wire::SyncFramer framer_ = wire::RequestFramer();
    int64_t nextCheckMs_ = 0;
};

}  // namespace emu
