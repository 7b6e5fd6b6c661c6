// The floor client and the benchmark rig against the simulator process, on
// both links: the floor's exchanges get the device's answers, its copies
// arrive whole, the bytes it moves are the count the paced benchmark uses,
// and the library answers over the same rig in turn with the floor.
#include <gtest/gtest.h>

#include <string>

#include "Bench/Support/Files.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Transfers.h"
#include "Bench/Support/WireCount.h"
#include "vantro/vantro_status.h"

namespace bench {
namespace {

class FloorOnRig : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(rig.Start(GetParam(), false, &error)) << error;
    }
    void TearDown() override { rig.Stop(); }

    floorc::Commands& Floor() {
        std::string error;
        floorc::Commands* floor = rig.UseFloor(&error);
        EXPECT_NE(floor, nullptr) << error;
        return *floor;
    }

    Rig rig;
};

// Each side has its own simulator, so their exchanges can alternate one by
// one; both simulators serve the same device folder.
TEST_P(FloorOnRig, LibraryAndFloorAlternateExchangeByExchange) {
    uint32_t mode = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(KovGetMode(), 1u);
        ASSERT_TRUE(Floor().GetMode(&mode)) << Floor().Error();
        EXPECT_EQ(mode, 1u);
    }
    EXPECT_EQ(Floor().Exchanges(), 3u);

    Transfer transfer(rig, Op::Get, 5000);
    ASSERT_TRUE(transfer.Ready());
    EXPECT_TRUE(transfer.ByFloor(Floor()));
    EXPECT_TRUE(transfer.Arrived());
    EXPECT_TRUE(transfer.ByLibrary());
    EXPECT_TRUE(transfer.Arrived());
}

TEST_P(FloorOnRig, CommandExecuteEchoesTheRecord) {
    floorc::Bytes record(700);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
    floorc::Bytes answer;
    ASSERT_TRUE(Floor().CommandExecute(record, &answer)) << Floor().Error();
    EXPECT_EQ(answer, record);
}

// Sizes around the chunk: empty, one byte short of a chunk, two chunks and
// a bit.
TEST_P(FloorOnRig, CopiesArriveWholeAndMoveTheCountedBytes) {
    floorc::Commands& floor = Floor();
    for (Op op : {Op::Get, Op::Put, Op::Vup}) {
        for (uint64_t size : {uint64_t(0), uint64_t(2537), uint64_t(2 * 2538 + 100)}) {
            Transfer transfer(rig, op, size);
            ASSERT_TRUE(transfer.Ready());
            const uint32_t exchangesBefore = floor.Exchanges();
            const uint64_t bytesBefore = rig.FloorBytesMoved();
            ASSERT_TRUE(transfer.ByFloor(floor)) << OpName(op) << " " << size << ": " << floor.Error();
            EXPECT_TRUE(transfer.Arrived()) << OpName(op) << " " << size;
            EXPECT_EQ(floor.Exchanges() - exchangesBefore, transfer.Exchanges()) << OpName(op) << " " << size;
            EXPECT_EQ(rig.FloorBytesMoved() - bytesBefore, TransferWireBytes(op, size)) << OpName(op) << " " << size;
        }
    }
}

TEST_P(FloorOnRig, LibraryCopiesTheSameFiles) {
    for (Op op : {Op::Get, Op::Put, Op::Vup}) {
        Transfer transfer(rig, op, 3 * 2538 + 1);
        ASSERT_TRUE(transfer.Ready());
        EXPECT_TRUE(transfer.ByLibrary()) << OpName(op);
        EXPECT_TRUE(transfer.Arrived()) << OpName(op);
    }
}

INSTANTIATE_TEST_SUITE_P(Links, FloorOnRig, ::testing::Values(Link::Pty, Link::Usb),
                         [](const ::testing::TestParamInfo<Link>& info) { return std::string(LinkName(info.param)); });

TEST(WireCount, FramesAndRepliesOfOneMessage) {
    EXPECT_EQ(MessageWireBytes(1), 1u + 6 + 8);
    EXPECT_EQ(MessageWireBytes(511), 511u + 14);
    EXPECT_EQ(MessageWireBytes(512), 512u + 28);
    EXPECT_EQ(MessageWireBytes(2549), 2549u + 5 * 14);
}

}  // namespace
}  // namespace bench
