// The floor client's wire code against the frames and codes of the protocol,
// written out byte by byte.
#include <gtest/gtest.h>

#include "Bench/Floor/FloorFrames.h"
#include "Bench/Support/Stats.h"

namespace floorc {
namespace {

TEST(FloorFrames, SingleFrameAckAndResponseOfGetVoltage) {
    const uint8_t request[] = {0x3B};
    EXPECT_EQ(Frame(kSingle, request, 1), (Bytes{0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03}));
    EXPECT_EQ(Ack(), (Bytes{0x02, 0x03, 0x02, 0x00, 0x06, 0x03, 0x0E, 0x03}));
    EXPECT_EQ(Frame(kPoll, nullptr, 0), (Bytes{0x02, 0x7F, 0x00, 0x00, 0x7F, 0x03}));

    const Bytes response = {0x02, 0x00, 0x06, 0x00, 0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x47, 0x03};
    RxFrame rx;
    ASSERT_TRUE(Parse(response.data(), response.size(), &rx));
    EXPECT_EQ(rx.type, kSingle);
    EXPECT_EQ(rx.payload, (Bytes{0x3B, 0x06, 0, 0, 0, 0}));

    Bytes bad = response;
    bad[10] ^= 1;
    EXPECT_FALSE(Parse(bad.data(), bad.size(), &rx));
    EXPECT_FALSE(Parse(response.data(), response.size() - 1, &rx));
}

TEST(FloorFrames, CuttingFollowsTheFragmentRule) {
    std::vector<Bytes> f = Cut(Bytes(511, 0xAA));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].size(), 517u);
    EXPECT_EQ(f[0][1], kSingle);

    f = Cut(Bytes(512, 0xAA));
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0][1], kFirst);
    EXPECT_EQ(f[0].size(), 517u);
    EXPECT_EQ(f[1], (Bytes{0x02, kLast, 0x01, 0x00, 0xAA, 0xAD, 0x03}));

    f = Cut(Bytes(1023, 0x01));
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1][1], 0x80);
    EXPECT_EQ(f[2][1], kLast);
    EXPECT_EQ(f[2][2], 1);

    // Fragment 129 is Middle 0xFF, fragment 130 wraps to 0x80.
    f = Cut(Bytes(511 * 130 + 1, 0));
    ASSERT_EQ(f.size(), 131u);
    EXPECT_EQ(f[128][1], 0xFF);
    EXPECT_EQ(f[129][1], 0x80);
    EXPECT_EQ(f[130][1], kLast);

    f = Cut(Bytes());
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0], (Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x03}));
}

TEST(FloorFrames, CommandCodesTakeOneToFourBytes) {
    EXPECT_EQ(Out().code(33).bytes(), (Bytes{0x21}));
    EXPECT_EQ(Out().code(0x7F).bytes(), (Bytes{0x7F, 0x00}));
    EXPECT_EQ(Out().code(0xFF).bytes(), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(Out().code(0x0B7F).bytes(), (Bytes{0x7F, 0x0B}));
    EXPECT_EQ(Out().code(0x00FFFF7F).bytes(), (Bytes{0x7F, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(Out().code(0x12345621).bytes(), (Bytes{0x21}));
    for (uint32_t code : {0x21u, 0x7Fu, 0xFFu, 0x0B7Fu, 0x00FFFF7Fu, 0x7FFFFF7Fu}) {
        const Bytes b = Out().code(code).bytes();
        In in(b);
        EXPECT_EQ(in.code(), code);
        EXPECT_TRUE(in.ok());
        EXPECT_EQ(in.left(), 0u);
    }
}

TEST(FloorFrames, FieldsAreLittleEndianAndReadsStopAtTheEnd) {
    EXPECT_EQ(Out().wstring(u"AB").bytes(), (Bytes{6, 0, 0, 0, 'A', 0, 'B', 0, 0, 0}));
    EXPECT_EQ(Out().u16(0x1234).u32(0xA1B2C3D4).bytes(), (Bytes{0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1}));
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(Out().buffer(data, 3).bytes(), (Bytes{3, 0, 0, 0, 1, 2, 3}));

    const Bytes b = {2, 0, 0, 0, 9, 8, 7};
    In in(b);
    uint32_t size = 0;
    const uint8_t* p = in.buffer(&size);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(p[0], 9);
    EXPECT_EQ(in.u8(), 7);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.u8(), 0);  // a short reader stays short
}

TEST(BenchStats, QuantilesByNearestRank) {
    EXPECT_EQ(bench::Median({5, 1, 3}), 3);
    EXPECT_EQ(bench::Median({4, 1, 3, 2}), 3);  // rank round(1.5) = 2
    EXPECT_EQ(bench::Quantile({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.9), 9);
    EXPECT_EQ(bench::Median({}), 0);
}

}  // namespace
}  // namespace floorc
