#include "Log.h"

#include "Times.h"

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

}  // namespace kvbridge
