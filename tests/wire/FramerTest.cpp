// The one sync-byte framer of the serial line, as the module uses it for
// requests and with a sync byte and frame size of its own.  How the serial
// library judges the replies it frames is in tests/drivers (StreamScanner).
#include <gtest/gtest.h>

#include <vector>

#include "SyncFramer.h"

namespace {

using Bytes = std::vector<uint8_t>;

wire::RequestFrame Frame(uint8_t address, uint8_t function, uint8_t subcode) {
    return wire::Encode(wire::Request{7, address, function, subcode, {}});
}

std::vector<wire::RequestFrame> Feed(wire::SyncFramer& framer, std::span<const uint8_t> bytes, unsigned& damaged) {
    framer.Add(bytes);
    return wire::TakeRequests(framer, damaged);
}

TEST(SyncFramer, ResynchronisesOnTheSyncByte) {
    wire::SyncFramer framer = wire::RequestFramer();
    unsigned damaged = 0;
    const auto good = Frame(1, 0xC8, 1);
    auto bad = Frame(1, 0xC8, 2);
    bad[12] ^= 0xFF;
    Bytes stream{0x00, 0x13, wire::RequestSync, 0x44};  // noise, a stray sync byte
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());
    // Fed in two pieces, split inside the good frame.
    auto frames = Feed(framer, std::span<const uint8_t>(stream).first(stream.size() - 5), damaged);
    EXPECT_TRUE(frames.empty());
    frames = Feed(framer, std::span<const uint8_t>(stream).last(5), damaged);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], good);
    EXPECT_GE(damaged, 2u);
    EXPECT_EQ(framer.Pending(), 0u);
    frames = Feed(framer, Bytes(good.begin(), good.end()), damaged);
    EXPECT_EQ(frames.size(), 1u);
}

// A sync byte and size of its own: frames of four bytes from 0x7E.  A whole
// frame passed (someone else's) is no noise, and a candidate inside it says so.
TEST(SyncFramer, AFramePassedIsNoNoiseButBytesBeforeASyncByteAre) {
    wire::SyncFramer framer(0x7E, 4);
    framer.Add(Bytes{0x7E, 0x7E, 1, 2});
    auto candidate = framer.Candidate();
    ASSERT_EQ(Bytes(candidate.begin(), candidate.end()), (Bytes{0x7E, 0x7E, 1, 2}));
    EXPECT_FALSE(framer.InsideFrame());
    framer.Pass(/*wasFrame=*/true);
    EXPECT_TRUE(framer.Candidate().empty()) << "three bytes held, a frame's worth has not come yet";
    EXPECT_FALSE(framer.HoldsNoise()) << "they are the passed frame's";
    framer.Add(Bytes{3});
    candidate = framer.Candidate();
    ASSERT_EQ(Bytes(candidate.begin(), candidate.end()), (Bytes{0x7E, 1, 2, 3}));
    EXPECT_TRUE(framer.InsideFrame());
    framer.Take();
    EXPECT_EQ(framer.Pending(), 0u);
    EXPECT_TRUE(framer.Candidate().empty());
    EXPECT_FALSE(framer.HoldsNoise());

    framer.Add(Bytes{9, 9, 0x7E});
    EXPECT_TRUE(framer.Candidate().empty()) << "a frame's worth has not come yet";
    EXPECT_EQ(framer.Pending(), 1u);
    EXPECT_TRUE(framer.HoldsNoise()) << "the two bytes before the sync byte";
    framer.Clear();
    EXPECT_FALSE(framer.HoldsNoise());
}

}  // namespace
