// Device log: the exports' request bytes, the message checks, and a long
// message sent whole in one command.
#include <gtest/gtest.h>

#include "Tessra/CmdListLog.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "vantro/vantro.h"

namespace {

using namespace svctest;

TEST(DeviceLogRecords, RequestsCarryNameOrMessage) {
    LogInitRequest init;
    init.Name = W(u"L");
    EXPECT_EQ(Encode(21, init), (Bytes{0x15, 4, 0, 0, 0, 'L', 0, 0, 0}));
    LogPutMsgRequest put;
    const uint8_t message[] = {'o', 'k'};
    put.Message.SetAt(message, 2);
    EXPECT_EQ(Encode(25, put), (Bytes{0x19, 2, 0, 0, 0, 'o', 'k'}));
    LogClearRequest clear;
    EXPECT_EQ(Encode(23, clear), (Bytes{0x17}));
}

TEST(DeviceLogExports, PutMsgRefusesEmptyMessagesWithoutAnExchange) {
    vtest::ReportCapture reports;
    QueueDevice device;
    const uint8_t message[] = {'x'};
    EXPECT_EQ(KovLogPutMsg(message, 0), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovLogPutMsg(nullptr, 5), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 3208), 2u);
    EXPECT_TRUE(device.Requests().empty());
}

TEST(DeviceLogExports, EachCommandSendsItsFieldsAndReturnsTheResult) {
    QueueDevice device;
    device.Answer(Accepted(0x15, Wire().u32(0)));
    device.Answer(Accepted(0x19, Wire().u32(0)));
    device.Answer(Accepted(0x18, Wire().u32(29)));
    device.Answer(Accepted(0x17, Wire().u32(0)));
    device.Answer(Accepted(0x16, Wire().u32(6)));
    const uint8_t message[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(KovLogInit(W(u"diag")), 0u);
    EXPECT_EQ(KovLogPutMsg(message, 5), 0u);
    EXPECT_EQ(KovLogFlash(W(u"\\Temp\\out.log")), 29u);
    EXPECT_EQ(KovLogClear(), 0u);
    EXPECT_EQ(KovLogClose(), 6u);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0], (Bytes)Wire().u8(0x15).wstr(u"diag"));
    EXPECT_EQ(requests[1], (Bytes)Wire().u8(0x19).buf({'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(requests[2], (Bytes)Wire().u8(0x18).wstr(u"\\Temp\\out.log"));
    EXPECT_EQ(requests[3], (Bytes{0x17}));
    EXPECT_EQ(requests[4], (Bytes{0x16}));
}

TEST(DeviceLogExports, LongMessageGoesWholeInOneCommandTriedThreeTimes) {
    Bytes message(3000);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 7);
    {
        QueueDevice device;
        device.Answer(Accepted(0x19, Wire().u32(0)));
        EXPECT_EQ(KovLogPutMsg(message.data(), static_cast<uint32_t>(message.size())), 0u);
        ASSERT_EQ(device.Requests().size(), 1u);
        EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x19).buf(message));
    }
    QueueDevice refusing;
    refusing.Answer(Refused(0x16, 0xE001));
    EXPECT_EQ(KovLogClose(), 0xE001u);
    EXPECT_EQ(refusing.Requests().size(), 3u);
}

}  // namespace
