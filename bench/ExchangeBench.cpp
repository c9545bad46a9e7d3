// Figures 1 and 2: one exchange through the binding, the library and the
// emulator, against a bare UDP ping-pong and against the serial line's own
// time.
#include "Benchmarks.h"
#include "Child.h"
#include "Commands.h"
#include "ProgramLink.h"
#include "Emulator.h"
#include "Loopback.h"
#include "Frame.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cmath>
#include <functional>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void setReceiveTimeout(int fd, int seconds) {
    timeval tv{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// The client half of the reference: a connected socket that sends a request
// frame and waits for the 12 bytes of the reply, nothing else.
class BarePing {
public:
    explicit BarePing(uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in peer = kvtest::Loopback(port);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0)
            throw std::runtime_error("bare UDP socket failed");
        setReceiveTimeout(fd_, 1);
        wire::Request r;
        r.address = 1;
        r.function = wire::function::Read;
        r.subcode = wire::subcode::Inputs;
        request_ = wire::Encode(r);
    }
    ~BarePing() {
        const uint8_t stop = 0;
        send(fd_, &stop, 1, 0);
        close(fd_);
    }
    BarePing(const BarePing&) = delete;
    BarePing& operator=(const BarePing&) = delete;

    bool once() {
        uint8_t reply[64];
        if (send(fd_, request_.data(), request_.size(), 0) != static_cast<ssize_t>(request_.size())) return false;
        return recv(fd_, reply, sizeof reply, 0) == static_cast<ssize_t>(wire::ReplySize);
    }

    // The same with the system calls that the library makes per exchange:
    // drain what is queued, send, wait in poll(), then receive.
    bool onceWithLibraryCalls() {
        uint8_t reply[64];
        recv(fd_, reply, sizeof reply, MSG_DONTWAIT | MSG_TRUNC);
        if (send(fd_, request_.data(), request_.size(), 0) != static_cast<ssize_t>(request_.size())) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1) return false;
        return recv(fd_, reply, sizeof reply, MSG_DONTWAIT) == static_cast<ssize_t>(wire::ReplySize);
    }

private:
    int fd_;
    std::array<uint8_t, wire::RequestSize> request_{};
};

template <class F>
double timePerCall(int count, F&& call, int& failures) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        if (!call()) ++failures;
    return microseconds(Clock::now() - start) / count;
}

uint16_t pongPort(Child& pong) {
    const auto line = pong.readLine(std::chrono::seconds(5));
    unsigned port = 0;
    if (!line || std::sscanf(line->c_str(), "PORT %u", &port) != 1) throw std::runtime_error("pong process did not start");
    return static_cast<uint16_t>(port);
}

}  // namespace

int runPong() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self = kvtest::Loopback(0);
    socklen_t length = sizeof self;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) != 0)
        return 1;
    std::printf("PORT %u\n", ntohs(self.sin_port));
    std::fflush(stdout);
    // Gives up by itself if the measuring side goes away.
    setReceiveTimeout(fd, 60);
    // The reply echoes the request's transaction and address, so that the
    // library takes it too; it is made anew only when those change.
    uint8_t last[3] = {0, 0, 0};
    wire::Reply r;
    auto reply = wire::Encode(r);
    bool made = false;
    for (;;) {
        uint8_t buffer[64];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || n == 1) break;
        if (n != static_cast<ssize_t>(wire::RequestSize)) continue;
        if (!made || std::memcmp(last, buffer + 1, 3) != 0) {
            std::memcpy(last, buffer + 1, 3);
            r.transaction = static_cast<uint16_t>(buffer[1] | (buffer[2] << 8));
            r.address = buffer[3];
            reply = wire::Encode(r);
            made = true;
        }
        sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
    close(fd);
    return 0;
}

namespace {

// Keeps this process, and every process it starts meanwhile, on one core.
// Across cores each exchange waits for the other core to wake up, which on
// this virtual machine takes either a few or some fifty microseconds by
// where the scheduler put the processes; on one core it is the same two
// context switches for every path, and the figure compares the software.
class OneCore {
public:
    OneCore() {
        sched_getaffinity(0, sizeof saved_, &saved_);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu)
            if (CPU_ISSET(cpu, &saved_)) {
                CPU_SET(cpu, &one);
                break;
            }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneCore() { sched_setaffinity(0, sizeof saved_, &saved_); }
    OneCore(const OneCore&) = delete;
    OneCore& operator=(const OneCore&) = delete;

private:
    cpu_set_t saved_{};
};

}  // namespace

std::vector<Row> exchangeBench(const Settings& s) {
    OneCore pinned;
    kvtest::Emulator emu;
    Child pong({selfPath(), "pong"});
    const uint16_t pongAt = pongPort(pong);
    Connection toEmulator, toPong;
    if (const int32_t code = toEmulator.openUdp(emu.udpPort()); code != 0)
        throw std::runtime_error("QKV1726.DLL did not open: " + TextKodu(RozhraniKV1726, code));
    if (const int32_t code = toPong.openUdp(pongAt); code != 0)
        throw std::runtime_error("QKV1726.DLL did not open: " + TextKodu(RozhraniKV1726, code));
    // A link opened while KV618_TRACE names /dev/null traces every exchange.
    Connection traced;
    ::setenv("KV618_TRACE", "/dev/null", 1);
    const int32_t tracedCode = traced.openUdp(emu.udpPort());
    ::unsetenv("KV618_TRACE");
    if (tracedCode != 0) throw std::runtime_error("QKV1726.DLL did not open: " + TextKodu(RozhraniKV1726, tracedCode));
    BarePing bareToPong(pongAt);
    BarePing bareToEmulator(emu.udpPort());

    // The figure pairs the whole path with the bare ping-pong; the two crossed
    // pairs tell the library's share from the emulator's.
    struct Path {
        std::function<bool()> once;
        int failures = 0;
        std::vector<double> perRound{};
    };
    std::array<Path, 6> paths{{
        {[&] { return toEmulator.readInputs() == 0; }},
        {[&] { return bareToPong.once(); }},
        {[&] { return toPong.readInputs() == 0; }},
        {[&] { return bareToEmulator.once(); }},
        {[&] { return bareToPong.onceWithLibraryCalls(); }},
        {[&] { return traced.readInputs() == 0; }},
    }};
    enum { Whole, Bare, LibraryOnly, EmulatorOnly, LibraryCalls, Traced };

    const int perRound = s.quick ? 100 : 500;
    const int rounds = s.quick ? 8 : 40;
    for (auto& p : paths) timePerCall(200, p.once, p.failures);
    for (auto& p : paths) p.failures = 0;
    for (int round = 0; round < rounds; ++round)
        // Rotating which path goes first evens out drifts of the machine.
        for (size_t k = 0; k < paths.size(); ++k) {
            Path& p = paths[(k + static_cast<size_t>(round)) % paths.size()];
            p.perRound.push_back(timePerCall(perRound, p.once, p.failures));
        }

    auto ratioRow = [&](int a, int b, std::string figure, std::string goal, bool checked) {
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) ratios.push_back(paths[a].perRound[r] / paths[b].perRound[r]);
        Row row = medianRow(std::move(figure), withUnit(percentile(paths[a].perRound, 0.5), "µs"),
                            withUnit(percentile(paths[b].perRound, 0.5), "µs"), ratios);
        row.goal = std::move(goal);
        row.met = !checked || row.ratio.median <= 1.3;
        row.note = std::to_string(rounds) + " rounds x " + std::to_string(perRound) + " exchanges, one core";
        const int failures = paths[a].failures + paths[b].failures;
        if (failures > 0) row.note += "; failed exchanges: " + std::to_string(failures);
        return row;
    };
    return {
        ratioRow(Whole, Bare, "1. Exchange over UDP (PrenosDat, QKV1726.DLL, kv618emu) vs bare UDP ping-pong",
                 "<= 1.3", true),
        ratioRow(LibraryOnly, Bare, "1b. (diagnosis) PrenosDat + QKV1726.DLL to the bare responder vs bare", "-",
                 false),
        ratioRow(EmulatorOnly, Bare, "1c. (diagnosis) bare client to kv618emu vs bare", "-", false),
        ratioRow(LibraryCalls, Bare,
                 "1d. (diagnosis) bare client draining and polling before each reply (the earlier library) vs bare",
                 "-", false),
        ratioRow(Traced, Whole, "1e. (diagnosis) the whole path traced (KV618_TRACE=/dev/null) vs untraced", "-",
                 false),
    };
}

namespace {

// One serial rate: every exchange against 10 bits per byte of the request
// and the reply plus the emulator's reply delay.
std::vector<Row> serialAt(const Settings& s, int32_t rate) {
    constexpr double ReplyDelayMs = 0;
    kvtest::EmulatorOptions options;
    options.lineTiming = true;
    kvtest::Emulator emu(options);
    const uint8_t index = IndexRychlosti(rate);
    if (index != IndexRychlosti(9600)) {
        emu.command("set reg 0x3E " + std::to_string(index));
        emu.command("power-fail");
    }
    Connection link;
    if (const int32_t code = link.openSerial(emu.ptyPath(), rate); code != 0)
        throw std::runtime_error("QCOM726.DLL did not open: " + TextKodu(RozhraniCOM, code));

    const double lineMs = (wire::RequestSize + wire::ReplySize) * 10 * 1000.0 / rate + ReplyDelayMs;
    const int count = s.quick ? (rate < 100000 ? 20 : 100) : (rate < 100000 ? 150 : 600);
    int failures = 0;
    for (int i = 0; i < 3; ++i) link.readInputs();
    std::vector<double> measured, ratios;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (link.readInputs() != 0) ++failures;
        const double ms = microseconds(Clock::now() - start) / 1000.0;
        measured.push_back(ms);
        ratios.push_back(ms / lineMs);
    }

    Row row = medianRow("2. Serial exchange at " + std::to_string(rate) + " Bd (QCOM726.DLL, pty, line timing) vs line time",
                        withUnit(percentile(measured, 0.5), "ms", 2),
                        withUnit(lineMs, "ms", 2), ratios);
    within(row, 0.9, 1.1);
    row.note = std::to_string(count) + " exchanges";
    if (failures > 0) row.note += "; failed: " + std::to_string(failures);

    return {row};
}

}  // namespace

std::vector<Row> serialBench(const Settings& s) {
    auto rows = serialAt(s, 9600);
    for (auto& r : serialAt(s, 115200)) rows.push_back(std::move(r));
    return rows;
}

}  // namespace bench
