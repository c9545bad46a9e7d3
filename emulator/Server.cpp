#include "Server.h"
#include "Messages.h"
#include "card_folder.h"
#include "line_speed.h"

#include <algorithm>
#include <chrono>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace emu {

namespace {

constexpr size_t MaxControlLine = 4096;
constexpr int64_t SaveIntervalMs = 1000;
// A turn of the loop saves state files for at most this long, so that with
// many modules on the line a reply never waits for all of them.
constexpr int64_t SaveSliceUs = 2000;
constexpr int64_t LineCheckIntervalMs = 100;
constexpr int64_t ListenerRestMs = 100;

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool FillUnixAddress(const std::string& path, sockaddr_un& address, std::string& why) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        why = i18n::Fill(_("%s: path too long for a local socket"), path);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket file left behind by an emulator that died is taken over; one that
// somebody still serves is not.
bool ClaimSocketPath(const std::string& path, int type, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;
    if (!S_ISSOCK(st.st_mode)) {
        why = i18n::Fill(_("%s: exists and is not a socket"), path);
        return false;
    }
    sockaddr_un address;
    if (!FillUnixAddress(path, address, why)) return false;
    const int probe = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        ::close(probe);
        why = i18n::Fill(_("%s: another emulator serves it"), path);
        return false;
    }
    if (probe >= 0) ::close(probe);
    ::unlink(path.c_str());
    return true;
}

int ListenUnix(const std::string& path, int type, std::string& why) {
    sockaddr_un address;
    if (!FillUnixAddress(path, address, why) || !ClaimSocketPath(path, type, why)) return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = Errno("socket");
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        why = Errno(path);
        ::close(fd);
        return -1;
    }
    return fd;
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

Server::Server(Bus& bus, const Clock& clock, Options options)
    : bus_(bus), clock_(clock), options_(std::move(options)) {}

Server::~Server() {
    for (auto& [id, conn] : conns_) ::close(conn.fd);
    for (auto& [fd, path] : cardListeners_) {
        ::close(fd);
        ::unlink(path.c_str());
    }
    if (controlFd_ >= 0) {
        CloseFd(controlFd_);
        ::unlink(options_.control.c_str());
    }
    if (!options_.ptyLink.empty() && ptyMaster_ >= 0) ::unlink(options_.ptyLink.c_str());
    CloseFd(ptyCloses_);
    CloseFd(ptySlave_);
    CloseFd(ptyMaster_);
    CloseFd(udpFd_);
    CloseFd(signalFd_);
}

void Server::PowerUp() {
    for (size_t i = 0; i < bus_.size(); ++i) {
        EmulatedModule& m = bus_.at(i).module;
        if (options_.stateFile.empty()) {
            m.PowerUp(std::nullopt);
            continue;
        }
        const std::string file = StateFileOf(options_.stateFile, i);
        ModuleState state;
        std::string why;
        switch (LoadStateFile(file, state, why)) {
            case LoadResult::Loaded:
                m.Restore(state);
                m.PowerUp(state.lastAlive);
                break;
            case LoadResult::Damaged:
                std::cerr << "kv618emu: "
                          << i18n::Fill(_("state file %s is damaged (%s); starting from the defaults"), file, why)
                          << '\n';
                m.PowerUp(std::nullopt);
                break;
            case LoadResult::Missing:
                m.PowerUp(std::nullopt);
                break;
        }
    }
    SaveState();
}

bool Server::Open(std::string& why) {
    return OpenSignals(why) && OpenUdp(why) && OpenPty(why) && OpenCards(why) && OpenControl(why);
}

bool Server::OpenSignals(std::string& why) {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) why = Errno("signalfd");
    return signalFd_ >= 0;
}

bool Server::OpenUdp(std::string& why) {
    if (!options_.udp) return true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.udpPort);
    if (::inet_pton(AF_INET, options_.udpHost.c_str(), &address.sin_addr) != 1) {
        why = i18n::Fill(_("%s: not an IPv4 address"), options_.udpHost);
        return false;
    }
    const bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
    if (!loopback && !options_.allowNonlocal) {
        why = i18n::Fill(_("%s: not a loopback address (give --allow-nonlocal to serve it)"), options_.udpHost);
        return false;
    }
    udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (udpFd_ < 0 || ::bind(udpFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        why = Errno("UDP " + options_.udpHost + ":" + std::to_string(options_.udpPort));
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(udpFd_, reinterpret_cast<sockaddr*>(&address), &length);
    udpPort_ = ntohs(address.sin_port);
    return true;
}

bool Server::OpenPty(std::string& why) {
    if (!options_.pty) return true;
    ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (ptyMaster_ < 0 || ::grantpt(ptyMaster_) != 0 || ::unlockpt(ptyMaster_) != 0) {
        why = Errno("pseudo-terminal");
        return false;
    }
    char name[128];
    if (::ptsname_r(ptyMaster_, name, sizeof name) != 0) {
        why = Errno("ptsname");
        return false;
    }
    ptyPath_ = name;
    ptySlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (ptySlave_ < 0) {
        why = Errno(ptyPath_);
        return false;
    }
    ApplyLineSettings();
    // Every close of the line by a master, so that exclusive mode it left is
    // cleared before the next master comes; without inotify the periodic
    // check alone does it.
    ptyCloses_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (ptyCloses_ >= 0 && ::inotify_add_watch(ptyCloses_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseFd(ptyCloses_);
    if (!options_.ptyLink.empty()) {
        struct stat st {};
        if (::lstat(options_.ptyLink.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                why = i18n::Fill(_("%s: exists and is not a symbolic link"), options_.ptyLink);
                return false;
            }
            ::unlink(options_.ptyLink.c_str());
        }
        if (::symlink(name, options_.ptyLink.c_str()) != 0) {
            why = Errno(options_.ptyLink);
            return false;
        }
    }
    return true;
}

// The line starts raw at the module's rate, so a master that does not set
// the rate at all still reaches the module.
void Server::ApplyLineSettings() {
    termios tio{};
    if (::tcgetattr(ptySlave_, &tio) != 0) return;
    ::cfmakeraw(&tio);
    const speed_t speed = wire::lineSpeed(bus_.first().module.BaudRate());
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    ::tcsetattr(ptySlave_, TCSANOW, &tio);
}

int32_t Server::LineRate() const {
    termios tio{};
    if (::tcgetattr(ptySlave_, &tio) != 0) return bus_.first().module.BaudRate();
    const speed_t speed = ::cfgetospeed(&tio);
    for (const int32_t rate : kv618::BaudRates)
        if (wire::lineSpeed(rate) == speed) return rate;
    return 0;
}

// A master that set exclusive mode and closed the line leaves the mode set,
// since the emulator's own slave keeps the line open, and then nobody but
// root could open the port again.  A master that holds the port also holds
// its lock; a free lock with exclusive mode set is a leftover.
void Server::ReleaseStaleExclusive() {
    int exclusive = 0;
    if (::ioctl(ptySlave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
    if (::flock(ptySlave_, LOCK_EX | LOCK_NB) != 0) return;
    ::ioctl(ptySlave_, TIOCNXCL);
    ::flock(ptySlave_, LOCK_UN);
}

void Server::OnPtyClosed() {
    alignas(inotify_event) char events[4096];
    while (::read(ptyCloses_, events, sizeof events) > 0) {
    }
    ReleaseStaleExclusive();
}

bool Server::OpenCards(std::string& why) {
    if (!options_.cards) return true;
    // Whoever can put a socket in the folder can pose as the cards.
    if (!wire::preparePrivateFolder(options_.cardDir, why)) return false;
    for (const std::string& name : {IsaSocketName(options_.isaBase), std::string("pci1726.sock"),
                                    std::string("usb1726.sock")}) {
        const std::string path = options_.cardDir + "/" + name;
        const int fd = ListenUnix(path, SOCK_SEQPACKET, why);
        if (fd < 0) return false;
        cardListeners_.emplace_back(fd, path);
    }
    return true;
}

bool Server::OpenControl(std::string& why) {
    if (options_.control.empty()) return true;
    controlFd_ = ListenUnix(options_.control, SOCK_STREAM, why);
    return controlFd_ >= 0;
}

std::string Server::ReadyLine() const {
    std::string line = "READY";
    if (udpFd_ >= 0) line += " udp=" + options_.udpHost + ":" + std::to_string(udpPort_);
    if (ptyMaster_ >= 0) line += " pty=" + ptyPath_;
    if (!cardListeners_.empty()) line += " cards=" + options_.cardDir;
    if (controlFd_ >= 0) line += " control=" + options_.control;
    return line;
}

void Server::Watches() {
    auto& w = watches_;
    w.clear();
    w.push_back({signalFd_, [this] {
                     signalfd_siginfo info;
                     while (::read(signalFd_, &info, sizeof info) > 0) stop_ = true;
                 }});
    if (udpFd_ >= 0) w.push_back({udpFd_, [this] { OnUdp(); }});
    if (ptyMaster_ >= 0) w.push_back({ptyMaster_, [this] { OnPty(); }});
    if (ptyCloses_ >= 0) w.push_back({ptyCloses_, [this] { OnPtyClosed(); }});
    const bool listening = clock_.SteadyMs() >= listenAgainMs_;
    for (auto& [fd, path] : cardListeners_) {
        if (listening) w.push_back({fd, [this, fd = fd] { OnCardListener(fd); }});
    }
    if (controlFd_ >= 0 && listening) w.push_back({controlFd_, [this] { OnControlListener(); }});
    for (auto& [id, conn] : conns_) w.push_back({conn.fd, [this, id = id] { OnConn(id); }});
    if (stdinOpen_) w.push_back({STDIN_FILENO, [this] { OnStdin(); }});
}

void Server::Run() {
    nextSaveMs_ = clock_.SteadyMs() + SaveIntervalMs;
    if (options_.life) StartLife();
    while (!stop_ && !bus_.QuitRequested()) {
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
        FireDue();
        if (ptySlave_ >= 0 && clock_.SteadyMs() >= nextLineCheckMs_) {
            ReleaseStaleExclusive();
            nextLineCheckMs_ = clock_.SteadyMs() + LineCheckIntervalMs;
        }
        SaveSome();
        if (options_.life && clock_.SteadyMs() >= nextLifeMs_) LifeTick();
    }
    SaveState();
}

// Replies wait in microseconds: at 115200 Bd a whole exchange takes about
// 2.2 ms on the line, so whole milliseconds would distort it by up to 40 %.
int64_t Server::NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

timespec Server::PollTimeout() const {
    const int64_t nowMs = clock_.SteadyMs();
    int64_t waitUs = (nextSaveMs_ - nowMs) * 1000;
    if (ptySlave_ >= 0) waitUs = std::min(waitUs, (nextLineCheckMs_ - nowMs) * 1000);
    if (options_.life) waitUs = std::min(waitUs, (nextLifeMs_ - nowMs) * 1000);
    if (listenAgainMs_ > nowMs) waitUs = std::min(waitUs, (listenAgainMs_ - nowMs) * 1000);
    if (!pending_.empty()) waitUs = std::min(waitUs, pending_.begin()->first - NowUs());
    if (saveNext_ < bus_.size()) waitUs = 0;  // a save round goes on between requests
    waitUs = std::clamp<int64_t>(waitUs, 0, 1'000'000);
    return timespec{static_cast<time_t>(waitUs / 1'000'000), static_cast<long>(waitUs % 1'000'000) * 1000};
}

bool Server::SaveModule(size_t index, std::string& errors) {
    std::string why;
    if (SaveStateFile(StateFileOf(options_.stateFile, index), bus_.at(index).module.State(), why)) return true;
    errors += why;
    return false;
}

void Server::EndSaveRound(const std::string& errors) {
    if (!errors.empty() && errors != lastSaveError_)
        std::cerr << "kv618emu: " << i18n::Fill(_("cannot keep the state: %s"), errors) << '\n';
    lastSaveError_ = errors;
}

// Every module's file at once: at power-up and at the end.
void Server::SaveState() {
    if (options_.stateFile.empty()) return;
    std::string errors;
    for (size_t i = 0; i < bus_.size(); ++i) SaveModule(i, errors);
    EndSaveRound(errors);
    saveNext_ = SIZE_MAX;
}

// Once a second a round saves every module's file, a slice of it per turn
// of the loop: a bus of hundreds of modules would otherwise hold every reply
// back for as long as all their files take.
void Server::SaveSome() {
    if (saveNext_ >= bus_.size()) {
        if (clock_.SteadyMs() < nextSaveMs_) return;
        nextSaveMs_ = clock_.SteadyMs() + SaveIntervalMs;
        if (options_.stateFile.empty()) return;
        saveNext_ = 0;
        roundErrors_.clear();
    }
    const int64_t until = NowUs() + SaveSliceUs;
    do SaveModule(saveNext_++, roundErrors_);
    while (saveNext_ < bus_.size() && NowUs() < until);
    if (saveNext_ == bus_.size()) {
        EndSaveRound(roundErrors_);
        saveNext_ = SIZE_MAX;
    }
}

// --life goes through the control commands, as an operator at the control
// socket would, for every module on the line: pulse trains of different
// rates, so every counter quantity differs, and inputs that move from the
// first second on.
void Server::StartLife() {
    for (size_t i = 0; i < bus_.size(); ++i) {
        for (const char* train : {"pulses 0 1", "pulses 1 2", "pulses 2 5", "pulses 3 10"}) bus_.at(i).OnControl(train);
    }
    nextLifeMs_ = clock_.SteadyMs();
}

// Once a second: a running light on DIN0-7, the seconds counted in binary on
// DIN8-15 and DIN16 blinking; every 20 s the 24 V supply fails (ERR24), so
// the status register has a bit to reset.
void Server::LifeTick() {
    const uint32_t step = lifeStep_++;
    const uint32_t inputs = (1u << (step % 8)) | ((step & 0xFFu) << 8) | ((step & 1u) << 16);
    for (size_t i = 0; i < bus_.size(); ++i) {
        bus_.at(i).OnControl("set inputs " + std::to_string(inputs));
        if (step % 20 == 19) bus_.at(i).OnControl("supply-fault");
    }
    nextLifeMs_ += 1000;
    // A loop held up for long does not make up for the seconds it missed.
    if (nextLifeMs_ < clock_.SteadyMs()) nextLifeMs_ = clock_.SteadyMs() + 1000;
}

void Server::Queue(Pending pending, int64_t delayUs) {
    const int64_t total = delayUs + int64_t{options_.replyDelayMs} * 1000;
    if (total == 0) {
        Deliver(pending);
        return;
    }
    pending_.emplace(NowUs() + total, std::move(pending));
}

void Server::FireDue() {
    const int64_t now = NowUs();
    while (!pending_.empty() && pending_.begin()->first <= now) {
        const Pending p = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        Deliver(p);
    }
}

void Server::Deliver(const Pending& p) {
    switch (p.to) {
        case Pending::To::Udp:
            ::sendto(udpFd_, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&p.peer),
                     sizeof p.peer);
            break;
        case Pending::To::Pty:
            if (ptyMaster_ >= 0) {
                [[maybe_unused]] const ssize_t n = ::write(ptyMaster_, p.bytes.data(), p.bytes.size());
            }
            break;
        case Pending::To::Conn:
            if (const auto it = conns_.find(p.conn); it != conns_.end())
                ::send(it->second.fd, p.bytes.data(), p.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            break;
    }
}

void Server::OnUdp() {
    uint8_t buffer[512];
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const ssize_t n = ::recvfrom(udpFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &length);
        if (n < 0) return;
        // The converter puts the request on its line at the rate the library
        // named; only modules at that rate hear it.  Without one, all do.
        const wire::Datagram datagram = wire::splitRate(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
        if (auto answer = bus_.OnFrame(datagram.frame, datagram.rate)) {
            Pending p{Pending::To::Udp, peer, 0, std::move(answer->out.bytes)};
            Queue(std::move(p), int64_t{answer->out.delayMs} * 1000);
        }
    }
}

void Server::OnPty() {
    uint8_t buffer[512];
    const ssize_t n = ::read(ptyMaster_, buffer, sizeof buffer);
    if (n <= 0) return;
    const int32_t rate = LineRate();
    if (!bus_.AnyAt(rate)) {
        // At a rate no module runs at, the modules hear only noise.
        framer_.Clear();
        return;
    }
    framer_.Add(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    unsigned damaged = 0;
    const auto frames = wire::TakeRequests(framer_, damaged);
    if (damaged > 0) bus_.OnDamagedFrame(rate);
    for (const auto& frame : frames) {
        auto answer = bus_.OnFrame(frame, rate);
        if (!answer) continue;
        int64_t delay = int64_t{answer->out.delayMs} * 1000;
        if (options_.lineTiming) {
            // Ten bits per byte: the request coming in, then the reply going out.
            const int64_t bitsUs = 10 * static_cast<int64_t>(wire::RequestSize + wire::ReplySize) * 1'000'000;
            delay += (bitsUs + rate - 1) / rate;
        }
        Queue(Pending{Pending::To::Pty, {}, 0, std::move(answer->out.bytes)}, delay);
    }
}

void Server::OnCardListener(int listener) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) conns_.emplace(nextConn_++, Conn{fd, ConnKind::Card, {}});
    else RestListenersIfOutOfDescriptors();
}

void Server::OnControlListener() {
    const int fd = ::accept4(controlFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) conns_.emplace(nextConn_++, Conn{fd, ConnKind::Control, {}});
    else RestListenersIfOutOfDescriptors();
}

// A connection that cannot be taken for want of a descriptor stays waiting and
// keeps its listener readable: poll() would return at once, round after round.
void Server::RestListenersIfOutOfDescriptors() {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        listenAgainMs_ = clock_.SteadyMs() + ListenerRestMs;
}

void Server::CloseConn(uint64_t id) {
    const auto it = conns_.find(id);
    if (it == conns_.end()) return;
    ::close(it->second.fd);
    conns_.erase(it);
}

// Splits what came in into lines and gives the replies to all complete ones.
// A line too long gets one reply, however many reads it takes to pass.
std::string Server::ControlInput(LineInput& input, const char* bytes, size_t n) {
    std::string replies;
    std::string_view rest(bytes, n);
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        if (!input.skipping) {
            input.text.append(rest.substr(0, nl));
            if (input.text.size() > MaxControlLine) {
                input.text.clear();
                input.skipping = true;
                replies += "error line too long\n";
            }
        }
        if (nl == std::string_view::npos) break;
        if (!input.skipping) replies += bus_.OnControl(input.text) + "\n";
        input.text.clear();
        input.skipping = false;
        rest.remove_prefix(nl + 1);
    }
    return replies;
}

// A card's packet of no bytes reads as 0 just as the end of the connection
// does; only the end leaves the socket hung up.
bool Server::PeerClosed(int fd) const {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) != 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void Server::OnConn(uint64_t id) {
    const auto it = conns_.find(id);
    if (it == conns_.end()) return;
    Conn& conn = it->second;
    char buffer[4096];
    const ssize_t n = ::recv(conn.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n < 0 || (n == 0 && (conn.kind != ConnKind::Card || PeerClosed(conn.fd)))) {
        CloseConn(id);
        return;
    }
    if (conn.kind == ConnKind::Card) {
        if (auto answer = bus_.OnFrame(std::span<const uint8_t>(reinterpret_cast<uint8_t*>(buffer),
                                                                 static_cast<size_t>(n)))) {
            Queue(Pending{Pending::To::Conn, {}, id, std::move(answer->out.bytes)},
                  int64_t{answer->out.delayMs} * 1000);
        }
        return;
    }
    const std::string replies = ControlInput(conn.input, buffer, static_cast<size_t>(n));
    if (!replies.empty()) WriteAll(conn.fd, replies);
}

void Server::OnStdin() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        stdinOpen_ = false;
        return;
    }
    const std::string replies = ControlInput(stdinInput_, buffer, static_cast<size_t>(n));
    if (!replies.empty()) WriteAll(STDOUT_FILENO, replies);
}

}  // namespace emu
