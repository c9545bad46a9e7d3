#include "Interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace cli::interrupt {

namespace {

constexpr int Ending[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> counted{0};
// Whether a signal that reaches its handler ends the process.
std::atomic<bool> prompt{false};

sigset_t Stopping() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : Ending) sigaddset(&set, s);
    return set;
}

// Reached only while the signals are not held back: in a Promptly scope,
// where the signal ends the process as it would without a handler, or in a
// thread that a library started with them open, where it is only counted.
void Handle(int signal) {
    if (prompt) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    counted.fetch_add(1);
}

// Takes the signals that wait, held back, and counts them.
void TakePending() {
    const sigset_t set = Stopping();
    const timespec now{0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0) counted.fetch_add(1);
}

}  // namespace

void Install() {
    const sigset_t set = Stopping();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    struct sigaction action {};
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read that waits ends with the signal
    for (const int s : Ending) sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int Count() {
    TakePending();
    return counted.load();
}

bool Requested() { return Count() > 0; }

bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    const sigset_t set = Stopping();
    while (!Requested()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        if (sigtimedwait(&set, nullptr, &wait) > 0) counted.fetch_add(1);
    }
    return true;
}

Promptly::Promptly() {
    prompt = true;
    const sigset_t set = Stopping();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

Promptly::~Promptly() {
    const sigset_t set = Stopping();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    prompt = false;
}

}  // namespace cli::interrupt
