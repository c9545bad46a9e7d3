// The bridge's messages: one whole line each on standard error, which the
// service manager's journal keeps, after the time in ISO 8601 with its UTC
// offset.  Lines of several threads never mix.  The texts are English in the
// code and follow the locale (Messages.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace kvbridge {

void Log(const std::string& line);

// Lines that outside input may repeat without end (a host's refused
// commands), logged at most once a second per kind: a flood fills neither
// the journal nor the thread that writes it.  What is held back is counted,
// and the count is logged with the next line of its kind or by Flush once
// that second is over.
class LimitedLog {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto Every = std::chrono::seconds(1);

    // `kind` names what repeats, e.g. "module beta: no such metric".
    void Line(const std::string& kind, const std::string& line, Clock::time_point now = Clock::now());
    // The counts whose second is over; called now and then (every second or so).
    void Flush(Clock::time_point now = Clock::now());

private:
    struct Kind {
        Clock::time_point last;  // of its last line
        size_t held = 0;         // lines held back since
    };
    void Held(const std::string& kind, Kind& k, Clock::time_point now);

    std::mutex mutex_;
    std::map<std::string, Kind> kinds_;
};

}  // namespace kvbridge
