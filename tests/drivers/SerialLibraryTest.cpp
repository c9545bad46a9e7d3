// QCOM726.DLL through the program's binding, on a pseudo-terminal whose far
// end the test scripts: line rate, noise on the line, locking, bad devices.
#include "DriverTestSupport.h"
#include "FakePeer.h"
#include "qxxx726_abi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace {

using drvtest::exchange;
using fake::Answer;
using fake::Bytes;

std::vector<Answer> only(Bytes bytes) { return {Answer{std::move(bytes)}}; }

class Serial : public ::testing::Test {
protected:
    static constexpr int32_t Port = 7;
    void TearDown() override {
        if (handle_) UkonciRozhrani(RozhraniCOM, &handle_);
        ::unsetenv("QCOM726_COM7");
    }
    int32_t init(const std::string& device) {
        ::setenv("QCOM726_COM7", device.c_str(), 1);
        TInitParametry block{};
        block[0] = Port;
        return InitRozhrani(RozhraniCOM, &handle_, block);
    }
    int32_t handle_ = 0;
};

TEST_F(Serial, OpensAt9600ThenTakesTheRateOfSetConfig) {
    fake::PtyPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0x02, {4, 3, 2, 1})); });
    ASSERT_EQ(init(peer.path()), 0);
    EXPECT_EQ(peer.lineRate(), 9600);
    ASSERT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 115200, 5, 2), 0);
    EXPECT_EQ(peer.lineRate(), 115200);
    const auto got = exchange(RozhraniCOM, handle_, 3, 0x66, 0, {0, 0x3E, 0x3E, 0, 0});
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.d, (std::array<uint8_t, 5>{0x02, 4, 3, 2, 1}));
    ASSERT_EQ(peer.requestCount(), 1);
    EXPECT_EQ(peer.requests()[0].data, (std::array<uint8_t, 5>{0, 0x3E, 0x3E, 0, 0}));
    EXPECT_EQ(KonfigRozhrani(RozhraniCOM, handle_, 14400, 5, 2), 17) << "a rate the line cannot take";
    EXPECT_EQ(peer.lineRate(), 115200);
}

TEST_F(Serial, NoiseOnTheLineIsSkippedAndNeverTakenForTheReply) {
    fake::PtyPeer peer([](const wire::Request& r) {
        const Bytes good = fake::replyTo(r, 0x07, {0x10, 0x20, 0x30, 0x40});
        Bytes noise = {0x00, 0x5A, 0x5A, 0xFF, 0x13};
        Bytes stream = noise;
        for (const Bytes& part : {fake::withTransaction(good, r.transaction - 1), fake::withBadCrc(good),
                                  fake::withAddress(good, r.address + 1), Bytes{0x5A, 0x01}, good})
            stream.insert(stream.end(), part.begin(), part.end());
        // Bytes arrive in dribs and drabs, as on a real line.
        std::vector<Answer> answers;
        for (size_t i = 0; i < stream.size(); i += 5)
            answers.push_back({Bytes(stream.begin() + i, stream.begin() + std::min(stream.size(), i + 5)), false, 2});
        return answers;
    });
    ASSERT_EQ(init(peer.path()), 0);
    for (int i = 0; i < 3; ++i) {
        // Noise between exchanges too: flushed before the next request.
        peer.inject(Bytes{0x5A, 0x00, 0x00, 0x5A, 0x99});
        const auto got = exchange(RozhraniCOM, handle_, 1, 0, 0x40);
        EXPECT_EQ(got.error, 0);
        EXPECT_EQ(got.d, (std::array<uint8_t, 5>{0x07, 0x10, 0x20, 0x30, 0x40}));
    }
}

TEST_F(Serial, GarbageAloneOrACutFrameIsADamagedReply) {
    fake::PtyPeer peer([](const wire::Request& r) {
        if (r.subcode == 1) return only(Bytes{0x01, 0x02, 0x03, 0xFE});
        if (r.subcode == 2) {
            const Bytes whole = fake::replyTo(r, 0, {});
            return only(Bytes(whole.begin(), whole.begin() + 8));
        }
        if (r.subcode == 3) return only(fake::withBadCrc(fake::replyTo(r, 0, {})));
        return std::vector<Answer>{};
    });
    ASSERT_EQ(init(peer.path()), 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0x64, 1).error, 3);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0x64, 2).error, 3);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0x64, 3).error, 2);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0x64, 4).error, 1);
    EXPECT_EQ(TextKodu(RozhraniCOM, 3),
              "Poškozená odpověď modulu (chybný rámec nebo délka) - zkontrolujte vedení a rychlost");
}

TEST_F(Serial, APortHeldByAnotherProgramIsBusy) {
    fake::PtyPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); });
    const int other = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(init(peer.path()), 12);
    EXPECT_EQ(handle_, 0);
    EXPECT_EQ(TextKodu(RozhraniCOM, 12), "Sériový port používá jiný program - ukončete ho nebo zvolte jiný port");
    ::close(other);
    handle_ = 0;
    EXPECT_EQ(init(peer.path()), 0) << "free again once the other program let go";
}

TEST_F(Serial, TheLibraryHoldsItsPortAgainstASecondOpen) {
    fake::PtyPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); });
    ::setenv("QCOM726_COM7", peer.path().c_str(), 1);
    drvtest::Library library("QCOM726.DLL");
    const auto init = library.entry<Qxxx726_InitPort>("QCOM726_Init");
    const auto done = library.entry<Qxxx726_Done>("QCOM726_Done");
    int32_t first = 0, second = 0;
    ASSERT_EQ(init(&first, Port), 0);
    EXPECT_EQ(init(&second, Port), 12);
    const int other = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "other programs see the lock";
    ::close(other);
    EXPECT_EQ(done(&first), 0);
    EXPECT_EQ(init(&second, Port), 0);
    EXPECT_EQ(done(&second), 0);
}

TEST_F(Serial, MissingWrongAndOutOfRangePortsGetTheirOwnCodes) {
    fake::TempFolder config;
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", config.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(init("/dev/no-such-port"), 11);
    // The port, the device tried and where another one is mapped, as the operator types it.
    EXPECT_EQ(TextKodu(RozhraniCOM, 11),
              "Port COM7 (/dev/no-such-port) neexistuje - zapište COM7=zařízení do ~/.config/r_iv618/QCOM726.ini");
    EXPECT_EQ(init("/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0"), 11);
    const std::string cut = TextKodu(RozhraniCOM, 11);
    EXPECT_EQ(cut.rfind("Port COM7 (...", 0), 0u) << cut;
    EXPECT_NE(cut.find("D-if00-port0) neexistuje - zapište COM7=zařízení do ~/.config/r_iv618/QCOM726.ini"),
              std::string::npos)
        << "a long device name loses its start, never the advice: " << cut;
    ::setenv("HOME", home.c_str(), 1);
    fake::TempFolder folder;
    const std::string plainFile = folder.path() + "/not-a-tty";
    std::ofstream(plainFile) << "x";
    EXPECT_EQ(init(plainFile), 14);
    EXPECT_EQ(init(folder.path()), 14) << "a folder is no device at all";
    TInitParametry block{};
    for (intptr_t port : {0, -1, 256, 65535}) {
        block[0] = port;
        EXPECT_EQ(InitRozhrani(RozhraniCOM, &handle_, block), 17) << port;
    }
    EXPECT_EQ(TextKodu(RozhraniCOM, 13),
              "Přístup k portu odepřen - přidejte uživatele do skupiny dialout a přihlaste se znovu");
}

TEST_F(Serial, ALineThatHangsUpGivesAnErrorAtOnceAndRecoversWhenItIsBack) {
    auto peer = std::make_unique<fake::PtyPeer>(
        [](const wire::Request& r) { return only(fake::replyTo(r, 0, {1, 2, 3, 4})); });
    const std::string link = std::string(::getenv("TMPDIR") ? ::getenv("TMPDIR") : "/tmp") + "/kvdrv-pty-" +
                             std::to_string(::getpid());
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(peer->path().c_str(), link.c_str()), 0);
    ASSERT_EQ(init(link), 0);
    EXPECT_EQ(exchange(RozhraniCOM, handle_, 1, 0, 0x40).error, 0);
    peer.reset();  // the far end is gone
    const auto lost = exchange(RozhraniCOM, handle_, 1, 0, 0x40);
    EXPECT_TRUE(drvtest::failedWith(lost, 18));
    // The same name comes back pointing at a new line.
    fake::PtyPeer again([](const wire::Request& r) { return only(fake::replyTo(r, 0, {5, 6, 7, 8})); });
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(again.path().c_str(), link.c_str()), 0);
    KonfigRozhrani(RozhraniCOM, handle_, 19200, 7, 2);
    const auto back = exchange(RozhraniCOM, handle_, 1, 0, 0x40);
    EXPECT_EQ(back.error, 0);
    EXPECT_EQ(back.d, (std::array<uint8_t, 5>{0, 5, 6, 7, 8}));
    EXPECT_EQ(again.lineRate(), 19200) << "the rate set while the line was away is applied";
    ::unlink(link.c_str());
}

// A copy of the library in a folder of its own, beside which its settings
// file goes, and COM3 opened through it.
class SerialSettingsFile : public ::testing::Test {
protected:
    SerialSettingsFile() {
        std::filesystem::copy_file(SlozkaProgramu() + "/QCOM726.DLL", folder.path() + "/QCOM726.DLL");
        ::unsetenv("QCOM726_COM3");
        NastavSlozkuKnihoven(folder.path());
    }
    ~SerialSettingsFile() override { NastavSlozkuKnihoven(""); }
    // What the module at address 1 answers through COM3 when asked for its
    // inputs, the link opened and closed around it.
    drvtest::Outcome ReadThroughCom3() {
        int32_t handle = 0;
        TInitParametry block{};
        block[0] = 3;
        EXPECT_EQ(InitRozhrani(RozhraniCOM, &handle, block), 0);
        const drvtest::Outcome got = exchange(RozhraniCOM, handle, 1, 0, 0x40);
        EXPECT_EQ(UkonciRozhrani(RozhraniCOM, &handle), 0);
        return got;
    }
    fake::TempFolder folder;
};

// The user maps an adapter in their own settings folder; the line there wins
// over one beside the library, which only the administrator may change.
TEST_F(SerialSettingsFile, ALineInTheUsersQCOM726IniMapsThePortFirst) {
    fake::PtyPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {4, 4, 4, 4})); });
    fake::TempFolder config;
    std::ofstream(folder.path() + "/QCOM726.ini") << "COM3=/dev/no-such-port\r\n";
    std::filesystem::create_directories(config.path() + "/r_iv618");
    std::ofstream(config.path() + "/r_iv618/QCOM726.ini") << "[Porty]\nCOM3=" << peer.path() << "\n";
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    EXPECT_EQ(ReadThroughCom3().d[1], 4);
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SerialSettingsFile, ALineInQCOM726IniBesideTheLibraryMapsThePort) {
    fake::PtyPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {3, 3, 3, 3})); });
    std::ofstream(folder.path() + "/QCOM726.ini") << "[Porty]\r\nCOM3=" << peer.path() << "\r\n";
    const auto got = ReadThroughCom3();
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.d[1], 3);
    EXPECT_EQ(peer.requestCount(), 1);
}

}  // namespace
