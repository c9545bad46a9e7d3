#include "Log.h"

#include "Messages.h"
#include "Times.h"

#include <algorithm>
#include <chrono>

#include <unistd.h>

namespace kvbridge {

void Log(const std::string& line) {
    // Each line names its moment, offset included, whether a journal or a
    // plain file keeps it.  One write per line keeps lines of other threads
    // out of it without a lock.
    const std::string text = i18n::IsoTime(std::chrono::system_clock::now()) + " " + line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void LimitedLog::Line(const std::string& kind, const std::string& line, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto [at, first] = kinds_.try_emplace(kind);
    Kind& k = at->second;
    if (!first && now - k.last < Every) {
        ++k.held;
        return;
    }
    Held(kind, k, now);
    Log(line);
    k.last = now;
}

void LimitedLog::Flush(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    for (auto& [kind, k] : kinds_)
        if (k.held > 0 && now - k.last >= Every) {
            Held(kind, k, now);
            k.last = now;
        }
}

void LimitedLog::Held(const std::string& kind, Kind& k, Clock::time_point now) {
    if (k.held == 0) return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - k.last).count();
    Log(i18n::Fill(_("%s: %s more like it in %s s, not logged one by one"), kind, k.held, std::max<int64_t>(1, seconds)));
    k.held = 0;
}

}  // namespace kvbridge
