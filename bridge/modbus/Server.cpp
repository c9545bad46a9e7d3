#include "Server.h"

#include "Log.h"
#include "Messages.h"
#include "SerialPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvbridge::modbus {

namespace {

using i18n::Fill;
using namespace std::chrono_literals;

constexpr int Backlog = 64;
constexpr auto RetryPort = 5s;
constexpr auto AcceptPause = 1s;   // after the process ran out of descriptors
constexpr uint32_t ByteTimeoutUs = 100000;  // within one frame on a connection

// What an event of the epoll set is about: the kind in the high byte, the
// listener's or port's index or the connection's id below.
enum Kind : uint64_t { WakeEvent = 1, ListenerEvent = 2, ConnectionEvent = 3, PortEvent = 4 };
uint64_t Tag(Kind kind, uint64_t id) { return kind << 56 | id; }
constexpr uint64_t IdBits = (uint64_t{1} << 56) - 1;

std::string PeerText(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
    return text;
}

// A listening socket on `at`, or throws naming it.  Set up here rather than
// by libmodbus's listen, which resolves with AI_ADDRCONFIG (no IPv4 on a host
// with only loopback) and loses bind's reason.
int ListenOn(const ModbusListen& at) {
    sockaddr_storage address{};
    socklen_t size = 0;
    if (at.host.find(':') == std::string::npos) {
        auto& four = reinterpret_cast<sockaddr_in&>(address);
        four.sin_family = AF_INET;
        four.sin_port = htons(at.port);
        ::inet_pton(AF_INET, at.host.c_str(), &four.sin_addr);
        size = sizeof four;
    } else {
        auto& six = reinterpret_cast<sockaddr_in6&>(address);
        six.sin6_family = AF_INET6;
        six.sin6_port = htons(at.port);
        ::inet_pton(AF_INET6, at.host.c_str(), &six.sin6_addr);
        size = sizeof six;
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd >= 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // [::] and 0.0.0.0 may both be listed.
        if (address.ss_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, Backlog) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        std::string why = std::strerror(error);
        if (error == EACCES && at.port < 1024)
            why += _(" (a port below 1024 needs the capability CAP_NET_BIND_SERVICE, which the service has)");
        throw std::runtime_error(Fill(_("Modbus: cannot listen on %s: %s"), at.Text(), why));
    }
    return fd;
}

}  // namespace

// What a connection and a serial port share: a write may be with the line.
struct Server::Waiter {
    uint64_t id = 0;
    bool waiting = false;
    std::array<uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> request{};
    int length = 0;
    size_t place = 0;
    std::string who;  // for the log
    int fd = -1;      // watched for requests while no write waits
    uint64_t tag = 0;
};

struct Server::Listener {
    int fd = -1;
    size_t index = 0, section = 0;
    std::string text;
    bool paused = false;  // the process ran out of descriptors
    Clock::time_point pausedUntil;
};

struct Server::Connection {
    Waiter waiter;
    int fd = -1;
    size_t section = 0;
    Clock::time_point last;
};

struct Server::Port {
    Waiter waiter;
    std::unique_ptr<SerialPort> serial;
    size_t section = 0;
    Clock::time_point retryAt;
    std::string failure;  // the last reason it could not be opened, logged once
};

Server::Server(std::vector<Section> sections, const Image& image, std::vector<size_t> moduleOf,
               std::vector<std::string> names, WritePoster post)
    : sections_(std::move(sections)),
      image_(image),
      moduleOf_(std::move(moduleOf)),
      names_(std::move(names)),
      post_(std::move(post)),
      mapping_(std::make_unique<modbus_mapping_t>()) {
    // The answers' values: libmodbus reads them from the snapshot the image fills.
    mapping_->nb_bits = static_cast<int>(snapshot_.coils.size());
    mapping_->nb_input_bits = static_cast<int>(snapshot_.discreteInputs.size());
    mapping_->nb_input_registers = static_cast<int>(snapshot_.inputRegisters.size());
    mapping_->nb_registers = static_cast<int>(snapshot_.holdingRegisters.size());
    mapping_->tab_bits = snapshot_.coils.data();
    mapping_->tab_input_bits = snapshot_.discreteInputs.data();
    mapping_->tab_input_registers = snapshot_.inputRegisters.data();
    mapping_->tab_registers = snapshot_.holdingRegisters.data();
}

Server::~Server() {
    Stop();
    for (auto& l : listeners_) ::close(l->fd);
    if (tcp_) ::modbus_free(tcp_);
    if (wake_ >= 0) ::close(wake_);
    if (epoll_ >= 0) ::close(epoll_);
}

void Server::Start() {
    // Never connected: it only frames and answers on the connections' sockets.
    tcp_ = ::modbus_new_tcp("127.0.0.1", DefaultModbusPort);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (!tcp_ || wake_ < 0 || epoll_ < 0) throw std::runtime_error(std::string("Modbus: ") + std::strerror(errno));
    Watch(EPOLL_CTL_ADD, wake_, Tag(WakeEvent, 0), true);
    ::modbus_set_byte_timeout(tcp_, 0, ByteTimeoutUs);
    for (size_t s = 0; s < sections_.size(); ++s) {
        for (const ModbusListen& at : sections_[s].config->listen) {
            auto l = std::make_unique<Listener>();
            l->fd = ListenOn(at);
            l->index = listeners_.size();
            Watch(EPOLL_CTL_ADD, l->fd, Tag(ListenerEvent, l->index), true);
            l->section = s;
            l->text = at.Text();
            listeners_.push_back(std::move(l));
        }
        for (const ModbusSerial& serial : sections_[s].config->rtu) {
            auto p = std::make_unique<Port>();
            p->serial = std::make_unique<SerialPort>(serial, sections_[s].units);
            p->section = s;
            p->waiter.id = nextId_++;
            p->waiter.who = serial.device;
            ports_.push_back(std::move(p));
        }
    }
    thread_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "kv-modbus");
        Run();
    });
}

void Server::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> Server::Listening() const {
    std::vector<std::string> bound;
    for (const auto& l : listeners_) {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        ::getsockname(l->fd, reinterpret_cast<sockaddr*>(&address), &size);
        const uint16_t port = ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                                                  : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
        bound.push_back(ModbusListen{PeerText(address), port}.Text());
    }
    return bound;
}

void Server::Wake() {
    if (wake_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void Server::Watch(int op, int fd, uint64_t tag, bool reading) {
    epoll_event event{};
    event.events = reading ? uint32_t{EPOLLIN} : 0u;  // hang-ups and errors are always reported
    event.data.u64 = tag;
    ::epoll_ctl(epoll_, op, fd, &event);
}

void Server::Reading(Waiter& waiter, bool reading) { Watch(EPOLL_CTL_MOD, waiter.fd, waiter.tag, reading); }

void Server::Run() {
    std::array<epoll_event, 64> events;
    auto sweep = Clock::now();  // idle connections, ports to open (again), paused listeners
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
        }
        auto now = Clock::now();
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(sweep - now, Clock::duration::zero()));
        const int ready = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("Modbus: epoll: ") + std::strerror(errno));
        for (int k = 0; k < ready; ++k) {
            const uint64_t id = events[static_cast<size_t>(k)].data.u64 & IdBits;
            switch (events[static_cast<size_t>(k)].data.u64 >> 56) {
                case WakeEvent: {
                    uint64_t count = 0;
                    [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
                    Deliver();
                    break;
                }
                case ListenerEvent: Accept(*listeners_[id]); break;
                case ConnectionEvent: {
                    const auto c = connections_.find(id);
                    if (c == connections_.end()) break;
                    if (events[static_cast<size_t>(k)].events & EPOLLIN) ServeConnection(*c->second);
                    else CloseConnection(id);  // hung up while its write is with the line
                    break;
                }
                case PortEvent: ServePort(*ports_[id]); break;
            }
        }
        now = Clock::now();
        if (now < sweep) continue;
        sweep = now + 1s;
        // The log's held-back counts go out within a second.
        log_.Flush(now);
        std::vector<uint64_t> idle;
        for (auto& [id, c] : connections_) {
            const auto limit = sections_[c->section].config->idle;
            if (limit.count() && !c->waiter.waiting && now - c->last >= limit) idle.push_back(id);
        }
        for (const uint64_t id : idle) CloseConnection(id);
        for (size_t i = 0; i < listeners_.size(); ++i) {
            Listener& l = *listeners_[i];
            if (l.paused && now >= l.pausedUntil) Watch(EPOLL_CTL_MOD, l.fd, Tag(ListenerEvent, i), true), l.paused = false;
        }
        for (size_t i = 0; i < ports_.size(); ++i) {
            Port& p = *ports_[i];
            if (p.serial->IsOpen() || now < p.retryAt) continue;
            const std::string why = p.serial->Open();
            const std::string port = p.serial->Config().Text();
            if (why.empty()) {
                Log(Fill(_("Modbus: RTU on %s"), port));
                p.waiter.fd = p.serial->Fd();
                p.waiter.tag = Tag(PortEvent, i);
                p.waiter.waiting = false;
                Watch(EPOLL_CTL_ADD, p.waiter.fd, p.waiter.tag, true);
            } else if (why != p.failure) {
                Log(Fill(_("Modbus: the serial port %s cannot be opened: %s; tried again every 5 s"), port, why));
            }
            p.failure = why;
            p.retryAt = now + RetryPort;
        }
    }
    // What the lines carried out before they stopped is answered still.
    Deliver();
    while (!connections_.empty()) CloseConnection(connections_.begin()->first);
    for (auto& p : ports_) p->serial->Close();
}

void Server::Accept(Listener& listener) {
    const ModbusConfig& section = *sections_[listener.section].config;
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                log_.Line(_("Modbus: connections waiting for a descriptor"), Fill(_("Modbus: a connection to %s waits: %s"), listener.text, std::strerror(errno)));
                listener.pausedUntil = Clock::now() + AcceptPause;
                listener.paused = true;
                Watch(EPOLL_CTL_MOD, listener.fd, Tag(ListenerEvent, listener.index), false);
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        const std::string who = PeerText(peer);
        std::array<uint8_t, 16> address{};
        const auto refuse = [&](const std::string& kind, const std::string& line) {
            ::close(fd);
            log_.Line(kind, line);
        };
        if (!PeerAddress(reinterpret_cast<sockaddr*>(&peer), address) || !Allowed(section.allow, address)) {
            refuse(_("Modbus: clients refused, not in the allow-list"), Fill(_("Modbus: %s refused on %s: not in the allow-list"), who, listener.text));
            continue;
        }
        const auto open = std::count_if(connections_.begin(), connections_.end(),
                                        [&](const auto& c) { return c.second->section == listener.section; });
        if (open >= section.maxConnections) {
            refuse(_("Modbus: clients refused over max connections"), Fill(_("Modbus: %s refused on %s: %s connections already (max connections)"),
                                                 who, listener.text, section.maxConnections));
            continue;
        }
        // libmodbus waits for the rest of a frame with select().
        if (fd >= FD_SETSIZE) {
            refuse(_("Modbus: clients refused for want of descriptors"), Fill(_("Modbus: %s refused on %s: the process holds too many descriptors"), who,
                                       listener.text));
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->section = listener.section;
        c->last = Clock::now();
        c->waiter.id = nextId_++;
        c->waiter.who = who;
        c->waiter.fd = fd;
        c->waiter.tag = Tag(ConnectionEvent, c->waiter.id);
        Watch(EPOLL_CTL_ADD, fd, c->waiter.tag, true);
        connections_.emplace(c->waiter.id, std::move(c));
    }
}

void Server::CloseConnection(uint64_t id) {
    const auto c = connections_.find(id);
    if (c == connections_.end()) return;
    ::close(c->second->fd);
    connections_.erase(c);
}

void Server::ServeConnection(Connection& c) {
    std::array<uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> frame{};
    ::modbus_set_socket(tcp_, c.fd);
    const int length = ::modbus_receive(tcp_, frame.data());
    if (length <= 0) {
        // The client left (ECONNRESET), or a frame did not come whole or right.
        if (errno != ECONNRESET)
            log_.Line(_("Modbus: connections closed for a malformed request"),
                      Fill(_("Modbus: %s sent a malformed request (%s); its connection is closed"), c.waiter.who,
                           ::modbus_strerror(errno)));
        return CloseConnection(c.waiter.id);
    }
    c.last = Clock::now();
    const Request request = Interpret(frame.data(), length, ::modbus_get_header_length(tcp_), true);
    const Answer answer = Decide(request, sections_[c.section].units, image_, c.last, snapshot_);
    if (!Act(answer, tcp_, frame.data(), length, c.waiter)) CloseConnection(c.waiter.id);
}

void Server::ServePort(Port& p) {
    std::array<uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> frame{};
    const int length = p.serial->Receive(frame.data());
    if (length < 0) {
        Log(Fill(_("Modbus: the serial port %s failed: %s; tried again every 5 s"), p.serial->Config().Text(),
                 std::strerror(errno)));
        p.failure.clear();
        p.retryAt = Clock::now() + RetryPort;
        return;
    }
    if (length == 0) return;
    const Request request = Interpret(frame.data(), length, 1, false);
    const Answer answer = Decide(request, sections_[p.section].units, image_, Clock::now(), snapshot_);
    // On a serial line a damaged request gets no answer; the next one may be whole.
    if (answer.kind == Answer::Close) return;
    Act(answer, p.serial->Context(), frame.data(), length, p.waiter);
}

WriteResult ResultOf(const CommandResult& result) {
    switch (result.kind) {
        case CommandResult::Done: return {};
        case CommandResult::Refused: return {DeviceFailure, result.why};
        case CommandResult::Silent:
        case CommandResult::NotSent: return {TargetFailed, result.why};
    }
    return {TargetFailed, result.why};
}

bool Server::Act(const Answer& a, modbus_t* ctx, const uint8_t* frame, int length, Waiter& waiter) {
    switch (a.kind) {
        case Answer::Ignore: return true;
        case Answer::Close:
            log_.Line(_("Modbus: connections closed for a malformed request"),
                      Fill(_("Modbus: %s sent a malformed request; its connection is closed"), waiter.who));
            return false;
        case Answer::Reply:
            if (::modbus_reply(ctx, frame, length, mapping_.get()) < 0) return false;
            break;
        case Answer::Refuse:
            if (!a.refusal.empty()) LogRefusal(waiter, a.place, a.exception, a.refusal);
            if (::modbus_reply_exception(ctx, frame, a.exception) < 0) return false;
            break;
        case Answer::Write: {
            const uint64_t id = waiter.id;
            if (!post_(moduleOf_[a.place], a.commands, [this, id](const CommandResult& r) { Complete(id, ResultOf(r)); })) {
                if (::modbus_reply_exception(ctx, frame, Busy) < 0) return false;
                break;
            }
            // Its next requests wait for this answer.
            waiter.waiting = true;
            Reading(waiter, false);
            waiter.place = a.place;
            std::copy_n(frame, length, waiter.request.begin());
            waiter.length = length;
            break;
        }
    }
    return !a.closeAfter;
}

void Server::LogRefusal(const Waiter& waiter, size_t place, Exception e, const std::string& why) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(e));
    log_.Line(Fill(_("Modbus: module %s: writes refused"), names_[place]),
              Fill(_("Modbus: module %s: a write from %s refused (%s): %s"), names_[place], waiter.who, code, why));
}

void Server::Complete(uint64_t waiter, const WriteResult& result) {
    {
        std::lock_guard lock(mutex_);
        done_.emplace_back(waiter, result);
    }
    Wake();
}

// Answers the writes the lines completed, each on the connection or port that
// asked, if it is still there.
void Server::Deliver() {
    std::deque<std::pair<uint64_t, WriteResult>> done;
    {
        std::lock_guard lock(mutex_);
        done.swap(done_);
    }
    for (const auto& [id, result] : done) {
        Waiter* waiter = nullptr;
        modbus_t* ctx = nullptr;
        const auto c = connections_.find(id);
        if (c != connections_.end()) {
            waiter = &c->second->waiter;
            ctx = tcp_;
            ::modbus_set_socket(tcp_, c->second->fd);
            c->second->last = Clock::now();
        }
        for (auto& p : ports_)
            if (p->waiter.id == id && p->serial->IsOpen()) waiter = &p->waiter, ctx = p->serial->Context();
        if (!waiter || !waiter->waiting) continue;
        waiter->waiting = false;
        Reading(*waiter, true);
        if (!result.why.empty()) LogRefusal(*waiter, waiter->place, result.exception, result.why);
        const int sent = result.exception == NoException
                             ? ::modbus_reply(ctx, waiter->request.data(), waiter->length, mapping_.get())
                             : ::modbus_reply_exception(ctx, waiter->request.data(), result.exception);
        if (sent < 0 && c != connections_.end()) CloseConnection(id);
    }
}

}  // namespace kvbridge::modbus
