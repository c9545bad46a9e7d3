// The emulator process over its serial line and its card sockets, and its
// start-up with a state file.
// Dekl.h first: termios.h defines macros named like its parameters.
#include "Dekl.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <thread>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include "Emulator.h"
#include "Frame.h"

namespace {

std::optional<wire::Reply> ReadReply(int fd, int waitMs) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < wire::ReplySize) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return std::nullopt;
        uint8_t buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    wire::Reply reply;
    if (wire::Decode(bytes, reply) != wire::DecodeError::None) return std::nullopt;
    return reply;
}

class SerialMaster {
public:
    SerialMaster(const std::string& path, speed_t speed) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0) << path;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~SerialMaster() { ::close(fd_); }
    std::optional<wire::Reply> Ask(uint8_t address, uint8_t function, uint8_t subcode, int waitMs = 2000,
                                   std::vector<uint8_t> noise = {}) {
        ::tcflush(fd_, TCIOFLUSH);
        const auto frame = wire::Encode(wire::Request{++transaction_, address, function, subcode, {}});
        noise.insert(noise.end(), frame.begin(), frame.end());
        EXPECT_EQ(::write(fd_, noise.data(), noise.size()), static_cast<ssize_t>(noise.size()));
        return ReadReply(fd_, waitMs);
    }

private:
    int fd_;
    uint16_t transaction_ = 100;
};

std::optional<wire::Reply> AskCard(const std::string& path, uint8_t function, uint8_t subcode) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    std::optional<wire::Reply> reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const auto frame = wire::Encode(wire::Request{55, 1, function, subcode, {}});
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        reply = ReadReply(fd, 2000);
    } else {
        ADD_FAILURE() << "cannot connect to " << path;
    }
    ::close(fd);
    return reply;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(EmulatorSerialLine, AnswersOnlyAtTheModulesRate) {
    kvtest::Emulator emulator;
    {
        SerialMaster master(emulator.ptyPath(), B9600);
        const auto reply = master.Ask(1, 0xC8, 2, 2000, {0x00, 0xA5, 0x13});
        ASSERT_TRUE(reply) << "noise before the frame is skipped";
        EXPECT_EQ(std::string(reply->data.begin(), reply->data.end()), "1.04");
    }
    {
        SerialMaster master(emulator.ptyPath(), B19200);
        EXPECT_FALSE(master.Ask(1, 0xC8, 2, 300)) << "a master at another rate";
    }
    EXPECT_EQ(emulator.command("set reg 0x3E 5"), "ok");
    EXPECT_EQ(emulator.command("power-fail"), "ok");
    EXPECT_EQ(emulator.value("get baud"), 19200u);
    SerialMaster master(emulator.ptyPath(), B19200);
    EXPECT_TRUE(master.Ask(1, 0xC8, 2));
}

// The emulator keeps the line open, so a master's exclusive mode would
// outlive the master and lock every later (non-root) user out.
TEST(EmulatorSerialLine, ExclusiveModeEndsWithItsMaster) {
    kvtest::Emulator emulator;
    int fd = ::open(emulator.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    int exclusive = 0;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_TRUE(exclusive) << "kept while its master holds the port";
    ::close(fd);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fd = ::open(emulator.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // root passes exclusive mode
        ASSERT_GE(fd, 0);
        ::ioctl(fd, TIOCGEXCL, &exclusive);
        ::close(fd);
    } while (exclusive && std::chrono::steady_clock::now() < deadline);
    EXPECT_FALSE(exclusive);
}

TEST(EmulatorSerialLine, LineTimingStillAnswers) {
    kvtest::EmulatorOptions options;
    options.lineTiming = true;
    kvtest::Emulator emulator(options);
    SerialMaster master(emulator.ptyPath(), B9600);
    EXPECT_TRUE(master.Ask(1, 0x64, 0));
    EXPECT_EQ(emulator.value("get requests"), 1u);
}

TEST(EmulatorCards, EveryCardSocketAnswers) {
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--isa-base", "2A0"};
    kvtest::Emulator emulator(options);
    for (const char* name : {"pci726-2a0.sock", "pci1726.sock", "usb1726.sock"}) {
        const auto reply = AskCard(emulator.cardDir() + "/" + name, 0xC8, 0);
        ASSERT_TRUE(reply) << name;
        EXPECT_EQ(reply->transaction, 55);
        EXPECT_EQ(std::string(reply->data.begin(), reply->data.end()), "KV-6") << name;
    }
    EXPECT_EQ(emulator.value("get requests"), 3u);
    emulator.stop();
    EXPECT_FALSE(Exists(emulator.cardDir() + "/usb1726.sock")) << "sockets removed on a clean stop";
}

// A packet of no bytes is a damaged frame, not the end of the connection.
TEST(EmulatorCards, AnEmptyPacketKeepsTheConnection) {
    kvtest::Emulator emulator;
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (emulator.cardDir() + "/usb1726.sock").c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::send(fd, "", 0, MSG_NOSIGNAL), 0);
    const auto frame = wire::Encode(wire::Request{77, 1, 0xC8, 0, {}});
    ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    const auto reply = ReadReply(fd, 2000);
    ::close(fd);
    ASSERT_TRUE(reply) << "the connection was dropped";
    EXPECT_EQ(reply->transaction, 77);
    EXPECT_NE(emulator.value("get status") & 0x02u, 0u) << "FN: a damaged frame was received";
}

// CPU time (user and system, in clock ticks) a process has used so far.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) user = std::stol(field);
        if (i == 15) system = std::stol(field);
    }
    return user + system;
}

TEST(EmulatorCards, OutOfDescriptorsItWaitsInsteadOfSpinning) {
    // The emulator starts with room for a few dozen descriptors only.
    rlimit ours{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &ours), 0);
    rlimit few = ours;
    few.rlim_cur = 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    std::optional<kvtest::Emulator> emulator;
    try {
        emulator.emplace();
    } catch (...) {
        ::setrlimit(RLIMIT_NOFILE, &ours);
        throw;
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &ours), 0);

    // More card connections than it has descriptors left: the rest wait.
    const std::string path = emulator->cardDir() + "/pci1726.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    std::vector<int> connections;
    for (int i = 0; i < 40; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) connections.push_back(fd);
        else ::close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const long before = CpuTicks(emulator->pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long used = CpuTicks(emulator->pid()) - before;
    EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) / 4) << "the idle emulator spun on a failing accept()";

    for (const int fd : connections) ::close(fd);
    EXPECT_TRUE(AskCard(path, 0xC8, 0)) << "it takes connections again once descriptors are free";
}

TEST(EmulatorStateFile, DamagedFileGivesDefaultsAndIsReplaced) {
    char folder[] = "/tmp/kvemu-state-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/state";
    std::ofstream(path) << "kv618-state 1\nregisters=zz\n";
    {
        kvtest::EmulatorOptions options;
        options.stateFile = path;
        options.address = 3;
        kvtest::Emulator emulator(options);
        EXPECT_EQ(emulator.value("get reg 0x3F"), 3u);
        EXPECT_EQ(emulator.value("get status"), 0x10u) << "a first power-up, no failure recorded";
        EXPECT_EQ(emulator.command("set reg 0x21 0x0F"), "ok");
        emulator.restart();
        EXPECT_EQ(emulator.value("get reg 0x21"), 0x0Fu) << "the replaced file keeps the state";
        EXPECT_EQ(emulator.value("get status") & 0x14u, 0x14u);
    }
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str().rfind("kv618-state 1\n", 0), 0u);
    std::filesystem::remove_all(folder);
}

TEST(EmulatorOptions, RefusesANonLoopbackAddress) {
    const std::string program = SlozkaProgramu() + "/kv618emu";
    EXPECT_NE(std::system((program + " --udp 0.0.0.0:0 --no-cards </dev/null >/dev/null 2>&1").c_str()), 0);
    EXPECT_NE(std::system((program + " --bogus </dev/null >/dev/null 2>&1").c_str()), 0);
}

}  // namespace
