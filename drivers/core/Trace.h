// The traffic trace: with KV618_TRACE set to a file (or "-" for stderr),
// every exchange of a link opened from then on leaves one line there.
#pragma once

#include "Transport.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace drv {

class Trace {
public:
    // The trace KV618_TRACE names now, or null when it is unset or cannot
    // be opened.  Links opened while it names the same file share one.
    static std::shared_ptr<Trace> FromEnvironment();
    ~Trace();

    // One line: wall time, library, request and reply bytes in hex, the
    // verdict and how long the exchange took.
    void Record(std::span<const uint8_t> request, std::span<const uint8_t> reply, const std::string& verdict,
                Clock::duration took);

private:
    Trace(int fd, bool owned, std::string path) : fd_(fd), owned_(owned), path_(std::move(path)) {}
    std::mutex mutex_;
    int fd_;
    bool owned_;
    std::string path_;
};

}  // namespace drv
