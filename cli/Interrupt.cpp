#include "Interrupt.h"

#include <cerrno>
#include <csignal>
#include <ctime>

namespace cli::interrupt {

namespace {

bool requested = false;

sigset_t Stopping() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void Install() {
    const sigset_t set = Stopping();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool Requested() {
    if (requested) return true;
    sigset_t pending;
    sigpending(&pending);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&pending, signal)) requested = true;
    return requested;
}

bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    const sigset_t set = Stopping();
    while (!Requested()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        if (sigtimedwait(&set, nullptr, &wait) > 0) requested = true;
    }
    return true;
}

}  // namespace cli::interrupt
