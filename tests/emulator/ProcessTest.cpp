// The emulator as a process, reached over UDP on loopback through the fixture.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Emulator.h"
#include "Loopback.h"
#include "Frame.h"
#include "Options.h"

namespace {

class UdpMaster {
public:
    explicit UdpMaster(uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), peer_(kvtest::Loopback(port)) {}
    ~UdpMaster() { ::close(fd_); }

    // Sends a request and waits up to `waitMs` for a reply frame.
    std::optional<wire::Reply> Ask(uint8_t address, uint8_t function, uint8_t subcode,
                                   std::array<uint8_t, 5> data = {}, int waitMs = 2000) {
        wire::Request request{++transaction_, address, function, subcode, data};
        const auto bytes = wire::Encode(request);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return std::nullopt;
        uint8_t buffer[64];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        wire::Reply reply;
        if (n < 0 || wire::Decode(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), reply) !=
                         wire::DecodeError::None)
            return std::nullopt;
        EXPECT_EQ(reply.transaction, transaction_);
        return reply;
    }

private:
    int fd_;
    sockaddr_in peer_{};
    uint16_t transaction_ = 0x1200;
};

std::string Text(const wire::Reply& reply) { return std::string(reply.data.begin(), reply.data.end()); }

TEST(EmulatorProcess, IdentifiesItselfOverUdp) {
    kvtest::Emulator emulator;
    ASSERT_NE(emulator.udpPort(), 0);
    UdpMaster master(emulator.udpPort());
    std::string ident;
    for (uint8_t sub = 0; sub < 3; ++sub) {
        const auto reply = master.Ask(1, 0xC8, sub);
        ASSERT_TRUE(reply) << "sub-code " << int(sub);
        EXPECT_EQ(reply->outcome, wire::Outcome::Done);
        EXPECT_EQ(reply->address, 1);
        ident += Text(*reply);
    }
    EXPECT_EQ(ident, "KV-618  1.04");
    EXPECT_EQ(emulator.value("get requests"), 3u);
    EXPECT_EQ(emulator.command("get last"), "200 2 0 0 0 0 0");
}

TEST(EmulatorProcess, ModuleAtAnotherAddressStaysSilent) {
    kvtest::EmulatorOptions options;
    options.address = 7;
    kvtest::Emulator emulator(options);
    UdpMaster master(emulator.udpPort());
    EXPECT_FALSE(master.Ask(1, 0xC8, 0, {}, 300));
    EXPECT_EQ(emulator.value("get requests"), 0u);
    EXPECT_TRUE(master.Ask(7, 0xC8, 0));
}

TEST(EmulatorProcess, RestartRecordsPowerFailureAndTakesNewAddress) {
    kvtest::Emulator emulator;
    UdpMaster master(emulator.udpPort());
    // Write address 9: still read back at the old address.
    ASSERT_TRUE(master.Ask(1, 0x67, 0, {0, 0x3F, 0x3F, 9, 9}));
    const auto readBack = master.Ask(1, 0x66, 0, {0, 0x3F, 0x3F, 9, 9});
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->data[2], 9);
    EXPECT_EQ(emulator.command("set status 0"), "ok");
    const uint16_t port = emulator.udpPort();
    const std::string before = emulator.command("get clock");

    emulator.restart();
    EXPECT_EQ(emulator.udpPort(), port);
    EXPECT_FALSE(master.Ask(1, 0xC8, 0, {}, 300));
    const auto status = master.Ask(9, 0x64, 0);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->data[0] & 0x04) << "PRF";
    EXPECT_TRUE(status->data[0] & 0x10) << "PWR";
    // "start=YYYY-MM-DD HH:MM:SS end=YYYY-MM-DD HH:MM:SS": the failure began
    // after the module was last seen alive and ended at the new power-up.
    const std::string stamps = emulator.command("get stamps");
    ASSERT_EQ(stamps.size(), 49u) << stamps;
    const std::string start = stamps.substr(6, 19), end = stamps.substr(30, 19);
    EXPECT_GE(start, before);
    EXPECT_GE(end, start);
    EXPECT_LE(end, emulator.command("get clock"));
    const auto startTime = master.Ask(9, 0x64, 3);
    ASSERT_TRUE(startTime);
    EXPECT_EQ(startTime->data[0], std::stoi(start.substr(17, 2))) << "seconds of the start stamp";
    EXPECT_EQ(startTime->data[2], std::stoi(start.substr(11, 2))) << "hours of the start stamp";
}

TEST(EmulatorProcess, StopLeavesNothingRunning) {
    kvtest::Emulator emulator;
    EXPECT_TRUE(emulator.running());
    EXPECT_EQ(emulator.command("ping"), "ok");
    emulator.stop();
    EXPECT_FALSE(emulator.running());
    EXPECT_EQ(emulator.command("ping").rfind("error", 0), 0u);
}

}  // namespace

namespace {

TEST(EmulatorProcess, CommandLineControlsActOnceTheModuleIsUp) {
    kvtest::EmulatorOptions options;
    options.extraArgs = {"--do", "set status 0x40", "--do", "set reg 0x21 0", "--do", "set inputs 0x81"};
    kvtest::Emulator emulator(options);
    EXPECT_EQ(emulator.value("get status"), 0x40u) << "after the power-up's own status bits";
    UdpMaster master(emulator.udpPort());
    const auto reply = master.Ask(1, 0, 0x40);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->data[0], 0x81);
}

}  // namespace

namespace {

// Everything the control socket says within `waitMs` after `text` was sent.
std::string ControlSession(const std::string& path, const std::string& text, int waitMs = 1000) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    std::string replies;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        char buffer[256];
        for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, waitMs) > 0;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            replies.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return replies;
}

TEST(EmulatorControl, ALineTooLongGetsOneReply) {
    kvtest::Emulator emulator;
    const std::string replies =
        ControlSession(emulator.tempDir() + "/control.sock", std::string(100 * 1024, 'x') + "\nping\n");
    EXPECT_EQ(replies, "error line too long\nok\n");
}

TEST(EmulatorOptions, ACommandLineControlIsCheckedBeforeAnythingStarts) {
    const auto good = emu::ParseOptions({"--do", "pulses 0 10", "--do", "fault drop 20"});
    ASSERT_TRUE(std::holds_alternative<emu::Options>(good));
    EXPECT_EQ(std::get<emu::Options>(good).commands.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<emu::OptionsError>(emu::ParseOptions({"--do", "make coffee"})));
    EXPECT_TRUE(std::holds_alternative<emu::OptionsError>(emu::ParseOptions({"--do"})));
}

std::string ErrorOf(const std::vector<std::string>& args) {
    const auto parsed = emu::ParseOptions(args);
    return std::holds_alternative<emu::OptionsError>(parsed) ? std::get<emu::OptionsError>(parsed).why : "";
}

TEST(EmulatorOptions, TwoModulesAtOneAddressAreRefused) {
    EXPECT_EQ(ErrorOf({"--module", "3", "--module", "4:19200", "--module", "3:2400"}),
              "modules 1 and 3 on the line both have address 3");
}

// A device or a FIFO would be read without end or waited on for ever.
TEST(EmulatorOptions, ABusFileIsASmallRegularFile) {
    EXPECT_NE(ErrorOf({"--bus", "/dev/zero"}).find("not a regular file"), std::string::npos);
    const std::string folder = ::testing::TempDir() + "/bus-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    EXPECT_NE(ErrorOf({"--bus", folder + "/fifo"}).find("not a regular file"), std::string::npos);
    std::ofstream(folder + "/big") << std::string(100 * 1024, '#');
    EXPECT_NE(ErrorOf({"--bus", folder + "/big"}).find("larger than"), std::string::npos);
    std::ofstream(folder + "/good") << "# the line\n1\n2:19200\n";
    EXPECT_EQ(ErrorOf({"--bus", folder + "/good"}), "");
    std::filesystem::remove_all(folder);
}

}  // namespace
