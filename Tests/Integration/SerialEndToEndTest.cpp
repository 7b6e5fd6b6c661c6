// The library against the simulated device over a pty, as over a COM port:
// ExecuteCommand with requests and responses from 1 byte to 64 KiB, the
// device status exports, and every fault of the device with the result the
// caller sees and a good exchange right after.
//
// The frame controller tries USB first; here the USB candidate is a link whose
// device never answers, so every new frame controller fails over to the one
// COM port of a private ports folder, which links to the simulator's pty.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/FrameCtrl/SerialIf.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/PtyTransport.h"
#include "Tessra/CmdCore.h"
#include "Tests/Support/Bytes.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/RawRecords.h"
#include "Tests/Support/Wait.h"
#include "Tests/Support/WideText.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace {

using vtest::WaitUntil;
using vtest::Le32;
using vtest::Cat;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSendTimeout = 0x900d0017;
constexpr uint32_t kRecvTimeout = 0x900d0018;
constexpr uint32_t kFaultRate = 20;  // 2 s pass in 100 ms, 10 s in 500 ms

using vtest::RawRequest;
using vtest::RawResponse;

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed ^ (i * 13) ^ (i >> 9));
    return out;
}

const char kPortName[] = "COM5";


CCommIf* SerialOrSilentUsb(uint32_t commDevice, CMessage* message, const char* portName) {
    if (commDevice == kCommSerial) return new CSerialIf(message, portName);
    return new vtest::CInProcessLink(message, nullptr, commDevice);
}

class SerialEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_portsDir = new std::string(vtest::MakeTempDir("vantro-ports-"));
        s_rootDir = new std::string(vtest::MakeTempDir("vantro-root-"));
        if (const char* old = std::getenv("VANTRO_PORTS_DIR")) s_oldPortsDir = new std::string(old);
        vtest::SetEnv("VANTRO_PORTS_DIR", s_portsDir->c_str());
        sim::SimConfig config;
        config.rootDir = *s_rootDir;
        s_device = new sim::SimDevice(config);
        s_pty = new sim::PtyTransport(*s_device);
        sim::PtyTransport::Options options;
        options.portsDir = *s_portsDir;
        options.portName = kPortName;
        std::string error;
        if (!s_pty->Start(options, &error)) {
            delete s_pty;
            s_pty = nullptr;
            return;
        }
        const char* trace = std::getenv("VANTRO_SIM_TRACE");
        if (trace && *trace == '1') s_device->SetTrace([](const char* line) { std::fprintf(stderr, "%s\n", line); });
        s_device->Start();
        s_oldFactory = SetLinkFactory(&SerialOrSilentUsb);
        ReleaseDeviceLink();
    }

    static void TearDownTestSuite() {
        ReleaseDeviceLink();
        SetLinkFactory(s_oldFactory);
        s_device->Stop();
        if (s_pty) s_pty->Stop();
        delete s_pty;
        delete s_device;
        s_pty = nullptr;
        s_device = nullptr;
        vtest::SetEnv("VANTRO_PORTS_DIR", s_oldPortsDir ? s_oldPortsDir->c_str() : nullptr);
        vtest::RemoveTree(*s_portsDir);
        vtest::RemoveTree(*s_rootDir);
        delete s_portsDir;
        delete s_rootDir;
        delete s_oldPortsDir;
        s_oldPortsDir = nullptr;
    }

    void SetUp() override {
        if (!s_pty) GTEST_SKIP() << "no pty here";
        s_device->Faults().Clear();
        SetRate(1);
    }
    void TearDown() override {
        if (!s_pty) return;
        s_device->Faults().Clear();
        SetRate(1);
    }

    static void SetRate(uint32_t rate) {
        vos::OsSetClockRate(rate);
        s_device->SetClockRate(rate);
    }
    sim::SimDevice& Device() { return *s_device; }

    // One exchange: the code, the request record's bytes, the response
    // record's bytes.
    uint32_t Exchange(uint32_t code, const Bytes& body, Bytes* record, uint32_t retries = 0) {
        RawRequest request(body);
        RawResponse response;
        const uint32_t result = ExecuteCommand(code, &request, &response, retries, 0);
        if (record) *record = response.bytes;
        return result;
    }
    // The device's echo control: a request of 13 + input bytes, a response
    // of 14 + outSize bytes.
    uint32_t Echo(const Bytes& input, uint32_t outSize, Bytes* output) {
        Bytes record;
        const uint32_t result =
            Exchange(11, Cat({Le32(0xA0000020), Le32(static_cast<uint32_t>(input.size())), input, Le32(outSize)}), &record);
        if (result == 0) {
            EXPECT_EQ(12u + outSize, record.size());
            if (record.size() >= 12u + outSize) {
                EXPECT_EQ(Cat({Le32(1), Le32(outSize)}), Bytes(record.begin(), record.begin() + 8));
                output->assign(record.begin() + 8, record.begin() + 8 + outSize);
            }
        }
        return result;
    }
    void ExpectGoodExchange() {
        uint16_t mv = 0;
        EXPECT_EQ(0u, KovGetVoltage(0, &mv)) << "the exchange right after the fault";
        EXPECT_EQ(Device().State().voltage, mv);
    }

    static sim::SimDevice* s_device;
    static sim::PtyTransport* s_pty;
    static std::string* s_portsDir;
    static std::string* s_rootDir;
    static std::string* s_oldPortsDir;
    static LinkFactory s_oldFactory;
};

sim::SimDevice* SerialEndToEnd::s_device = nullptr;
sim::PtyTransport* SerialEndToEnd::s_pty = nullptr;
std::string* SerialEndToEnd::s_portsDir = nullptr;
std::string* SerialEndToEnd::s_rootDir = nullptr;
std::string* SerialEndToEnd::s_oldPortsDir = nullptr;
LinkFactory SerialEndToEnd::s_oldFactory = nullptr;

TEST_F(SerialEndToEnd, ExchangesRequestsAndResponsesFromOneByteTo64KiB) {
    Bytes record;
    ASSERT_EQ(0u, Exchange(1, {}, &record)) << "a request of the code alone";
    EXPECT_EQ(Le32(Device().State().mode), record);
    uint32_t commDevice = 0;
    EXPECT_EQ(0u, KovGetCommDevice(&commDevice));
    EXPECT_EQ(static_cast<uint32_t>(kCommSerial), commDevice);

    struct Size {
        size_t request;
        size_t response;
    };
    for (const Size& s : {Size{13, 14}, Size{511, 511}, Size{512, 512}, Size{1023, 1023}, Size{4096, 600},
                          Size{600, 4096}, Size{65536, 65536}}) {
        const Bytes input = Pattern(std::max(s.request, s.response) - 13, static_cast<uint8_t>(s.request));
        const Bytes trimmed(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(s.request - 13));
        const uint32_t outSize = static_cast<uint32_t>(s.response - 14);
        if (outSize > trimmed.size()) continue;
        Bytes output;
        ASSERT_EQ(0u, Echo(trimmed, outSize, &output)) << s.request << "/" << s.response;
        EXPECT_EQ(Bytes(trimmed.begin(), trimmed.begin() + outSize), output) << s.request << "/" << s.response;
    }
}

TEST_F(SerialEndToEnd, ResponseOf64KiBArrivesWhole) {
    const Bytes input = Pattern(65536 - 14, 0x5C);
    Bytes output;
    ASSERT_EQ(0u, Echo(input, static_cast<uint32_t>(input.size()), &output));
    EXPECT_EQ(input, output);
}

TEST_F(SerialEndToEnd, StatusExportsReadTheDevice) {
    Device().State().voltage = 13450;
    Device().State().acStatus = 1;
    uint16_t mv = 0;
    EXPECT_EQ(0u, KovGetVoltage(0, &mv));
    EXPECT_EQ(13450, mv);
    EXPECT_EQ(87u, KovGetVoltage(7, &mv)) << "the device's result for an unknown selector";
    EXPECT_EQ(87u, KovGetLastError());
    EXPECT_EQ(1u, KovGetAcStatus());
    EXPECT_EQ(0u, KovChangeMode(4));
    EXPECT_EQ(4u, KovGetMode());
    EXPECT_EQ(0u, KovChangeMode(1));

    uint16_t v1 = 0, v2 = 0;
    uint8_t texts[4][VANTRO_VERSION_TEXT_SIZE + 8];
    std::memset(texts, 0xCC, sizeof texts);
    EXPECT_EQ(0u, KovGetVersion(vtest::Wide(u"").c_str(), &v1, &v2, texts[0], texts[1], texts[2], texts[3]));
    EXPECT_EQ(0x0104, v1);
    EXPECT_EQ(0x0002, v2);
    EXPECT_EQ(0, std::memcmp(u"Vantro VCI", texts[0], 22));

    uint32_t size = 0;
    EXPECT_EQ(0x900d0029u, KovGetAppPath(nullptr, &size));
    const std::u16string path = u"\\Windows\\VantroApp.exe";
    ASSERT_EQ((path.size() + 1) * 2, size);
    std::vector<uint8_t> buffer(size);
    EXPECT_EQ(0u, KovGetAppPath(buffer.data(), &size));
    EXPECT_EQ(0, std::memcmp(path.c_str(), buffer.data(), size));

    const uint8_t in[5] = {1, 2, 3, 4, 5};
    uint8_t out[8] = {};
    uint32_t returned = 0;
    EXPECT_EQ(1u, KovKernelIoControl(0xA0000020, in, sizeof in, out, 3, &returned));
    EXPECT_EQ(3u, returned);
    EXPECT_EQ(Bytes({1, 2, 3, 0, 0}), Bytes(out, out + 5));
    EXPECT_EQ(0u, KovSetBattChargeMode(0));
    EXPECT_EQ(1u, KovKernelIoControl(0xA0000014, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(Le32(0), Bytes(out, out + 4)) << "charging switched off";

    uint32_t info[VANTRO_VIM_INFO_COUNT];
    std::fill(std::begin(info), std::end(info), 0xEEEEEEEEu);
    EXPECT_EQ(0u, KovGetVimInfomation(1, info));
    EXPECT_EQ(0x05u, info[0]);
    EXPECT_EQ(0x00020001u, info[1]);
    EXPECT_EQ(0u, info[2]);
    EXPECT_EQ(13450u, info[3]);

    uint32_t version[VANTRO_FILE_VERSION_COUNT] = {};
    EXPECT_EQ(0u, KovGetFileVersion(vtest::Wide(path.c_str()).c_str(), version));
    EXPECT_EQ(0xFEEF04BDu, version[0]);
    EXPECT_EQ(2u, KovGetFileVersion(vtest::Wide(u"\\missing.dll").c_str(), version));
}

TEST_F(SerialEndToEnd, HostileTextsStayInsideTheCallersBuffers) {
    ASSERT_TRUE(Device().Faults().Add("oversize@code=0"));
    uint16_t v1 = 0, v2 = 0;
    uint8_t texts[4][VANTRO_VERSION_TEXT_SIZE + 8];
    std::memset(texts, 0xCC, sizeof texts);
    EXPECT_EQ(0u, KovGetVersion(vtest::Wide(u"").c_str(), &v1, &v2, texts[0], texts[1], texts[2], texts[3]));
    for (int t = 0; t < 4; ++t)
        for (unsigned i = VANTRO_VERSION_TEXT_SIZE; i < VANTRO_VERSION_TEXT_SIZE + 8; ++i)
            EXPECT_EQ(0xCC, texts[t][i]) << "text " << t << " byte " << i;
    ExpectGoodExchange();
}

TEST_F(SerialEndToEnd, RefusalIsReturnedAndRetriesSendTheRequestAgain) {
    ASSERT_TRUE(Device().Faults().Add("refuse=0x00E0E0E1@code=3,times=2"));
    Bytes record;
    EXPECT_EQ(0x00E0E0E1u, Exchange(3, Le32(0), &record, 1)) << "two attempts, both refused";
    EXPECT_EQ(2u, Device().Faults().Fired(sim::FaultKind::Refuse));
    ASSERT_TRUE(Device().Faults().Add("refuse=0x00E0E0E2@code=3"));
    EXPECT_EQ(0u, Exchange(3, Le32(0), &record, 1)) << "the second attempt is answered";
    EXPECT_EQ(Cat({Le32(0), {static_cast<uint8_t>(Device().State().voltage),
                            static_cast<uint8_t>(Device().State().voltage >> 8)}}),
              record);
}

struct FaultCase {
    const char* rule;
    uint32_t expected;  // what KovGetVoltage returns
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.rule; }

class SerialFaults : public SerialEndToEnd, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SerialFaults, CallerSeesTheResultAndTheNextExchangeWorks) {
    const FaultCase& c = GetParam();
    SetRate(kFaultRate);
    ExpectGoodExchange();  // the link is up before the fault
    const uint32_t generation = s_pty->Generation();
    ASSERT_TRUE(Device().Faults().Add(c.rule));
    uint16_t mv = 0;
    EXPECT_EQ(c.expected, KovGetVoltage(0, &mv)) << c.rule;
    if (c.expected == 0) {
        EXPECT_EQ(Device().State().voltage, mv) << c.rule;
    }
    EXPECT_GE(Device().Faults().Fired(Device().Faults().Rules().front().kind), 1u) << "the fault fired";
    Device().Faults().Clear();
    if (std::strncmp(c.rule, "close", 5) == 0) {
        ASSERT_TRUE(WaitUntil([&] { return s_pty->Generation() > generation && s_pty->IsOpen(); }))
            << "the port comes back";
    }
    ExpectGoodExchange();
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, SerialFaults,
    ::testing::Values(
        // Frames the PC NAKs or drops are sent again: the exchange succeeds.
        FaultCase{"checksum@code=3", 0}, FaultCase{"checksum@code=3,times=3", 0},
        FaultCase{"length@code=3", 0}, FaultCase{"delimiter@code=3", 0}, FaultCase{"dropframe@code=3", 0},
        FaultCase{"noise=8@code=3", 0}, FaultCase{"noise=8@on=reply", 0},
        // Polls keep the PC waiting while the device works, however long.
        FaultCase{"late=15000@code=3", 0}, FaultCase{"late=500@code=3,on=reply", 0},
        // A device that gives up, stays silent or forgets the command.
        FaultCase{"checksum@code=3,times=5", kRecvTimeout}, FaultCase{"silent@code=3", kRecvTimeout},
        FaultCase{"pollstate=0@code=3", kRecvTimeout}, FaultCase{"pollstate=1@code=3", kRecvTimeout},
        // No Reply in time: the frame controller tries USB, then gives up.
        FaultCase{"dropreply@code=3", kSendTimeout}, FaultCase{"silent@code=3,on=reply", kSendTimeout},
        FaultCase{"late=3000@code=3,on=reply", kSendTimeout}, FaultCase{"checksum@on=reply,code=3", kSendTimeout},
        FaultCase{"close=2000@code=3", kSendTimeout},
        // The device's own codes reach the caller.
        FaultCase{"nak=0x4321@code=3", 0x4321}, FaultCase{"refuse=0x1234@code=3", 0x1234}));

TEST_F(SerialEndToEnd, RepeatedMiddleFrameIsNakedAndTheResponseStillWhole) {
    ASSERT_TRUE(Device().Faults().Add("repeat@code=11"));
    const Bytes input = Pattern(3000, 0x21);
    Bytes output;
    ASSERT_EQ(0u, Echo(input, static_cast<uint32_t>(input.size()), &output));
    EXPECT_EQ(input, output);
    EXPECT_EQ(1u, Device().Faults().Fired(sim::FaultKind::Repeat));
}

// The same library and device without a port: the in-process link that the
// other families' tests use.
TEST(InProcessSimLink, RunsTheExportsWithoutAPort) {
    vtest::InProcessSim sim;
    sim.Device().State().voltage = 11111;
    uint16_t mv = 0;
    EXPECT_EQ(0u, KovGetVoltage(0, &mv));
    EXPECT_EQ(11111, mv);
    uint32_t commDevice = 0;
    EXPECT_EQ(0u, KovGetCommDevice(&commDevice));
    EXPECT_EQ(static_cast<uint32_t>(kCommUsb), commDevice) << "the in-process link stands for USB";
    const Bytes input = Pattern(65536 - 14, 0x42);
    RawRequest request(Cat({Le32(0xA0000020), Le32(static_cast<uint32_t>(input.size())), input,
                            Le32(static_cast<uint32_t>(input.size()))}));
    RawResponse response;
    ASSERT_EQ(0u, ExecuteCommand(11, &request, &response, 0, 0));
    EXPECT_EQ(input, Bytes(response.bytes.begin() + 8, response.bytes.end() - 4));
}

TEST(InProcessSimLink, FaultsAndTimeoutsRunOnTheAcceleratedClock) {
    vtest::InProcessSim sim;
    sim.SetClockRate(50);
    uint16_t mv = 0;
    ASSERT_TRUE(sim.Faults().Add("silent@code=3"));
    EXPECT_EQ(kRecvTimeout, KovGetVoltage(0, &mv));
    ASSERT_TRUE(sim.Faults().Add("checksum@code=3"));
    EXPECT_EQ(0u, KovGetVoltage(0, &mv)) << "the NAKed frame comes again";
    ASSERT_TRUE(sim.Faults().Add("length@code=3"));
    EXPECT_EQ(0u, KovGetVoltage(0, &mv)) << "the cut frame is dropped and comes again";
    ASSERT_TRUE(sim.Faults().Add("refuse=0x77@code=3"));
    EXPECT_EQ(0x77u, KovGetVoltage(0, &mv));
    EXPECT_EQ(0u, KovGetVoltage(0, &mv));
    EXPECT_EQ(sim.Device().State().voltage, mv);
    EXPECT_EQ(0u, sim.Faults().Pending());
}

}  // namespace
