// The shared core on its own: reply judging, stream resynchronisation, the
// time-out rule, the exchange loop over a scripted transport, codes and texts.
#include "CardFolder.h"
#include "CardSocket.h"
#include "Codes.h"
#include "Exchange.h"
#include "FakePeer.h"
#include "Kodovani.h"
#include "SerialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <set>
#include <thread>

namespace {

using fake::Bytes;

wire::Request requestFor(uint16_t transaction, uint8_t address) {
    wire::Request request;
    request.transaction = transaction;
    request.address = address;
    request.function = 0x66;
    return request;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ReplyJudge, TellsEveryKindOfCandidateApart) {
    const wire::Request request = requestFor(0x1234, 7);
    const Bytes good = fake::replyTo(request, 0x11, {1, 2, 3, 4});
    drv::ReplyJudge judge(0x1234, 7);
    using V = drv::ReplyJudge::Verdict;
    EXPECT_EQ(judge.Judge(fake::withTransaction(good, 0x1233)), V::Stale);
    EXPECT_EQ(judge.Judge(fake::withAddress(good, 8)), V::OtherAddress);
    EXPECT_EQ(judge.Judge(fake::withBadCrc(good)), V::Checksum);
    EXPECT_EQ(judge.Judge(Bytes(good.begin(), good.begin() + 6)), V::Frame);
    EXPECT_EQ(judge.Judge(good, /*oversized=*/true), V::Frame);
    Bytes request13(wire::RequestSize, 0);
    EXPECT_EQ(judge.Judge(request13), V::Frame);
    EXPECT_EQ(judge.Judge(good), V::Accepted);
    EXPECT_EQ(judge.Reply().status, 0x11);
    EXPECT_EQ(judge.Reply().data, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

TEST(ReplyJudge, TimeoutNamesTheMostTellingFaultSeen) {
    const wire::Request request = requestFor(5, 1);
    const Bytes good = fake::replyTo(request, 0, {});
    {
        drv::ReplyJudge judge(5, 1);
        judge.Judge(fake::withTransaction(good, 4));  // stale replies are not faults
        EXPECT_EQ(judge.TimeoutCode(), drv::NoReply);
    }
    {
        drv::ReplyJudge judge(5, 1);
        judge.Judge(Bytes{1, 2, 3});
        EXPECT_EQ(judge.TimeoutCode(), drv::BadFrame);
        judge.Judge(fake::withAddress(good, 2));
        EXPECT_EQ(judge.TimeoutCode(), drv::OtherAddress);
        judge.Judge(fake::withBadCrc(good));
        EXPECT_EQ(judge.TimeoutCode(), drv::BadChecksum);
    }
}

TEST(StreamScanner, FindsTheReplyBehindNoiseFalseSyncAndStaleFrames) {
    const wire::Request request = requestFor(0x0102, 3);
    const Bytes good = fake::replyTo(request, 0x42, {9, 8, 7, 6});
    const Bytes noise = {0x00, 0xFF, wire::ReplySync, 0x13, 0x37, wire::ReplySync, 0x01};
    const Bytes stream = joined({noise, fake::withTransaction(good, 0x0101), fake::withAddress(good, 4),
                                 fake::withBadCrc(good), good, Bytes{0xAA}});
    drv::ReplyJudge judge(0x0102, 3);
    drv::StreamScanner scanner(judge);
    bool found = false;
    // Byte by byte, as a slow line delivers it.
    for (size_t i = 0; i < stream.size() && !found; ++i) found = scanner.Feed(std::span(&stream[i], 1));
    ASSERT_TRUE(found);
    EXPECT_EQ(judge.Reply().status, 0x42);
    EXPECT_EQ(judge.Reply().data, (std::array<uint8_t, 4>{9, 8, 7, 6}));
}

// Junk whose bytes from its second sync byte on, with the sync byte of the
// true reply behind them, pass the checksum: a frame for another request
// that overlaps the reply.
Bytes junkOverlappingTheReply(uint16_t transaction) {
    for (uint32_t seed = 1;; ++seed) {
        Bytes candidate = {wire::ReplySync, 0, 0, 9, 0, 0, 0, 0, 0, 0};
        for (size_t i = 1; i < candidate.size(); ++i) candidate[i] = static_cast<uint8_t>(seed * (i * 2 + 1) >> (i % 3));
        const uint16_t crc = wire::Crc16(candidate);
        if ((crc >> 8) != wire::ReplySync || (candidate[1] | candidate[2] << 8) == transaction) continue;
        candidate.push_back(static_cast<uint8_t>(crc & 0xFF));
        return joined({Bytes{wire::ReplySync}, candidate});
    }
}

TEST(StreamScanner, FindsTheReplyBehindJunkThatMakesAFrameWithItsFirstByte) {
    const wire::Request request = requestFor(0x0A0B, 3);
    const Bytes good = fake::replyTo(request, 0x42, {1, 2, 3, 4});
    const Bytes junk = junkOverlappingTheReply(request.transaction);
    ASSERT_EQ(junk.size(), 12u);
    ASSERT_EQ(Bytes(junk.begin(), junk.begin() + 2), (Bytes{0x5A, 0x5A}));
    for (const size_t chunk : {size_t{1}, size_t{5}, junk.size() + good.size()}) {
        drv::ReplyJudge judge(request.transaction, request.address);
        drv::StreamScanner scanner(judge);
        const Bytes stream = joined({junk, good});
        bool found = false;
        for (size_t i = 0; i < stream.size() && !found; i += chunk)
            found = scanner.Feed(std::span(stream).subspan(i, std::min(chunk, stream.size() - i)));
        ASSERT_TRUE(found) << "in pieces of " << chunk;
        EXPECT_EQ(judge.Reply().data, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    }
}

TEST(StreamScanner, AFrameFromAnotherModuleStaysTheTellingFaultWhateverItsBytesHold) {
    const wire::Request request = requestFor(0x5A5A, 0x5A);
    // Another module's reply full of sync bytes, and nothing else.
    const Bytes other = fake::withAddress(fake::replyTo(request, 0x5A, {0x5A, 0x5A, 0x5A, 0x5A}), 4);
    drv::ReplyJudge judge(request.transaction, request.address);
    drv::StreamScanner scanner(judge);
    EXPECT_FALSE(scanner.Feed(other));
    EXPECT_EQ(judge.TimeoutCode(), drv::OtherAddress);
    EXPECT_FALSE(scanner.HoldsBytes());
}

TEST(StreamScanner, NoiseAloneIsNeverAReply) {
    drv::ReplyJudge judge(1, 1);
    drv::StreamScanner scanner(judge);
    Bytes noise(300);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
    EXPECT_FALSE(scanner.Feed(noise));
    EXPECT_TRUE(scanner.HoldsBytes());
}

TEST(Timeout, LineTimeOfRequestAndReplyPlusTenMsPerTimeUnitWithAFloor) {
    EXPECT_EQ(wire::ReplyTimeoutMs(600, 100), 417 + 1000);
    EXPECT_EQ(wire::ReplyTimeoutMs(1200, 100), 209 + 1000);
    EXPECT_EQ(wire::ReplyTimeoutMs(2400, 50), 105 + 500);
    EXPECT_EQ(wire::ReplyTimeoutMs(9600, 13), wire::MinimumTimeoutMs);
    EXPECT_EQ(wire::ReplyTimeoutMs(115200, 5), wire::MinimumTimeoutMs);
    EXPECT_EQ(wire::ReplyTimeoutMs(9600, 6000), 27 + 60000);
}

TEST(Timeout, ANegativeTimeValueAsksForExactlyThatManyMs) {
    EXPECT_EQ(wire::ReplyTimeoutMs(600, -35), 35);
    EXPECT_EQ(wire::ReplyTimeoutMs(115200, -1), 1);
    EXPECT_TRUE(wire::IsValidTime(-65535));
    EXPECT_FALSE(wire::IsValidTime(-65536));
    EXPECT_FALSE(wire::IsValidTime(6001));
}

// A transport that plays back what the test queued.
class ScriptedTransport : public drv::Transport {
public:
    explicit ScriptedTransport(bool stream) : stream_(stream) {}
    bool IsStream() const override { return stream_; }
    int32_t DiscardInput() override { return discardCode; }
    int32_t Send(std::span<const uint8_t> frame, drv::Clock::time_point) override {
        sent.assign(frame.begin(), frame.end());
        return sendCode;
    }
    drv::Received Receive(std::span<uint8_t> buffer, drv::Clock::time_point) override {
        if (items.empty()) return drv::Received{.timedOut = true};
        auto [bytes, oversized] = items.front();
        items.pop_front();
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        return drv::Received{.size = bytes.size(), .oversized = oversized};
    }
    bool stream_;
    int32_t discardCode = 0;
    int32_t sendCode = 0;
    Bytes sent;
    std::deque<std::pair<Bytes, bool>> items;
};

TEST(ExchangeLoop, SendsTheEncodedRequestAndTakesOnlyItsReply) {
    ScriptedTransport transport(false);
    wire::Request request = requestFor(77, 2);
    request.subcode = 3;
    request.data = {1, 2, 3, 4, 5};
    const Bytes good = fake::replyTo(request, 0x80, {0xDE, 0xAD, 0xBE, 0xEF});
    transport.items = {{fake::withTransaction(good, 76), false}, {Bytes(40, 0x5A), true}, {good, false}};
    const drv::Result result = drv::Exchange(transport, request, 1000);
    const auto expected = wire::Encode(request);
    EXPECT_EQ(transport.sent, Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(result.code, drv::Ok);
    EXPECT_EQ(result.status, 0x80);
    EXPECT_EQ(result.data, (std::array<uint8_t, 4>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(ExchangeLoop, RefusalsAndTransportFailuresGiveTheirCodes) {
    const wire::Request request = requestFor(9, 1);
    const std::pair<wire::Outcome, int32_t> refusals[] = {{wire::Outcome::UnknownFunction, drv::UnknownFunction},
                                                          {wire::Outcome::UnknownSubcode, drv::UnknownSubcode},
                                                          {wire::Outcome::UnknownRegister, drv::UnknownRegister},
                                                          {wire::Outcome::BadValue, drv::Refused},
                                                          {static_cast<wire::Outcome>(0x77), drv::Refused}};
    for (const auto& [outcome, code] : refusals) {
        ScriptedTransport transport(false);
        transport.items = {{fake::replyTo(request, 5, {1, 1, 1, 1}, outcome), false}};
        const drv::Result result = drv::Exchange(transport, request, 1000);
        EXPECT_EQ(result.code, code);
        EXPECT_EQ(result.status, 0) << "a refused request carries no data";
    }
    ScriptedTransport broken(false);
    broken.sendCode = drv::IoError;
    EXPECT_EQ(drv::Exchange(broken, request, 1000).code, drv::IoError);
    ScriptedTransport gone(false);
    gone.discardCode = drv::CardMissing;
    EXPECT_EQ(drv::Exchange(gone, request, 1000).code, drv::CardMissing);
    EXPECT_TRUE(gone.sent.empty()) << "nothing is sent on a transport that failed";
}

TEST(ExchangeLoop, BytesThatMakeNoFrameOnALineAreADamagedReply) {
    const wire::Request request = requestFor(9, 1);
    ScriptedTransport line(true);
    line.items = {{Bytes{0x01, 0x02, 0x03}, false}};
    EXPECT_EQ(drv::Exchange(line, request, 1000).code, drv::BadFrame);
    ScriptedTransport silent(true);
    EXPECT_EQ(drv::Exchange(silent, request, 1000).code, drv::NoReply);
}

TEST(ExchangeLoop, AFloodOnAnyTransportEndsAtTheTimeOut) {
    // Damaged packets without end; the transport hands one out even past the
    // deadline, as a busy line or socket does.
    class Flood : public ScriptedTransport {
    public:
        Flood() : ScriptedTransport(false) {}
        drv::Received Receive(std::span<uint8_t> buffer, drv::Clock::time_point deadline) override {
            const auto now = drv::Clock::now();
            // The loop checks the deadline just before it asks; a slow
            // machine may pass the deadline in between, but never by much.
            if (now >= deadline + std::chrono::milliseconds(50)) ++askedPastTheDeadline;
            if (now >= deadline + std::chrono::milliseconds(200)) return drv::Received{.timedOut = true};
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::fill_n(buffer.begin(), wire::ReplySize, wire::ReplySync);
            return drv::Received{.size = wire::ReplySize};
        }
        int askedPastTheDeadline = 0;
    } flood;
    EXPECT_EQ(drv::Exchange(flood, requestFor(9, 1), 30).code, drv::BadChecksum);
    EXPECT_EQ(flood.askedPastTheDeadline, 0);
}

std::string cp1250Text(int32_t code) {
    int32_t cells[100];
    std::fill(std::begin(cells), std::end(cells), 0x7F7F);
    EXPECT_EQ(drv::FillErrorText(code, cells), 0);
    std::string text;
    size_t i = 0;
    for (; i < 100 && cells[i] != 0; ++i) {
        EXPECT_GE(cells[i], 1);
        EXPECT_LE(cells[i], 255);
        text += static_cast<char>(cells[i]);
    }
    EXPECT_LT(i, 100u) << "every text ends with a 0 cell";
    for (; i < 100; ++i) EXPECT_EQ(cells[i], 0) << "cells after the text are cleared";
    return text;
}

TEST(Codes, EveryCodeHasItsOwnCzechTextInWindows1250) {
    const int32_t codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    std::set<std::string> texts;
    for (int32_t code : codes) {
        const std::string text = cp1250Text(code);
        EXPECT_EQ(Kodovani::Cp1250NaUtf8(text), kv618::LibraryCodeText(code)) << "no character lost on the way: " << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
    // "ř" is 0xF8 and "á" 0xE1 in Windows-1250.
    EXPECT_EQ(cp1250Text(0), "Komunikace v po\xF8\xE1" "dku");
    EXPECT_EQ(Kodovani::Cp1250NaUtf8(cp1250Text(10)), "Spojení s modulem není inicializováno");
    EXPECT_NE(kv618::LibraryCodeText(drv::PortDenied).find("dialout"), std::string::npos);
}

TEST(Codes, UnknownCodesSaySoAndNullBuffersAreRefused) {
    EXPECT_EQ(Kodovani::Cp1250NaUtf8(cp1250Text(9)), "Neznámý chybový kód 9");
    EXPECT_EQ(Kodovani::Cp1250NaUtf8(cp1250Text(-5)), "Neznámý chybový kód -5");
    EXPECT_EQ(Kodovani::Cp1250NaUtf8(cp1250Text(99)), "Neznámý chybový kód 99");
    EXPECT_EQ(drv::FillErrorText(0, nullptr), drv::InvalidParameter);
}

TEST(SerialMapping, EnvironmentThenSettingsFileThenTtyS) {
    fake::TempFolder folder;
    const std::string ini = folder.path() + "/QCOM726.ini";
    std::ofstream(ini) << "; ports of this machine\r\n[Porty]\r\n com3 = /dev/ttyUSB0 \r\nCOM4=/dev/serial/by-id/x\r\n";
    ::unsetenv("QCOM726_COM3");
    EXPECT_EQ(drv::com::PortPath(3, ini), "/dev/ttyUSB0");
    EXPECT_EQ(drv::com::PortPath(4, ini), "/dev/serial/by-id/x");
    EXPECT_EQ(drv::com::PortPath(2, ini), "/dev/ttyS1");
    EXPECT_EQ(drv::com::PortPath(1, folder.path() + "/none.ini"), "/dev/ttyS0");
    ::setenv("QCOM726_COM3", "/dev/pts/77", 1);
    EXPECT_EQ(drv::com::PortPath(3, ini), "/dev/pts/77");
    ::unsetenv("QCOM726_COM3");
}

TEST(SerialMapping, OpenFailuresGetCodesTheOperatorCanActOn) {
    EXPECT_EQ(drv::com::OpenErrorCode(ENOENT), drv::PortMissing);
    EXPECT_EQ(drv::com::OpenErrorCode(ENXIO), drv::PortMissing);
    EXPECT_EQ(drv::com::OpenErrorCode(EBUSY), drv::PortBusy);
    EXPECT_EQ(drv::com::OpenErrorCode(EWOULDBLOCK), drv::PortBusy);
    EXPECT_EQ(drv::com::OpenErrorCode(EACCES), drv::PortDenied);
    EXPECT_EQ(drv::com::OpenErrorCode(EPERM), drv::PortDenied);
    EXPECT_EQ(drv::com::OpenErrorCode(ENOTTY), drv::NotSerialPort);
    EXPECT_EQ(drv::com::OpenErrorCode(EIO), drv::IoError);
}

TEST(CardNames, IsaSocketIsNamedAfterItsBaseInLowerCaseHex) {
    EXPECT_EQ(drv::cards::IsaSocketName(0x300), "pci726-300.sock");
    EXPECT_EQ(drv::cards::IsaSocketName(0x2A0), "pci726-2a0.sock");
    EXPECT_EQ(drv::cards::IsaSocketName(0x10), "pci726-010.sock");
    ::setenv("KV618_CARD_DIR", "/tmp/elsewhere", 1);
    EXPECT_EQ(drv::cards::CardFolder(), "/tmp/elsewhere");
    ::unsetenv("KV618_CARD_DIR");
    EXPECT_EQ(drv::cards::CardFolder(), wire::DefaultCardFolder());
}

}  // namespace

namespace {

// The worked examples of docs/protocol.md.
TEST(ProtocolDocument, WorkedExamplesHold) {
    const std::string check = "123456789";
    EXPECT_EQ(wire::Crc16(std::span(reinterpret_cast<const uint8_t*>(check.data()), check.size())), 0x4B37);
    wire::Request request;
    request.transaction = 1;
    request.address = 1;
    request.function = 0xC8;
    const auto requestFrame = wire::Encode(request);
    EXPECT_EQ(Bytes(requestFrame.begin(), requestFrame.end()),
              (Bytes{0xA5, 0x01, 0x00, 0x01, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xCC, 0xEF}));
    wire::Reply reply;
    reply.transaction = 1;
    reply.address = 1;
    reply.status = 0x22;
    reply.data = {'K', 'V', '-', '6'};
    const auto replyFrame = wire::Encode(reply);
    EXPECT_EQ(Bytes(replyFrame.begin(), replyFrame.end()),
              (Bytes{0x5A, 0x01, 0x00, 0x01, 0x00, 0x22, 0x4B, 0x56, 0x2D, 0x36, 0xDC, 0x83}));
}

}  // namespace
