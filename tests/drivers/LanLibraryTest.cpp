// QKV1726.DLL through the program's binding, against a scripted UDP peer on
// loopback that can answer late, from elsewhere, cut, oversized or damaged.
#include "DriverTestSupport.h"
#include "FakePeer.h"
#include "qxxx726_abi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace {

using drvtest::exchange;
using fake::Answer;
using fake::Bytes;

constexpr int32_t TimeoutMs = 300;

std::vector<Answer> only(Bytes bytes) { return {Answer{std::move(bytes)}}; }

// A converter whose every reply comes one request late: each request gets
// only the reply to the one before it.
fake::Script oneLate() {
    auto unanswered = std::make_shared<std::optional<wire::Request>>();
    return [unanswered](const wire::Request& r) {
        std::vector<Answer> answers;
        if (*unanswered) answers.push_back({fake::replyTo(**unanswered, 0, {1, 1, 1, 1})});
        *unanswered = r;
        return answers;
    };
}

class Lan : public ::testing::Test {
protected:
    void TearDown() override {
        if (handle_) UkonciRozhrani(RozhraniKV1726, &handle_);
    }
    void open(const fake::UdpPeer& peer, int32_t timeoutMs = TimeoutMs) {
        ASSERT_EQ(InitRozhrani(RozhraniKV1726, &handle_, drvtest::lanBlock(peer.port(), timeoutMs)), 0);
        ASSERT_NE(handle_, 0);
    }
    int32_t handle_ = 0;
};

TEST_F(Lan, CarriesTheRequestAndUnpacksTheReply) {
    fake::UdpPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0x81, {0x12, 0x34, 0x56, 0x78})); });
    open(peer);
    EXPECT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 9600, 13, 2), 0);
    const auto got = exchange(RozhraniKV1726, handle_, 5, 0x67, 0, {9, 0x21, 0x21, 0x3C, 0x3C});
    EXPECT_EQ(got.error, 0);
    EXPECT_EQ(got.d, (std::array<uint8_t, 5>{0x81, 0x12, 0x34, 0x56, 0x78}));
    ASSERT_EQ(peer.requestCount(), 1);
    const wire::Request seen = peer.requests()[0];
    EXPECT_EQ(seen.address, 5);
    EXPECT_EQ(seen.function, 0x67);
    EXPECT_EQ(seen.subcode, 0);
    EXPECT_EQ(seen.data, (std::array<uint8_t, 5>{9, 0x21, 0x21, 0x3C, 0x3C}));
    EXPECT_EQ(TextKodu(RozhraniKV1726, 0), "Komunikace v pořádku");
}

TEST_F(Lan, EveryRequestNamesTheLineRateForTheConverter) {
    fake::UdpPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); });
    open(peer);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0xC8, 0).error, 0);
    EXPECT_EQ(peer.lastRate(), 9600) << "before _SetConfig, as the serial line";
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 19200, 5, 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0xC8, 0).error, 0);
    EXPECT_EQ(peer.lastRate(), 19200);
}

TEST_F(Lan, EveryRequestCarriesTheNextTransactionNumber) {
    fake::UdpPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); });
    open(peer);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 0).error, 0);
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(static_cast<uint16_t>(requests[i].transaction - requests[i - 1].transaction), 1);
}

TEST_F(Lan, HostileDatagramsAreNeverTakenForTheReply) {
    fake::UdpPeer peer([](const wire::Request& r) {
        const Bytes good = fake::replyTo(r, 0x01, {0xA1, 0xA2, 0xA3, 0xA4});
        const Bytes forged = fake::replyTo(r, 0x66, {0xEE, 0xEE, 0xEE, 0xEE});
        Bytes oversized = forged;
        oversized.resize(600, 0x5A);
        return std::vector<Answer>{
            {forged, /*fromOtherPort=*/true},                          // right frame, wrong sender
            {oversized},                                               // too long
            {Bytes(forged.begin(), forged.begin() + 7)},              // cut short
            {Bytes{}},                                                 // empty
            {fake::withTransaction(forged, r.transaction - 1)},       // a late reply to the request before
            {fake::withTransaction(forged, r.transaction + 1)},       // not asked yet
            {fake::withBadCrc(forged)},                                // damaged
            {fake::withAddress(forged, r.address + 1)},               // another module
            {good},
        };
    });
    open(peer);
    for (int i = 0; i < 3; ++i) {
        const auto got = exchange(RozhraniKV1726, handle_, 2, 0, 0x40);
        EXPECT_EQ(got.error, 0);
        EXPECT_EQ(got.d, (std::array<uint8_t, 5>{0x01, 0xA1, 0xA2, 0xA3, 0xA4}));
    }
}

TEST_F(Lan, WithoutAValidReplyTheMostTellingFaultIsReported) {
    struct Case {
        std::function<Bytes(const wire::Request&)> answer;
        uint8_t code;
    };
    const Case cases[] = {
        {[](const wire::Request& r) { return fake::withTransaction(fake::replyTo(r, 0, {}), r.transaction - 1); }, 1},
        {[](const wire::Request& r) { return fake::withBadCrc(fake::replyTo(r, 0, {})); }, 2},
        {[](const wire::Request&) { return Bytes{0x5A, 1, 2}; }, 3},
        {[](const wire::Request& r) { return fake::withAddress(fake::replyTo(r, 0, {}), r.address ^ 0x80); }, 4},
        {[](const wire::Request& r) { return fake::replyTo(r, 0, {}, wire::Outcome::UnknownRegister); }, 8},
        {[](const wire::Request& r) { return fake::replyTo(r, 0, {}, wire::Outcome::UnknownFunction); }, 6},
        {[](const wire::Request& r) { return fake::replyTo(r, 0, {}, wire::Outcome::UnknownSubcode); }, 7},
    };
    for (const Case& c : cases) {
        fake::UdpPeer peer([&](const wire::Request& r) { return only(c.answer(r)); });
        int32_t handle = 0;
        ASSERT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(peer.port(), 150)), 0);
        const auto got = exchange(RozhraniKV1726, handle, 1, 0x66, 0, {7, 7, 7, 7, 7});
        EXPECT_TRUE(drvtest::failedWith(got, c.code)) << "D0-D4 are cleared on an error";
        EXPECT_EQ(UkonciRozhrani(RozhraniKV1726, &handle), 0);
    }
}

TEST_F(Lan, ALateReplyIsDroppedAndTheNextRequestGetsItsOwn) {
    // The first request is answered only once the second has gone out, and
    // that late reply arrives before the second's own: the second must take
    // its own.
    auto unanswered = std::make_shared<std::optional<wire::Request>>();
    fake::UdpPeer peer([unanswered](const wire::Request& r) {
        if (r.subcode == 1) {
            *unanswered = r;
            return std::vector<Answer>{};
        }
        std::vector<Answer> answers;
        if (*unanswered) answers.push_back({fake::replyTo(**unanswered, 0, {1, 1, 1, 1})});
        unanswered->reset();
        answers.push_back({fake::replyTo(r, 0, {2, 2, 2, 2})});
        return answers;
    });
    open(peer);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 1).error, 1);
    const auto second = exchange(RozhraniKV1726, handle_, 1, 0x64, 2);
    EXPECT_EQ(second.error, 0);
    EXPECT_EQ(second.d, (std::array<uint8_t, 5>{0, 2, 2, 2, 2}));
}

TEST_F(Lan, ALateReplyAloneIsNoReply) {
    fake::UdpPeer peer(oneLate());
    open(peer);
    for (int i = 0; i < 3; ++i) {
        const auto got = exchange(RozhraniKV1726, handle_, 1, 0x64, 1);
        EXPECT_TRUE(drvtest::failedWith(got, 1));
    }
}

TEST_F(Lan, AnExactTimeOutFromSetConfigWinsOverTheBlocksAndGivesWayBackToIt) {
    fake::UdpPeer peer([](const wire::Request& r) { return std::vector<Answer>{{fake::replyTo(r, 0, {}), false, 300}}; });
    open(peer, 3000);
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 9600, -50, 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 0).error, 1) << "50 ms, not the block's 3 s";
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 9600, 13, 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 0).error, 0) << "the block's 3 s again";
    EXPECT_NE(KonfigRozhrani(RozhraniKV1726, handle_, 9600, -65536, 2), 0);
}

TEST_F(Lan, WithAnExactTimeOutALateReplyToAnEarlierRequestIsAReplyFromAnotherAddress) {
    fake::UdpPeer peer(oneLate());
    open(peer);
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 9600, -100, 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 1).error, 1) << "nothing came";
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 2, 0x64, 1).error, 4) << "address 1 answered late";
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle_, 9600, 13, 2), 0);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 3, 0x64, 1).error, 1) << "the program's rule passes late replies by";
}

TEST_F(Lan, ADatagramWaitingBeforeTheRequestIsNeverItsReply) {
    // With the first request's reply comes a forged reply to the next
    // request, which has not been sent yet.
    fake::UdpPeer peer([](const wire::Request& r) {
        if (r.subcode != 1) return std::vector<Answer>{};
        wire::Request next = r;
        ++next.transaction;
        return std::vector<Answer>{{fake::replyTo(r, 0, {1, 1, 1, 1})}, {fake::replyTo(next, 0, {6, 6, 6, 6})}};
    });
    open(peer);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 1).error, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the forged reply is waiting now
    const auto second = exchange(RozhraniKV1726, handle_, 1, 0x64, 2);
    EXPECT_TRUE(drvtest::failedWith(second, 1));
}

TEST_F(Lan, ADamagedDatagramBetweenExchangesIsNotTheNextOnesFault) {
    fake::UdpPeer peer([](const wire::Request& r) {
        if (r.subcode != 1) return std::vector<Answer>{};
        const Bytes good = fake::replyTo(r, 0, {});
        return std::vector<Answer>{{good}, {fake::withBadCrc(good)}};
    });
    open(peer);
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 1).error, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the damaged one has arrived
    EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0x64, 2).error, 1) << "no reply, not a damaged one";
}

TEST_F(Lan, NoOneListeningGivesNoReplyAndTheText) {
    uint16_t port;
    {
        fake::UdpPeer gone([](const wire::Request&) { return std::vector<Answer>{}; });
        port = gone.port();
    }
    ASSERT_EQ(InitRozhrani(RozhraniKV1726, &handle_, drvtest::lanBlock(port, 100)), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(exchange(RozhraniKV1726, handle_, 1, 0xC8, 0).error, 1);
    EXPECT_EQ(TextKodu(RozhraniKV1726, 1), "Modul neodpovídá - zkontrolujte adresu modulu, rychlost a vedení");
}

TEST_F(Lan, BadParameterBlocksAreRefused) {
    const char* badAddresses[] = {"abc", "256.1.1.1", "127.0.0", "127.0.0.1 x", ""};
    for (const char* ip : badAddresses) {
        int32_t handle = 0;
        EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(5000, 100, ip)), 17) << ip;
        EXPECT_EQ(handle, 0);
    }
    EXPECT_EQ(TextKodu(RozhraniKV1726, 17), "Neplatný parametr");
    int32_t handle = 0;
    TInitParametry block{};  // no IP text at all
    block[1] = 5000;
    EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, block), 17);
    EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(0, 100)), 17);
    EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(5000, 70000)), 17);
    EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, drvtest::lanBlock(5000, -1)), 17);
}

// The library's seven entry points, looked up by name as a program does.
class LanEntryPoints : public ::testing::Test {
protected:
    drvtest::Library library{"QKV1726.DLL"};
    const Qxxx726_InitBlock init = library.entry<Qxxx726_InitBlock>("QKV1726_Init");
    const Qxxx726_Version version = library.entry<Qxxx726_Version>("QKV1726_Version");
    const Qxxx726_SetConfig setConfig = library.entry<Qxxx726_SetConfig>("QKV1726_SetConfig");
    const Qxxx726_GetConfig getConfig = library.entry<Qxxx726_GetConfig>("QKV1726_GetConfig");
    const Qxxx726_Send send = library.entry<Qxxx726_Send>("QKV1726_Send");
    const Qxxx726_Done done = library.entry<Qxxx726_Done>("QKV1726_Done");
    const Qxxx726_Error error = library.entry<Qxxx726_Error>("QKV1726_Error");
};

// The entry points straight, as a third-party program would call them.
TEST_F(LanEntryPoints, ConfigVersionHandlesAndNullPointers) {
    EXPECT_EQ(version(), 0x0104);
    fake::UdpPeer peer([](const wire::Request& r) { return only(fake::replyTo(r, 0, {})); });
    const TInitParametry block = drvtest::lanBlock(peer.port(), 200);
    EXPECT_EQ(init(nullptr, block.data()), 17);
    int32_t handle = 0;
    EXPECT_EQ(init(&handle, nullptr), 17);
    ASSERT_EQ(init(&handle, block.data()), 0);

    int32_t rate = 0, time = 0, mode = 0;
    EXPECT_EQ(getConfig(handle, &rate, &time, &mode), 0);
    EXPECT_EQ(rate, 9600);
    EXPECT_EQ(time, 100);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(setConfig(handle, 19200, 7, 2), 0);
    EXPECT_EQ(getConfig(handle, &rate, &time, &mode), 0);
    EXPECT_EQ(std::tie(rate, time, mode), std::make_tuple(19200, 7, 2));
    EXPECT_EQ(setConfig(handle, 19200, 7, 1), 17) << "mode 2 is the only one";
    EXPECT_EQ(setConfig(handle, 12345, 7, 2), 17);
    EXPECT_EQ(setConfig(handle, 9600, -65536, 2), 17) << "below the exact time-outs";
    EXPECT_EQ(setConfig(handle, 9600, 6001, 2), 17);
    EXPECT_EQ(getConfig(handle, &rate, &time, &mode), 0);
    EXPECT_EQ(rate, 19200) << "a refused setting changes nothing";
    EXPECT_EQ(getConfig(handle, nullptr, &time, &mode), 17);

    int32_t request[8] = {1, 0x64, 0, 0, 0, 0, 0, 0};
    int32_t reply[100] = {};
    int32_t status = 0, err = 0;
    EXPECT_EQ(send(handle, nullptr, reply, &status, &err), 17);
    EXPECT_EQ(err, 17);
    EXPECT_EQ(send(handle, request, nullptr, &status, &err), 17);
    EXPECT_EQ(send(handle, request, reply, nullptr, &err), 17);
    EXPECT_EQ(send(handle, request, reply, &status, nullptr), 17);
    EXPECT_EQ(send(handle + 1000, request, reply, &status, &err), 16);
    EXPECT_EQ(send(0, request, reply, &status, &err), 10);
    EXPECT_EQ(setConfig(handle + 1000, 9600, 13, 2), 16);
    EXPECT_EQ(send(handle, request, reply, &status, &err), 0);
    EXPECT_EQ(err, 0);

    int32_t text[100];
    EXPECT_EQ(error(16, text), 0);
    EXPECT_EQ(BufferNaText(*reinterpret_cast<TChybovyText*>(text)), "Neplatný identifikátor spojení");
    EXPECT_EQ(error(0, nullptr), 17);

    EXPECT_EQ(done(nullptr), 17);
    int32_t copy = handle;
    EXPECT_EQ(done(&handle), 0);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(done(&copy), 16) << "a handle closed once is no longer valid";
    EXPECT_EQ(done(&handle), 10);
    EXPECT_EQ(send(copy, request, reply, &status, &err), 16);
}

TEST_F(LanEntryPoints, SeveralLinksAtOnceEachToItsOwnModule) {
    fake::UdpPeer first([](const wire::Request& r) { return only(fake::replyTo(r, 0, {1, 0, 0, 0})); });
    fake::UdpPeer second([](const wire::Request& r) { return only(fake::replyTo(r, 0, {2, 0, 0, 0})); });
    int32_t a = 0, b = 0;
    const TInitParametry blockA = drvtest::lanBlock(first.port(), 200);
    const TInitParametry blockB = drvtest::lanBlock(second.port(), 200);
    ASSERT_EQ(init(&a, blockA.data()), 0);
    ASSERT_EQ(init(&b, blockB.data()), 0);
    EXPECT_NE(a, b);
    int32_t request[8] = {1, 0, 0x40, 0, 0, 0, 0, 0};
    int32_t reply[100] = {};
    int32_t status = 0, err = 0;
    EXPECT_EQ(send(b, request, reply, &status, &err), 0);
    EXPECT_EQ(reply[0], 2);
    EXPECT_EQ(send(a, request, reply, &status, &err), 0);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(done(&a), 0);
    EXPECT_EQ(done(&b), 0);
}

// Under an exact time-out a late reply is named by the address its request
// went to: cell 4 how many came, cells 5 on their addresses.  One with an
// old transaction number but another address is no one's late reply.
TEST_F(LanEntryPoints, WithAnExactTimeOutALateReplyIsNamedByItsAddress) {
    // Each request is answered when the next one comes, before that one's
    // own reply (which never comes); request to address 9 gets its reply
    // from address 99.
    auto unanswered = std::make_shared<std::optional<wire::Request>>();
    fake::UdpPeer peer([unanswered](const wire::Request& r) {
        std::vector<Answer> answers;
        if (*unanswered) {
            const Bytes late = fake::replyTo(**unanswered, 0, {1, 1, 1, 1});
            answers.push_back({(*unanswered)->address == 9 ? fake::withAddress(late, 99) : late});
        }
        *unanswered = r;
        return answers;
    });
    const TInitParametry block = drvtest::lanBlock(peer.port(), 200);
    int32_t handle = 0;
    ASSERT_EQ(init(&handle, block.data()), 0);
    ASSERT_EQ(setConfig(handle, 9600, -100, 2), 0);
    int32_t status = 0, err = 0;
    const auto ask = [&](int32_t address, std::array<int32_t, QXXX726_REPLY_CELLS>& reply) {
        int32_t request[QXXX726_REQUEST_CELLS] = {address, 0xC8, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(send(handle, request, reply.data(), &status, &err), 0);
        return err;
    };
    std::array<int32_t, QXXX726_REPLY_CELLS> reply{};
    reply.fill(-1);
    EXPECT_EQ(ask(7, reply), 1) << "nothing came";
    EXPECT_EQ(reply[QXXX726_LATE_COUNT_CELL], 0);
    EXPECT_EQ(ask(8, reply), 4) << "address 7 answered late";
    EXPECT_EQ(reply[QXXX726_LATE_COUNT_CELL], 1);
    EXPECT_EQ(reply[QXXX726_LATE_FIRST_CELL], 7);
    EXPECT_EQ(ask(9, reply), 4);
    EXPECT_EQ(reply[QXXX726_LATE_COUNT_CELL], 1);
    EXPECT_EQ(reply[QXXX726_LATE_FIRST_CELL], 8);
    EXPECT_EQ(ask(10, reply), 4) << "a reply with 9's number from address 99 counts";
    EXPECT_EQ(reply[QXXX726_LATE_COUNT_CELL], 0) << "but is no one's late reply";

    ASSERT_EQ(setConfig(handle, 9600, 13, 2), 0);
    reply.fill(-1);
    EXPECT_EQ(ask(11, reply), 1) << "the program's rule passes late replies by";
    EXPECT_EQ(reply[QXXX726_LATE_COUNT_CELL], -1) << "and writes no cell past the data";
    EXPECT_EQ(done(&handle), 0);
}

}  // namespace
