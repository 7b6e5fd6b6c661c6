// The stdcall pass-thru family and the OEM extensions through their exports,
// against the simulated device: what goes on the wire (the exchange traces),
// what reaches the caller, the mapping of failed exchanges, the Ioctl forms
// and refusals, the device log, and answers too large for the caller.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Pc/Os/OsMemory.h"
#include "Sim/Vehicle/Vehicle.h"
#include "Tessra/CmdListPassThru0202.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kApi[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr uint32_t kCan = 5;
constexpr uint32_t kIso9141Protocol = 3;
constexpr uint32_t kIso14230Protocol = 4;
constexpr uint8_t kFill = 0xAA;
constexpr uint32_t kFill32 = 0xAAAAAAAA;
// Writes that wait until the device has sent (so that loopback is there).
constexpr uint32_t kSendWait = 500;

std::u16string Text(const VWCHAR* text) {
    std::u16string out;
    for (size_t i = 0; text[i] != 0; ++i) out.push_back(static_cast<char16_t>(text[i]));
    return out;
}

uint32_t U32At(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

PASSTHRU_MSG CanMsg(uint32_t id, std::initializer_list<uint8_t> payload) {
    PASSTHRU_MSG m;
    std::memset(&m, 0, sizeof m);
    m.ProtocolID = kCan;
    m.Data[0] = static_cast<uint8_t>(id >> 24);
    m.Data[1] = static_cast<uint8_t>(id >> 16);
    m.Data[2] = static_cast<uint8_t>(id >> 8);
    m.Data[3] = static_cast<uint8_t>(id);
    size_t n = 4;
    for (uint8_t b : payload) m.Data[n++] = b;
    m.DataSize = static_cast<uint32_t>(n);
    return m;
}

class PassThru0202Test : public ::testing::Test {
protected:
    // A CAN channel with loopback on.
    uint32_t LoopbackChannel() {
        uint32_t channel = 0;
        EXPECT_EQ(PassThruConnect_0202(kCan, 0, &channel), 0u);
        SCONFIG pair{LOOPBACK, 1};
        SCONFIG_LIST list{1, &pair};
        EXPECT_EQ(PassThruIoctl_0202(channel, VANTRO_IOCTL0202_SET_CONFIG, &list, nullptr), 0u);
        return channel;
    }

    // Writes one message, waiting until the device has sent it.
    static void Send(uint32_t channel, PASSTHRU_MSG m) {
        uint32_t one = 1;
        EXPECT_EQ(PassThruWriteMsgs_0202(channel, &m, &one, kSendWait), 0u);
    }

    vtest::InProcessSim sim;
    vtest::ReportCapture capture;
};

// ---- versions, connect, errors -----------------------------------------------------------

TEST_F(PassThru0202Test, ReadVersionTalksToNoDevice) {
    VWCHAR fw[80], dll[80], api[80];
    EXPECT_EQ(PassThruReadVersion_0202(fw, dll, api), 0u);
    EXPECT_EQ(Text(fw), u"01.00");
    EXPECT_EQ(Text(dll), u"01.00");
    EXPECT_EQ(Text(api), u"02.02");
    EXPECT_TRUE(capture.Traces().empty());
}

TEST_F(PassThru0202Test, ConnectStoresTheChannelWhateverTheResult) {
    uint32_t channel = kFill32;
    EXPECT_EQ(PassThruConnect_0202(0x99, 0, &channel), 0x03u);  // ERR_INVALID_PROTOCOL_ID
    EXPECT_EQ(channel, 0u);
    auto sent = capture.Requests(0x40);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x40, 0x99, 0, 0, 0, 0, 0, 0, 0}));

    EXPECT_EQ(PassThruConnect_0202(kCan, 0x800, &channel), 0u);
    EXPECT_NE(channel, 0u);
    EXPECT_EQ(PassThruDisconnect_0202(channel), 0u);
    EXPECT_EQ(PassThruDisconnect_0202(channel), 0x02u);  // ERR_INVALID_CHANNEL_ID
}

TEST_F(PassThru0202Test, ATimeoutGives8AndLeavesItsCodeAsTheLastError) {
    sim.SetClockRate(50);
    sim.Faults().Add("silent@code=65");
    EXPECT_EQ(PassThruDisconnect_0202(1), 8u);
    VWCHAR text[80];
    std::memset(text, kFill, sizeof text);
    EXPECT_EQ(PassThruGetLastError_0202(text), 0u);
    EXPECT_EQ(Text(text), u"ERROR_CODE:900D0018");
}

TEST_F(PassThru0202Test, RefusalCodesPassThroughAndLibraryCodesBecome7) {
    sim.Faults().Add("refuse=0x0123@code=65");
    EXPECT_EQ(PassThruDisconnect_0202(1), 0x0123u);
    VWCHAR text[80];
    PassThruGetLastError_0202(text);
    EXPECT_EQ(Text(text), u"ERROR_CODE:00000123");

    // A message list element that cannot be allocated while the answer is
    // read: the reader's 0xa00d0024 fails the exchange.
    uint32_t channel = LoopbackChannel();
    Send(channel, CanMsg(0x123, {0x01}));
    int elementAllocations = 0;
    vos::SetAllocFailHook([&](size_t size) {
        // The request's element passes; the answer's element fails.
        return size == MsgRecordList::ElementBlockSize() && ++elementAllocations >= 2;
    });
    PASSTHRU_MSG in;
    std::memset(&in, kFill, sizeof in);
    uint32_t count = 1;
    uint32_t status = PassThruReadMsgs_0202(channel, &in, &count, 0);
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(status, 7u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(in.ProtocolID, kFill32);
    PassThruGetLastError_0202(text);
    EXPECT_EQ(Text(text), u"ERROR_CODE:A00D0024");
}

TEST_F(PassThru0202Test, DeviceErrorTextAfterAFailure) {
    VWCHAR text[80];
    EXPECT_EQ(PassThruOemGetLastError(text), 0u);
    EXPECT_EQ(Text(text), u"No error");
    EXPECT_EQ(PassThruDisconnect_0202(0x4711), 0x02u);  // ERR_INVALID_CHANNEL_ID
    EXPECT_EQ(PassThruOemGetLastError(text), 0u);
    const std::string expected = sim.Device().State().Family<sim::Vehicle>().LastError();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Text(text), std::u16string(expected.begin(), expected.end()));
    EXPECT_EQ(capture.Requests(0x49).back(), (Bytes{0x49}));
}

// ---- messages ---------------------------------------------------------------------------

TEST_F(PassThru0202Test, ReadFourAnsweredTwoStoresTwo) {
    uint32_t channel = LoopbackChannel();
    PASSTHRU_MSG out[2] = {CanMsg(0x123, {1, 2}), CanMsg(0x124, {3})};
    uint32_t numOut = 2;
    ASSERT_EQ(PassThruWriteMsgs_0202(channel, out, &numOut, kSendWait), 0u);
    ASSERT_EQ(numOut, 2u);

    PASSTHRU_MSG in[4];
    std::memset(in, kFill, sizeof in);
    uint32_t numIn = 4;
    EXPECT_EQ(PassThruReadMsgs_0202(channel, in, &numIn, 0), 0u);
    EXPECT_EQ(numIn, 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(in[i].ProtocolID, kCan);
        EXPECT_EQ(in[i].RxStatus, static_cast<uint32_t>(TX_MSG_TYPE));
        EXPECT_EQ(in[i].DataSize, out[i].DataSize);
        EXPECT_EQ(0, std::memcmp(in[i].Data, out[i].Data, out[i].DataSize));
    }
    for (int i = 2; i < 4; ++i) EXPECT_EQ(in[i].ProtocolID, kFill32) << i;

    // The request carried the four headers with empty Data.
    auto sent = capture.Requests(0x42);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(U32At(sent[0], 5), 4u);   // NumMsgs
    EXPECT_EQ(U32At(sent[0], 13), 4u);  // list count
    EXPECT_EQ(sent[0].size(), 1u + 16u + 4u * 28u);
}

TEST_F(PassThru0202Test, ReadCopiesWhateverTheResult) {
    uint32_t channel = LoopbackChannel();
    PASSTHRU_MSG in[2];
    std::memset(in, kFill, sizeof in);
    uint32_t numIn = 2;
    EXPECT_EQ(PassThruReadMsgs_0202(channel, in, &numIn, 0), 0x10u);  // ERR_BUFFER_EMPTY
    EXPECT_EQ(numIn, 0u);
    EXPECT_EQ(in[0].ProtocolID, kFill32);

    // The device's variant without lengths: DataSize 0, the bytes still come.
    const PASSTHRU_MSG out = CanMsg(0x321, {9, 8, 7});
    Send(channel, out);
    numIn = 2;
    EXPECT_EQ(PassThruOemReadMsgsNoLength(channel, in, &numIn, 0), 0u);
    ASSERT_EQ(numIn, 1u);
    EXPECT_EQ(in[0].DataSize, 0u);
    EXPECT_EQ(0, std::memcmp(in[0].Data, out.Data, out.DataSize));
    EXPECT_EQ(capture.Requests(0x54).size(), 1u);
}

TEST_F(PassThru0202Test, WriteSendsRxStatusAndTimestampAsZeroAndTakesTheDevicesTimestamp) {
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect_0202(kCan, 0, &channel), 0u);
    PASSTHRU_MSG m = CanMsg(0x7DF, {0x02, 0x01, 0x00});
    m.RxStatus = 0x12345678;
    m.Timestamp = 0x87654321;
    m.TxFlags = 0x40;
    m.ExtraDataIndex = 0x55;
    PASSTHRU_MSG before = m;
    uint32_t num = 1;
    ASSERT_EQ(PassThruWriteMsgs_0202(channel, &m, &num, 250), 0u);
    EXPECT_EQ(num, 1u);

    auto sent = capture.Requests(0x43);
    ASSERT_EQ(sent.size(), 1u);
    const Bytes& r = sent[0];
    EXPECT_EQ(U32At(r, 1), channel);
    EXPECT_EQ(U32At(r, 5), 1u);
    EXPECT_EQ(U32At(r, 9), 250u);
    EXPECT_EQ(U32At(r, 13), 1u);
    EXPECT_EQ(U32At(r, 17), kCan);         // ProtocolID
    EXPECT_EQ(U32At(r, 21), 0u);           // RxStatus
    EXPECT_EQ(U32At(r, 25), 0x40u);        // TxFlags
    EXPECT_EQ(U32At(r, 29), 0u);           // Timestamp
    EXPECT_EQ(U32At(r, 33), m.DataSize);   // DataSize
    EXPECT_EQ(U32At(r, 37), 0x55u);        // ExtraDataIndex
    EXPECT_EQ(U32At(r, 41), m.DataSize);   // Data length, then the bytes
    EXPECT_EQ(Bytes(r.begin() + 45, r.end()), Bytes(m.Data, m.Data + m.DataSize));

    // Back from the device: its timestamp; RxStatus, ExtraDataIndex, Data kept.
    auto traces = capture.Traces();
    const Bytes& answer = traces.back();
    EXPECT_EQ(m.Timestamp, U32At(answer, 2 + 12 + 12));
    EXPECT_NE(m.Timestamp, before.Timestamp);
    EXPECT_EQ(m.RxStatus, before.RxStatus);
    EXPECT_EQ(m.ExtraDataIndex, before.ExtraDataIndex);
    EXPECT_EQ(0, std::memcmp(m.Data, before.Data, sizeof m.Data));
}

TEST_F(PassThru0202Test, InterruptWriteSendsOneMessageWithTimeout1000) {
    uint32_t channel = LoopbackChannel();
    PASSTHRU_MSG m = CanMsg(0x100, {0xEE});
    EXPECT_EQ(PassThruOemWriteMsgsInterrupt(channel, &m), 0u);
    auto sent = capture.Requests(0x55);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(U32At(sent[0], 5), 1u);
    EXPECT_EQ(U32At(sent[0], 9), 1000u);
    EXPECT_EQ(U32At(sent[0], 13), 1u);
}

TEST_F(PassThru0202Test, AFailedExchangeTouchesNoOutput) {
    sim.SetClockRate(50);
    uint32_t channel = LoopbackChannel();
    Send(channel, CanMsg(0x100, {1}));
    sim.Faults().Add("silent@code=66");
    PASSTHRU_MSG in;
    std::memset(&in, kFill, sizeof in);
    uint32_t count = 1;
    EXPECT_EQ(PassThruReadMsgs_0202(channel, &in, &count, 0), 8u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(in.ProtocolID, kFill32);

    sim.Faults().Add("refuse=0x0077@code=64");
    uint32_t newChannel = kFill32;
    EXPECT_EQ(PassThruConnect_0202(kCan, 0, &newChannel), 0x77u);
    EXPECT_EQ(newChannel, kFill32);
}

// ---- Ioctl --------------------------------------------------------------------------------

TEST_F(PassThru0202Test, IoctlRefusesUnknownIdsAndMissingPointersWithoutAnExchange) {
    uint32_t value = 0;
    SCONFIG_LIST list{0, nullptr};
    SBYTE_ARRAY bytes{1, nullptr};
    PASSTHRU_MSG msg;
    std::memset(&msg, 0, sizeof msg);
    for (uint32_t id : {0u, 3u, 6u, 9u, 10u, 14u, 0xFFFFu, 0x10004u, 0xFFFFFFFFu})
        EXPECT_EQ(PassThruIoctl_0202(1, id, &value, &value), 6u) << id;
    EXPECT_EQ(PassThruIoctl_0202(1, 1, nullptr, &value), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 2, nullptr, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 4, &bytes, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 4, nullptr, &bytes), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 4, &bytes, &bytes), 6u);  // no BytePtr
    EXPECT_EQ(PassThruIoctl_0202(1, 5, &msg, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 5, nullptr, &msg), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 0x10000, nullptr, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 0x10001, &value, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 0x10002, nullptr, &value), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 0x10002, &value, nullptr), 6u);
    EXPECT_EQ(PassThruIoctl_0202(1, 0x10003, nullptr, &value), 6u);
    list.NumOfParams = 2;  // pairs promised, none given
    EXPECT_EQ(PassThruIoctl_0202(1, 1, &list, nullptr), 6u);
    EXPECT_TRUE(capture.Traces().empty());
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 5121), 22u);
}

TEST_F(PassThru0202Test, GetConfigOverwritesTheCountWithTheDevicesCount) {
    uint32_t channel = LoopbackChannel();
    SCONFIG pairs[3] = {{LOOPBACK, kFill32}, {0x99, kFill32}, {DATA_RATE, kFill32}};
    SCONFIG_LIST list{3, pairs};
    // The unknown parameter is left out of the answer.
    EXPECT_EQ(PassThruIoctl_0202(channel, VANTRO_IOCTL0202_GET_CONFIG, &list, nullptr), 0x01u);
    EXPECT_EQ(list.NumOfParams, 2u);
    EXPECT_EQ(pairs[0].Parameter, static_cast<uint32_t>(LOOPBACK));
    EXPECT_EQ(pairs[0].Value, 1u);
    EXPECT_EQ(pairs[1].Parameter, static_cast<uint32_t>(DATA_RATE));
    EXPECT_EQ(pairs[1].Value, 500000u);
    EXPECT_EQ(pairs[2].Value, kFill32);

    auto sent = capture.Requests(0x4B);
    ASSERT_FALSE(sent.empty());
    const Bytes& r = sent.back();
    EXPECT_EQ(U32At(r, 5), 1u);   // IoctlID
    EXPECT_EQ(U32At(r, 9), 3u);   // NumOfParams
    EXPECT_EQ(U32At(r, 13), 3u);  // list count
    EXPECT_EQ(U32At(r, 21), kFill32);
}

TEST_F(PassThru0202Test, InitIoctlsAndTheDevicesOwnIds) {
    uint32_t kline = 0;
    ASSERT_EQ(PassThruConnect_0202(kIso9141Protocol, 0, &kline), 0u);
    uint8_t address = 0x33, keys[4] = {kFill, kFill, kFill, kFill};
    SBYTE_ARRAY in{1, &address}, out{2, keys};
    EXPECT_EQ(PassThruIoctl_0202(kline, VANTRO_IOCTL0202_FIVE_BAUD_INIT, &in, &out), 0u);
    EXPECT_EQ(keys[0], 0x08);
    EXPECT_EQ(keys[1], 0x08);
    EXPECT_EQ(keys[2], kFill);
    EXPECT_EQ(out.NumOfBytes, 2u);
    EXPECT_EQ(capture.Requests(0x4B).back(), (Bytes{0x4B, static_cast<uint8_t>(kline), 0, 0, 0, 4, 0, 0, 0, 0x33}));

    uint32_t kwp = 0;
    ASSERT_EQ(PassThruConnect_0202(kIso14230Protocol, 0, &kwp), 0u);
    PASSTHRU_MSG request;
    std::memset(&request, 0, sizeof request);
    request.ProtocolID = kIso14230Protocol;
    const uint8_t start[] = {0xC1, 0x33, 0xF1, 0x81};  // StartCommunication
    std::memcpy(request.Data, start, sizeof start);
    request.DataSize = sizeof start;
    PASSTHRU_MSG response;
    std::memset(&response, kFill, sizeof response);
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_FAST_INIT, &request, &response), 0u);
    EXPECT_EQ(response.ProtocolID, kIso14230Protocol);
    // The ECU's positive answer and its checksum, which ExtraDataIndex points at.
    ASSERT_EQ(response.DataSize, 7u);
    EXPECT_EQ(Bytes(response.Data, response.Data + 7), (Bytes{0x83, 0xF1, 0x10, 0xC1, 0xE9, 0x8F, 0xBD}));
    EXPECT_EQ(response.ExtraDataIndex, 6u);
    EXPECT_EQ(response.Data[7], kFill);
    EXPECT_EQ(response.RxStatus, kFill32);  // not taken from the answer
    EXPECT_EQ(response.Timestamp, kFill32);

    uint16_t millivolts = 0;
    sim.Device().State().voltage = 13750;
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_DEVICE_1, nullptr, &millivolts), 0u);
    EXPECT_EQ(millivolts, 13750);
    uint16_t timing[3] = {1, 2, 3};
    uint32_t clock = 0;
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_DEVICE_2, timing, &clock), 0u);
    EXPECT_EQ(capture.Requests(0x4B).back(),
              (Bytes{0x4B, static_cast<uint8_t>(kwp), 0, 0, 0, 2, 0, 1, 0, 1, 0, 2, 0, 3, 0}));
    uint8_t pins[3] = {7, 14, 15};
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_DEVICE_0, pins, nullptr), 0u);
    uint32_t word = 0x01020304;
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_DEVICE_3, &word, nullptr), 0u);
    EXPECT_EQ(capture.Requests(0x4B).back(),
              (Bytes{0x4B, static_cast<uint8_t>(kwp), 0, 0, 0, 3, 0, 1, 0, 4, 3, 2, 1}));
    EXPECT_EQ(PassThruIoctl_0202(kwp, VANTRO_IOCTL0202_CLEAR_RX_BUFFER, nullptr, nullptr), 0u);
}

// ---- answers larger than the caller's memory (run under ASan) ---------------------------------

TEST_F(PassThru0202Test, AnOversizedAnswerNeverOverrunsTheCaller) {
    uint32_t channel = LoopbackChannel();

    // Two exact heap messages; the device answers five of 5000 bytes each.
    std::unique_ptr<PASSTHRU_MSG[]> msgs(new PASSTHRU_MSG[2]);
    std::memset(msgs.get(), 0, 2 * sizeof(PASSTHRU_MSG));
    uint32_t count = 2;
    sim.Faults().Add("oversize@code=66");
    EXPECT_EQ(PassThruReadMsgs_0202(channel, msgs.get(), &count, 0), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(msgs[1].DataSize, PASSTHRU_MSG_DATA_SIZE);
    EXPECT_EQ(msgs[1].Data[PASSTHRU_MSG_DATA_SIZE - 1], 0xB6);

    std::unique_ptr<PASSTHRU_MSG> one(new PASSTHRU_MSG);
    *one = CanMsg(0x100, {1});
    sim.Faults().Add("oversize@code=85");
    EXPECT_EQ(PassThruOemWriteMsgsInterrupt(channel, one.get()), 0u);
    EXPECT_EQ(one->DataSize, PASSTHRU_MSG_DATA_SIZE);

    std::unique_ptr<SCONFIG[]> pairs(new SCONFIG[1]);
    pairs[0] = {DATA_RATE, 0};
    SCONFIG_LIST list{1, pairs.get()};
    sim.Faults().Add("oversize@code=75");
    EXPECT_EQ(PassThruIoctl_0202(channel, VANTRO_IOCTL0202_GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(list.NumOfParams, 1u);

    std::unique_ptr<VWCHAR[]> text(new VWCHAR[VANTRO_PASSTHRU0202_TEXT_UNITS]);
    sim.Faults().Add("oversize@code=73");
    EXPECT_EQ(PassThruOemGetLastError(text.get()), 0u);
    EXPECT_EQ(text[VANTRO_PASSTHRU0202_TEXT_UNITS - 1], 0);
    EXPECT_EQ(text[0], u'E');

    EXPECT_GE(capture.Count(0x900d0029, kApi), 4u);
}

// ---- OEM extensions ----------------------------------------------------------------------------

class OemExtensionTest : public PassThru0202Test {};

TEST_F(OemExtensionTest, VersionTextsComeFromTheDevice) {
    VWCHAR t1[80], t2[80], t3[80];
    EXPECT_EQ(PassThruOemReadVersion(t1, t2, t3), 0u);
    EXPECT_EQ(Text(t1), u"VANTRO VCI 1.4.2");
    EXPECT_EQ(Text(t2), u"PASSTHRU 02.02");
    EXPECT_EQ(Text(t3), u"EVENTLOG 1.0");
    EXPECT_EQ(capture.Requests(0x56).front(), (Bytes{0x56}));

    std::unique_ptr<VWCHAR[]> a(new VWCHAR[80]), b(new VWCHAR[80]), c(new VWCHAR[80]);
    sim.Faults().Add("oversize@code=86");
    EXPECT_EQ(PassThruOemReadVersion(a.get(), b.get(), c.get()), 0u);
    EXPECT_EQ(c[79], 0);
    EXPECT_EQ(capture.Count(0x900d0029, kApi, 5210), 1u);
}

TEST_F(OemExtensionTest, TheLogRecordsTheChannelsEvents) {
    uint8_t area[VANTRO_OEM_LOG_DATA_SIZE];
    std::memset(area, kFill, sizeof area);
    OemLogEntry entry{kFill32, kFill32, kFill32, kFill32, kFill32, kFill32, area};

    // The power-up entry has no data: the values are set, the area untouched.
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0u);
    EXPECT_EQ(entry.Value1, 1u);
    EXPECT_EQ(entry.Value3, 1u);
    EXPECT_EQ(entry.Value6, 0u);
    EXPECT_EQ(area[0], kFill);

    uint32_t channel = LoopbackChannel();
    const PASSTHRU_MSG m = CanMsg(0x123, {0x3E, 0x00});
    Send(channel, m);
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0u);  // connect
    EXPECT_EQ(entry.Value3, 2u);
    EXPECT_EQ(entry.Value4, channel);
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0u);  // the message sent
    EXPECT_EQ(entry.Value3, 4u);
    EXPECT_EQ(entry.Value6, m.DataSize);
    EXPECT_EQ(0, std::memcmp(area, m.Data, m.DataSize));
    EXPECT_EQ(area[m.DataSize], kFill);

    // At the end: ERR_BUFFER_EMPTY, the values still copied.
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0x10u);
    EXPECT_EQ(entry.Value1, 0u);

    uint32_t status[3] = {kFill32, kFill32, kFill32};
    EXPECT_EQ(PassThruOemGetLogStatus(0, status), 0u);
    EXPECT_EQ(status[0], 3u);
    EXPECT_EQ(status[1], 3u);
    EXPECT_EQ(PassThruOemSeekLog(0, 0, 1), 0u);
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0u);
    EXPECT_EQ(entry.Value3, 2u);
    EXPECT_EQ(PassThruOemSeekLog(0, 2, 5), 0x0Cu);  // beyond the end
    EXPECT_EQ(capture.Requests(0x53).back(), (Bytes{0x53, 0, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0}));
    EXPECT_EQ(PassThruOemClearLog(0), 0u);
    EXPECT_EQ(PassThruOemGetLogStatus(0, status), 0u);
    EXPECT_EQ(status[0], 0u);
}

TEST_F(OemExtensionTest, StatusWithANonzeroResultIsStillFilled) {
    // Sixty-five messages overflow the device's log of sixty-four.
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect_0202(kCan, 0, &channel), 0u);
    std::vector<PASSTHRU_MSG> msgs(65, CanMsg(0x200, {1}));
    uint32_t count = 65;
    ASSERT_EQ(PassThruWriteMsgs_0202(channel, msgs.data(), &count, 0), 0u);
    uint32_t status[3] = {kFill32, kFill32, kFill32};
    EXPECT_EQ(PassThruOemGetLogStatus(0, status), 0x12u);  // ERR_BUFFER_OVERFLOW
    EXPECT_EQ(status[0], 64u);
    EXPECT_EQ(status[1], 0u);
    EXPECT_EQ(status[2], 64u);

    // Another log: ERR_NOT_SUPPORTED with zero values, also copied.
    EXPECT_EQ(PassThruOemGetLogStatus(5, status), 0x01u);
    EXPECT_EQ(status[0] + status[1] + status[2], 0u);
}

TEST_F(OemExtensionTest, NothingIsCopiedWhenTheExchangeFails) {
    sim.Faults().Add("refuse=0x0042@code=82");
    uint32_t status[3] = {kFill32, kFill32, kFill32};
    EXPECT_EQ(PassThruOemGetLogStatus(0, status), 0x42u);
    EXPECT_EQ(status[0], kFill32);
    sim.Faults().Add("refuse=0x90000001@code=80");
    OemLogEntry entry{kFill32, kFill32, kFill32, kFill32, kFill32, kFill32, nullptr};
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 7u);
    EXPECT_EQ(entry.Value1, kFill32);
}

TEST_F(OemExtensionTest, OversizedLogDataStaysInsideTheArea) {
    std::unique_ptr<uint8_t[]> area(new uint8_t[VANTRO_OEM_LOG_DATA_SIZE]);
    OemLogEntry entry{0, 0, 0, 0, 0, 0, area.get()};
    sim.Faults().Add("oversize@code=80");
    EXPECT_EQ(PassThruOemReadLog(0, &entry), 0u);
    EXPECT_EQ(entry.Value6, 10000u);
    EXPECT_EQ(area[VANTRO_OEM_LOG_DATA_SIZE - 1], 0xD7);
    EXPECT_EQ(capture.Count(0x900d0029, kApi, 5220), 1u);
}

}  // namespace
