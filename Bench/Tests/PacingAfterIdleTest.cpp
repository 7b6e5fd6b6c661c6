// The links write frames from the thread that makes them pending (Send, the
// receive thread), so their transmit thread is not woken for every frame; it
// must still check the message layer's time-outs only a second after the
// last write, whoever made it. Otherwise, after an idle gap of more than two
// seconds (the Sending time-out counts from the previous exchange's last
// progress), a check falling right after a request's first frame would fail
// an exchange whose Reply comes well within the second it is owed.
//
// Here every Reply comes 600 ms late and each request follows 2.1 s of
// silence: every exchange must succeed. (Real time: the device's delay is
// its own, and the gap is the condition under test.)
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "Bench/Support/Rig.h"
#include "vantro/vantro_status.h"

namespace bench {
namespace {

class PacingAfterIdle : public ::testing::TestWithParam<Link> {};

TEST_P(PacingAfterIdle, LateReplyAfterAnIdleGapIsStillAccepted) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(rig.Start(GetParam(), false, {"--fault", "late=600@on=reply,times=0"}, &error)) << error;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(KovGetMode(), 1u) << "exchange " << i;
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(550)) << "the Reply came late";
    }
    rig.Stop();
}

INSTANTIATE_TEST_SUITE_P(Links, PacingAfterIdle, ::testing::Values(Link::Pty, Link::Usb),
                         [](const ::testing::TestParamInfo<Link>& info) { return std::string(LinkName(info.param)); });

}  // namespace
}  // namespace bench
