#include "Server.h"
#include "CardEndpoint.h"
#include "ControlChannel.h"
#include "Descriptors.h"
#include "SerialEndpoint.h"
#include "UdpEndpoint.h"

#include <algorithm>
#include <cerrno>
#include <iostream>

namespace emu {

Server::Server(Bus& bus, const Clock& clock, const Options& options)
    : bus_(bus), clock_(clock), replies_(options.replyDelayMs), state_(bus, clock, options.stateFile) {
    if (options.udp)
        endpoints_.push_back(
            std::make_unique<UdpEndpoint>(bus, replies_, options.udpHost, options.udpPort, options.allowNonlocal));
    if (options.pty)
        endpoints_.push_back(
            std::make_unique<SerialEndpoint>(bus, replies_, clock, options.ptyLink, options.lineTiming));
    if (options.cards)
        endpoints_.push_back(std::make_unique<CardEndpoint>(bus, replies_, clock, options.cardDir, options.isaBase));
    endpoints_.push_back(std::make_unique<ControlChannel>(bus, clock, options.control));
    if (options.life) life_.emplace(bus, clock);
}

bool Server::Open(std::string& why) {
    if (!signals_.Open(why)) return false;
    for (const auto& endpoint : endpoints_)
        if (!endpoint->Open(why)) return false;
    return true;
}

std::string Server::ReadyLine() const {
    std::string line = "READY";
    for (const auto& endpoint : endpoints_) {
        if (const std::string field = endpoint->ReadyField(); !field.empty()) line += " " + field;
    }
    return line;
}

void Server::Watches() {
    watches_.clear();
    signals_.AddWatch(watches_);
    for (const auto& endpoint : endpoints_) endpoint->AddWatches(watches_);
}

void Server::Run() {
    state_.Start();
    if (life_) life_->Start();
    while (!signals_.Caught() && !bus_.QuitRequested()) {
        Watches();
        fds_.clear();
        for (const auto& w : watches_) fds_.push_back({w.fd, POLLIN, 0});
        const timespec wait = PollTimeout();
        const int n = ::ppoll(fds_.data(), fds_.size(), &wait, nullptr);
        if (n < 0 && errno != EINTR) {
            std::cerr << "kv618emu: " << Errno("poll") << '\n';
            break;
        }
        // Handlers may drop connections, but watches_ changes only at the
        // top of the loop, and a connection's handler looks itself up by id.
        for (size_t i = 0; n > 0 && i < fds_.size(); ++i) {
            if (fds_[i].revents != 0) watches_[i].onReadable();
        }
        DueWork();
    }
    state_.SaveAll();
}

void Server::DueWork() {
    replies_.SendDue();
    for (const auto& endpoint : endpoints_) {
        if (const auto due = endpoint->DueMs(); due && clock_.SteadyMs() >= *due) endpoint->OnDue();
    }
    state_.SaveSome();
    if (life_ && clock_.SteadyMs() >= life_->DueMs()) life_->Tick();
}

// Replies wait in microseconds: at 115200 Bd a whole exchange takes about
// 2.2 ms on the line, so whole milliseconds would distort it by up to 40 %.
timespec Server::PollTimeout() const {
    const int64_t nowMs = clock_.SteadyMs();
    int64_t waitUs = (state_.DueMs() - nowMs) * 1000;
    const auto sooner = [&](int64_t dueMs) { waitUs = std::min(waitUs, (dueMs - nowMs) * 1000); };
    for (const auto& endpoint : endpoints_) {
        if (const auto due = endpoint->DueMs()) sooner(*due);
    }
    if (life_) sooner(life_->DueMs());
    if (const auto due = replies_.DueUs()) waitUs = std::min(waitUs, *due - SteadyUs());
    waitUs = std::clamp<int64_t>(waitUs, 0, 1'000'000);
    return timespec{static_cast<time_t>(waitUs / 1'000'000), static_cast<long>(waitUs % 1'000'000) * 1000};
}

}  // namespace emu
