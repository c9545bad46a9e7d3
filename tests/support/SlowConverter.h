// A LAN converter that hands every reply on late: a UDP relay on the
// loopback address between the LAN library and the emulator's UDP port,
// which forwards each request at once and each reply after a delay, as a
// converter with a slow round trip does.  Its own thread, stopped when the
// object goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kvtest {

class SlowConverter {
public:
    SlowConverter(uint16_t modulePort, std::chrono::milliseconds delay);
    ~SlowConverter();
    SlowConverter(const SlowConverter&) = delete;
    SlowConverter& operator=(const SlowConverter&) = delete;

    // The port the library is to send to, on 127.0.0.1.
    uint16_t port() const { return port_; }

private:
    void Relay();

    std::chrono::milliseconds delay_;
    int outside_ = -1;  // toward the library
    int inside_ = -1;   // toward the emulator, connected
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kvtest
