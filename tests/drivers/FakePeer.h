// Stand-ins for a module at the far end of each transport, driven by the
// test: they decode every request and answer with whatever bytes the test's
// script gives, so replies can be stale, damaged, cut or sent from elsewhere.
#pragma once

#include "Frame.h"
#include "TestFiles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fake {

using Bytes = std::vector<uint8_t>;

// One thing the peer sends back.
struct Answer {
    Bytes bytes;
    bool fromOtherPort = false;  // UDP only: from a second socket
    int delayMs = 0;             // wait before sending it
};
using Script = std::function<std::vector<Answer>(const wire::Request&)>;

// A proper reply to a request, with the given status and data.
Bytes replyTo(const wire::Request& request, uint8_t status, std::array<uint8_t, 4> data,
              wire::Outcome outcome = wire::Outcome::Done);
// The same reply with another transaction number, address or a broken CRC.
Bytes withTransaction(Bytes frame, uint16_t transaction);
Bytes withAddress(Bytes frame, uint8_t address);
Bytes withBadCrc(Bytes frame);

class Peer {
public:
    explicit Peer(Script script) : script_(std::move(script)) {}
    virtual ~Peer() = default;
    std::vector<wire::Request> requests();
    int requestCount();

protected:
    void record(const wire::Request& request);
    void start(std::function<void()> loop);
    // Stops the loop, then closes the descriptors it served.
    void finish(std::initializer_list<int> descriptors);
    Script script_;
    std::atomic<bool> stop_{false};

private:
    std::thread thread_;
    std::mutex mutex_;
    std::vector<wire::Request> requests_;
};

class UdpPeer : public Peer {
public:
    explicit UdpPeer(Script script);
    ~UdpPeer() override;
    uint16_t port() const { return port_; }
    // The line rate the last request named (0: none).
    int32_t lastRate() const { return lastRate_; }

private:
    void loop();
    std::atomic<int32_t> lastRate_{0};
    int fd_ = -1;
    int otherFd_ = -1;
    uint16_t port_ = 0;
};

// A pseudo-terminal whose slave the library opens as its serial port.
class PtyPeer : public Peer {
public:
    explicit PtyPeer(Script script);
    ~PtyPeer() override;
    const std::string& path() const { return path_; }
    // The rate the library set on the line, as termios shows it.
    int32_t lineRate();
    // Bytes pushed at the library with no request (line noise).
    void inject(const Bytes& bytes);

private:
    void loop();
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string path_;
};

// A card socket in a folder of its own.
class CardPeer : public Peer {
public:
    CardPeer(Script script, const std::string& folder, const std::string& name);
    ~CardPeer() override;
    const std::string& folder() const { return folder_; }

private:
    void loop();
    int listener_ = -1;
    std::string folder_;
    std::string path_;
};

// A fresh empty folder under /tmp, removed with its content at the end.
using TempFolder = kvtest::TemporaryFolder;

}  // namespace fake
