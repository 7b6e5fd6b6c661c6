// The simulated device seen from the wire: the test plays the PC with literal
// frames over the in-process transport and checks every byte the device
// sends back.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <fstream>
#include <string>
#include <vector>

#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/Services.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Core/Wire.h"
#include "Sim/Transport/InProcessTransport.h"
#include "Tests/Support/Bytes.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/LinkDouble.h"

namespace {

using vtest::Le32;
using vtest::MakeFrame;
using vtest::Cat;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWaitMs = 3000;  // real-time bound of every wait for the device
const Bytes kPcPoll = {0x02, 0x7F, 0x00, 0x00, 0x7F, 0x03};
const Bytes kPcAck = {0x02, 0x03, 0x02, 0x00, 0x06, 0x03, 0x0E, 0x03};
const Bytes kDeviceAck = {0x02, 0x03, 0x02, 0x00, 0x06, 0x02, 0x0D, 0x03};
const Bytes kPollIdle = {0x02, 0x7F, 0x02, 0x00, 0x06, 0x01, 0x88, 0x03};
const Bytes kPollBusy = {0x02, 0x7F, 0x02, 0x00, 0x06, 0x02, 0x89, 0x03};
const Bytes kPollAnswering = {0x02, 0x7F, 0x02, 0x00, 0x06, 0x03, 0x8A, 0x03};
// The PC's NAK carrying 0x900d0004 (bad checksum).
const Bytes kPcNakChecksum = {0x02, 0x03, 0x05, 0x00, 0x15, 0x04, 0x00, 0x0D, 0x90, 0xBE, 0x03};

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

// KernelIoControl (code 11) with the device's echo control: the response is
// 0B 06, Result 1, the input cut to outSize as a buffer, and its length:
// 14 + n bytes in all.
Bytes EchoRequest(const Bytes& input, uint32_t outSize) {
    return Cat({{0x0B}, Le32(0xA0000020), Le32(static_cast<uint32_t>(input.size())), input, Le32(outSize)});
}
Bytes EchoResponse(const Bytes& output) {
    return Cat({{0x0B, 0x06}, Le32(1), Le32(static_cast<uint32_t>(output.size())), output,
                Le32(static_cast<uint32_t>(output.size()))});
}

class SimDeviceWire : public ::testing::Test {
protected:
    SimDeviceWire() : device(sim::SimConfig()), wire(device) {}
    void SetUp() override { device.Start(); }
    void TearDown() override { device.Stop(); }

    Bytes Next(uint32_t ms = kWaitMs) {
        Bytes frame;
        EXPECT_TRUE(wire.NextFrame(&frame, ms)) << "no frame from the device";
        return frame;
    }
    // The next frame of this type; frames of other types before it (a frame
    // sent again while the test was busy) are skipped.
    Bytes NextOfType(uint8_t type) {
        for (int i = 0; i < 16; ++i) {
            const Bytes f = Next();
            if (f.size() < 2 || f[1] == type) return f;
        }
        return Bytes();
    }
    // Waits until the device has taken everything sent so far: a Poll is
    // answered only after the frames before it.
    void PollAndSettle() {
        wire.Send(kPcPoll);
        NextOfType(0x7F);
    }
    // True when the device sends nothing within ms.
    bool Quiet(uint32_t ms) { return !wire.WaitBytes(1, ms); }

    // The PC's side of sending a request: Single, or First, Middle and Last,
    // each answered by the device's ACK.
    void SendRequest(const Bytes& message) {
        if (message.size() <= 511) {
            wire.Send(MakeFrame(0x00, message));
            EXPECT_EQ(kDeviceAck, Next());
            return;
        }
        size_t offset = 0;
        for (size_t k = 1; offset < message.size(); ++k) {
            const size_t n = std::min<size_t>(511, message.size() - offset);
            uint8_t type = 0x01;
            if (k > 1) type = message.size() - offset <= 511 ? 0x02 : static_cast<uint8_t>(0x80 + (k - 2) % 128);
            wire.Send(MakeFrame(type, Bytes(message.begin() + offset, message.begin() + offset + n)));
            EXPECT_EQ(kDeviceAck, Next()) << "fragment " << k;
            offset += n;
        }
    }
    // The PC's side of receiving: every frame ACKed until Single or Last.
    Bytes ReceiveResponse(Bytes* types = nullptr, std::vector<size_t>* sizes = nullptr) {
        Bytes joined;
        for (int guard = 0; guard < 4096; ++guard) {
            const Bytes f = Next();
            if (f.size() < 6) return joined;
            if (types) types->push_back(f[1]);
            if (sizes) sizes->push_back(f.size());
            joined.insert(joined.end(), f.begin() + 4, f.end() - 2);
            wire.Send(kPcAck);
            if (f[1] == 0x00 || f[1] == 0x02) break;
        }
        return joined;
    }
    Bytes Exchange(const Bytes& message) {
        SendRequest(message);
        return ReceiveResponse();
    }

    sim::SimDevice device;
    sim::InProcessTransport wire;
};

// --- wire helpers -----------------------------------------------------------

TEST(SimWire, CommandCodesTravelInOneToFourBytes) {
    EXPECT_EQ(Bytes({0x21}), sim::EncodeCode(33));
    EXPECT_EQ(Bytes({0x7F, 0x00}), sim::EncodeCode(0x7F));
    EXPECT_EQ(Bytes({0xFF, 0x00}), sim::EncodeCode(0xFF));
    EXPECT_EQ(Bytes({0x7F, 0x0B}), sim::EncodeCode(0x0B7F));
    EXPECT_EQ(Bytes({0x7F, 0xFF, 0xFF, 0x00}), sim::EncodeCode(0x00FFFF7F));
    EXPECT_EQ(Bytes({0x21}), sim::EncodeCode(0xABCD0021));

    uint32_t code = 0;
    const uint8_t escape[] = {0x7F, 0x0B, 0x99};
    EXPECT_EQ(2u, sim::DecodeCode(escape, sizeof escape, &code));
    EXPECT_EQ(0x0B7Fu, code);
    const uint8_t four[] = {0xFF, 0xFF, 0xFF, 0x12};
    EXPECT_EQ(4u, sim::DecodeCode(four, 4, &code));
    EXPECT_EQ(0x12FFFFFFu, code);
    EXPECT_EQ(0u, sim::DecodeCode(four, 3, &code)) << "a code cut short";
    EXPECT_EQ(0u, sim::DecodeCode(escape, 0, &code));
}

TEST(SimWire, TextsConvertBetweenUtf8AndUtf16) {
    const std::u16string text = u"Gr\u00FC\u00DFe \u20AC \U0001F697";
    EXPECT_EQ(text, sim::ToUtf16(sim::ToUtf8(text)));
    EXPECT_EQ("\xE2\x82\xAC", sim::ToUtf8(u"\u20AC"));
    EXPECT_EQ(u"\uFFFD", sim::ToUtf16("\xC3")) << "a sequence cut short";
}

// --- fault rules ------------------------------------------------------------

TEST(SimFaultPlan, ParsesKindValueAndKeys) {
    sim::FaultRule r;
    std::string error;
    ASSERT_TRUE(sim::FaultPlan::Parse("checksum@code=3,times=2", &r, &error)) << error;
    EXPECT_EQ(sim::FaultKind::Checksum, r.kind);
    EXPECT_FALSE(r.anyCode);
    EXPECT_EQ(3u, r.code);
    EXPECT_EQ(2u, r.times);
    EXPECT_EQ(sim::FaultTarget::Data, r.on);

    ASSERT_TRUE(sim::FaultPlan::Parse(" nak=0x12 @ code=0x0B7F , frame=2 ", &r, &error)) << error;
    EXPECT_EQ(sim::FaultKind::Nak, r.kind);
    EXPECT_EQ(0x12u, r.value);
    EXPECT_EQ(0x0B7Fu, r.code);
    EXPECT_EQ(2u, r.frame);
    EXPECT_EQ(sim::FaultTarget::Reply, r.on);

    ASSERT_TRUE(sim::FaultPlan::Parse("late=3000@on=reply,times=0", &r, &error)) << error;
    EXPECT_EQ(3000u, r.value);
    EXPECT_EQ(sim::FaultTarget::Reply, r.on);
    EXPECT_EQ(0u, r.times);
    EXPECT_TRUE(r.anyCode);

    ASSERT_TRUE(sim::FaultPlan::Parse("close", &r, &error)) << error;
    EXPECT_EQ(1000u, r.value) << "the port comes back after a second by default";
    ASSERT_TRUE(sim::FaultPlan::Parse("delimiter=start", &r, &error)) << error;
    EXPECT_EQ(1u, r.value);
}

TEST(SimFaultPlan, RejectsRulesItDoesNotUnderstand) {
    sim::FaultRule r;
    std::string error;
    for (const char* bad : {"", "bogus", "nak", "refuse=x", "checksum@code", "checksum@colour=red",
                            "refuse=1@frame=2", "pollstate=2", "late=5@on=poll", "checksum@", "nak=1@on=data",
                            "times=2", "checksum@frame=0", "late=5@frame=2"}) {
        EXPECT_FALSE(sim::FaultPlan::Parse(bad, &r, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(SimFaultPlan, ReadsAFileOfRulesAndNamesTheBadLine) {
    const std::string dir = vtest::MakeTempDir("vantro-faults-");
    ASSERT_FALSE(dir.empty());
    const std::string good = dir + "/good.txt", bad = dir + "/bad.txt";
    std::ofstream(good) << "# comment\n\nchecksum@code=3\n  refuse=7 \n";
    std::ofstream(bad) << "checksum\nnonsense=1\n";
    sim::FaultPlan plan;
    std::string error;
    EXPECT_TRUE(plan.AddFile(good, &error)) << error;
    EXPECT_EQ(2u, plan.Rules().size());
    EXPECT_FALSE(plan.AddFile(bad, &error));
    EXPECT_NE(std::string::npos, error.find(":2:")) << error;
    EXPECT_EQ(2u, plan.Rules().size()) << "a bad file adds nothing";
    EXPECT_FALSE(plan.AddFile(dir + "/missing.txt", &error));
    vtest::RemoveTree(dir);
}

TEST(SimFaultPlan, TakeSelectsByCodeAndFrameAndCountsUses) {
    sim::FaultPlan plan;
    ASSERT_TRUE(plan.Add("checksum@code=3,frame=2,times=2"));
    sim::FaultRule r;
    EXPECT_FALSE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, true, 4, 2, &r)) << "other code";
    EXPECT_FALSE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, false, 0, 2, &r)) << "code unknown";
    EXPECT_FALSE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, true, 3, 1, &r)) << "other frame";
    EXPECT_FALSE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Reply, true, 3, 2, &r)) << "other target";
    EXPECT_TRUE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, true, 3, 2, &r));
    EXPECT_TRUE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, true, 3, 2, &r));
    EXPECT_FALSE(plan.Take(sim::FaultKind::Checksum, sim::FaultTarget::Data, true, 3, 2, &r)) << "used up";
    EXPECT_EQ(2u, plan.Fired(sim::FaultKind::Checksum));
    EXPECT_EQ(0u, plan.Pending());
}

// --- exchanges --------------------------------------------------------------

TEST_F(SimDeviceWire, AnswersTheExampleExchangeByteForByte) {
    device.State().acStatus = 0;
    wire.Send({0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03});
    EXPECT_EQ(kDeviceAck, Next());
    EXPECT_EQ(Bytes({0x02, 0x00, 0x06, 0x00, 0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x47, 0x03}), Next());
    wire.Send(kPcAck);
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next()) << "idle after the ACK of the last frame";
    EXPECT_EQ(1u, device.Stats().exchangesDone);
}

TEST_F(SimDeviceWire, PollAnswersCarryTheDeviceState) {
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next());

    ASSERT_TRUE(device.Faults().Add("late=60000@code=1"));  // works for a minute
    wire.Send(MakeFrame(0x00, {0x01}));
    EXPECT_EQ(kDeviceAck, Next());
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollBusy, Next()) << "working on the command";

    wire.Send(MakeFrame(0x00, {0x3B}));  // a new request ends the old one
    EXPECT_EQ(kDeviceAck, Next());
    const Bytes response = Next();
    ASSERT_GE(response.size(), 6u);
    EXPECT_EQ(0x3B, response[4]);
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollAnswering, Next()) << "waiting for the PC's Reply to the response";
    EXPECT_EQ(1u, device.Stats().abandoned);
}

TEST_F(SimDeviceWire, RequestFrameWithBadChecksumIsNaked) {
    wire.Send({0x02, 0x00, 0x01, 0x00, 0x3B, 0x3D, 0x03});
    EXPECT_EQ(Bytes({0x02, 0x03, 0x05, 0x00, 0x15, 0x11, 0xE0, 0x00, 0x00, 0x0E, 0x03}), Next());
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next()) << "the request was dropped";
}

TEST_F(SimDeviceWire, RequestFragmentsAreAcknowledgedAndJoined) {
    for (size_t size : {511u, 512u, 1023u, 66000u}) {
        const Bytes input = Pattern(size - 13, static_cast<uint8_t>(size));
        const Bytes request = EchoRequest(input, 16);
        ASSERT_EQ(size, request.size());
        EXPECT_EQ(EchoResponse(Bytes(input.begin(), input.begin() + 16)), Exchange(request)) << size;
    }
}

TEST_F(SimDeviceWire, MiddleFrameOutOfSequenceIsNaked) {
    const Bytes request = EchoRequest(Pattern(1200, 1), 4);
    wire.Send(MakeFrame(0x01, Bytes(request.begin(), request.begin() + 511)));
    EXPECT_EQ(kDeviceAck, Next());
    wire.Send(MakeFrame(0x81, Bytes(request.begin() + 511, request.begin() + 1022)));
    const Bytes nak = Next();
    ASSERT_EQ(11u, nak.size());
    EXPECT_EQ(Bytes({0x02, 0x03, 0x05, 0x00, 0x15, 0x12, 0xE0, 0x00, 0x00}), Bytes(nak.begin(), nak.begin() + 9));
    wire.Send(MakeFrame(0x02, {0x00}));
    EXPECT_EQ(0x15, Next()[4]) << "a Last without a First is refused too";
}

TEST_F(SimDeviceWire, ResponsesAreCutIntoFramesOf511Bytes) {
    struct Case {
        size_t size;
        Bytes types;
    };
    for (const Case& c : {Case{511, {0x00}}, Case{512, {0x01, 0x02}}, Case{1023, {0x01, 0x80, 0x02}}}) {
        const Bytes input = Pattern(c.size - 14, 3);
        SendRequest(EchoRequest(input, static_cast<uint32_t>(input.size())));
        Bytes types;
        std::vector<size_t> sizes;
        const Bytes joined = ReceiveResponse(&types, &sizes);
        ASSERT_EQ(c.types, types) << c.size;
        EXPECT_EQ(517u, sizes.front()) << c.size;
        if (c.size > 511) {
            EXPECT_EQ(7u, sizes.back()) << "a Last frame with one byte";
        }
        EXPECT_EQ(EchoResponse(input), joined) << c.size;
    }
}

TEST_F(SimDeviceWire, MiddleNumbersWrapFrom0xFFTo0x80) {
    const size_t size = 511 * 130 + 1;  // First, 128 Middles, one more Middle, Last
    const Bytes input = Pattern(size - 14, 9);
    SendRequest(EchoRequest(input, static_cast<uint32_t>(input.size())));
    Bytes types;
    EXPECT_EQ(EchoResponse(input), ReceiveResponse(&types));
    ASSERT_EQ(131u, types.size());
    EXPECT_EQ(0x01, types[0]);
    EXPECT_EQ(0x80, types[1]);
    EXPECT_EQ(0xFF, types[128]) << "fragment 129";
    EXPECT_EQ(0x80, types[129]) << "fragment 130 starts again";
    EXPECT_EQ(0x02, types[130]);
}

TEST_F(SimDeviceWire, NakedResponseFrameIsSentAgainThenGivenUp) {
    wire.Send(MakeFrame(0x00, {0x3B}));
    EXPECT_EQ(kDeviceAck, Next());
    const Bytes first = Next();
    for (int resend = 1; resend <= 3; ++resend) {
        wire.Send(kPcNakChecksum);
        EXPECT_EQ(first, Next()) << "resend " << resend;
    }
    wire.Send(kPcNakChecksum);
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next()) << "three resends, then the response is given up";
    EXPECT_EQ(3u, device.Stats().resends);
    EXPECT_EQ(1u, device.Stats().abandoned);
}

TEST_F(SimDeviceWire, ResponseFrameWithoutReplyIsSentAgainAfterTwoSeconds) {
    device.SetClockRate(50);  // the device's 2 s pass in 40 ms
    wire.Send(MakeFrame(0x00, {0x3B}));
    EXPECT_EQ(kDeviceAck, Next());
    const Bytes first = Next();
    EXPECT_EQ(first, Next()) << "no Reply: the frame comes again";
    wire.Send(kPcAck);
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, NextOfType(0x7F));
    EXPECT_EQ(1u, device.Stats().exchangesDone);
}

TEST_F(SimDeviceWire, BadRepliesFromThePcCountAsNone) {
    device.SetClockRate(50);
    wire.Send(MakeFrame(0x00, {0x3B}));
    EXPECT_EQ(kDeviceAck, Next());
    const Bytes first = Next();
    wire.Send({0x02, 0x03, 0x02, 0x00, 0x06, 0x03, 0x0F, 0x03});     // checksum wrong
    wire.Send(MakeFrame(0x03, {0x06, 0x03, 0x00}));                       // ACK of length 3
    EXPECT_EQ(first, Next()) << "sent again after the time-out";
    wire.Send(kPcAck);
    PollAndSettle();
    EXPECT_GE(device.Stats().resends, 1u);
    EXPECT_EQ(1u, device.Stats().exchangesDone);
}

TEST_F(SimDeviceWire, CommandsTheDeviceCannotTakeAreRefused) {
    EXPECT_EQ(Bytes({0x7E, 0x15, 0x01, 0xE0, 0x00, 0x00}), Exchange({0x7E})) << "unknown code";
    EXPECT_EQ(Bytes({0x7F, 0xF0, 0x15, 0x01, 0xE0, 0x00, 0x00}), Exchange({0x7F, 0xF0})) << "unknown escape code";
    EXPECT_EQ(Bytes({0x03, 0x15, 0x02, 0xE0, 0x00, 0x00}), Exchange({0x03, 0x01, 0x00})) << "short GetVoltage";
    EXPECT_EQ(Cat({{0x20, 0x06}, Le32(0xE002)}), Exchange({0x20})) << "the refusal is the device's last error";
}

TEST_F(SimDeviceWire, NoiseAndBrokenFramesFromThePcAreSkipped) {
    device.SetClockRate(50);  // the rest of a frame must come within 20 ms
    wire.Send({0x55, 0x03, 0xAA});                  // noise
    wire.Send({0x02, 0x00, 0x10, 0x02});            // length 0x210: not a frame start
    wire.Send({0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x04});  // wrong end byte
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next());
    wire.Send({0x02, 0x00, 0x05, 0x00, 0x01});      // its rest never comes
    ASSERT_TRUE(Quiet(200));
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next()) << "the partial frame was dropped";
    EXPECT_GT(device.Stats().bytesDiscarded, 10u);
}

TEST_F(SimDeviceWire, TraceShowsEveryFrameInBothDirections) {
    std::vector<std::string> lines;
    std::mutex lock;
    device.SetTrace([&](const char* line) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(line);
    });
    wire.Send(kPcPoll);
    Next();
    device.SetTrace(nullptr);
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("PC> 02 7F 00 00 7F 03", lines[0]);
    EXPECT_EQ("DEV> 02 7F 02 00 06 01 88 03", lines[1]);
}

// --- faults -----------------------------------------------------------------

class SimDeviceFaults : public SimDeviceWire {};

TEST_F(SimDeviceFaults, ChecksumHitsTheChosenCommandAndCountsItsTimes) {
    ASSERT_TRUE(device.Faults().Add("checksum@code=3,times=2"));
    EXPECT_EQ(Cat({{0x01, 0x06}, Le32(1)}), Exchange({0x01})) << "other commands are not hit";
    SendRequest(Cat({{0x03}, Le32(0)}));
    const Bytes bad1 = Next();
    wire.Send(kPcNakChecksum);
    const Bytes bad2 = Next();
    wire.Send(kPcNakChecksum);
    const Bytes good = Next();
    wire.Send(kPcAck);
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x03, 0x06}, Le32(0), {0x38, 0x31}})), good);
    for (const Bytes* bad : {&bad1, &bad2}) {
        ASSERT_EQ(good.size(), bad->size());
        EXPECT_NE(good[good.size() - 2], (*bad)[bad->size() - 2]);
        EXPECT_EQ(Bytes(good.begin(), good.end() - 2), Bytes(bad->begin(), bad->end() - 2));
    }
}

TEST_F(SimDeviceFaults, FrameNumberChoosesOneResponseFrame) {
    ASSERT_TRUE(device.Faults().Add("checksum@frame=2"));
    const Bytes input = Pattern(1000, 5);
    SendRequest(EchoRequest(input, 1000));
    const Bytes f1 = Next();
    wire.Send(kPcAck);
    const Bytes f2bad = Next();
    wire.Send(kPcNakChecksum);
    const Bytes f2 = Next();
    wire.Send(kPcAck);
    EXPECT_EQ(0x01, f1[1]);
    EXPECT_EQ(MakeFrame(0x01, Bytes(f1.begin() + 4, f1.end() - 2)), f1) << "frame 1 is intact";
    EXPECT_NE(f2bad, f2);
    EXPECT_EQ(MakeFrame(0x02, Bytes(f2.begin() + 4, f2.end() - 2)), f2) << "frame 2 again, intact";
}

TEST_F(SimDeviceFaults, LengthAndDelimitersAreCorrupted) {
    ASSERT_TRUE(device.Faults().Add("length@code=1"));
    ASSERT_TRUE(device.Faults().Add("delimiter@code=59"));
    ASSERT_TRUE(device.Faults().Add("delimiter=start@code=32"));
    SendRequest({0x01});
    const Bytes lengthBad = wire.WaitBytes(12, kWaitMs) ? wire.TakeAll() : Bytes();
    EXPECT_EQ(Bytes({0x02, 0x00, 0x07, 0x00, 0x01, 0x06, 0x01, 0x00, 0x00, 0x00, 0x0E, 0x03}), lengthBad);
    wire.Send(kPcNakChecksum);
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x01, 0x06}, Le32(1)})), Next());
    wire.Send(kPcAck);

    device.State().acStatus = 0;
    SendRequest({0x3B});
    EXPECT_EQ(Bytes({0x02, 0x00, 0x06, 0x00, 0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x47, 0x04}), Next());
    wire.Send(kPcNakChecksum);
    EXPECT_EQ(0x03, Next().back());
    wire.Send(kPcAck);

    SendRequest({0x20});
    ASSERT_TRUE(wire.WaitBytes(12, kWaitMs));
    EXPECT_EQ(0x5A, wire.TakeAll()[0]);
}

TEST_F(SimDeviceFaults, DroppedReplyStillRunsTheCommand) {
    ASSERT_TRUE(device.Faults().Add("dropreply@code=1"));
    wire.Send(MakeFrame(0x00, {0x01}));
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x01, 0x06}, Le32(1)})), Next()) << "the response comes, no Reply before it";
}

TEST_F(SimDeviceFaults, DroppedResponseFrameComesAfterTheReplyTimeout) {
    device.SetClockRate(50);
    ASSERT_TRUE(device.Faults().Add("dropframe@code=1"));
    SendRequest({0x01});
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x01, 0x06}, Le32(1)})), Next());
    EXPECT_GE(device.Stats().resends, 1u);
}

TEST_F(SimDeviceFaults, RepeatedMiddleFrameIsFollowedByTheNextOne) {
    ASSERT_TRUE(device.Faults().Add("repeat"));
    const Bytes input = Pattern(1100, 2);
    SendRequest(EchoRequest(input, 1100));
    Bytes f = Next();
    EXPECT_EQ(0x01, f[1]);
    wire.Send(kPcAck);
    const Bytes middle = Next();
    EXPECT_EQ(0x80, middle[1]);
    wire.Send(kPcAck);
    EXPECT_EQ(middle, Next()) << "the Middle frame once more";
    wire.Send({0x02, 0x03, 0x05, 0x00, 0x15, 0x05, 0x00, 0x0D, 0x90, 0xBF, 0x03});  // NAK 0x900d0005
    f = Next();
    EXPECT_EQ(0x02, f[1]) << "then the Last frame";
    wire.Send(kPcAck);
    PollAndSettle();
    EXPECT_EQ(1u, device.Stats().exchangesDone);
}

TEST_F(SimDeviceFaults, NakCarriesTheCodeAndDropsTheRequest) {
    ASSERT_TRUE(device.Faults().Add("nak=0x12@code=59"));
    wire.Send({0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03});
    EXPECT_EQ(Bytes({0x02, 0x03, 0x05, 0x00, 0x15, 0x12, 0x00, 0x00, 0x00, 0x2F, 0x03}), Next());
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollIdle, Next());
}

TEST_F(SimDeviceFaults, RefusalCarriesStatus21AndTheCode) {
    ASSERT_TRUE(device.Faults().Add("refuse=0x1234@code=1"));
    SendRequest({0x01});
    EXPECT_EQ(Bytes({0x02, 0x00, 0x06, 0x00, 0x01, 0x15, 0x34, 0x12, 0x00, 0x00, 0x62, 0x03}), Next());
    wire.Send(kPcAck);
    EXPECT_EQ(Cat({{0x20, 0x06}, Le32(0x1234)}), Exchange({0x20}));
}

TEST_F(SimDeviceFaults, LateReplyIsHeldBack) {
    ASSERT_TRUE(device.Faults().Add("late=300@on=reply"));
    wire.Send(MakeFrame(0x00, {0x01}));
    EXPECT_TRUE(Quiet(100)) << "no Reply yet";
    EXPECT_EQ(kDeviceAck, Next());
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x01, 0x06}, Le32(1)})), Next());
}

TEST_F(SimDeviceFaults, LateResponseKeepsAnsweringPollsAsBusy) {
    device.SetClockRate(50);
    ASSERT_TRUE(device.Faults().Add("late=15000@code=1"));  // 300 ms real
    SendRequest({0x01});
    wire.Send(kPcPoll);
    EXPECT_EQ(kPollBusy, Next());
    EXPECT_EQ(MakeFrame(0x00, Cat({{0x01, 0x06}, Le32(1)})), Next());
}

TEST_F(SimDeviceFaults, SilentDeviceAnswersNothingUntilTheNextRequest) {
    ASSERT_TRUE(device.Faults().Add("silent@code=1"));
    SendRequest({0x01});
    wire.Send(kPcPoll);
    EXPECT_TRUE(Quiet(200)) << "no response, no Poll answer";
    EXPECT_EQ(Cat({{0x01, 0x06}, Le32(1)}), Exchange({0x01}));

    ASSERT_TRUE(device.Faults().Add("silent@on=reply"));
    wire.Send(MakeFrame(0x00, {0x01}));
    EXPECT_TRUE(Quiet(200)) << "not even the Reply";
}

TEST_F(SimDeviceFaults, PollStateIsAnsweredAndTheResponseDropped) {
    ASSERT_TRUE(device.Faults().Add("pollstate=0@code=1"));
    SendRequest({0x01});
    wire.Send(kPcPoll);
    EXPECT_EQ(Bytes({0x02, 0x7F, 0x02, 0x00, 0x06, 0x00, 0x87, 0x03}), Next());
    EXPECT_TRUE(Quiet(100));
}

TEST_F(SimDeviceFaults, NoiseComesBeforeTheFrameWithoutStartBytes) {
    ASSERT_TRUE(device.Faults().Add("noise=7@on=poll"));
    wire.Send(kPcPoll);
    ASSERT_TRUE(wire.WaitBytes(15, kWaitMs));
    const Bytes all = wire.TakeAll();
    ASSERT_EQ(15u, all.size());
    for (size_t i = 0; i < 7; ++i) EXPECT_NE(0x02, all[i]) << i;
    EXPECT_EQ(kPollIdle, Bytes(all.begin() + 7, all.end()));
}

TEST_F(SimDeviceFaults, OversizeAnswersOneCommandAsAHostileDevice) {
    ASSERT_TRUE(device.Faults().Add("oversize@code=10"));
    const Bytes hostile = Exchange({0x0A});
    ASSERT_GE(hostile.size(), 10u);
    const uint32_t length = hostile[6] | hostile[7] << 8 | hostile[8] << 16 | static_cast<uint32_t>(hostile[9]) << 24;
    EXPECT_GT(length, 0xFFFFu) << "a path longer than a 16-bit length";
    EXPECT_EQ(hostile.size(), 10u + length);
    const Bytes normal = Exchange({0x0A});
    EXPECT_LT(normal.size(), 100u) << "only once";
    EXPECT_FALSE(device.State().Config().hostile);
}

TEST_F(SimDeviceFaults, ClosePortAndDetachAskTheTransportAndSendNoReply) {
    device.SetClockRate(50);
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<sim::FaultKind, bool>> calls;
    device.Faults().SetTransportAction([&](sim::FaultKind kind, bool down) {
        std::lock_guard<std::mutex> guard(lock);
        calls.emplace_back(kind, down);
        changed.notify_all();
    });
    ASSERT_TRUE(device.Faults().Add("close=5000@code=1"));   // back after 100 ms
    ASSERT_TRUE(device.Faults().Add("detach=5000@code=3"));
    wire.Send(MakeFrame(0x00, {0x01}));
    wire.Send(MakeFrame(0x00, Cat({{0x03}, Le32(0)})));
    {
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] { return calls.size() == 4; }));
        EXPECT_EQ(std::make_pair(sim::FaultKind::ClosePort, true), calls[0]);
        EXPECT_EQ(std::make_pair(sim::FaultKind::DetachUsb, true), calls[1]);
        EXPECT_EQ(std::make_pair(sim::FaultKind::ClosePort, false), calls[2]);
        EXPECT_EQ(std::make_pair(sim::FaultKind::DetachUsb, false), calls[3]);
    }
    EXPECT_EQ(0u, wire.Pending()) << "no Reply to either request";
    device.Faults().SetTransportAction(nullptr);
}

// --- status services on the wire -------------------------------------------

class SimStatusServices : public SimDeviceWire {};

TEST_F(SimStatusServices, ModeVoltageAcStatusAndLastError) {
    device.State().voltage = 13800;
    EXPECT_EQ(Cat({{0x03, 0x06}, Le32(0), {0xE8, 0x35}}), Exchange(Cat({{0x03}, Le32(0)})));
    EXPECT_EQ(Cat({{0x03, 0x06}, Le32(87), {0x00, 0x00}}), Exchange(Cat({{0x03}, Le32(9)})));
    EXPECT_EQ(Cat({{0x20, 0x06}, Le32(87)}), Exchange({0x20})) << "the failed selector set the last error";
    EXPECT_EQ(Cat({{0x02, 0x06}, Le32(0)}), Exchange(Cat({{0x02}, Le32(3)})));
    EXPECT_EQ(Cat({{0x01, 0x06}, Le32(3)}), Exchange({0x01}));
    EXPECT_EQ(Cat({{0x02, 0x06}, Le32(0)}), Exchange(Cat({{0x02}, Le32(0)})));
    EXPECT_EQ(Cat({{0x01, 0x06}, Le32(1)}), Exchange({0x01})) << "mode 0 returns to the normal mode";
    device.State().acStatus = 0;
    EXPECT_EQ(Cat({{0x3B, 0x06}, Le32(0)}), Exchange({0x3B}));
}

TEST_F(SimStatusServices, VersionAndAppPathTravelAsLengthAndUtf16) {
    const Bytes version = Exchange({0x00, 0x00, 0x00, 0x00, 0x00});  // empty name: the system
    // 00 06, Result, 0x0104, 0x0002, then u16 length + wstring for each text.
    ASSERT_GT(version.size(), 10u);
    EXPECT_EQ(Cat({{0x00, 0x06}, Le32(0), {0x04, 0x01, 0x02, 0x00}}), Bytes(version.begin(), version.begin() + 10));
    const Bytes product = {'V', 0, 'a', 0, 'n', 0, 't', 0, 'r', 0, 'o', 0, ' ', 0, 'V', 0, 'C', 0, 'I', 0, 0, 0};
    EXPECT_EQ(Cat({{22, 0}, Le32(22), product}), Bytes(version.begin() + 10, version.begin() + 10 + 28));

    const Bytes path = Exchange({0x0A});
    const std::u16string expected = u"\\Windows\\VantroApp.exe";
    ASSERT_EQ(10u + (expected.size() + 1) * 2, path.size());
    EXPECT_EQ(Cat({{0x0A, 0x06}, Le32(0), Le32(static_cast<uint32_t>((expected.size() + 1) * 2))}),
              Bytes(path.begin(), path.begin() + 10));
}

TEST_F(SimStatusServices, KernelIoControlSetsTheBatteryChargeMode) {
    const Bytes empty = Cat({{0x0B}, Le32(0xA0000010), Le32(0), Le32(0)});
    EXPECT_EQ(Cat({{0x0B, 0x06}, Le32(1), Le32(0), Le32(0)}), Exchange(empty));
    EXPECT_EQ(Cat({{0x0B, 0x06}, Le32(1), Le32(4), Le32(0), Le32(4)}),
              Exchange(Cat({{0x0B}, Le32(0xA0000014), Le32(0), Le32(4)})))
        << "charging off";
    Exchange(Cat({{0x0B}, Le32(0xA000000C), Le32(0), Le32(0)}));
    EXPECT_EQ(Cat({{0x0B, 0x06}, Le32(1), Le32(4), Le32(1), Le32(4)}),
              Exchange(Cat({{0x0B}, Le32(0xA0000014), Le32(0), Le32(4)})));
    EXPECT_EQ(Cat({{0x0B, 0x06}, Le32(0), Le32(0), Le32(0)}), Exchange(Cat({{0x0B}, Le32(0x1234), Le32(0), Le32(8)})))
        << "an unknown control answers FALSE";
}

TEST_F(SimStatusServices, VimInformationFollowsTheValidMask) {
    device.State().voltage = 12000;
    EXPECT_EQ(Cat({{0x0C, 0x06}, Le32(0), Le32(0x05), Le32(0x00020001), Le32(12000)}), Exchange(Cat({{0x0C}, Le32(1)})));
    const Bytes all = Exchange(Cat({{0x0C}, Le32(0)}));
    EXPECT_EQ(2u + 8u + 32u, all.size()) << "mask 0xFF: eight values";
}

TEST_F(SimStatusServices, FileVersionIsAFixedFileInfoOf52Bytes) {
    const std::u16string name = u"\\Windows\\VantroApp.exe";
    Bytes wname;
    for (char16_t c : name) {
        wname.push_back(static_cast<uint8_t>(c));
        wname.push_back(static_cast<uint8_t>(c >> 8));
    }
    wname.push_back(0);
    wname.push_back(0);
    const uint16_t length = static_cast<uint16_t>(wname.size());
    const Bytes reply = Exchange(Cat({{0x2C, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)},
                                      Le32(length), wname}));
    ASSERT_EQ(2u + 4u + 52u, reply.size());
    EXPECT_EQ(Cat({{0x2C, 0x06}, Le32(0), Le32(0xFEEF04BD)}), Bytes(reply.begin(), reply.begin() + 10));

    const Bytes missing = Exchange(Cat({{0x2C, 4, 0}, Le32(4), {'x', 0, 0, 0}}));
    EXPECT_EQ(Cat({{0x2C, 0x06}, Le32(2), Bytes(52, 0)}), missing);
}

}  // namespace
