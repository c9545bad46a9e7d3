// QPCI726.DLL, QPCI1726.DLL and QUSB1726.DLL through the program's binding,
// against scripted card sockets in a folder of the test's own.
#include "CardSocket.h"
#include "DriverTestSupport.h"
#include "FakePeer.h"
#include "qxxx726_abi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using drvtest::exchange;
using fake::Answer;
using fake::Bytes;

std::vector<Answer> only(Bytes bytes) { return {Answer{std::move(bytes)}}; }

// A card socket whose far end the test writes by hand: it listens with the
// given backlog and runs `serve` on a thread of its own until the end.
class HandMadeCard {
public:
    HandMadeCard(const std::string& path, int backlog, std::function<void(int, const std::atomic<bool>&)> serve)
        : path_(path) {
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, backlog) != 0)
            throw std::runtime_error("card: no socket");
        thread_ = std::thread([this, serve] { serve(listener_, stop_); });
    }
    ~HandMadeCard() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
        ::unlink(path_.c_str());
    }

private:
    std::string path_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int acceptWithin(int listener, int ms) {
    pollfd p{listener, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0 ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

struct CardKind {
    uint8_t type;
    std::string socket;
    intptr_t base;
};

void PrintTo(const CardKind& kind, std::ostream* out) { *out << kind.socket; }

class Cards : public ::testing::TestWithParam<CardKind> {
protected:
    void SetUp() override { ::setenv("KV618_CARD_DIR", folder_.path().c_str(), 1); }
    void TearDown() override {
        if (handle_) UkonciRozhrani(GetParam().type, &handle_);
        ::unsetenv("KV618_CARD_DIR");
    }
    int32_t init() {
        TInitParametry block{};
        block[0] = GetParam().base;
        return InitRozhrani(GetParam().type, &handle_, block);
    }
    fake::TempFolder folder_;
    int32_t handle_ = 0;
};

TEST_P(Cards, FindsItsSocketAndExchanges) {
    fake::CardPeer card([](const wire::Request& r) { return only(fake::replyTo(r, 0x33, {0xC0, 0xFF, 0xEE, 0x00})); },
                        folder_.path(), GetParam().socket);
    ASSERT_EQ(init(), 0);
    ASSERT_EQ(KonfigRozhrani(GetParam().type, handle_, 57600, 5, 2), 0);
    const auto got = exchange(GetParam().type, handle_, 9, 1, 0x40, {0, 1, 2, 3, 4});
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.d, (std::array<uint8_t, 5>{0x33, 0xC0, 0xFF, 0xEE, 0x00}));
    ASSERT_EQ(card.requestCount(), 1);
    EXPECT_EQ(card.requests()[0].address, 9);
    EXPECT_EQ(card.requests()[0].data, (std::array<uint8_t, 5>{0, 1, 2, 3, 4}));
}

TEST_P(Cards, AMissingCardHasItsOwnCode) {
    EXPECT_EQ(init(), 15);
    EXPECT_EQ(handle_, 0);
    EXPECT_EQ(TextKodu(GetParam().type, 15),
              "Karta ani převodník nebyly nalezeny - zkontrolujte připojení a bázovou adresu");
}

TEST_P(Cards, StrayAndLatePacketsAreNeverTakenForTheReply) {
    // Request 1 goes unanswered until request 2 has gone out; then its late
    // reply comes first, among other rubbish, and request 2's own comes last.
    auto unanswered = std::make_shared<std::optional<wire::Request>>();
    fake::CardPeer card(
        [unanswered](const wire::Request& r) {
            const Bytes good = fake::replyTo(r, 0, {r.subcode, 0, 0, 0});
            if (r.subcode == 1) {
                *unanswered = r;
                return std::vector<Answer>{};
            }
            std::vector<Answer> answers;
            if (*unanswered) answers.push_back({fake::replyTo(**unanswered, 0, {1, 0, 0, 0})});
            unanswered->reset();
            Bytes oversized = good;
            oversized.resize(100, 0x5A);
            for (Bytes bytes : {oversized, Bytes(good.begin(), good.begin() + 11),
                                fake::withTransaction(good, r.transaction + 7), fake::withBadCrc(good), good})
                answers.push_back({bytes});
            return answers;
        },
        folder_.path(), GetParam().socket);
    ASSERT_EQ(init(), 0);
    ASSERT_EQ(KonfigRozhrani(GetParam().type, handle_, 115200, 5, 2), 0);
    EXPECT_EQ(exchange(GetParam().type, handle_, 1, 0x64, 1).error, 1);
    for (uint8_t sub = 2; sub <= 4; ++sub) {
        const auto got = exchange(GetParam().type, handle_, 1, 0x64, sub);
        EXPECT_EQ(got.error, 0);
        EXPECT_EQ(got.d[1], sub) << "each request gets its own reply";
    }
}

TEST_P(Cards, ACardThatGoesAwayIsMissingAndFoundAgainWhenBack) {
    const auto script = [](const wire::Request& r) { return only(fake::replyTo(r, 0, {7, 7, 7, 7})); };
    auto card = std::make_unique<fake::CardPeer>(script, folder_.path(), GetParam().socket);
    ASSERT_EQ(init(), 0);
    EXPECT_EQ(exchange(GetParam().type, handle_, 1, 0, 0x40).error, 0);
    card.reset();
    EXPECT_EQ(exchange(GetParam().type, handle_, 1, 0, 0x40).error, 15);
    card = std::make_unique<fake::CardPeer>(script, folder_.path(), GetParam().socket);
    const auto back = exchange(GetParam().type, handle_, 1, 0, 0x40);
    EXPECT_EQ(back.error, 0);
    EXPECT_EQ(back.d[1], 7);
}

INSTANTIATE_TEST_SUITE_P(AllCards, Cards,
                         ::testing::Values(CardKind{RozhraniPCI726, "pci726-300.sock", 0x300},
                                           CardKind{RozhraniPCI726, "pci726-2a0.sock", 0x2A0},
                                           CardKind{RozhraniPCI1726, "pci1726.sock", 0},
                                           CardKind{RozhraniUSB1726, "usb1726.sock", 0}),
                         [](const auto& info) {
                             std::string name = info.param.socket.substr(0, info.param.socket.find('.'));
                             std::erase(name, '-');
                             return name;
                         });

TEST(CardExchange, AnEmptyPacketIsDamagedAndAFloodEndsAtTheTimeOut) {
    fake::TempFolder folder;
    ::setenv("KV618_CARD_DIR", folder.path().c_str(), 1);
    const std::string path = folder.path() + "/pci1726.sock";
    int32_t handle = 0;
    {
        fake::CardPeer card([](const wire::Request& r) {
            return std::vector<Answer>{{Bytes{}}, {fake::replyTo(r, 0, {5, 5, 5, 5})}};
        }, folder.path(), "pci1726.sock");
        ASSERT_EQ(InitRozhrani(RozhraniPCI1726, &handle, {}), 0);
        const auto got = exchange(RozhraniPCI1726, handle, 1, 0, 0x40);
        EXPECT_EQ(got.error, 0) << "an empty packet is neither the reply nor a card gone";
        EXPECT_EQ(got.d[1], 5);
        UkonciRozhrani(RozhraniPCI1726, &handle);
    }
    {
        // Under a flood a packet is always waiting when the deadline passes:
        // the receive must end there all the same, or the flood holds the
        // exchange past its time-out.
        HandMadeCard card(path, 4, [](int listener, const std::atomic<bool>& stop) {
            const int connection = acceptWithin(listener, 2000);
            const Bytes junk(wire::ReplySize, wire::ReplySync);
            for (int i = 0; connection >= 0 && i < 8; ++i) ::send(connection, junk.data(), junk.size(), MSG_NOSIGNAL);
            while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (connection >= 0) ::close(connection);
        });
        std::unique_ptr<drv::Transport> card_socket;
        ASSERT_EQ(drv::cards::CardSocket::Open(path, card_socket), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the packets are waiting
        std::array<uint8_t, 64> buffer{};
        EXPECT_TRUE(card_socket->Receive(buffer, drv::Clock::now()).timedOut);
    }
    ::unsetenv("KV618_CARD_DIR");
}

TEST(CardExchange, AllSixtyFourLinksOpenOnACardThatAcceptsSlowly) {
    fake::TempFolder folder;
    ::setenv("KV618_CARD_DIR", folder.path().c_str(), 1);
    std::vector<int> accepted;
    {
        // Room for two connections waiting at a time, one taken every 2 ms.
        HandMadeCard card(folder.path() + "/pci1726.sock", 1, [&accepted](int listener, const std::atomic<bool>& stop) {
            while (!stop) {
                const int connection = acceptWithin(listener, 20);
                if (connection >= 0) accepted.push_back(connection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        drvtest::Library library("QPCI1726.DLL");
        const auto init = library.entry<Qxxx726_InitPlain>("QPCI1726_Init");
        const auto done = library.entry<Qxxx726_Done>("QPCI1726_Done");
        std::vector<int32_t> handles(64);
        for (int32_t& handle : handles) EXPECT_EQ(init(&handle), 0);
        for (int32_t& handle : handles) done(&handle);
    }
    for (const int fd : accepted) ::close(fd);
    ::unsetenv("KV618_CARD_DIR");
}

TEST(IsaCard, BaseOutsideThreeHexDigitsIsRefused) {
    int32_t handle = 0;
    TInitParametry block{};
    for (intptr_t base : {-1, 0x1000, 0x7FFFFFFF}) {
        block[0] = base;
        EXPECT_EQ(InitRozhrani(RozhraniPCI726, &handle, block), 17) << base;
    }
}

TEST(IsaCard, OnlyTheCardAtTheGivenBaseAnswers) {
    fake::TempFolder folder;
    ::setenv("KV618_CARD_DIR", folder.path().c_str(), 1);
    fake::CardPeer card([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); }, folder.path(),
                        "pci726-300.sock");
    int32_t handle = 0;
    TInitParametry block{};
    block[0] = 0x310;
    EXPECT_EQ(InitRozhrani(RozhraniPCI726, &handle, block), 15);
    block[0] = 0x300;
    EXPECT_EQ(InitRozhrani(RozhraniPCI726, &handle, block), 0);
    EXPECT_EQ(UkonciRozhrani(RozhraniPCI726, &handle), 0);
    ::unsetenv("KV618_CARD_DIR");
}

}  // namespace
