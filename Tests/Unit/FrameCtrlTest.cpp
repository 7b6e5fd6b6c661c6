// The frame controller: the candidate list, creating a link on first use,
// fail-over to the next candidate, waiting for the response, and the
// device-link exports. Links are LinkDoubles with real threads; the 2000 ms
// Reply limit runs on the accelerated clock.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsComPorts.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "Tessra/CmdIo.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_link.h"

using vtest::Bytes;
using vtest::Hex;

namespace {

const char kFrameCtrlPath[] = "Pc/FrameCtrl/FrameCtrl";
const char kApiPath[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

using PortsDir = vtest::ScopedPortsDir;

[[maybe_unused]] std::vector<std::string> CandidateNames(const FrameCtrl& fc) {
    std::vector<std::string> names;
    for (const LinkEntry* e = fc.GetCandidates(); e; e = e->next)
        names.push_back(e->commDevice == kCommUsb ? "USB" : std::string(e->portName ? e->portName : "?"));
    return names;
}

class FrameCtrlTest : public ::testing::Test {
protected:
    // Ten times faster: a silent candidate costs about 200 ms, and a device
    // still has 100 ms to answer the first frame of a fresh message layer.
    void SetUp() override { vos::OsSetClockRate(10); }
    void TearDown() override { vos::OsSetClockRate(1); }

    // One exchange straight through the two layers, as ExecuteCommand runs it.
    uint32_t Exchange(CMessage& msg, FrameCtrl& fc, const Bytes& request, Bytes* response = nullptr) {
        uint32_t r = msg.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr);
        if (r == 0) r = fc.Transmit();
        if (r == 0) r = fc.WaitResponse();
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        if (r == 0) r = msg.GetResponse(&bytes, &length);
        if (r == 0 && response) response->assign(bytes, bytes + length);
        return r;
    }

    vtest::ReportCapture reports;
    vtest::LinkBench bench;
    vtest::ScopedPortsDir noPorts{};  // unless a test lists its own
};

#if !defined(_WIN32)
// The ports directory is a POSIX notion; on Windows the spooler lists ports.

TEST_F(FrameCtrlTest, CandidatesAreUsbThenPortsWhoseNamesBeginWithUpperCaseCom) {
    {
        PortsDir ports({"COM3", "com3", "COM10", "LPT1", "Com4", "COMX"});
        CMessage msg;
        FrameCtrl fc(&msg);
        EXPECT_EQ((std::vector<std::string>{"USB", "COM10", "COM3", "COMX"}), CandidateNames(fc));
        EXPECT_EQ(nullptr, fc.GetLink());
        EXPECT_EQ(0u, fc.GetCurrentIndex());
    }
    {
        PortsDir none({});
        CMessage msg;
        FrameCtrl fc(&msg);
        EXPECT_EQ((std::vector<std::string>{"USB"}), CandidateNames(fc));
    }
    EXPECT_TRUE(bench.Constructed().empty()) << "no link before the first Transmit";
}

TEST_F(FrameCtrlTest, WithoutComPortsASilentUsbLinkIsDroppedAndMadeAgain) {
    PortsDir none({});
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().SetSilent(true);
    Bytes request{0x03};
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, Exchange(msg, fc, request));
    EXPECT_EQ(nullptr, fc.GetLink()) << "deleted after a pass without answer";
    EXPECT_EQ(nullptr, msg.GetLink());
    EXPECT_EQ(1u, bench.Usb().Closed());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_SEND_TIMEOUT, "Pc/Message/Message"));
    EXPECT_EQ(0u, reports.Count(QXR_ERROR_SEND_TIMEOUT, kFrameCtrlPath));

    bench.Usb().SetSilent(false);
    Bytes response;
    EXPECT_EQ(0u, Exchange(msg, fc, request, &response));
    EXPECT_EQ("03 06", Hex(response));
    EXPECT_EQ((std::vector<std::string>{"USB", "USB"}), bench.Constructed());
    uint32_t device = 9;
    EXPECT_EQ(0u, fc.GetCommDevice(&device));
    EXPECT_EQ(kCommUsb, device);
}

TEST_F(FrameCtrlTest, FailOverFromASilentUsbLinkToTheFirstAnsweringPort) {
    PortsDir ports({"COM3", "COM4"});
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().SetSilent(true);
    bench.Port("COM3").SetSilent(true);
    bench.Port("COM4").Device().SetHandler(vtest::AcceptWith({0xAB}));
    Bytes request(700, 0x11);
    request[0] = 0x22;
    Bytes response;
    ASSERT_EQ(0u, Exchange(msg, fc, request, &response));
    EXPECT_EQ("22 06 AB", Hex(response));
    EXPECT_EQ((std::vector<std::string>{"USB", "COM3", "COM4"}), bench.Constructed());
    EXPECT_EQ(2u, fc.GetCurrentIndex());
    ASSERT_NE(nullptr, fc.GetLink());
    EXPECT_EQ(fc.GetLink(), msg.GetLink());
    // Each candidate got the request from its first frame on.
    for (vtest::LinkEndpoint* ep : {&bench.Usb(), &bench.Port("COM3"), &bench.Port("COM4")}) {
        ASSERT_FALSE(ep->Written().empty());
        EXPECT_EQ(0x01, ep->Written()[0][1]) << ep->PortName();
    }
    EXPECT_EQ(request, bench.Port("COM4").Device().Requests().at(0));
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_SEND_TIMEOUT));
    uint32_t device = 0;
    EXPECT_EQ(0u, fc.GetCommDevice(&device));
    EXPECT_EQ(kCommSerial, device);

    // The link that answered stays: the next exchange does not fail over.
    ASSERT_EQ(0u, Exchange(msg, fc, request, &response));
    EXPECT_EQ(3u, bench.Constructed().size());
}

TEST_F(FrameCtrlTest, TheCandidateThatJustFailedIsSkippedInThePass) {
    PortsDir ports({"COM10", "COM3"});
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().SetSilent(true);
    Bytes request{0x07};
    ASSERT_EQ(0u, Exchange(msg, fc, request));
    EXPECT_EQ(1u, fc.GetCurrentIndex());

    bench.Port("COM10").SetSilent(true);
    ASSERT_EQ(0u, Exchange(msg, fc, request));
    EXPECT_EQ((std::vector<std::string>{"USB", "COM10", "USB", "COM3"}), bench.Constructed());
    EXPECT_EQ(2u, fc.GetCurrentIndex());

    // Nobody answers: the pass ends with the last time-out, the link is gone,
    // the next Transmit begins with USB again.
    bench.Port("COM3").SetSilent(true);
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, Exchange(msg, fc, request));
    EXPECT_EQ((std::vector<std::string>{"USB", "COM10", "USB", "COM3", "USB", "COM10"}), bench.Constructed());
    EXPECT_EQ(nullptr, fc.GetLink());
    bench.Usb().SetSilent(false);
    ASSERT_EQ(0u, Exchange(msg, fc, request));
    EXPECT_EQ("USB", bench.Constructed().back());
    EXPECT_EQ(0u, fc.GetCurrentIndex());
}

TEST_F(FrameCtrlTest, AFailingSendIsReturnedWithoutTryingOtherCandidates) {
    PortsDir ports({"COM3"});
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().SetSendFails(true);
    Bytes request{0x07};
    EXPECT_EQ(QXR_ERROR_PCIF_TRANSMIT, Exchange(msg, fc, request));
    EXPECT_EQ((std::vector<std::string>{"USB"}), bench.Constructed());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_PCIF_TRANSMIT, "Tests/Support/LinkDouble"));
    EXPECT_EQ(1u, reports.Reports().size()) << "passed up without a second report";
    EXPECT_NE(nullptr, fc.GetLink()) << "the link stays; its next Send may succeed";
    EXPECT_EQ(kStateIdle, msg.GetState()) << "the exchange was ended";

    bench.Usb().SetSendFails(false);
    EXPECT_EQ(0u, Exchange(msg, fc, request));
    EXPECT_EQ(1u, bench.Constructed().size());
}

TEST_F(FrameCtrlTest, ACandidateWithoutLinkObjectFailsWithTransmitError) {
    PortsDir ports({"COM3"});
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().SetNoLinkObject(true);
    Bytes request{0x07};
    EXPECT_EQ(QXR_ERROR_PCIF_TRANSMIT, Exchange(msg, fc, request));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_PCIF_TRANSMIT, kFrameCtrlPath));
    EXPECT_EQ(1u, reports.Reports().size());
    EXPECT_EQ(nullptr, fc.GetLink());

    // In the fail-over pass too; the layer is left ready for the next request.
    bench.Usb().SetNoLinkObject(false);
    bench.Usb().SetSilent(true);
    bench.Port("COM3").SetNoLinkObject(true);
    reports.Clear();
    EXPECT_EQ(QXR_ERROR_PCIF_TRANSMIT, Exchange(msg, fc, request));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_PCIF_TRANSMIT, kFrameCtrlPath));
    EXPECT_EQ(1u, fc.GetCurrentIndex());
    EXPECT_EQ(0u, msg.SendRequest(request.data(), 1, nullptr));
}
#endif  // !_WIN32

TEST_F(FrameCtrlTest, ErrorsOtherThanNoAnswerEndTheExchangeWithoutFailOver) {
    CMessage msg;
    FrameCtrl fc(&msg);
    bench.Usb().Device().SetNakCode(0x31);
    Bytes request{0x07};
    EXPECT_EQ(0x31u, Exchange(msg, fc, request));
    EXPECT_EQ(1u, bench.Constructed().size());
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(FrameCtrlTest, WaitResponsePassesTheExchangeErrorAndEndsTheExchange) {
    CMessage msg;
    FrameCtrl fc(&msg);
    EXPECT_EQ(QXR_ERROR_NO_LINK, fc.WaitResponse());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NO_LINK, kFrameCtrlPath, 223));

    bench.Usb().Device().SetHoldResponse(true);
    bench.Usb().Device().SetPollState(0);  // the device forgot the command
    Bytes request{0x07};
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 1, nullptr));
    ASSERT_EQ(0u, fc.Transmit());
    EXPECT_EQ(QXR_ERROR_RECV_TIMEOUT, fc.WaitResponse());
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_RECV_TIMEOUT, "Pc/Message/Message"));
    EXPECT_EQ(0u, reports.Count(QXR_ERROR_RECV_TIMEOUT, kFrameCtrlPath));
}

TEST_F(FrameCtrlTest, MissingMessageLayerAndNullOutputAreReported) {
    FrameCtrl fc(nullptr);
    EXPECT_EQ(QXR_ERROR_NO_MESSAGE, fc.Transmit());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NO_MESSAGE, kFrameCtrlPath, 148));
    EXPECT_TRUE(bench.Constructed().empty());
    EXPECT_EQ(QXR_ERROR_NO_LINK, fc.WaitResponse());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NO_LINK, kFrameCtrlPath, 223));
    EXPECT_EQ(QXR_ERROR_NULL_OUTPUT, fc.GetCommDevice(nullptr));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NULL_OUTPUT, kFrameCtrlPath, 324));
    uint32_t device = 7;
    EXPECT_EQ(0u, fc.GetCommDevice(&device));
    EXPECT_EQ(0u, device);
    EXPECT_EQ(3u, reports.Reports().size());
}

// ---- the exports -------------------------------------------------------------------

struct EmptyRecord : CCmdBase {
    EmptyRecord() : CCmdBase(0) {}
};

TEST_F(FrameCtrlTest, KovGetCommDeviceBeforeDuringAndAfterAnExchange) {
    ReleaseDeviceLink();
    uint32_t device = 5;
    EXPECT_EQ(0u, KovGetCommDevice(&device));
    EXPECT_EQ(0u, device) << "no frame controller yet";

    EmptyRecord request, response;
    ASSERT_EQ(0u, ExecuteCommand(3, &request, &response, 0, 0));
    // While the device works on the next command. (During the very first
    // exchange the new link may write before the frame controller holds it.)
    std::atomic<uint32_t> during{99};
    bench.Usb().Device().SetHandler([&](const Bytes& request) {
        uint32_t d = 98;
        KovGetCommDevice(&d);
        during = d;
        return vtest::AcceptWith({})(request);
    });
    ASSERT_EQ(0u, ExecuteCommand(3, &request, &response, 0, 0));
    EXPECT_EQ(kCommUsb, during.load());
    EXPECT_EQ(0u, KovGetCommDevice(&device));
    EXPECT_EQ(kCommUsb, device);

    EXPECT_EQ(0u, KovSelectCommDevice(2));
    EXPECT_EQ(0u, KovSelectCommDevice(0xFFFFFFFFu));
    EXPECT_EQ(0u, KovGetCommDevice(&device));
    EXPECT_EQ(kCommUsb, device) << "selecting changes nothing";

    EXPECT_EQ(0u, KovDisconnect());
    EXPECT_EQ(nullptr, g_pMessage);
    EXPECT_EQ(nullptr, g_pFrameCtrl);
    EXPECT_EQ(1u, bench.Usb().Closed());
    device = 5;
    EXPECT_EQ(0u, KovGetCommDevice(&device));
    EXPECT_EQ(0u, device);
    EXPECT_EQ(0u, KovDisconnect()) << "a second release finds nothing";

    EXPECT_EQ(QXR_ERROR_NULL_OUTPUT, KovGetCommDevice(nullptr));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NULL_OUTPUT, kApiPath, 2241));
    EXPECT_EQ(1u, reports.Reports().size());

    // The next exchange builds everything again.
    ASSERT_EQ(0u, ExecuteCommand(3, &request, &response, 0, 0));
    EXPECT_NE(nullptr, g_pFrameCtrl);
    EXPECT_EQ(2u, bench.Usb().Opened());
}

#if !defined(_WIN32)
TEST_F(FrameCtrlTest, KovGetCommDeviceReportsSerialAfterFailOver) {
    PortsDir ports({"COM3"});
    ReleaseDeviceLink();
    bench.Usb().SetSilent(true);
    EmptyRecord request, response;
    ASSERT_EQ(0u, ExecuteCommand(3, &request, &response, 0, 0));
    uint32_t device = 0;
    EXPECT_EQ(0u, KovGetCommDevice(&device));
    EXPECT_EQ(kCommSerial, device);
    KovDisconnect();
}
#endif

}  // namespace
