// The message layer: frames on the wire byte for byte, the states of an
// exchange, replies, polls, time-outs and every malformed frame.
//
// Most cases drive CMessage directly with a passive link (no threads): the
// test plays the link's transmit thread by taking the pending frame, and the
// device by handing frames to OnFrameReceived. The time-out cases also run
// through a LinkDouble whose transmit thread paces CheckTimeouts on the
// accelerated clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "Pc/Message/Message.h"
#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsMemory.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_errors.h"

using vtest::Bytes;
using vtest::FromHex;
using vtest::Hex;
using vtest::MakeAck;
using vtest::MakeFrame;
using vtest::MakeNak;
using vtest::MakePollAnswer;

namespace {

const char kPath[] = "Pc/Message/Message";

// A link without threads: the test moves the frames itself.
class PassiveLink : public CCommIf {
public:
    explicit PassiveLink(CMessage* message) : CCommIf(message, nullptr) { m_nCommDevice = kCommSerial; }
    uint32_t Open(const char*) override { return 0; }
    void Close(uint32_t) override {}
    uint32_t Send() override { return 0; }
    uint32_t ReceiveThread() override { return 0; }
    uint32_t TransmitThread() override { return 0; }

    bool SendRequested() const { return vos::EventWait(m_hEventSendRequest, 0) == vos::kWaitObject0; }
    void ClearSendRequest() { vos::EventReset(m_hEventSendRequest); }
    void EnableReceive() { vos::EventSet(m_hEventRecvEnable); }
    bool ReceiveEnabled() const { return vos::EventWait(m_hEventRecvEnable, 0) == vos::kWaitObject0; }
};

bool IsSet(vos::OsHandle event) { return vos::EventWait(event, 0) == vos::kWaitObject0; }

Bytes ResponseOf(CMessage& msg) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(0u, msg.GetResponse(&bytes, &length));
    return bytes ? Bytes(bytes, bytes + length) : Bytes();
}

Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return b;
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override { msg.SetLink(&link); }
    void TearDown() override {
        vos::SetAllocFailHook(nullptr);
        vos::OsSetClockRate(1);
    }

    uint32_t Receive(const Bytes& frame) {
        return msg.OnFrameReceived(frame.data(), static_cast<uint32_t>(frame.size()));
    }

    // What the link's transmit thread does: take the pending frame, clear the
    // slot, and report the end of the exchange after writing its last ACK.
    Bytes Take(bool* ends = nullptr, bool reportSent = true) {
        TxFrame* slot = nullptr;
        if (msg.GetPendingFrame(&slot) != 0) return {};
        Bytes frame(slot->Frame, slot->Frame + slot->Length);
        bool end = slot->EndsExchange != 0;
        slot->Length = 0;
        if (ends) *ends = end;
        if (end && reportSent) msg.OnFrameSent();
        return frame;
    }

    bool Pending() {
        TxFrame* slot = nullptr;
        return msg.GetPendingFrame(&slot) == 0;
    }

    // The clock at `tick`, and the layer's time-out check.
    void CheckAt(uint32_t tick) {
        vos::OsSetTickCount(tick);
        msg.CheckTimeouts();
    }

    // The stored response; the call must succeed.
    Bytes Response() { return ResponseOf(msg); }

    // Idle with a link, then the request sent and every frame acknowledged:
    // the layer waits for the response.
    void ToWaiting(const Bytes& request) {
        msg.OnLinkOpened();
        ASSERT_EQ(0u, msg.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr));
        while (Pending()) {
            Take();
            ASSERT_EQ(0u, Receive(MakeAck(3)));
        }
        ASSERT_EQ(kStateWaiting, msg.GetState());
    }

    CMessage msg;
    PassiveLink link{&msg};
    vtest::ReportCapture reports;
    Bytes request3B{0x3B};
};

// ---- the example exchange, byte for byte ------------------------------------------

TEST_F(MessageTest, ExampleExchangeByteForByte) {
    vos::OsSetTickCount(5000000);
    EXPECT_EQ(kStateClosed, msg.GetState());
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, msg.GetExchangeError());
    EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
    EXPECT_TRUE(IsSet(msg.GetAcceptEvent()));

    msg.OnLinkOpened();
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
    EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));

    ASSERT_EQ(0u, msg.SendRequest(request3B.data(), 1, nullptr));
    EXPECT_EQ(kStateSending, msg.GetState());
    EXPECT_FALSE(link.SendRequested()) << "the first frame waits for the link's Send";
    EXPECT_EQ("02 00 01 00 3B 3C 03", Hex(Take()));

    // The device's ACK (its state 3): no fragment left, the request is accepted.
    ASSERT_EQ(0u, Receive(MakeAck(3)));
    EXPECT_EQ(kStateWaiting, msg.GetState());
    EXPECT_TRUE(IsSet(msg.GetAcceptEvent()));
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_FALSE(Pending());

    // A second ACK is not expected now.
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeAck(3)));
    EXPECT_EQ(kStateWaiting, msg.GetState());

    // While the device works the PC polls.
    link.ClearSendRequest();
    EXPECT_EQ(0u, msg.CheckTimeouts());
    EXPECT_TRUE(link.SendRequested());
    EXPECT_EQ("02 7F 00 00 7F 03", Hex(Take()));
    EXPECT_EQ(0u, Receive(MakePollAnswer(2)));

    link.EnableReceive();
    link.ClearSendRequest();
    ASSERT_EQ(0u, Receive(FromHex("02 00 06 00 3B 06 00 00 00 00 47 03")));
    EXPECT_EQ(kStateReceiving, msg.GetState());
    EXPECT_FALSE(link.ReceiveEnabled()) << "StopReceive when the last frame is acknowledged";
    EXPECT_TRUE(link.SendRequested());
    EXPECT_FALSE(IsSet(msg.GetResponseEvent())) << "not before the ACK is written";

    bool ends = false;
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(Take(&ends, false)));
    EXPECT_TRUE(ends);
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
    EXPECT_EQ(0u, msg.OnFrameSent());
    EXPECT_EQ(kStateReceived, msg.GetState());
    EXPECT_TRUE(IsSet(msg.GetResponseEvent()));

    EXPECT_EQ("3B 06 00 00 00 00", Hex(Response()));
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
    // Only the stray ACK while Waiting was reported.
    EXPECT_EQ(1u, reports.Reports().size());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NOT_CONNECTED, kPath));
}

TEST_F(MessageTest, BadChecksumIsNakedAndTheNextFrameIsTaken) {
    ToWaiting(request3B);
    Bytes bad = FromHex("02 00 06 00 3B 06 00 00 00 00 48 03");
    EXPECT_EQ(QXR_ERROR_FRAME_CHECKSUM, Receive(bad));
    EXPECT_EQ(QXR_ERROR_FRAME_CHECKSUM, msg.GetExchangeError());
    EXPECT_EQ(kStateWaiting, msg.GetState());
    bool ends = true;
    EXPECT_EQ("02 03 05 00 15 04 00 0D 90 BE 03", Hex(Take(&ends)));
    EXPECT_FALSE(ends);
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_FRAME_CHECKSUM, kPath));
    EXPECT_EQ(1u, reports.Reports().size());

    ASSERT_EQ(0u, Receive(FromHex("02 00 06 00 3B 06 00 00 00 00 47 03")));
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(Take(&ends)));
    EXPECT_TRUE(ends);
    EXPECT_EQ("3B 06 00 00 00 00", Hex(Response()));
}

// ---- cutting requests into frames --------------------------------------------------

struct CutCase {
    size_t size;
    std::vector<std::pair<uint8_t, size_t>> frames;  // type, payload size
};

TEST_F(MessageTest, RequestsAreCutAt511Bytes) {
    const CutCase cases[] = {
        {1, {{0x00, 1}}},
        {511, {{0x00, 511}}},
        {512, {{0x01, 511}, {0x02, 1}}},
        {1022, {{0x01, 511}, {0x02, 511}}},
        {1023, {{0x01, 511}, {0x80, 511}, {0x02, 1}}},
    };
    msg.OnLinkOpened();
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes request = Pattern(c.size);
        ASSERT_EQ(0u, msg.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr));
        Bytes joined;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            EXPECT_EQ(i != 0, link.SendRequested()) << "frame " << i;
            link.ClearSendRequest();
            Bytes f = Take();
            ASSERT_EQ(c.frames[i].second + 6, f.size());
            EXPECT_EQ(0x02, f[0]);
            EXPECT_EQ(c.frames[i].first, f[1]);
            EXPECT_EQ(c.frames[i].second, static_cast<size_t>(f[2] | f[3] << 8));
            EXPECT_EQ(0x03, f.back());
            EXPECT_EQ(MakeFrame(f[1], Bytes(f.begin() + 4, f.end() - 2)), f) << "checksum";
            joined.insert(joined.end(), f.begin() + 4, f.end() - 2);
            EXPECT_EQ(kStateSending, msg.GetState());
            ASSERT_EQ(0u, Receive(MakeAck(3)));
        }
        EXPECT_EQ(request, joined);
        EXPECT_EQ(kStateWaiting, msg.GetState());
        EXPECT_FALSE(Pending());
        msg.EndExchange();
    }
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(MessageTest, MiddleNumbersRunTo0xFFAndStartAgainAt0x80) {
    // 131 fragments: First, Middles 2..130, Last.
    Bytes request = Pattern(130 * 511 + 1);
    msg.OnLinkOpened();
    ASSERT_EQ(0u, msg.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr));
    std::vector<uint8_t> types;
    while (Pending()) {
        types.push_back(Take()[1]);
        ASSERT_EQ(0u, Receive(MakeAck(3)));
    }
    ASSERT_EQ(131u, types.size());
    EXPECT_EQ(0x01, types[0]);
    EXPECT_EQ(0x80, types[1]);
    EXPECT_EQ(0x81, types[2]);
    EXPECT_EQ(0xFF, types[128]);  // fragment 129
    EXPECT_EQ(0x80, types[129]);  // fragment 130
    EXPECT_EQ(0x02, types[130]);

    // The same numbering is expected of the device's response.
    std::vector<Bytes> response = vtest::CutMessage(request);
    ASSERT_EQ(131u, response.size());
    for (const Bytes& f : response) {
        ASSERT_EQ(0u, Receive(f)) << "type " << int(f[1]);
        EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(Take()));
    }
    EXPECT_EQ(request, Response());
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(MessageTest, RepeatedMiddleIsNakedWithTheSequenceError) {
    ToWaiting(request3B);
    Bytes message = Pattern(3 * 511 + 10);
    std::vector<Bytes> frames = vtest::CutMessage(message);  // First, 0x80, 0x81, Last
    ASSERT_EQ(4u, frames.size());
    ASSERT_EQ(0u, Receive(frames[0]));
    Take();
    ASSERT_EQ(0u, Receive(frames[1]));
    Take();
    EXPECT_EQ(QXR_ERROR_FRAME_SEQUENCE, Receive(frames[1]));
    EXPECT_EQ(QXR_ERROR_FRAME_SEQUENCE, msg.GetExchangeError());
    EXPECT_EQ("02 03 05 00 15 05 00 0D 90 BF 03", Hex(Take()));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_FRAME_SEQUENCE, kPath));
    // A Middle that skips one is refused the same way.
    EXPECT_EQ(QXR_ERROR_FRAME_SEQUENCE, Receive(MakeFrame(0x82, Bytes(511, 1))));
    Take();

    ASSERT_EQ(0u, Receive(frames[2]));
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(Take()));
    ASSERT_EQ(0u, Receive(frames[3]));
    bool ends = false;
    Take(&ends);
    EXPECT_TRUE(ends);
    EXPECT_EQ(message, Response());
    EXPECT_EQ(2u, reports.Reports().size());
}

TEST_F(MessageTest, ANewFirstFrameStartsTheResponseOver) {
    ToWaiting(request3B);
    std::vector<Bytes> old = vtest::CutMessage(Pattern(600));
    ASSERT_EQ(0u, Receive(old[0]));
    Take();
    Bytes message = Pattern(520);
    message[0] = 0x55;
    for (const Bytes& f : vtest::CutMessage(message)) {
        ASSERT_EQ(0u, Receive(f));
        Take();
    }
    EXPECT_EQ(message, Response());
}

TEST_F(MessageTest, AnEmptyResponseFrameHandsOutNoBytesOfTheLastResponse) {
    ToWaiting(request3B);
    Receive(MakeFrame(0x00, {0x3B, 0x06, 0x01}));
    Take();
    ASSERT_EQ(3u, Response().size());

    ToWaiting(request3B);
    EXPECT_EQ(0u, Receive(MakeFrame(0x00, {})));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_STATE, kPath)) << "nothing to append";
    bool ends = false;
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(Take(&ends)));
    EXPECT_TRUE(ends);
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(0u, msg.GetResponse(&bytes, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(nullptr, bytes);
}

// ---- replies of the device ------------------------------------------------------------

TEST_F(MessageTest, DeviceNakEndsTheSendPhaseWithItsCode) {
    msg.OnLinkOpened();
    Bytes request = Pattern(1023);
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 1023, nullptr));
    Take();
    ASSERT_EQ(0u, Receive(MakeAck(3)));
    Take();
    EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));
    EXPECT_EQ(0u, Receive(MakeNak(0x12)));
    EXPECT_EQ(0x12u, msg.GetExchangeError());
    EXPECT_EQ(kStateSending, msg.GetState());
    EXPECT_TRUE(IsSet(msg.GetAcceptEvent()));
    EXPECT_FALSE(Pending()) << "no further fragment after a NAK";
    EXPECT_TRUE(reports.Reports().empty()) << "the device's code is not the library's failure";

    EXPECT_EQ(0u, msg.EndExchange());
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_EQ(0u, msg.GetExchangeError());
}

TEST_F(MessageTest, AnythingButAReplyWhileSendingIsUnexpected) {
    msg.OnLinkOpened();
    ASSERT_EQ(0u, msg.SendRequest(request3B.data(), 1, nullptr));
    Take();
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakePollAnswer(2)));
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, msg.GetExchangeError());
    EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeFrame(0x00, {1, 2})));
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_NOT_CONNECTED, kPath));
    EXPECT_EQ(kStateSending, msg.GetState());
    // The ACK that comes after is taken.
    EXPECT_EQ(0u, Receive(MakeAck(3)));
    EXPECT_EQ(kStateWaiting, msg.GetState());
    EXPECT_EQ(0u, msg.GetExchangeError());
}

// ---- frame checks --------------------------------------------------------------------

TEST_F(MessageTest, CheckFrameRefusesEachWrongShapeWithItsCode) {
    msg.OnLinkOpened();
    ASSERT_EQ(0u, msg.SendRequest(request3B.data(), 1, nullptr));
    Take();
    struct Case {
        const char* name;
        Bytes frame;
        uint32_t code;
    };
    Bytes ack = MakeAck(3);
    Bytes noStart = ack;
    noStart[0] = 0x01;
    Bytes noEnd = ack;
    noEnd.back() = 0x04;
    const Case cases[] = {
        {"size 5", Bytes{0x02, 0x03, 0x00, 0x00, 0x03}, QXR_ERROR_FRAME_LENGTH},
        {"size 3", Bytes{0x02, 0x03, 0x00}, QXR_ERROR_STATE},
        {"length field too large", FromHex("02 03 03 00 06 03 0E 03"), QXR_ERROR_FRAME_LENGTH},
        {"checksum", FromHex("02 03 02 00 06 03 0F 03"), QXR_ERROR_FRAME_CHECKSUM},
        {"start byte", noStart, QXR_ERROR_FRAME_FORMAT},
        {"end byte", noEnd, QXR_ERROR_FRAME_FORMAT},
        {"ACK of Length 3", MakeFrame(0x03, {0x06, 0x03, 0x00}), QXR_ERROR_FRAME_FORMAT},
        {"ACK of Length 1", MakeFrame(0x03, {0x06}), QXR_ERROR_FRAME_FORMAT},
        {"NAK of Length 2", MakeFrame(0x03, {0x15, 0x04}), QXR_ERROR_FRAME_FORMAT},
        {"Reply of Length 0", MakeFrame(0x03, {}), QXR_ERROR_FRAME_FORMAT},
        {"Reply neither ACK nor NAK", MakeFrame(0x03, {0x07, 0x03}), QXR_ERROR_FRAME_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reports.Clear();
        EXPECT_EQ(c.code, Receive(c.frame));
        EXPECT_EQ(c.code, msg.GetExchangeError());
        EXPECT_EQ(kStateSending, msg.GetState());
        EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));
        EXPECT_EQ(1u, reports.Count(c.code, kPath));
        EXPECT_EQ(1u, reports.Reports().size());
    }
    EXPECT_EQ(0u, Receive(MakeAck(3)));
    EXPECT_EQ(kStateWaiting, msg.GetState());
}

TEST_F(MessageTest, NullAndTinyFramesAreRefused) {
    for (uint32_t size : {0u, 1u}) {
        reports.Clear();
        EXPECT_EQ(QXR_ERROR_STATE, msg.OnFrameReceived(size ? request3B.data() : nullptr, size));
        EXPECT_EQ(1u, reports.Count(QXR_ERROR_STATE, kPath));
    }
    EXPECT_EQ(QXR_ERROR_STATE, msg.OnFrameReceived(nullptr, 6));
    ToWaiting(request3B);
    reports.Clear();
    EXPECT_EQ(QXR_ERROR_STATE, Receive(Bytes{0x02, 0x00}));
    EXPECT_EQ(1u, reports.Reports().size());
    // Answered with a NAK: the device may send the frame again.
    EXPECT_EQ("02 03 05 00 15 09 00 0D 90 C3 03", Hex(Take()));
}

TEST_F(MessageTest, FramesOfEveryWrongShapeNeverCrash) {
    std::mt19937 random(12345);
    auto byte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
    const uint8_t types[] = {0x00, 0x01, 0x02, 0x03, 0x7F, 0x80, 0x81, 0xFF, 0x04, 0x55};
    Bytes request = Pattern(1200);
    for (int round = 0; round < 6; ++round) {
        // Every state: Closed, Idle, Sending, Waiting, Receiving, Received.
        CMessage m;
        PassiveLink l(&m);
        m.SetLink(&l);
        auto feed = [&](const Bytes& f) { m.OnFrameReceived(f.data(), static_cast<uint32_t>(f.size())); };
        if (round >= 1) m.OnLinkOpened();
        if (round >= 2) m.SendRequest(request.data(), static_cast<uint32_t>(request.size()), nullptr);
        if (round >= 3)
            for (int i = 0; i < 3; ++i) feed(MakeAck(3));
        if (round >= 4) feed(MakeFrame(0x01, Bytes(511, 9)));
        if (round >= 5) {
            feed(MakeFrame(0x02, {1}));
            m.OnFrameSent();
        }
        for (int i = 0; i < 400; ++i) {
            Bytes f;
            switch (i % 4) {
                case 0: {  // random bytes of random size
                    f.resize(random() % 530);
                    for (auto& b : f) b = byte();
                    break;
                }
                case 1: {  // a valid frame cut short or made longer
                    Bytes payload(random() % 520);
                    for (auto& b : payload) b = byte();
                    f = MakeFrame(types[random() % 10], payload);
                    f.resize(random() % (f.size() + 8));
                    break;
                }
                case 2: {  // a valid frame of any type with a lying length field
                    Bytes payload(random() % 12);
                    for (auto& b : payload) b = byte();
                    f = MakeFrame(types[random() % 10], payload);
                    f[2] = byte();
                    f[3] = byte();
                    break;
                }
                default: {  // well-formed frames of every type
                    Bytes payload(random() % 6);
                    for (auto& b : payload) b = byte();
                    f = MakeFrame(types[random() % 10], payload);
                    break;
                }
            }
            feed(f);
            TxFrame* slot = nullptr;
            if (m.GetPendingFrame(&slot) == 0) {
                ASSERT_LE(slot->Length, kMaxFrame);
                slot->Length = 0;
            }
        }
        m.CheckTimeouts();
    }
}

// ---- polls and time-outs ------------------------------------------------------------------

TEST_F(MessageTest, PollAnswerWithState0Or1EndsTheWaitAtTheNextCheck) {
    for (uint8_t deviceState : {0, 1, 2, 5}) {
        SCOPED_TRACE(int(deviceState));
        msg.EndExchange();
        ToWaiting(request3B);
        vos::OsSetTickCount(7000000);
        reports.Clear();
        ASSERT_EQ(0u, Receive(MakePollAnswer(deviceState)));
        if (deviceState >= 2) {
            EXPECT_GE(msg.GetLastActivity(), 7000000u);
            EXPECT_EQ(0u, msg.CheckTimeouts());
            EXPECT_EQ(0u, msg.GetExchangeError());
            EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
            EXPECT_EQ("02 7F 00 00 7F 03", Hex(Take()));
        } else {
            EXPECT_EQ(0u, msg.GetLastActivity());
            EXPECT_EQ(0u, msg.CheckTimeouts());
            EXPECT_EQ(QXR_ERROR_RECV_TIMEOUT, msg.GetExchangeError());
            EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
            EXPECT_FALSE(Pending());
            EXPECT_EQ(1u, reports.Count(QXR_ERROR_RECV_TIMEOUT, kPath));
        }
    }
}

TEST_F(MessageTest, PollAnswersWhileIdleRefreshTheActivityOnly) {
    msg.OnLinkOpened();
    vos::OsSetTickCount(9000000);
    EXPECT_EQ(0u, Receive(MakePollAnswer(1)));
    EXPECT_GE(msg.GetLastActivity(), 9000000u);
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeAck(3)));
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeFrame(0x00, {1})));
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_EQ(0u, msg.CheckTimeouts());
    EXPECT_FALSE(Pending()) << "no Poll outside Waiting";
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_NOT_CONNECTED, kPath));
}

TEST_F(MessageTest, TimeoutsCountFromTheLastProgressInUnsigned32BitTicks) {
    const uint32_t base = 20000000;
    Bytes request = Pattern(600);

    // Sending: 2000 ms from the last Reply.
    msg.OnLinkOpened();
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 600, nullptr));
    Take();
    vos::OsSetTickCount(base);
    ASSERT_EQ(0u, Receive(MakeAck(3)));
    Take();
    CheckAt(base + 1800);
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));
    CheckAt(base + 2200);
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, msg.GetExchangeError());
    EXPECT_TRUE(IsSet(msg.GetAcceptEvent()));
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_SEND_TIMEOUT, kPath));
    msg.EndExchange();

    // Waiting: polls until 10000 ms have passed, then the response event.
    ToWaiting(request3B);
    vos::OsSetTickCount(base);
    ASSERT_EQ(0u, Receive(MakePollAnswer(2)));
    CheckAt(base + 9800);
    EXPECT_EQ("02 7F 00 00 7F 03", Hex(Take()));
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
    CheckAt(base + 10200);
    EXPECT_FALSE(Pending());
    EXPECT_EQ(QXR_ERROR_RECV_TIMEOUT, msg.GetExchangeError());
    EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
    msg.EndExchange();

    // Receiving: 10000 ms after the last response frame.
    ToWaiting(request3B);
    vos::OsSetTickCount(base);
    ASSERT_EQ(0u, Receive(MakeFrame(0x01, Bytes(511, 4))));
    Take();
    CheckAt(base + 9800);
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_FALSE(Pending()) << "no Poll while receiving";
    CheckAt(base + 10200);
    EXPECT_EQ(QXR_ERROR_RECV_TIMEOUT, msg.GetExchangeError());
    EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
    EXPECT_EQ(2u, reports.Count(QXR_ERROR_RECV_TIMEOUT, kPath));
    msg.EndExchange();

    // Closed and Idle have no time-outs.
    vos::OsSetTickCount(0xF0000000u);
    reports.Clear();
    msg.CheckTimeouts();
    msg.OnLinkClosed();
    msg.CheckTimeouts();
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(MessageTest, LimitsAreAddedInUnsigned32BitArithmetic) {
    struct Case {
        const char* name;
        uint32_t progress, before, after;  // 0 before: passed at the first check
    };
    const Case cases[] = {
        // 5000 ms before the wrap: the sum does not wrap, the limit passes
        // 2000 ms later.
        {"before the wrap", 0xFFFFFFFFu - 5000, 0xFFFFFFFFu - 3500, 0xFFFFFFFFu - 2500},
        // 1000 ms before the wrap: LastActivity + 2000 wraps to about 1000,
        // which the count is already above.
        {"sum wraps", 0xFFFFFFFFu - 1000, 0, 0xFFFFFFFFu - 900},
        // After the wrap the count starts low again: the limit is at 2100.
        {"after the wrap", 100, 1500, 2600},
    };
    Bytes request = Pattern(600);
    msg.OnLinkOpened();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0u, msg.SendRequest(request.data(), 600, nullptr));
        Take();
        vos::OsSetTickCount(c.progress);
        ASSERT_EQ(0u, Receive(MakeAck(3)));
        Take();
        if (c.before) {
            CheckAt(c.before);
            EXPECT_EQ(0u, msg.GetExchangeError());
        } else {
            EXPECT_LT(msg.GetLastActivity() + kReplyTimeoutMs, 2000u);
        }
        CheckAt(c.after);
        EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, msg.GetExchangeError());
        msg.EndExchange();
    }
    EXPECT_EQ(3u, reports.Count(QXR_ERROR_SEND_TIMEOUT, kPath));
}

// ---- lifecycle of the link and of an exchange ------------------------------------------------

TEST_F(MessageTest, LinkOpenAndCloseMoveTheStateAndTheEvents) {
    // A request stored while Closed waits for the link.
    ASSERT_EQ(0u, msg.SendRequest(request3B.data(), 1, nullptr));
    EXPECT_EQ(kStateClosed, msg.GetState());
    EXPECT_EQ(0u, msg.OnLinkOpened());
    EXPECT_EQ(kStateSending, msg.GetState());
    EXPECT_FALSE(link.SendRequested());
    EXPECT_EQ("02 00 01 00 3B 3C 03", Hex(Take()));
    EXPECT_FALSE(IsSet(msg.GetAcceptEvent()));

    // Closing in mid-exchange: both events set, the error says closed.
    EXPECT_EQ(0u, msg.OnLinkClosed());
    EXPECT_EQ(kStateClosed, msg.GetState());
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, msg.GetExchangeError());
    EXPECT_TRUE(IsSet(msg.GetAcceptEvent()));
    EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeAck(3)));

    // The next link starts the request over from its first frame.
    EXPECT_EQ(0u, msg.OnLinkOpened());
    EXPECT_EQ(kStateSending, msg.GetState());
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_EQ("02 00 01 00 3B 3C 03", Hex(Take()));

    // A link that opens while frames of a long request are under way.
    msg.EndExchange();
    Bytes request = Pattern(1023);
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 1023, nullptr));
    Take();
    ASSERT_EQ(0u, Receive(MakeAck(3)));
    link.ClearSendRequest();
    EXPECT_EQ(0u, msg.OnLinkOpened());
    EXPECT_EQ(kStateSending, msg.GetState());
    EXPECT_FALSE(link.SendRequested());
    Bytes first = Take();
    ASSERT_EQ(517u, first.size());
    EXPECT_EQ(0x01, first[1]);

    // A finished exchange is forgotten: a link opened afterwards has nothing
    // to send.
    msg.EndExchange();
    msg.OnLinkClosed();
    EXPECT_EQ(0u, msg.OnLinkOpened());
    EXPECT_EQ(kStateIdle, msg.GetState());
    EXPECT_FALSE(Pending());
}

TEST_F(MessageTest, OperationsInTheWrongStateAreRefused) {
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakePollAnswer(2))) << "Closed";
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NOT_CONNECTED, kPath));
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(QXR_ERROR_STATE, msg.GetResponse(&bytes, &length));
    EXPECT_EQ(QXR_ERROR_STATE, msg.OnFrameSent());
    EXPECT_EQ(0u, msg.EndExchange());
    EXPECT_EQ(kStateClosed, msg.GetState()) << "EndExchange leaves Closed alone";

    ToWaiting(request3B);
    EXPECT_EQ(QXR_ERROR_STATE, msg.SendRequest(request3B.data(), 1, nullptr));
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeFrame(0x02, {1}))) << "a Last while Waiting";
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeFrame(0x80, {1})));
    ASSERT_EQ(0u, Receive(MakeFrame(0x01, Bytes(511, 1))));
    Take();
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakePollAnswer(2))) << "a Poll while Receiving";
    EXPECT_EQ(QXR_ERROR_NOT_CONNECTED, Receive(MakeAck(3)));

    TxFrame* slot = nullptr;
    reports.Clear();
    EXPECT_EQ(QXR_ERROR_NO_DATA, msg.GetPendingFrame(nullptr));
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_NO_DATA, kPath));
    EXPECT_EQ(QXR_ERROR_NO_DATA, msg.GetPendingFrame(&slot));
    EXPECT_EQ(1u, reports.Reports().size()) << "an empty slot is not a failure";
}

TEST_F(MessageTest, SendRequestHandsBackThePreviousRequest) {
    Bytes a{1}, b{2};
    const uint8_t* previous = reinterpret_cast<const uint8_t*>(&previous);
    ASSERT_EQ(0u, msg.SendRequest(a.data(), 1, &previous));
    EXPECT_EQ(nullptr, previous);
    ASSERT_EQ(0u, msg.SendRequest(b.data(), 1, &previous));
    EXPECT_EQ(a.data(), previous);
    EXPECT_EQ("02 00 01 00 02 03 03", Hex(Take()));
    // Without bytes nothing is built.
    ASSERT_EQ(0u, msg.SendRequest(nullptr, 0, nullptr));
    EXPECT_FALSE(Pending());
}

// ---- a response that cannot be stored ----------------------------------------------------

TEST_F(MessageTest, LostResponseFragmentIsAcknowledgedButFailsTheExchange) {
    struct Case {
        const char* name;
        size_t responseSize;
        size_t failAllocation;  // the n-th allocation of the response fails
    };
    const Case cases[] = {{"single", 6, 1}, {"first of three", 1200, 1}, {"middle of three", 1200, 2},
                          {"last of three", 1200, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        msg.EndExchange();
        ToWaiting(request3B);
        reports.Clear();
        size_t count = 0;
        vos::SetAllocFailHook([&](size_t) { return ++count == c.failAllocation; });
        for (const Bytes& f : vtest::CutMessage(Pattern(c.responseSize))) {
            ASSERT_EQ(0u, Receive(f));
            bool ends = false;
            EXPECT_EQ(0x06, Take(&ends, false)[4]) << "still acknowledged";
            if (ends) {
                EXPECT_FALSE(IsSet(msg.GetResponseEvent()));
                EXPECT_EQ(0u, msg.OnFrameSent());
            }
        }
        vos::SetAllocFailHook(nullptr);
        EXPECT_TRUE(IsSet(msg.GetResponseEvent()));
        EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, msg.GetExchangeError());
        // Even when the error was lost on the way, no short response is handed out.
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(QXR_ERROR_OUT_OF_MEMORY, msg.GetResponse(&bytes, &length));
        EXPECT_EQ(nullptr, bytes);
        EXPECT_EQ(1u, reports.Count(QXR_ERROR_OUT_OF_MEMORY, kPath));
        EXPECT_EQ(1u, reports.Reports().size());
    }
    // The next response is whole again.
    ToWaiting(request3B);
    Receive(MakeFrame(0x00, {0x3B, 0x06}));
    Take();
    EXPECT_EQ(2u, Response().size());
}

// ---- through a link with its own threads, on the accelerated clock ------------------------

class MessageLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        vos::OsSetClockRate(10);
        link.reset(new vtest::LinkDouble(endpoint, &msg, nullptr));
        msg.SetLink(link.get());
    }
    void TearDown() override {
        msg.SetLink(nullptr);
        link.reset();
        vos::OsSetClockRate(1);
    }
    static bool WaitSet(vos::OsHandle event, uint32_t realMs) {
        // Waits on the library clock: real milliseconds times the rate.
        return vos::EventWait(event, realMs * vos::OsGetClockRate()) == vos::kWaitObject0;
    }

    vtest::ReportCapture reports;
    CMessage msg;
    vtest::LinkEndpoint endpoint{kCommSerial, "COM1"};
    std::unique_ptr<vtest::LinkDouble> link;
};

TEST_F(MessageLinkTest, SilentDeviceTimesOutAfter2000ms) {
    endpoint.SetSilent(true);
    Bytes request = Pattern(10);
    ASSERT_EQ(kStateIdle, msg.GetState());
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 10, nullptr));
    vos::OsSetTickCount(40000000);
    const uint32_t start = vos::OsGetTickCount();
    // LastActivity is still 0 (the request did not refresh it), so the first
    // check, about 1000 ms after the frame was written, ends the send phase.
    EXPECT_EQ(0u, link->Send());
    const uint32_t took = vos::OsGetTickCount() - start;
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, msg.GetExchangeError());
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(1u, endpoint.Written().size());
    EXPECT_EQ(1u, reports.Count(QXR_ERROR_SEND_TIMEOUT, kPath));
    msg.EndExchange();

    // After progress the device has 2000 ms for each Reply.
    endpoint.SetSilent(false);
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 10, nullptr));
    ASSERT_EQ(0u, link->Send());
    ASSERT_TRUE(WaitSet(msg.GetResponseEvent(), 5000));
    ResponseOf(msg);
    endpoint.SetSilent(true);
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 10, nullptr));
    const uint32_t second = vos::OsGetTickCount();
    EXPECT_EQ(0u, link->Send());
    EXPECT_EQ(QXR_ERROR_SEND_TIMEOUT, msg.GetExchangeError());
    EXPECT_GE(vos::OsGetTickCount() - second, 1900u);
}

TEST_F(MessageLinkTest, WaitingPollsAboutOnceASecondUntilTheResponseComes) {
    endpoint.Device().SetHoldResponse(true);
    endpoint.Device().SetHandler(vtest::AcceptWith({1, 2, 3}));
    Bytes request{0x21, 0xAA};
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 2, nullptr));
    ASSERT_EQ(0u, link->Send());
    ASSERT_EQ(0u, msg.GetExchangeError());
    const uint32_t start = vos::OsGetTickCount();
    // Three polls, each answered with the device's state 2.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (endpoint.Device().Polls() < 3 && std::chrono::steady_clock::now() < deadline)
        endpoint.WaitWritten(endpoint.Written().size() + 1, 200);
    ASSERT_GE(endpoint.Device().Polls(), 3u);
    EXPECT_GE(vos::OsGetTickCount() - start, 2500u);
    for (size_t i = 1; i < endpoint.Written().size(); ++i) EXPECT_EQ("02 7F 00 00 7F 03", Hex(endpoint.Written()[i]));
    EXPECT_FALSE(IsSet(msg.GetResponseEvent()));

    ASSERT_TRUE(endpoint.ReleaseResponse());
    ASSERT_TRUE(WaitSet(msg.GetResponseEvent(), 5000));
    EXPECT_EQ(0u, msg.GetExchangeError());
    EXPECT_EQ("21 06 01 02 03", Hex(ResponseOf(msg)));
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(endpoint.Written().back()));
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(MessageLinkTest, WaitingEndsAfter10000msOfSilenceOrAnIdleDevice) {
    for (uint8_t pollState : {2, 1}) {
        SCOPED_TRACE(int(pollState));
        reports.Clear();
        endpoint.Device().SetHoldResponse(true);
        endpoint.Device().SetPollState(pollState);
        Bytes request{0x05};
        ASSERT_EQ(0u, msg.SendRequest(request.data(), 1, nullptr));
        ASSERT_EQ(0u, link->Send());
        const uint32_t start = vos::OsGetTickCount();
        if (pollState >= 2) endpoint.SetSilent(true);  // polls go unanswered
        ASSERT_TRUE(WaitSet(msg.GetResponseEvent(), 10000));
        const uint32_t took = vos::OsGetTickCount() - start;
        EXPECT_EQ(QXR_ERROR_RECV_TIMEOUT, msg.GetExchangeError());
        if (pollState >= 2)
            EXPECT_GE(took, 9500u);
        else
            EXPECT_LT(took, 5000u) << "an idle device ends the wait at the check after its answer";
        EXPECT_EQ(1u, reports.Count(QXR_ERROR_RECV_TIMEOUT, kPath));
        msg.EndExchange();
        endpoint.SetSilent(false);
    }
}

TEST_F(MessageLinkTest, ResponseEventIsSetOnlyAfterTheFinalAckIsWritten) {
    endpoint.Device().SetHoldResponse(true);
    endpoint.Device().SetHandler(vtest::AcceptWith(Pattern(100)));
    Bytes request{0x10};
    ASSERT_EQ(0u, msg.SendRequest(request.data(), 1, nullptr));
    ASSERT_EQ(0u, link->Send());
    // The transmit thread stops before its next write (a Poll, or the ACK
    // that replaces it in the slot).
    endpoint.HoldWrites(true);
    ASSERT_TRUE(endpoint.ReleaseResponse());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (msg.GetState() != kStateReceiving && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(kStateReceiving, msg.GetState());
    ASSERT_TRUE(endpoint.WaitWriteHeld(5000));
    EXPECT_FALSE(IsSet(msg.GetResponseEvent())) << "the ACK of the response is not written yet";

    const size_t before = endpoint.Written().size();
    endpoint.HoldWrites(false);
    ASSERT_TRUE(WaitSet(msg.GetResponseEvent(), 5000));
    ASSERT_GT(endpoint.Written().size(), before);
    EXPECT_EQ("02 03 02 00 06 03 0E 03", Hex(endpoint.Written().back()));
    EXPECT_EQ(kStateReceived, msg.GetState());
    EXPECT_EQ(102u, ResponseOf(msg).size());
}

}  // namespace
