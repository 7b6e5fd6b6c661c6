// The serial link on a pty: what its receive thread hands to the message layer
// (whole frames only, resynchronised on groups of 4 bytes, cut frames
// dropped), opening and closing, and one exchange through the message layer.
//
// The device's side of the pty is the simulator's pty transport; Inject puts
// raw bytes on the line. What reaches the message layer shows through it: a
// data frame in the Idle state is reported as 0x900d0007, a Poll answer sets
// the last activity.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pc/FrameCtrl/SerialIf.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/PtyTransport.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Support/Wait.h"

namespace {

using vtest::WaitUntil;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kNotConnected = 0x900d0007;
constexpr uint32_t kConnectFailed = 0xa00d0010;
const char kPortName[] = "COM7";
const Bytes kPollAnswer = {0x02, 0x7F, 0x02, 0x00, 0x06, 0x01, 0x88, 0x03};

// Lets the library clock run on by ms (it may be accelerated).
void LetClockPass(uint32_t ms) {
    const uint32_t start = vos::OsGetTickCount();
    WaitUntil([&] { return vos::OsGetTickCount() - start > ms; }, 10000);
}

class TestSerialIf : public CSerialIf {
public:
    using CSerialIf::CSerialIf;
    bool PortOpen() const { return vos::IsValidHandle(m_hPort); }
    bool ThreadsRunning() const { return m_hRecvThread || m_hSendThread; }
};

// A link whose receive thread hangs where it cannot be cancelled, until the
// test opens the gate.
class StuckReceiveLink : public TestSerialIf {
public:
    StuckReceiveLink(CMessage* message, std::shared_ptr<std::mutex> gate)
        : TestSerialIf(message, nullptr), m_gate(std::move(gate)) {}
    uint32_t ReceiveThread() override {
        std::shared_ptr<std::mutex> gate = m_gate;  // outlives the link
        vos::EventSet(m_hEventRecvStarted);
        gate->lock();
        gate->unlock();
        return 0;
    }

private:
    std::shared_ptr<std::mutex> m_gate;
};

class SerialIfPty : public ::testing::Test {
protected:
    virtual bool Paced() const { return false; }

    void SetUp() override {
        m_portsDir = vtest::MakeTempDir("vantro-ports-");
        ASSERT_FALSE(m_portsDir.empty());
        if (const char* old = std::getenv("VANTRO_PORTS_DIR")) m_oldPortsDir.reset(new std::string(old));
        vtest::SetEnv("VANTRO_PORTS_DIR", m_portsDir.c_str());
        device.reset(new sim::SimDevice(sim::SimConfig()));
        pty.reset(new sim::PtyTransport(*device));
        sim::PtyTransport::Options options;
        options.portsDir = m_portsDir;
        options.portName = kPortName;
        options.pace = Paced();
        std::string error;
        if (!pty->Start(options, &error)) GTEST_SKIP() << "no pty here: " << error;
    }

    void TearDown() override {
        link.reset();
        message.reset();
        if (device) device->Stop();
        if (pty) pty->Stop();
        pty.reset();
        device.reset();
        vos::OsSetClockRate(1);
        vtest::SetEnv("VANTRO_PORTS_DIR", m_oldPortsDir ? m_oldPortsDir->c_str() : nullptr);
        vtest::RemoveTree(m_portsDir);
    }

    void OpenLink() {
        message.reset(new CMessage());
        link.reset(new TestSerialIf(message.get(), kPortName));
        ASSERT_TRUE(link->PortOpen());
        message->SetLink(link.get());
    }
    void Inject(const Bytes& bytes) { pty->Inject(bytes.data(), bytes.size()); }
    // Sends a Poll answer and waits until the message layer has taken it:
    // everything injected before has been through the receiver by then.
    bool Sync() {
        const uint32_t before = message->GetLastActivity();
        LetClockPass(2);
        Inject(kPollAnswer);
        return WaitUntil([&] { return message->GetLastActivity() != before; });
    }
    size_t Delivered() const { return reports.Count(kNotConnected, "Pc/Message/Message"); }

    vtest::ReportCapture reports;
    std::unique_ptr<sim::SimDevice> device;
    std::unique_ptr<sim::PtyTransport> pty;
    std::unique_ptr<CMessage> message;
    std::unique_ptr<TestSerialIf> link;

private:
    std::string m_portsDir;
    std::unique_ptr<std::string> m_oldPortsDir;
};

TEST_F(SerialIfPty, FrameOf517BytesIsDeliveredAndOneOf518Dropped) {
    OpenLink();
    Inject(vtest::MakeFrame(0x00, Bytes(511, 0x41)));
    // Announces 512 bytes: its header is dropped and the rest read as headers
    // in groups of 4 (none starts with 02), two bytes pad it to a group.
    Bytes tooLong = vtest::MakeFrame(0x00, Bytes(511, 0x00));
    tooLong.insert(tooLong.end() - 2, 0x01);
    tooLong[2] = 0x00;
    tooLong[3] = 0x02;
    tooLong[tooLong.size() - 2] = 0x03;
    tooLong.push_back(0x00);
    tooLong.push_back(0x00);
    ASSERT_EQ(520u, tooLong.size());
    for (size_t i = 4; i < tooLong.size(); i += 4) ASSERT_NE(0x02, tooLong[i]) << i;
    Inject(tooLong);
    ASSERT_TRUE(Sync());
    EXPECT_EQ(1u, Delivered());
}

TEST_F(SerialIfPty, NoiseCostsWholeGroupsOfFourBytes) {
    OpenLink();
    const Bytes single = vtest::MakeFrame(0x00, {0x3B});  // 7 bytes
    // Four bytes of noise: the frame right after them is found.
    Inject(Bytes{0x55, 0xAA, 0x55, 0xAA});
    Inject(single);
    ASSERT_TRUE(Sync());
    EXPECT_EQ(1u, Delivered());
    // Three bytes of noise: the start byte ends up inside the first group
    // and the frame is lost; two more bytes bring the line back into step.
    Inject(Bytes{0x55, 0xAA, 0x55});
    Inject(single);
    Inject(Bytes{0x00, 0x00});
    ASSERT_TRUE(Sync());
    EXPECT_EQ(1u, Delivered());
    Inject(single);
    ASSERT_TRUE(Sync());
    EXPECT_EQ(2u, Delivered());
}

TEST_F(SerialIfPty, FrameCutShortIsDroppedAfterThePortTimeouts) {
    vos::OsSetClockRate(50);
    OpenLink();
    Inject(Bytes{0x02, 0x00, 0x0A, 0x00, 0x01, 0x02, 0x03});  // 16 announced, 7 sent
    LetClockPass(1500);  // past 1000 ms in all (and 100 ms between bytes)
    Inject(vtest::MakeFrame(0x00, {0x3B}));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(1u, Delivered()) << "the frame after the cut one arrives whole";
}

class SerialIfPacedPty : public SerialIfPty {
protected:
    bool Paced() const override { return true; }
};

TEST_F(SerialIfPacedPty, FrameArrivingInPiecesIsJoined) {
    // At 3840 bytes/s the frame takes about 135 ms and arrives in pieces of
    // at most 16 bytes, each within 100 ms of the one before.
    OpenLink();
    Inject(vtest::MakeFrame(0x00, Bytes(511, 0x37)));
    ASSERT_TRUE(Sync());
    EXPECT_EQ(1u, Delivered());
}

TEST_F(SerialIfPty, OpenWithoutANameFailsAndLeavesNoPort) {
    message.reset(new CMessage());
    link.reset(new TestSerialIf(message.get(), nullptr));
    EXPECT_EQ(1u, reports.Count(kConnectFailed, "Pc/FrameCtrl/SerialIf", 127));
    EXPECT_FALSE(link->PortOpen());
    EXPECT_FALSE(link->ThreadsRunning());
    EXPECT_EQ(kConnectFailed, link->Open(nullptr));
    EXPECT_EQ(2u, reports.Count(kConnectFailed, "Pc/FrameCtrl/SerialIf", 127));
    EXPECT_EQ(kStateClosed, message->GetState()) << "the message layer was not told";
}

TEST_F(SerialIfPty, OpenOfAnUnknownPortFails) {
    message.reset(new CMessage());
    link.reset(new TestSerialIf(message.get(), "COM99"));
    EXPECT_EQ(1u, reports.Count(kConnectFailed, "Pc/FrameCtrl/SerialIf", 133));
    EXPECT_FALSE(link->PortOpen());
}

TEST_F(SerialIfPty, OpenedLinkTellsTheMessageLayerAndCloseReleasesAll) {
    OpenLink();
    EXPECT_EQ(kStateIdle, message->GetState());
    EXPECT_EQ(static_cast<uint32_t>(kCommSerial), link->GetCommDevice());
    EXPECT_TRUE(link->ThreadsRunning());
    link->Close(0);
    EXPECT_FALSE(link->PortOpen());
    EXPECT_FALSE(link->ThreadsRunning());
    EXPECT_EQ(0u, reports.Reports().size());
}

TEST_F(SerialIfPty, CloseTerminatesAThreadThatDoesNotEnd) {
    vos::OsSetClockRate(50);  // the 5000 ms wait passes in 100 ms
    message.reset(new CMessage());
    auto gate = std::make_shared<std::mutex>();
    gate->lock();
    std::unique_ptr<StuckReceiveLink> stuck(new StuckReceiveLink(message.get(), gate));
    reports.Clear();  // the construction's Open had no name
    ASSERT_EQ(0u, stuck->Open(kPortName));
    ASSERT_TRUE(stuck->PortOpen());
    const auto start = std::chrono::steady_clock::now();
    stuck->Close(0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(stuck->PortOpen());
    EXPECT_FALSE(stuck->ThreadsRunning());
    EXPECT_LT(took, std::chrono::seconds(5));
    gate->unlock();
    stuck.reset();
    // The port can be opened again: the stuck thread does not hold it.
    OpenLink();
}

TEST_F(SerialIfPty, ExchangeWithPollsRunsThroughTheLink) {
    vos::OsSetClockRate(50);
    device->SetClockRate(50);
    ASSERT_TRUE(device->Faults().Add("late=3000@code=1"));  // the PC polls meanwhile
    std::mutex lock;
    std::vector<std::string> trace;
    device->SetTrace([&](const char* line) {
        std::lock_guard<std::mutex> guard(lock);
        trace.push_back(line);
    });
    device->Start();
    OpenLink();

    const uint8_t request[] = {0x01};
    ASSERT_EQ(0u, message->SendRequest(request, sizeof request, nullptr));
    ASSERT_EQ(0u, link->Send());
    EXPECT_EQ(0u, message->GetExchangeError());
    ASSERT_EQ(vos::kWaitObject0, vos::EventWait(message->GetResponseEvent(), 60000));
    EXPECT_EQ(0u, message->GetExchangeError());
    const uint8_t* response = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(0u, message->GetResponse(&response, &length));
    EXPECT_EQ(Bytes({0x01, 0x06, 0x01, 0x00, 0x00, 0x00}), Bytes(response, response + length));

    // The response event is set once the PC's ACK has been written.
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(lock);
        return trace.back() == "PC> 02 03 02 00 06 03 0E 03";
    }));
    device->SetTrace(nullptr);
    std::lock_guard<std::mutex> guard(lock);
    size_t polls = 0;
    for (const std::string& line : trace) polls += line == "PC> 02 7F 00 00 7F 03";
    EXPECT_GE(polls, 1u);
}

}  // namespace
