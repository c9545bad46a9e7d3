// QPCI726.DLL, QPCI1726.DLL and QUSB1726.DLL through the program's binding,
// against scripted card sockets in a folder of the test's own.
#include "DriverTestSupport.h"
#include "FakePeer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

using drvtest::exchange;
using fake::Answer;
using fake::Bytes;

std::vector<Answer> only(Bytes bytes) { return {Answer{std::move(bytes)}}; }

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
