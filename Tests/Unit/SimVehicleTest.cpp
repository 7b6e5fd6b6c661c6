// The simulated vehicle: its ISO 15765-2 engine on a hand-driven clock, the
// ECUs' diagnostic services, the device's channels through the vehicle API,
// and the J2534 services' wire bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Sim/Core/DeviceState.h"
#include "Sim/Core/Dispatcher.h"
#include "Sim/Vehicle/EcuServices.h"
#include "Sim/Vehicle/IsoTp.h"
#include "Sim/Vehicle/KLine.h"
#include "Sim/Vehicle/Vehicle.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::CanFrame;
using sim::PtMessage;
namespace pt = sim::pt;

// ---- a clock the test moves ----------------------------------------------------------

class ManualScheduler : public sim::Scheduler {
public:
    uint64_t Now() override { return m_now; }
    TaskId After(uint32_t ms, Token owner, std::function<void()> task) override {
        const TaskId id = ++m_next;
        m_tasks[{m_now + ms, id}] = {std::move(owner), std::move(task)};
        return id;
    }
    void Cancel(TaskId id) override {
        for (auto it = m_tasks.begin(); it != m_tasks.end(); ++it)
            if (it->first.second == id) {
                m_tasks.erase(it);
                return;
            }
    }
    void Advance(uint64_t ms) {
        const uint64_t end = m_now + ms;
        while (!m_tasks.empty() && m_tasks.begin()->first.first <= end) {
            auto it = m_tasks.begin();
            m_now = std::max(m_now, it->first.first);
            auto task = std::move(it->second);
            m_tasks.erase(it);
            if (!task.first.expired()) task.second();
        }
        m_now = end;
    }

private:
    uint64_t m_now = 0;
    TaskId m_next = 0;
    std::map<std::pair<uint64_t, TaskId>, std::pair<Token, std::function<void()>>> m_tasks;
};

struct Sent {
    uint64_t at;
    CanFrame frame;
};

Bytes FrameBytes(const CanFrame& f) { return Bytes(f.data, f.data + f.dlc); }

CanFrame Frame(uint32_t id, Bytes data, bool extended = false) {
    CanFrame f;
    f.id = id;
    f.extended = extended;
    f.dlc = static_cast<uint8_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i) f.data[i] = data[i];
    return f;
}

Bytes Counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
    return b;
}

// ---- ISO 15765-2 ----------------------------------------------------------------------

class IsoTpTest : public ::testing::Test {
protected:
    IsoTpTest()
        : sender(clock, [this](const CanFrame& f) { sent.push_back({clock.Now(), f}); }),
          receiver(clock, [this](const CanFrame& f) { sent.push_back({clock.Now(), f}); }) {
        sender.SetAddress(0x7E0, false);
        receiver.SetFlowControl(0x7E0, false, true, 0x00);
        receiver.onMessage = [this](Bytes m) { messages.push_back(std::move(m)); };
        receiver.onFirstFrame = [this] { ++firstFrames; };
    }
    void Start(size_t n, bool pad = false) {
        ASSERT_TRUE(sender.Send(Counting(n), pad, 0xCC, [this](bool ok) { results.push_back(ok); }));
    }

    ManualScheduler clock;
    std::vector<Sent> sent;
    std::vector<bool> results;
    std::vector<Bytes> messages;
    int firstFrames = 0;
    sim::IsoTpSender sender;
    sim::IsoTpReceiver receiver;
};

TEST_F(IsoTpTest, SingleFramesWithAndWithoutPadding) {
    Start(3);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(FrameBytes(sent[0].frame), (Bytes{0x03, 0, 1, 2}));
    EXPECT_EQ(results, (std::vector<bool>{true}));
    Start(7, true);
    EXPECT_EQ(FrameBytes(sent[1].frame), (Bytes{0x07, 0, 1, 2, 3, 4, 5, 6}));
    Start(2, true);
    EXPECT_EQ(FrameBytes(sent[2].frame), (Bytes{0x02, 0, 1, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));
    EXPECT_FALSE(sender.Send({}, false, 0, nullptr));
    EXPECT_FALSE(sender.Send(Bytes(4096), false, 0, nullptr));
}

TEST_F(IsoTpTest, ConsecutiveFramesFollowBlockSizeAndStMin) {
    Start(30);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(FrameBytes(sent[0].frame), (Bytes{0x10, 30, 0, 1, 2, 3, 4, 5}));
    clock.Advance(50);
    sender.OnFlowControl(Frame(0x7E8, {0x30, 2, 20}));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(FrameBytes(sent[1].frame), (Bytes{0x21, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(sent[1].at, 50u);
    clock.Advance(19);
    EXPECT_EQ(sent.size(), 2u);
    clock.Advance(1);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].at, 70u);
    EXPECT_EQ(sent[2].frame.data[0], 0x22);
    // The block is done: the next frame waits for Flow Control.
    clock.Advance(500);
    EXPECT_EQ(sent.size(), 3u);
    sender.OnFlowControl(Frame(0x7E8, {0x30, 0, 0}));
    ASSERT_EQ(sent.size(), 4u);
    clock.Advance(0);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(FrameBytes(sent[4].frame), (Bytes{0x24, 27, 28, 29}));  // unpadded last frame
    EXPECT_EQ(results, (std::vector<bool>{true}));
    EXPECT_FALSE(sender.Busy());
}

TEST_F(IsoTpTest, SenderOverridesTheReceiversBlockSize) {
    sender.SetOverrides(0, 0);
    Start(30);
    sender.OnFlowControl(Frame(0x7E8, {0x30, 1, 100}));
    clock.Advance(0);
    clock.Advance(0);
    clock.Advance(0);
    EXPECT_EQ(sent.size(), 5u);
    EXPECT_EQ(results, (std::vector<bool>{true}));
}

TEST_F(IsoTpTest, MissingOrRefusingFlowControlFailsTheMessage) {
    Start(10);
    clock.Advance(999);
    EXPECT_TRUE(results.empty());
    clock.Advance(1);
    EXPECT_EQ(results, (std::vector<bool>{false}));

    // WAIT grants another N_Bs.
    Start(10);
    clock.Advance(900);
    sender.OnFlowControl(Frame(0x7E8, {0x31, 0, 0}));
    clock.Advance(900);
    EXPECT_EQ(results.size(), 1u);
    clock.Advance(100);
    EXPECT_EQ(results, (std::vector<bool>{false, false}));

    // Overflow ends it at once.
    Start(10);
    sender.OnFlowControl(Frame(0x7E8, {0x32, 0, 0}));
    EXPECT_EQ(results, (std::vector<bool>{false, false, false}));
}

TEST_F(IsoTpTest, ReceiverJoinsAndAnswersWithFlowControl) {
    receiver.SetBlockSize(2, 5);
    receiver.OnFrame(Frame(0x7E8, {0x10, 20, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(firstFrames, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame.id, 0x7E0u);
    EXPECT_EQ(FrameBytes(sent[0].frame), (Bytes{0x30, 2, 5, 0, 0, 0, 0, 0}));
    receiver.OnFrame(Frame(0x7E8, {0x21, 6, 7, 8, 9, 10, 11, 12}));
    receiver.OnFrame(Frame(0x7E8, {0x22, 13, 14, 15, 16, 17, 18, 19}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], Counting(20));
    EXPECT_EQ(sent.size(), 1u);  // complete before the block ended

    receiver.OnFrame(Frame(0x7E8, {0x02, 0xAB, 0xCD}));
    EXPECT_EQ(messages.back(), (Bytes{0xAB, 0xCD}));
}

TEST_F(IsoTpTest, ReceiverDropsBrokenMessages) {
    // A lost frame.
    receiver.OnFrame(Frame(0x7E8, {0x10, 20, 0, 1, 2, 3, 4, 5}));
    receiver.OnFrame(Frame(0x7E8, {0x22, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_FALSE(receiver.Receiving());
    // N_Cr.
    receiver.OnFrame(Frame(0x7E8, {0x10, 20, 0, 1, 2, 3, 4, 5}));
    clock.Advance(1000);
    EXPECT_FALSE(receiver.Receiving());
    receiver.OnFrame(Frame(0x7E8, {0x21, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_TRUE(messages.empty());
    // Too long for the receiver: overflow.
    receiver.SetMaxLength(100);
    sent.clear();
    receiver.OnFrame(Frame(0x7E8, {0x10, 200, 0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame.data[0], 0x32);
    EXPECT_FALSE(receiver.Receiving());
    // A Single frame whose length exceeds the frame.
    receiver.OnFrame(Frame(0x7E8, {0x05, 1, 2}));
    EXPECT_TRUE(messages.empty());
}

// ---- the ECUs' services ---------------------------------------------------------------------

// The ECU's answer to a request it must answer.
Bytes Answer(sim::EcuServices& ecu, sim::VehicleData& data, const Bytes& request, bool functional) {
    Bytes out;
    EXPECT_TRUE(ecu.Handle(data, request, functional, &out)) << "no answer";
    return out;
}

TEST(EcuServicesTest, ObdAnswers) {
    sim::VehicleData data;
    sim::EcuServices engine(sim::EcuRole::Engine);
    Bytes out;
    EXPECT_EQ(Answer(engine, data, {0x01, 0x00}, true), (Bytes{0x41, 0x00, 0x98, 0x1B, 0x80, 0x13}));
    EXPECT_EQ(Answer(engine, data, {0x01, 0x0C, 0x05, 0x0D}, false),
              (Bytes{0x41, 0x0C, 0x0C, 0x30, 0x05, 128, 0x0D, 0}));
    EXPECT_FALSE(engine.Handle(data, {0x01, 0x03}, false, &out));  // nothing supported asked
    EXPECT_EQ(Answer(engine, data, {0x03}, false), (Bytes{0x43, 0x02, 0x03, 0x01, 0x04, 0x20}));
    ASSERT_TRUE(engine.Handle(data, {0x09, 0x02}, false, &out));
    EXPECT_EQ(out.size(), 20u);
    EXPECT_EQ(std::string(out.begin() + 3, out.end()), data.vin);
    EXPECT_EQ(Answer(engine, data, {0x04}, false), (Bytes{0x44}));
    EXPECT_EQ(Answer(engine, data, {0x03}, false), (Bytes{0x43, 0x00}));

    sim::EcuServices transmission(sim::EcuRole::Transmission);
    EXPECT_EQ(Answer(transmission, data, {0x01, 0x00}, true), (Bytes{0x41, 0x00, 0x00, 0x08, 0x00, 0x00}));
    EXPECT_FALSE(transmission.Handle(data, {0x09, 0x02}, true, &out));
}

TEST(EcuServicesTest, UdsAnswersAndNegativeResponses) {
    sim::VehicleData data;
    sim::EcuServices engine(sim::EcuRole::Engine);
    Bytes out;
    EXPECT_EQ(Answer(engine, data, {0x10, 0x03}, false), (Bytes{0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}));
    EXPECT_EQ(Answer(engine, data, {0x22, 0xF1, 0x86}, false), (Bytes{0x62, 0xF1, 0x86, 0x03}));
    EXPECT_FALSE(engine.Handle(data, {0x3E, 0x80}, true, &out));  // suppressed
    EXPECT_EQ(Answer(engine, data, {0x3E, 0x00}, false), (Bytes{0x7E, 0x00}));
    EXPECT_EQ(Answer(engine, data, {0x22, 0x12, 0x34}, false), (Bytes{0x7F, 0x22, 0x31}));
    EXPECT_FALSE(engine.Handle(data, {0x22, 0x12, 0x34}, true, &out));  // functional: silent
    EXPECT_EQ(Answer(engine, data, {0x22, 0xF1}, false), (Bytes{0x7F, 0x22, 0x13}));
    EXPECT_EQ(Answer(engine, data, {0x10, 0x04}, false), (Bytes{0x7F, 0x10, 0x12}));
    EXPECT_EQ(Answer(engine, data, {0x27, 0x01}, false), (Bytes{0x7F, 0x27, 0x11}));
    EXPECT_FALSE(engine.Handle(data, {0x27, 0x01}, true, &out));
    ASSERT_TRUE(engine.Handle(data, {0x11, 0x01}, false, &out));
    EXPECT_EQ(engine.Session(), 1);
}

// ---- the vehicle through its API ----------------------------------------------------------------

class VehicleTest : public ::testing::Test {
protected:
    PtMessage Msg(uint32_t protocol, Bytes data, uint32_t txFlags = 0) {
        PtMessage m;
        m.protocolId = protocol;
        m.txFlags = txFlags;
        m.data = std::move(data);
        return m;
    }
    uint32_t Open(uint32_t protocol, uint32_t flags = 0) {
        uint32_t channel = 0;
        EXPECT_EQ(vehicle.Connect(protocol, flags, &channel), 0u);
        return channel;
    }
    void PassAll(uint32_t channel, uint32_t protocol) {
        PtMessage zero = Msg(protocol, {0});
        uint32_t filter = 0;
        ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &zero, &zero, nullptr, &filter), 0u);
    }

    sim::Vehicle vehicle;
};

TEST_F(VehicleTest, ConnectChecksProtocolFlagsAndUse) {
    uint32_t channel = 0;
    EXPECT_EQ(vehicle.Connect(0x99, 0, &channel), pt::kErrInvalidProtocolId);
    EXPECT_EQ(vehicle.LastError(), "Invalid protocol ID 153");
    EXPECT_EQ(vehicle.Connect(7, 0, &channel), pt::kErrNotSupported);
    EXPECT_EQ(vehicle.Connect(pt::kCan, pt::kFlagIso9141NoChecksum, &channel), pt::kErrInvalidFlags);
    const uint32_t can = Open(pt::kCan);
    EXPECT_EQ(vehicle.Connect(pt::kCan, 0, &channel), pt::kErrChannelInUse);
    const uint32_t iso = Open(pt::kIso15765);
    EXPECT_NE(can, iso);
    EXPECT_EQ(vehicle.ChannelCount(), 2u);
    EXPECT_EQ(vehicle.Disconnect(can), 0u);
    EXPECT_EQ(vehicle.Disconnect(can), pt::kErrInvalidChannelId);
    vehicle.Reset();
    EXPECT_EQ(vehicle.ChannelCount(), 0u);
}

TEST_F(VehicleTest, PassAndBlockFilters) {
    const uint32_t channel = Open(pt::kCan);
    std::vector<PtMessage> in;
    vehicle.InjectCanFrame(Frame(0x123, {1}));
    EXPECT_EQ(vehicle.ReadMsgs(channel, 5, 0, &in), pt::kErrBufferEmpty);  // no filter: nothing passes
    PtMessage mask = Msg(pt::kCan, {0xFF, 0xFF, 0xFF, 0x00});
    PtMessage pattern = Msg(pt::kCan, {0x00, 0x00, 0x01, 0x00});
    uint32_t pass = 0, block = 0;
    ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, &pattern, nullptr, &pass), 0u);
    PtMessage blockMask = Msg(pt::kCan, {0xFF, 0xFF, 0xFF, 0xFF});
    PtMessage blockPattern = Msg(pt::kCan, {0x00, 0x00, 0x01, 0x55});
    ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kBlockFilter, &blockMask, &blockPattern, nullptr, &block), 0u);
    vehicle.InjectCanFrame(Frame(0x123, {1, 2}));
    vehicle.InjectCanFrame(Frame(0x155, {3}));
    vehicle.InjectCanFrame(Frame(0x223, {4}));
    ASSERT_EQ(vehicle.ReadMsgs(channel, 5, 0, &in), 0u);
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].data, (Bytes{0, 0, 1, 0x23, 1, 2}));
    EXPECT_EQ(in[0].extraDataIndex, 6u);

    PtMessage shortPattern = Msg(pt::kCan, {0});
    EXPECT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, &shortPattern, nullptr, &pass),
              pt::kErrInvalidMsg);
    EXPECT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, nullptr, nullptr, &pass), pt::kErrNullParameter);
    EXPECT_EQ(vehicle.StartMsgFilter(channel, 9, &mask, &pattern, nullptr, &pass), pt::kErrFailed);
    uint32_t id = 0;
    for (int i = 0; i < 8; ++i) ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, &pattern, nullptr, &id), 0u);
    EXPECT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, &pattern, nullptr, &id), pt::kErrExceededLimit);
    EXPECT_EQ(vehicle.Clear(channel, pt::kClearMsgFilters), 0u);
    vehicle.InjectCanFrame(Frame(0x123, {1}));
    EXPECT_EQ(vehicle.ReadMsgs(channel, 5, 0, &in), pt::kErrBufferEmpty);
}

TEST_F(VehicleTest, ReadMsgsWaitsOnlyAsLongAsItMust) {
    vehicle.SetClockRate(100);
    const uint32_t channel = Open(pt::kCan);
    PassAll(channel, pt::kCan);
    std::vector<PtMessage> in;
    vehicle.InjectCanFrame(Frame(0x7E8, {1}));
    vehicle.InjectCanFrame(Frame(0x7E8, {2}));
    // Enough there: at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vehicle.ReadMsgs(channel, 1, 600000, &in), 0u);
    EXPECT_EQ(in.size(), 1u);
    // Fewer than asked: what came, after the time-out, capped by the device.
    EXPECT_EQ(vehicle.ReadMsgs(channel, 3, 600000, &in), pt::kErrTimeout);
    EXPECT_EQ(in.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(vehicle.ReadMsgs(channel, 3, 50, &in), pt::kErrTimeout);
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(vehicle.ReadMsgs(channel, 0, 0, &in), 0u);
    EXPECT_EQ(vehicle.ReadMsgs(channel + 10, 1, 0, &in), pt::kErrInvalidChannelId);
}

TEST_F(VehicleTest, DeviceFlowControlUsesTheChannelsBlockSize) {
    const uint32_t channel = Open(pt::kIso15765);
    std::vector<CanFrame> fromDevice;
    std::mutex lock;
    vehicle.SetCanTrace([&](const CanFrame& f) {
        std::lock_guard<std::mutex> guard(lock);
        if (f.id == 0x7E0) fromDevice.push_back(f);
    });
    ASSERT_EQ(vehicle.SetConfig(channel, {{pt::kIso15765Bs, 1}, {pt::kIso15765Stmin, 2}}), 0u);
    PtMessage mask = Msg(pt::kIso15765, {0xFF, 0xFF, 0xFF, 0xFF});
    PtMessage pattern = Msg(pt::kIso15765, {0, 0, 0x07, 0xE8});
    PtMessage flow = Msg(pt::kIso15765, {0, 0, 0x07, 0xE0}, pt::kTxIso15765FramePad);
    uint32_t filter = 0;
    ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kFlowControlFilter, &mask, &pattern, &flow, &filter), 0u);
    EXPECT_EQ(vehicle.StartMsgFilter(channel, pt::kFlowControlFilter, &mask, &pattern, &flow, &filter),
              pt::kErrNotUnique);
    uint32_t sent = 0;
    ASSERT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kIso15765, {0, 0, 0x07, 0xE0, 0x09, 0x02})}, 500, &sent), 0u);
    EXPECT_EQ(sent, 1u);
    std::vector<PtMessage> in;
    // TX_INDICATION, START_OF_MESSAGE, the answer.
    ASSERT_EQ(vehicle.ReadMsgs(channel, 3, 2000, &in), 0u);
    EXPECT_EQ(in[0].rxStatus, pt::kRxTxIndication);
    EXPECT_EQ(in[0].data, (Bytes{0, 0, 0x07, 0xE0}));
    EXPECT_EQ(in[1].rxStatus, pt::kRxStartOfMessage);
    EXPECT_EQ(in[1].data, (Bytes{0, 0, 0x07, 0xE8}));
    EXPECT_EQ(in[2].data.size(), 24u);
    vehicle.SetCanTrace(nullptr);
    // The request, then a Flow Control after the First frame and after each
    // Consecutive frame but the last.
    ASSERT_EQ(fromDevice.size(), 3u);
    EXPECT_EQ(FrameBytes(fromDevice[0]), (Bytes{0x02, 0x09, 0x02}));
    EXPECT_EQ(FrameBytes(fromDevice[1]), (Bytes{0x30, 1, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(FrameBytes(fromDevice[2]), (Bytes{0x30, 1, 2, 0, 0, 0, 0, 0}));
}

TEST_F(VehicleTest, ChannelAtAnotherRateHearsNothing) {
    const uint32_t channel = Open(pt::kCan);
    PassAll(channel, pt::kCan);
    ASSERT_EQ(vehicle.SetConfig(channel, {{pt::kDataRate, 250000}}), 0u);
    EXPECT_EQ(vehicle.SetConfig(channel, {{pt::kDataRate, 300000}}), pt::kErrInvalidBaudrate);
    EXPECT_EQ(vehicle.SetConfig(channel, {{pt::kLoopback, 2}}), pt::kErrInvalidIoctlValue);
    EXPECT_EQ(vehicle.SetConfig(channel, {{pt::kP1Max, 2}}), pt::kErrNotSupported);
    uint32_t sent = 0;
    EXPECT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kCan, {0, 0, 7, 0xDF, 2, 1, 0})}, 100, &sent), pt::kErrTimeout);
    EXPECT_EQ(sent, 0u);
    vehicle.InjectCanFrame(Frame(0x7E8, {1}));
    std::vector<PtMessage> in;
    EXPECT_EQ(vehicle.ReadMsgs(channel, 1, 0, &in), pt::kErrBufferEmpty);
    std::vector<sim::PtConfig> config = {{pt::kDataRate, 0}, {pt::kLoopback, 9}};
    ASSERT_EQ(vehicle.GetConfig(channel, &config), 0u);
    EXPECT_EQ(config[0].value, 250000u);
    EXPECT_EQ(config[1].value, 0u);
}

TEST_F(VehicleTest, ExtendedIdentifiers) {
    const uint32_t channel = Open(pt::kCan, pt::kFlagCan29Bit);
    PtMessage mask = Msg(pt::kCan, {0xFF, 0xFF, 0xFF, 0xFF});
    PtMessage pattern = Msg(pt::kCan, {0x18, 0xDA, 0xF1, 0x10});
    uint32_t filter = 0;
    ASSERT_EQ(vehicle.StartMsgFilter(channel, pt::kPassFilter, &mask, &pattern, nullptr, &filter), 0u);
    uint32_t sent = 0;
    EXPECT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kCan, {0, 0, 7, 0xDF, 2, 1, 0x0D})}, 0, &sent), pt::kErrInvalidMsg);
    ASSERT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kCan, {0x18, 0xDB, 0x33, 0xF1, 2, 1, 0x0D}, pt::kFlagCan29Bit)}, 0,
                                &sent),
              0u);
    std::vector<PtMessage> in;
    ASSERT_EQ(vehicle.ReadMsgs(channel, 1, 2000, &in), 0u);
    EXPECT_EQ(in[0].rxStatus, pt::kRxCan29Bit);
    EXPECT_EQ(in[0].data, (Bytes{0x18, 0xDA, 0xF1, 0x10, 0x03, 0x41, 0x0D, 0, 0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST_F(VehicleTest, PeriodicMessagesAndTheirLimits) {
    vehicle.SetClockRate(20);
    const uint32_t channel = Open(pt::kCan);
    ASSERT_EQ(vehicle.SetConfig(channel, {{pt::kLoopback, 1}}), 0u);
    uint32_t id = 0;
    const PtMessage present = Msg(pt::kCan, {0, 0, 7, 0xDF, 2, 0x3E, 0x80});
    EXPECT_EQ(vehicle.StartPeriodicMsg(channel, present, 4, &id), pt::kErrInvalidTimeInterval);
    EXPECT_EQ(vehicle.StartPeriodicMsg(channel, Msg(pt::kIso15765, {0, 0, 7, 0xDF}), 100, &id), pt::kErrMsgProtocolId);
    ASSERT_EQ(vehicle.StartPeriodicMsg(channel, present, 100, &id), 0u);
    std::vector<PtMessage> in;
    ASSERT_EQ(vehicle.ReadMsgs(channel, 3, 2000, &in), 0u);  // looped back, 100 ms apart
    EXPECT_EQ(in[0].rxStatus, pt::kRxTxMsgType);
    EXPECT_GE(in[2].timestamp - in[1].timestamp, 90000u);
    ASSERT_EQ(vehicle.StopPeriodicMsg(channel, id), 0u);
    EXPECT_EQ(vehicle.StopPeriodicMsg(channel, id), pt::kErrInvalidMsgId);
    uint32_t ids[10];
    for (uint32_t& i : ids) ASSERT_EQ(vehicle.StartPeriodicMsg(channel, present, 1000, &i), 0u);
    EXPECT_EQ(vehicle.StartPeriodicMsg(channel, present, 1000, &id), pt::kErrExceededLimit);
    EXPECT_EQ(vehicle.Clear(channel, pt::kClearPeriodicMsgs), 0u);
    EXPECT_EQ(vehicle.StopPeriodicMsg(channel, ids[0]), pt::kErrInvalidMsgId);
}

TEST_F(VehicleTest, KeywordProtocolAfterFastInit) {
    const uint32_t channel = Open(pt::kIso14230);
    PassAll(channel, pt::kIso14230);
    uint32_t sent = 0;
    std::vector<PtMessage> in;
    // Asleep: no answer.
    ASSERT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kIso14230, {0xC2, 0x33, 0xF1, 0x01, 0x0D})}, 0, &sent), 0u);
    EXPECT_EQ(vehicle.ReadMsgs(channel, 1, 200, &in), pt::kErrTimeout);
    PtMessage answer;
    ASSERT_EQ(vehicle.FastInit(channel, Msg(pt::kIso14230, {0xC1, 0x33, 0xF1, 0x81}), &answer), 0u);
    EXPECT_EQ(answer.data, (Bytes{0x83, 0xF1, 0x10, 0xC1, 0xE9, 0x8F, 0xBD}));
    ASSERT_EQ(vehicle.WriteMsgs(channel, {Msg(pt::kIso14230, {0xC2, 0x33, 0xF1, 0x01, 0x0D})}, 0, &sent), 0u);
    ASSERT_EQ(vehicle.ReadMsgs(channel, 1, 1000, &in), 0u);
    EXPECT_EQ(in[0].data, (Bytes{0x83, 0xF1, 0x10, 0x41, 0x0D, 0x00, 0xD2}));
    EXPECT_EQ(in[0].extraDataIndex, 6u);
    std::vector<uint8_t> keys;
    EXPECT_EQ(vehicle.FiveBaudInit(channel, {0x55}, &keys), pt::kErrFailed);
    const uint32_t can = Open(pt::kCan);
    EXPECT_EQ(vehicle.FastInit(can, answer, &answer), pt::kErrNotSupported);
}

// ---- the wire of the J2534 services --------------------------------------------------------------

class J2534WireTest : public ::testing::Test {
protected:
    J2534WireTest() : device(sim::SimConfig()) { sim::RegisterJ2534Services(table); }
    Bytes Run(const Bytes& request) {
        return sim::Dispatch(table, device, request.data(), request.size()).response;
    }
    static Bytes Le(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
    static Bytes Cat(std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    sim::ServiceTable table;
    sim::DeviceState device;
};

TEST_F(J2534WireTest, AnswersCarryTheirFieldsOnlyWithTheirStatuses) {
    EXPECT_EQ(Run(Cat({{0x7F, 0x00}, Le(5), Le(0)})), Cat({{0x7F, 0x00, 0x06}, Le(0), Le(1)}));
    EXPECT_EQ(Run(Cat({{0x7F, 0x00}, Le(5), Le(0)})), Cat({{0x7F, 0x00, 0x06}, Le(0x14)}));
    // ReadMsgs with nothing there and Timeout 0.
    EXPECT_EQ(Run(Cat({{0x7F, 0x02}, Le(1), Le(1), Le(0), Bytes(24, 0)})), Cat({{0x7F, 0x02, 0x06}, Le(0x10)}));
    // A ReadMsgs request shorter than its headers is refused.
    EXPECT_EQ(Run(Cat({{0x7F, 0x02}, Le(1), Le(2), Le(0), Bytes(24, 0)})),
              Cat({{0x7F, 0x02, 0x15}, Le(sim::kRefuseBadRequest)}));
    EXPECT_EQ(Run({0x7F, 0x09}), Cat({{0x7F, 0x09, 0x06}, Le(0), Le(11), {'V', 'T', '-', '3', '.', '1', '2', '.', '0', '7', 0},
                                      Le(6), {'0', '0', '.', '0', '0', 0}, Le(6), {'0', '4', '.', '0', '4', 0}}));
    device.voltage = 12345;
    EXPECT_EQ(Run(Cat({{0x7F, 0x0B}, Le(0), Le(3)})), Cat({{0x7F, 0x0B, 0x06}, Le(0), Le(3), Le(12345)}));
    EXPECT_EQ(Run(Cat({{0x7F, 0x0B}, Le(1), Le(6)})), Cat({{0x7F, 0x0B, 0x06}, Le(0x0F)}));
    // The text of that failure.
    const std::string why = "Invalid Ioctl ID 6";
    EXPECT_EQ(Run({0x7F, 0x0A}), Cat({{0x7F, 0x0A, 0x06}, Le(0), Le(19), Bytes(why.begin(), why.end()), {0}}));
    // GET_CONFIG: the pairs asked, in order.
    EXPECT_EQ(Run(Cat({{0x7F, 0x0B}, Le(1), Le(1), Le(2), Le(1), Le(3)})),
              Cat({{0x7F, 0x0B, 0x06}, Le(0), Le(1), Le(2), Le(1), Le(500000), Le(3), Le(0)}));
}

TEST_F(J2534WireTest, HostileAnswersGoBeyondEveryCapacity) {
    device.MutableConfig().hostile = true;
    const Bytes version = Run({0x7F, 0x09});
    ASSERT_GT(version.size(), 11u);
    EXPECT_GT(version[7] | (version[8] << 8), 80);
    Run(Cat({{0x7F, 0x00}, Le(5), Le(0)}));
    const Bytes config = Run(Cat({{0x7F, 0x0B}, Le(1), Le(1), Le(1), Le(1)}));
    EXPECT_EQ(Bytes(config.begin() + 11, config.begin() + 15), Le(4));  // 1 asked, 4 sent
}

}  // namespace
