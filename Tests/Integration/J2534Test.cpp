// The J2534 version 04.04 entry points against the simulated device and its
// vehicle: open state, channels, the exchange outcome rules, the last error,
// call-log lines, answers beyond the caller's capacity, and whole
// application sessions on ISO15765 and on raw CAN.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsThread.h"
#include "Sim/Vehicle/Vehicle.h"
#include "Tests/Support/Bytes.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/PassThruMsg.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/j2534.h"

namespace {

using vtest::Le32;
using vtest::Cat;

using Bytes = std::vector<uint8_t>;
const char kVin[] = "1VNTR5SM7PA000042";

using vtest::Msg;
using vtest::DataOf;

std::string Tid() {
    char text[16];
    std::snprintf(text, sizeof text, "[0x%08X]", vos::ThreadCurrentId());
    return text;
}

std::string Hex32(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return text;
}


class J2534Test : public ::testing::Test {
protected:
    void SetUp() override { ResetPassThruState(); }
    void TearDown() override { ResetPassThruState(); }

    sim::Vehicle& Vehicle() { return sim.Device().State().Family<sim::Vehicle>(); }
    void SetClockRate(uint32_t rate) {
        sim.SetClockRate(rate);
        Vehicle().SetClockRate(rate);
    }
    uint32_t Commands() { return sim.Device().Stats().commands; }

    void Open() {
        uint32_t device = 0;
        ASSERT_EQ(PassThruOpen(nullptr, &device), 0u);
        ASSERT_EQ(device, 1u);
    }
    uint32_t Connect(uint32_t protocol, uint32_t baud = 500000, uint32_t flags = 0) {
        uint32_t channel = 0;
        EXPECT_EQ(PassThruConnect(1, protocol, flags, baud, &channel), 0u);
        return channel;
    }
    uint32_t OpenAndConnect(uint32_t protocol, uint32_t baud = 500000) {
        Open();
        return Connect(protocol, baud);
    }
    // A flow-control pair: receive on rx, send (and answer) on tx.
    uint32_t FlowControl(uint32_t channel, uint8_t rx, uint8_t tx) {
        PASSTHRU_MSG mask = Msg(ISO15765, {0xFF, 0xFF, 0xFF, 0xFF});
        PASSTHRU_MSG pattern = Msg(ISO15765, {0, 0, 0x07, rx});
        PASSTHRU_MSG flow = Msg(ISO15765, {0, 0, 0x07, tx}, ISO15765_FRAME_PAD);
        uint32_t filter = 0;
        EXPECT_EQ(PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &filter), 0u);
        return filter;
    }
    // Writes one message; the call must succeed.
    static void Write(uint32_t channel, PASSTHRU_MSG m, uint32_t timeout) {
        uint32_t n = 1;
        EXPECT_EQ(PassThruWriteMsgs(channel, &m, &n, timeout), 0u);
        EXPECT_EQ(n, 1u);
    }
    // Reads one message; the call must succeed.
    static PASSTHRU_MSG ReadOne(uint32_t channel, uint32_t timeout) {
        PASSTHRU_MSG m = Msg(0, {});
        uint32_t n = 1;
        EXPECT_EQ(PassThruReadMsgs(channel, &m, &n, timeout), 0u);
        return m;
    }
    static uint32_t PassFilter(uint32_t channel, PASSTHRU_MSG mask, PASSTHRU_MSG pattern) {
        uint32_t filter = 0;
        EXPECT_EQ(PassThruStartMsgFilter(channel, PASS_FILTER, &mask, &pattern, nullptr, &filter), 0u);
        return filter;
    }
    // Reads until a message satisfies want, at most `tries` reads of 200 ms.
    bool ReadUntil(uint32_t channel, PASSTHRU_MSG* out, bool (*want)(const PASSTHRU_MSG&), int tries = 25) {
        for (int i = 0; i < tries; ++i) {
            uint32_t n = 1;
            const uint32_t status = PassThruReadMsgs(channel, out, &n, 200);
            if (status == 0 && want(*out)) return true;
            if (status != 0 && status != ERR_TIMEOUT) return false;
        }
        return false;
    }

    vtest::InProcessSim sim;
};

// ---- open and close --------------------------------------------------------------------

TEST_F(J2534Test, SecondOpenIsInUseAndSendsNothing) {
    Open();
    EXPECT_EQ(sim.Device().State().mode, 9u);
    const uint32_t before = Commands();
    uint32_t device = 0;
    EXPECT_EQ(PassThruOpen(nullptr, &device), ERR_DEVICE_IN_USE);
    EXPECT_EQ(device, 0u);
    EXPECT_EQ(PassThruOpen(nullptr, nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(Commands(), before);

    EXPECT_EQ(PassThruClose(2), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruClose(1), 0u);
    EXPECT_EQ(sim.Device().State().mode, 1u);  // mode 0 puts the device back
    EXPECT_EQ(PassThruClose(1), ERR_DEVICE_NOT_CONNECTED);
    Open();
}

TEST_F(J2534Test, EveryCallNeedsTheOpenDevice) {
    uint32_t id = 0, n = 1;
    PASSTHRU_MSG m = Msg(CAN, {0, 0, 7, 0xE0});
    char text[80];
    const uint32_t before = Commands();
    EXPECT_EQ(PassThruConnect(1, CAN, 0, 500000, &id), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruDisconnect(1), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruReadMsgs(1, &m, &n, 0), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruWriteMsgs(1, &m, &n, 0), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruStartPeriodicMsg(1, &m, &id, 100), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruStopPeriodicMsg(1, 1), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruStartMsgFilter(1, PASS_FILTER, &m, &m, nullptr, &id), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruStopMsgFilter(1, 1), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, VOLTAGE_OFF), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruReadVersion(1, text, text, text), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr), ERR_DEVICE_NOT_CONNECTED);
    // The checks before the open state.
    EXPECT_EQ(PassThruConnect(2, CAN, 0, 500000, &id), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruConnect(1, CAN, 0, 500000, nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruReadMsgs(1, nullptr, &n, 0), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruWriteMsgs(1, &m, nullptr, 0), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruStartPeriodicMsg(1, &m, nullptr, 100), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruStartMsgFilter(1, PASS_FILTER, &m, &m, nullptr, nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruSetProgrammingVoltage(0, 15, VOLTAGE_OFF), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruReadVersion(1, text, nullptr, text), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruReadVersion(3, text, text, text), ERR_INVALID_DEVICE_ID);
    // The last error works closed too, and starts empty.
    EXPECT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(PassThruGetLastError(nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(Commands(), before);
}

TEST_F(J2534Test, CloseWhileTheDeviceIsSilentStillClosesAndReleases) {
    const uint32_t channel = OpenAndConnect(CAN);
    EXPECT_EQ(CurrentChannelID, channel);
    SetClockRate(20);
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "J2534");
    sim.Faults().Add("silent");
    EXPECT_EQ(PassThruClose(1), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(DeviceOpen, 0u);
    EXPECT_EQ(CurrentChannelID, 0u);
    EXPECT_EQ(g_pMessage, nullptr);
    EXPECT_EQ(g_pFrameCtrl, nullptr);
    const std::vector<std::string> lines = log.Take();
    const std::string tid = Tid();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], tid + " J2534Close( DeviceID[0x00000001] )\r\n");
    EXPECT_EQ(lines[1], tid + " J2534Close - return[0x900D0018] -\r\n");
    EXPECT_EQ(lines[2], tid + " J2534Close - return[0x00000008] -\r\n");
    // Open again: the link is built anew.
    Open();
}

TEST_F(J2534Test, ClosingEndsTheDevicesChannels) {
    Open();
    Connect(ISO15765);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 13, 12000), 0u);
    // The application closes without disconnecting.
    ASSERT_EQ(PassThruClose(1), 0u);
    EXPECT_EQ(Vehicle().ChannelCount(), 0u);
    Open();
    uint32_t mv = 1;
    EXPECT_EQ(PassThruIoctl(1, READ_PROG_VOLTAGE, nullptr, &mv), 0u);
    EXPECT_EQ(mv, 0u);
    Connect(ISO15765);  // not "channel in use"
}

// ---- connect and Ioctl --------------------------------------------------------------------------

TEST_F(J2534Test, ConnectSetsTheBaudRateExceptOnJ1850Vpw) {
    Open();
    vtest::ReportCapture traces;
    uint32_t before = Commands();
    uint32_t vpw = 0;
    EXPECT_EQ(PassThruConnect(1, J1850VPW, 0, 10400, &vpw), 0u);
    EXPECT_EQ(Commands() - before, 1u);
    ASSERT_EQ(traces.Traces().size(), 2u);
    EXPECT_EQ(traces.Traces()[0], Cat({{0x7F, 0x00}, Le32(J1850VPW), Le32(0)}));

    traces.Clear();
    before = Commands();
    uint32_t can = 0;
    EXPECT_EQ(PassThruConnect(1, CAN, CAN_ID_BOTH, 250000, &can), 0u);
    EXPECT_EQ(Commands() - before, 2u);
    EXPECT_NE(can, vpw);
    EXPECT_EQ(CurrentChannelID, can);
    const auto t = traces.Traces();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0], Cat({{0x7F, 0x00}, Le32(CAN), Le32(CAN_ID_BOTH)}));
    EXPECT_EQ(t[2], Cat({{0x7F, 0x0B}, Le32(can), Le32(SET_CONFIG), Le32(1), Le32(DATA_RATE), Le32(250000)}));
    SCONFIG rate = {DATA_RATE, 0};
    SCONFIG_LIST list = {1, &rate};
    EXPECT_EQ(PassThruIoctl(can, GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(rate.Value, 250000u);

    // A rate the protocol does not know: the channel is there, the rate not.
    uint32_t iso = 0xFFFF;
    EXPECT_EQ(PassThruConnect(1, ISO15765, 0, 12345, &iso), ERR_INVALID_BAUDRATE);
    EXPECT_NE(iso, 0xFFFFu);
    EXPECT_EQ(CurrentChannelID, iso);
    rate.Value = 0;
    EXPECT_EQ(PassThruIoctl(iso, GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(rate.Value, 500000u);

    // A refused connect leaves the caller's channel alone.
    uint32_t again = 0x4711;
    EXPECT_EQ(PassThruConnect(1, CAN, 0, 500000, &again), ERR_CHANNEL_IN_USE);
    EXPECT_EQ(again, 0x4711u);
    EXPECT_EQ(CurrentChannelID, iso);

    EXPECT_EQ(PassThruDisconnect(vpw), 0u);
    EXPECT_EQ(CurrentChannelID, 0u);  // whichever channel went
    EXPECT_EQ(PassThruDisconnect(vpw), ERR_INVALID_CHANNEL_ID);
}

TEST_F(J2534Test, BatteryAndProgrammingVoltageTakeTheDeviceId) {
    Open();
    sim.Device().State().voltage = 13800;
    vtest::ReportCapture traces;
    uint32_t before = Commands();
    uint32_t mv = 0;
    EXPECT_EQ(PassThruIoctl(5, READ_VBATT, nullptr, &mv), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruIoctl(0, READ_PROG_VOLTAGE, nullptr, &mv), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(Commands(), before);
    // No channel yet: the device sees channel 0.
    EXPECT_EQ(PassThruIoctl(1, READ_VBATT, nullptr, &mv), 0u);
    EXPECT_EQ(mv, 13800u);
    ASSERT_FALSE(traces.Traces().empty());
    EXPECT_EQ(traces.Traces()[0], Cat({{0x7F, 0x0B}, Le32(0), Le32(READ_VBATT)}));

    const uint32_t channel = Connect(CAN);
    traces.Clear();
    EXPECT_EQ(PassThruIoctl(1, READ_PROG_VOLTAGE, nullptr, &mv), 0u);
    EXPECT_EQ(mv, 0u);
    EXPECT_EQ(traces.Traces()[0], Cat({{0x7F, 0x0B}, Le32(channel), Le32(READ_PROG_VOLTAGE)}));

    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 12, 18000), 0u);
    EXPECT_EQ(PassThruIoctl(1, READ_PROG_VOLTAGE, nullptr, &mv), 0u);
    EXPECT_EQ(mv, 18000u);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, SHORT_TO_GROUND), ERR_PIN_INVALID);  // pin 12 is on
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 12, VOLTAGE_OFF), 0u);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, SHORT_TO_GROUND), 0u);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 7, 12000), ERR_PIN_INVALID);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, VOLTAGE_OFF), 0u);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 9, 25000), ERR_EXCEEDED_LIMIT);

    EXPECT_EQ(PassThruIoctl(channel, 0x99, nullptr, nullptr), ERR_INVALID_IOCTL_ID);
    EXPECT_EQ(PassThruClose(1), 0u);
    EXPECT_EQ(PassThruIoctl(5, READ_VBATT, nullptr, &mv), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(PassThruIoctl(1, READ_VBATT, nullptr, &mv), ERR_DEVICE_NOT_CONNECTED);
}

// ---- messages --------------------------------------------------------------------------------

TEST_F(J2534Test, ReadMsgsWithFewerThanAskedReturns9AndKeepsTheCount) {
    const uint32_t channel = OpenAndConnect(CAN);
    PASSTHRU_MSG in[3];
    std::memset(in, 0, sizeof in);
    uint32_t n = 3;
    EXPECT_EQ(PassThruReadMsgs(channel, in, &n, 0), ERR_BUFFER_EMPTY);
    EXPECT_EQ(n, 3u);

    const uint32_t filter = PassFilter(channel, Msg(CAN, {0xFF, 0xFF, 0xFF, 0xFF}), Msg(CAN, {0, 0, 0x07, 0xE8}));
    // Functional "supported PIDs": the engine ECU answers on 0x7E8, the
    // transmission ECU on 0x7E9, which the filter keeps out.
    PASSTHRU_MSG request = Msg(CAN, {0, 0, 0x07, 0xDF, 0x02, 0x01, 0x00, 0, 0, 0, 0, 0});
    Write(channel, request, 0);
    n = 3;
    EXPECT_EQ(PassThruReadMsgs(channel, in, &n, 300), ERR_TIMEOUT);
    EXPECT_EQ(n, 3u);
    const Bytes answer = DataOf(in[0]);
    ASSERT_GE(answer.size(), 7u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 7), (Bytes{0, 0, 0x07, 0xE8, 0x06, 0x41, 0x00}));
    EXPECT_EQ(in[1].DataSize, 0u);  // only one came

    // Loopback: the frame written comes back as a transmission.
    SCONFIG loop = {LOOPBACK, 1};
    SCONFIG_LIST list = {1, &loop};
    ASSERT_EQ(PassThruIoctl(channel, SET_CONFIG, &list, nullptr), 0u);
    ASSERT_EQ(PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), 0u);
    PASSTHRU_MSG rpm = Msg(CAN, {0, 0, 0x07, 0xE0, 0x02, 0x01, 0x0C, 0, 0, 0, 0, 0});
    Write(channel, rpm, 100);
    n = 2;
    EXPECT_EQ(PassThruReadMsgs(channel, in, &n, 500), 0u);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(in[0].RxStatus & TX_MSG_TYPE, TX_MSG_TYPE);
    EXPECT_EQ(DataOf(in[0]), DataOf(rpm));
    EXPECT_EQ(DataOf(in[1]), (Bytes{0, 0, 0x07, 0xE8, 0x04, 0x41, 0x0C, 0x0C, 0x30, 0xAA, 0xAA, 0xAA}));  // 780 rpm

    // Once the pass filter goes, nothing passes.
    ASSERT_EQ(PassThruStopMsgFilter(channel, filter), 0u);
    EXPECT_EQ(PassThruStopMsgFilter(channel, filter), ERR_INVALID_FILTER_ID);
}

TEST_F(J2534Test, LongReadTimeoutKeepsTheLinkAlive) {
    const uint32_t channel = OpenAndConnect(CAN);
    SetClockRate(20);
    // 5 s on the device while the library waits for the answer and polls.
    PASSTHRU_MSG in;
    uint32_t n = 1;
    EXPECT_EQ(PassThruReadMsgs(channel, &in, &n, 5000), ERR_TIMEOUT);
    EXPECT_EQ(n, 1u);
    // The link is fine afterwards.
    EXPECT_EQ(PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), 0u);
}

TEST_F(J2534Test, ReadAndWriteRunWithoutTrace) {
    const uint32_t channel = OpenAndConnect(CAN);
    vtest::ReportCapture traces;
    PASSTHRU_MSG m = Msg(CAN, {0, 0, 0x07, 0xDF, 0x02, 0x3E, 0x80});
    uint32_t n = 1;
    ASSERT_EQ(PassThruWriteMsgs(channel, &m, &n, 0), 0u);
    EXPECT_EQ(PassThruReadMsgs(channel, &m, &n, 0), ERR_BUFFER_EMPTY);
    EXPECT_TRUE(traces.Traces().empty());
    EXPECT_EQ(PassThruIoctl(channel, CLEAR_TX_BUFFER, nullptr, nullptr), 0u);
    EXPECT_EQ(traces.Traces().size(), 2u);
}

TEST_F(J2534Test, SegmentedWriteWithoutFlowControlTimesOut) {
    const uint32_t channel = OpenAndConnect(ISO15765);
    // No ECU answers on 0x7E5: its First frame never gets Flow Control.
    FlowControl(channel, 0xED, 0xE5);
    PASSTHRU_MSG m = Msg(ISO15765, {0, 0, 0x07, 0xE5, 0x2E, 0xF1, 0x90, 1, 2, 3, 4, 5, 6, 7, 8}, ISO15765_FRAME_PAD);
    uint32_t n = 1;
    EXPECT_EQ(PassThruWriteMsgs(channel, &m, &n, 300), ERR_TIMEOUT);
    EXPECT_EQ(n, 1u);
    // And a segmented message without any flow-control pair cannot go.
    m.Data[3] = 0xE6;
    EXPECT_EQ(PassThruWriteMsgs(channel, &m, &n, 0), ERR_NO_FLOW_CONTROL);
}

// ---- the last error ------------------------------------------------------------------------------

TEST_F(J2534Test, LastErrorComesFromTheDeviceOrTheInterface) {
    const uint32_t channel = OpenAndConnect(CAN);
    char text[80];
    // The device answers 7: its own text is fetched at once.
    PASSTHRU_MSG any = Msg(CAN, {0, 0, 0, 0});
    uint32_t filter = 0;
    EXPECT_EQ(PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &any, &any, &any, &filter), ERR_FAILED);
    ASSERT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "Flow control filters need protocol ISO15765");

    // A time-out leaves the text.
    SetClockRate(20);
    sim.Faults().Add("silent@code=0x0B7F");
    EXPECT_EQ(PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), ERR_DEVICE_NOT_CONNECTED);
    ASSERT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "Flow control filters need protocol ISO15765");

    // Any other failure of the exchange: the interface's text.
    sim.Faults().Add("refuse=0x1234@code=0x017F");
    EXPECT_EQ(PassThruDisconnect(channel), ERR_FAILED);
    ASSERT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "DI_ZEDO_IF_ERROR");

    // The device answers 7 but its text cannot be fetched: the old one stays.
    sim.Faults().Add("refuse=0x55@code=0x0A7F");
    EXPECT_EQ(PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &any, &any, &any, &filter), ERR_FAILED);
    ASSERT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "DI_ZEDO_IF_ERROR");
    // The channel is still there.
    EXPECT_EQ(PassThruDisconnect(channel), 0u);
}

// ---- the call log --------------------------------------------------------------------------------

TEST_F(J2534Test, CallLogLinesOfASession) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "J2534");
    const std::string tid = Tid();
    uint32_t device = 0;
    ASSERT_EQ(PassThruOpen(nullptr, &device), 0u);
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect(1, CAN, 0, 500000, &channel), 0u);
    uint32_t mv = 0;
    ASSERT_EQ(PassThruIoctl(1, READ_VBATT, nullptr, &mv), 0u);
    char fw[80], dll[80], api[80];
    ASSERT_EQ(PassThruReadVersion(1, fw, dll, api), 0u);
    char ch[16];
    std::snprintf(ch, sizeof ch, "%08X", channel);
    std::vector<std::string> lines = log.Take();
    const std::vector<std::string> expected = {
        tid + " J2534Open( pName[0x00000000], pDeviceID[0x" + Hex32(&device) + "] )\r\n",
        tid + " J2534Open - return[0x00000000] -\r\n",
        tid + " J2534Connect( ProtocolID[0x00000005], Flags[0x00000000], pChannelID[0x" + Hex32(&channel) + "] )\r\n",
        // The SET_CONFIG of the rate, with a list on Connect's stack.
        "LocalJ2534Ioctl( ChannelID[0x" + std::string(ch) + "], IoctlID[0x00000002], pInput[0x",
        tid + " LocalJ2534Ioctl - return[0x00000000] -\r\n",
        tid + " J2534Connect - return[0x00000000], ChannelID[0x" + std::string(ch) + "] -\r\n",
        tid + " J2534Ioctl( ChannelID[0x00000001], IoctlID[0x00000003], pInput[0x00000000], pOutput[0x" + Hex32(&mv) +
            "] )\r\n",
        tid + " LocalJ2534Ioctl( ChannelID[0x00000001], IoctlID[0x00000003], pInput[0x00000000], pOutput[0x" +
            Hex32(&mv) + "] )\r\n",
        tid + " LocalJ2534Ioctl - return[0x00000000] -\r\n",
        tid + " J2534Ioctl - return[0x00000000] -\r\n",
        tid + " J2534ReadVersion( pFirmwareVersion[0x" + Hex32(fw) + "], pDllVersion[0x" + Hex32(dll) +
            "], pApiVersion[0x" + Hex32(api) + "] )\r\n",
        tid + " J2534ReadVersion - return[0x00000000], FirmwareVersion[VT-3.12.07], DllVersion[01.00], "
              "ApiVersion[04.04] -\r\n",
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i == 3) {
            EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].rfind(tid, 0), 0u);
            EXPECT_NE(lines[i].find("pOutput[0x00000000] )\r\n"), std::string::npos) << lines[i];
        } else {
            EXPECT_EQ(lines[i], expected[i]) << i;
        }
    }

    // Early checks log only the call; a refused Result logs its return line;
    // exchange failures log none.
    uint32_t n = 1;
    EXPECT_EQ(PassThruReadMsgs(channel, nullptr, &n, 7), ERR_NULL_PARAMETER);
    PASSTHRU_MSG m;
    EXPECT_EQ(PassThruReadMsgs(0x77, &m, &n, 0), ERR_INVALID_CHANNEL_ID);
    sim.Faults().Add("refuse=0x99@code=0x057F");
    EXPECT_EQ(PassThruStopPeriodicMsg(channel, 3), ERR_FAILED);
    char text[80];
    EXPECT_EQ(PassThruGetLastError(text), 0u);
    lines = log.Take();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], tid + " J2534ReadMsgs( ChannelID[0x" + std::string(ch) + "], pMsg[0x00000000], pNumMsgs[0x" +
                            Hex32(&n) + "], Timeout[7] )\r\n");
    EXPECT_EQ(lines[1], tid + " J2534ReadMsgs( ChannelID[0x00000077], pMsg[0x" + Hex32(&m) + "], pNumMsgs[0x" +
                            Hex32(&n) + "], Timeout[0] )\r\n");
    EXPECT_EQ(lines[2], tid + " J2534ReadMsgs - return[0x00000002], NumMsgs[1] -\r\n");
    EXPECT_EQ(lines[3], tid + " J2534StopPeriodicMsg( ChannelID[0x" + std::string(ch) + "], MsgID[3] )\r\n");
    EXPECT_EQ(lines[4], tid + " J2534GetLastError( pErrorDescription[0x" + Hex32(text) + "] )\r\n");
    EXPECT_EQ(lines[5], tid + " J2534GetLastError - return[0x00000000], ErrorDescription[DI_ZEDO_IF_ERROR] -\r\n");
}

TEST_F(J2534Test, DeviceTextFetchIsLogged) {
    const uint32_t channel = OpenAndConnect(CAN);
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "J2534");
    const std::string tid = Tid();
    PASSTHRU_MSG any = Msg(CAN, {0, 0, 0, 0});
    uint32_t filter = 0;
    EXPECT_EQ(PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &any, &any, &any, &filter), ERR_FAILED);
    const std::vector<std::string> lines = log.Take();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(" J2534StartMsgFilter( ChannelID["), std::string::npos);
    EXPECT_EQ(lines[1], tid + " LocalJ2534GetLastError( pErrorDescription[0x" + Hex32(J2534LastError) + "] )\r\n");
    EXPECT_EQ(lines[2], tid + " LocalJ2534GetLastError - return[0x00000000], ErrorDescription[Flow control filters "
                              "need protocol ISO15765] -\r\n");
    EXPECT_EQ(lines[3], tid + " J2534StartMsgFilter - return[0x00000007], FilterID[0] -\r\n");
}

// ---- answers beyond the caller's capacity -----------------------------------------------------------

TEST_F(J2534Test, HostileAnswersNeverOverrunTheCaller) {
    const uint32_t channel = OpenAndConnect(CAN);
    uint32_t filter = PassFilter(channel, Msg(CAN, {0, 0, 0, 0}), Msg(CAN, {0, 0, 0, 0}));
    Write(channel, Msg(CAN, {0, 0, 0x07, 0xE0, 0x02, 0x01, 0x0D}), 0);

    // Two messages asked, four sent back: refused whole; the element after
    // the caller's array is never touched.
    std::unique_ptr<PASSTHRU_MSG[]> in(new PASSTHRU_MSG[3]);
    std::memset(in.get(), 0x5C, 3 * sizeof(PASSTHRU_MSG));
    sim.Faults().Add("oversize@code=0x027F");
    uint32_t n = 2;
    EXPECT_EQ(PassThruReadMsgs(channel, in.get(), &n, 100), ERR_FAILED);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(in[2].ProtocolID, 0x5C5C5C5Cu);
    EXPECT_EQ(in[2].Data[0], 0x5C);
    char text[80];
    EXPECT_EQ(PassThruGetLastError(text), 0u);
    EXPECT_STREQ(text, "DI_ZEDO_IF_ERROR");

    // Texts beyond 80 bytes: refused.
    char fw[80], dll[80], api[80];
    std::memset(fw, 1, 80);
    sim.Faults().Add("oversize@code=0x097F");
    EXPECT_EQ(PassThruReadVersion(1, fw, dll, api), ERR_FAILED);

    // GET_CONFIG answering more pairs than asked: the caller's count holds.
    SCONFIG pairs[3] = {{DATA_RATE, 0}, {LOOPBACK, 7}, {0xEE, 0xEE}};
    SCONFIG_LIST list = {2, pairs};
    sim.Faults().Add("oversize@code=0x0B7F");
    EXPECT_EQ(PassThruIoctl(channel, GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(list.NumOfParams, 2u);
    EXPECT_EQ(pairs[0].Value, 500000u);
    EXPECT_EQ(pairs[1].Value, 0u);
    EXPECT_EQ(pairs[2].Parameter, 0xEEu);
    EXPECT_EQ(pairs[2].Value, 0xEEu);

    // Messages of more than 4128 bytes come back from no filter.
    PASSTHRU_MSG m2 = Msg(CAN, {0xFF, 0, 0, 0}), p2 = Msg(CAN, {0x01, 0, 0, 0});
    sim.Faults().Add("oversize@code=0x067F");
    EXPECT_EQ(PassThruStartMsgFilter(channel, BLOCK_FILTER, &m2, &p2, nullptr, &filter), ERR_FAILED);
    EXPECT_EQ(m2.DataSize, 4u);
}

TEST_F(J2534Test, CallerMessagesBeyond4128BytesAreNotSent) {
    const uint32_t channel = OpenAndConnect(CAN);
    const uint32_t before = Commands();
    PASSTHRU_MSG m = Msg(CAN, {0, 0, 7, 0xE0});
    m.DataSize = 5000;
    uint32_t n = 1;
    EXPECT_EQ(PassThruWriteMsgs(channel, &m, &n, 0), ERR_FAILED);
    EXPECT_EQ(n, 1u);
    uint32_t id = 0;
    EXPECT_EQ(PassThruStartPeriodicMsg(channel, &m, &id, 100), ERR_FAILED);
    EXPECT_EQ(Commands(), before);
    // A read only sends the headers: whatever the caller's array holds there
    // is no reason to refuse it.
    m.DataSize = 0xFFFFFFFF;
    EXPECT_EQ(PassThruReadMsgs(channel, &m, &n, 0), ERR_BUFFER_EMPTY);
    EXPECT_EQ(Commands(), before + 1);
}

// ---- whole sessions ------------------------------------------------------------------------------

// Counts the functional tester-present frames (02 3E 80, padded) on the bus.
class TesterPresentWatch {
public:
    explicit TesterPresentWatch(sim::Vehicle& vehicle) : m_vehicle(vehicle) {
        m_vehicle.SetCanTrace([this](const sim::CanFrame& f) {
            if (f.id == 0x7DF && f.dlc == 8 && f.data[0] == 0x02 && f.data[1] == 0x3E && f.data[2] == 0x80) {
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_count;
                m_seen.notify_all();
            }
        });
    }
    ~TesterPresentWatch() { m_vehicle.SetCanTrace(nullptr); }
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_seen.wait_for(guard, std::chrono::seconds(5), [&] { return m_count >= count; });
    }

private:
    sim::Vehicle& m_vehicle;
    std::mutex m_lock;
    std::condition_variable m_seen;
    int m_count = 0;
};

bool IsVinAnswer(const PASSTHRU_MSG& m) {
    return m.RxStatus == 0 && m.DataSize > 6 && m.Data[3] == 0xE8 && m.Data[4] == 0x49 && m.Data[5] == 0x02;
}
bool IsUdsVin(const PASSTHRU_MSG& m) { return m.RxStatus == 0 && m.DataSize > 7 && m.Data[4] == 0x62; }
bool IsSessionAnswer(const PASSTHRU_MSG& m) { return m.RxStatus == 0 && m.DataSize > 5 && m.Data[4] == 0x50; }

TEST_F(J2534Test, Iso15765SessionReadsTheVinAndKeepsTheEcuAwake) {
    uint32_t device = 0;
    ASSERT_EQ(PassThruOpen(const_cast<char*>("Vantro"), &device), 0u);
    char fw[80], dll[80], api[80];
    ASSERT_EQ(PassThruReadVersion(device, fw, dll, api), 0u);
    EXPECT_STREQ(fw, "VT-3.12.07");
    EXPECT_STREQ(dll, "01.00");
    EXPECT_STREQ(api, "04.04");

    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect(device, ISO15765, 0, 500000, &channel), 0u);
    SCONFIG params[3] = {{DATA_RATE, 0}, {ISO15765_BS, 0xFF}, {ISO15765_STMIN, 0xFF}};
    SCONFIG_LIST list = {3, params};
    ASSERT_EQ(PassThruIoctl(channel, GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(params[0].Value, 500000u);
    EXPECT_EQ(params[1].Value, 0u);
    EXPECT_EQ(params[2].Value, 0u);
    FlowControl(channel, 0xE8, 0xE0);
    FlowControl(channel, 0xE9, 0xE1);
    ASSERT_EQ(PassThruIoctl(channel, CLEAR_TX_BUFFER, nullptr, nullptr), 0u);
    ASSERT_EQ(PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), 0u);

    TesterPresentWatch watch(Vehicle());

    // 09 02 to the engine ECU: 20 bytes back, joined by the device.
    Write(channel, Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x09, 0x02}, ISO15765_FRAME_PAD), 500);
    PASSTHRU_MSG answer;
    ASSERT_TRUE(ReadUntil(channel, &answer, IsVinAnswer));
    EXPECT_EQ(DataOf(answer), Cat({{0, 0, 0x07, 0xE8, 0x49, 0x02, 0x01}, Bytes(kVin, kVin + 17)}));

    // The same through UDS ReadDataByIdentifier, in the extended session.
    Write(channel, Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x10, 0x03}, ISO15765_FRAME_PAD), 500);
    ASSERT_TRUE(ReadUntil(channel, &answer, IsSessionAnswer));
    EXPECT_EQ(DataOf(answer), (Bytes{0, 0, 0x07, 0xE8, 0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}));
    Write(channel, Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x22, 0xF1, 0x90}, ISO15765_FRAME_PAD), 500);
    ASSERT_TRUE(ReadUntil(channel, &answer, IsUdsVin));
    EXPECT_EQ(DataOf(answer), Cat({{0, 0, 0x07, 0xE8, 0x62, 0xF1, 0x90}, Bytes(kVin, kVin + 17)}));

    // Tester present, functional, no answer wanted.
    PASSTHRU_MSG present = Msg(ISO15765, {0, 0, 0x07, 0xDF, 0x3E, 0x80}, ISO15765_FRAME_PAD);
    uint32_t msgId = 0;
    ASSERT_EQ(PassThruStartPeriodicMsg(channel, &present, &msgId, 100), 0u);
    EXPECT_NE(msgId, 0u);
    EXPECT_TRUE(watch.WaitFor(3));
    ASSERT_EQ(PassThruStopPeriodicMsg(channel, msgId), 0u);
    EXPECT_EQ(PassThruStopPeriodicMsg(channel, msgId), ERR_INVALID_MSG_ID);

    EXPECT_EQ(PassThruDisconnect(channel), 0u);
    EXPECT_EQ(PassThruClose(device), 0u);
}

TEST_F(J2534Test, RawCanSessionDoesItsOwnFlowControl) {
    const uint32_t channel = OpenAndConnect(CAN);
    PassFilter(channel, Msg(CAN, {0xFF, 0xFF, 0xFF, 0xFF}), Msg(CAN, {0, 0, 0x07, 0xE8}));

    Write(channel, Msg(CAN, {0, 0, 0x07, 0xE0, 0x02, 0x09, 0x02, 0, 0, 0, 0, 0}), 100);
    const PASSTHRU_MSG first = ReadOne(channel, 1000);
    // First frame: 20 bytes, the first six of them.
    ASSERT_EQ(first.DataSize, 12u);
    EXPECT_EQ(DataOf(first), Cat({{0, 0, 0x07, 0xE8, 0x10, 0x14, 0x49, 0x02, 0x01}, Bytes(kVin, kVin + 3)}));

    // The tester's Flow Control: everything, no gap.
    Write(channel, Msg(CAN, {0, 0, 0x07, 0xE0, 0x30, 0x00, 0x00, 0, 0, 0, 0, 0}), 100);
    PASSTHRU_MSG in[2];
    uint32_t n = 2;
    ASSERT_EQ(PassThruReadMsgs(channel, in, &n, 1000), 0u);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(in[0].Data[4], 0x21);
    EXPECT_EQ(in[1].Data[4], 0x22);
    std::string vin(reinterpret_cast<const char*>(first.Data) + 9, 3);
    vin.append(reinterpret_cast<const char*>(in[0].Data) + 5, 7);
    vin.append(reinterpret_cast<const char*>(in[1].Data) + 5, 7);
    EXPECT_EQ(vin, kVin);

    // A single-frame answer needs no Flow Control.
    Vehicle().UpdateData([](sim::VehicleData& d) { d.speedKmh = 88; });
    Write(channel, Msg(CAN, {0, 0, 0x07, 0xE0, 0x02, 0x01, 0x0D, 0, 0, 0, 0, 0}), 100);
    EXPECT_EQ(DataOf(ReadOne(channel, 1000)), (Bytes{0, 0, 0x07, 0xE8, 0x03, 0x41, 0x0D, 88, 0xAA, 0xAA, 0xAA, 0xAA}));

    EXPECT_EQ(PassThruDisconnect(channel), 0u);
    EXPECT_EQ(PassThruClose(1), 0u);
}

TEST_F(J2534Test, KLineSessionAfterFiveBaudInit) {
    const uint32_t channel = OpenAndConnect(ISO9141, 10400);
    PassFilter(channel, Msg(ISO9141, {0x00}), Msg(ISO9141, {0x00}));
    uint8_t address = 0x33;
    uint8_t keys[2] = {0, 0};
    SBYTE_ARRAY in = {1, &address}, out = {2, keys};
    ASSERT_EQ(PassThruIoctl(channel, FIVE_BAUD_INIT, &in, &out), 0u);
    EXPECT_EQ(keys[0], 0x08);
    EXPECT_EQ(keys[1], 0x08);
    Write(channel, Msg(ISO9141, {0x68, 0x6A, 0xF1, 0x01, 0x05}), 100);
    const PASSTHRU_MSG answer = ReadOne(channel, 1000);
    // 48 6B 10 41 05 (88 + 40) and the checksum.
    const uint8_t sum = static_cast<uint8_t>(0x48 + 0x6B + 0x10 + 0x41 + 0x05 + 128);
    EXPECT_EQ(DataOf(answer), (Bytes{0x48, 0x6B, 0x10, 0x41, 0x05, 128, sum}));
    EXPECT_EQ(answer.ExtraDataIndex, 6u);
}

}  // namespace
