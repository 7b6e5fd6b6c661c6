// Device clock: records that move the caller's structures directly, the
// 180-byte time-zone answer, and the exports' pointer checks and outputs.
#include <gtest/gtest.h>

#include <cstring>

#include "Tessra/CmdListClock.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "vantro/vantro.h"

namespace {

using namespace svctest;

VSYSTEMTIME Time(uint16_t y, uint16_t mo, uint16_t dow, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                 uint16_t ms) {
    return VSYSTEMTIME{y, mo, dow, d, h, mi, s, ms};
}

Wire& PutTime(Wire& w, const VSYSTEMTIME& t) {
    return w.u16(t.wYear).u16(t.wMonth).u16(t.wDayOfWeek).u16(t.wDay).u16(t.wHour).u16(t.wMinute).u16(
        t.wSecond).u16(t.wMilliseconds);
}

// 172 bytes of a zone with names that are not texts at all.
Bytes ZoneBytes() {
    Wire w;
    w.u32(static_cast<uint32_t>(-60));
    for (int i = 0; i < 64; ++i) w.u8(static_cast<uint8_t>(0xFF - i));
    PutTime(w, Time(0, 10, 0, 5, 3, 0, 0, 0));
    w.u32(0);
    for (int i = 0; i < 64; ++i) w.u8(static_cast<uint8_t>(i * 3));
    PutTime(w, Time(0, 3, 0, 5, 2, 0, 0, 0));
    w.u32(static_cast<uint32_t>(-60));
    return w;
}

TEST(ClockRecords, SetTimeWritesTheCallersStructure) {
    VSYSTEMTIME t = Time(2024, 5, 3, 1, 12, 34, 56, 789);
    SetSystemTimeRequest request;
    request.SystemTime = &t;
    Wire expected;
    expected.u8(0x05);
    PutTime(expected, t);
    EXPECT_EQ(Encode(5, request), expected.bytes());
    EXPECT_EQ(Encode(5, request).size(), 17u);
}

TEST(ClockRecords, NullPointersTransferNothingAndSetTheStreamError) {
    SetLocalTimeRequest request;  // no structure
    uint32_t error = 0;
    EXPECT_EQ(Encode(7, request, &error), (Bytes{0x07}));
    EXPECT_EQ(error, QXR_ERROR_INVALID_PARAMETER);

    SetTimeZoneInformationRequest zoneRequest;
    EXPECT_EQ(Encode(9, zoneRequest, &error), (Bytes{0x09}));
    EXPECT_EQ(error, QXR_ERROR_INVALID_PARAMETER);

    GetSystemTimeResponse response;
    uint32_t unread = 0;
    Bytes message = Accepted(0x04, Wire().u32(7));
    EXPECT_EQ(Decode(message, response, &unread), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(unread, 4u);  // not even Result was taken
    EXPECT_EQ(response.Result, 0u);
}

TEST(ClockRecords, TimeZoneAnswerIsExactly180Bytes) {
    Bytes fields = Wire().u32(0).u32(2).raw(ZoneBytes());
    ASSERT_EQ(fields.size(), 180u);
    VTIME_ZONE_INFORMATION zone;
    std::memset(&zone, 0xCC, sizeof zone);
    GetTimeZoneInformationResponse response;
    response.TimeZone = &zone;
    uint32_t unread = 99;
    ASSERT_EQ(Decode(Accepted(0x08, fields), response, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(response.ReturnValue, 2u);
    EXPECT_EQ(zone.Bias, -60);
    EXPECT_EQ(zone.StandardDate.wMonth, 10);
    EXPECT_EQ(zone.DaylightDate.wHour, 2);
    EXPECT_EQ(zone.DaylightBias, -60);
    // The names arrive as raw bytes, whatever they hold.
    const uint8_t* standard = reinterpret_cast<const uint8_t*>(zone.StandardName);
    const uint8_t* daylight = reinterpret_cast<const uint8_t*>(zone.DaylightName);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(standard[i], 0xFF - i);
        EXPECT_EQ(daylight[i], static_cast<uint8_t>(i * 3));
    }
    // And go back the same way.
    SetTimeZoneInformationRequest request;
    request.TimeZone = &zone;
    EXPECT_EQ(Encode(9, request), (Bytes)Wire().u8(0x09).raw(ZoneBytes()));

    // One byte short fails the read.
    GetTimeZoneInformationResponse shortResponse;
    shortResponse.TimeZone = &zone;
    fields.pop_back();
    EXPECT_NE(Decode(Accepted(0x08, fields), shortResponse), 0u);
}

TEST(ClockExports, NullPointersAreRefusedBeforeAnything) {
    vtest::ReportCapture reports;
    QueueDevice device;
    VSYSTEMTIME t = Time(2024, 1, 1, 1, 0, 0, 0, 0);
    VTIME_ZONE_INFORMATION zone{};
    uint32_t value = 0;
    EXPECT_EQ(KovGetSystemTime(nullptr), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovSetSystemTime(nullptr, &t), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovSetSystemTime(&value, nullptr), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovGetLocalTime(nullptr), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovSetLocalTime(nullptr, &t), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovGetTimeZoneInformation(nullptr, &zone), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovGetTimeZoneInformation(&value, nullptr), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KovSetTimeZoneInformation(&value, nullptr), QXR_ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(device.Requests().empty());
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2759), 1u);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2807), 2u);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2862), 1u);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2910), 1u);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2967), 2u);
    EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 3009), 1u);
    EXPECT_EQ(reports.Reports().size(), 8u);
}

TEST(ClockExports, GetTimeFillsTheStructureWhateverTheResult) {
    QueueDevice device;
    VSYSTEMTIME sent = Time(2031, 12, 2, 30, 23, 59, 58, 999);
    Wire fields;
    fields.u32(0x1F);
    PutTime(fields, sent);
    device.Answer(Accepted(0x04, fields));
    device.Answer(Accepted(0x06, fields));
    VSYSTEMTIME got{};
    EXPECT_EQ(KovGetSystemTime(&got), 0x1Fu);
    EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0);
    VSYSTEMTIME local{};
    EXPECT_EQ(KovGetLocalTime(&local), 0x1Fu);
    EXPECT_EQ(local.wYear, 2031);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (Bytes{0x04}));
    EXPECT_EQ(requests[1], (Bytes{0x06}));
}

TEST(ClockExports, SetTimeStoresTheReturnValueOnlyForResultZero) {
    QueueDevice device;
    device.Answer(Accepted(0x05, Wire().u32(0).u32(1)));
    device.Answer(Accepted(0x07, Wire().u32(87).u32(0)));
    VSYSTEMTIME t = Time(2024, 2, 4, 29, 1, 2, 3, 4);
    uint32_t value = 0xCC;
    EXPECT_EQ(KovSetSystemTime(&value, &t), 0u);
    EXPECT_EQ(value, 1u);
    value = 0xCC;
    EXPECT_EQ(KovSetLocalTime(&value, &t), 87u);
    EXPECT_EQ(value, 0xCCu);
    Wire expected;
    expected.u8(0x05);
    PutTime(expected, t);
    EXPECT_EQ(device.Requests()[0], expected.bytes());
    EXPECT_EQ(device.Requests()[1][0], 0x07);
}

TEST(ClockExports, TimeZoneRoundTripAndThreeAttempts) {
    VTIME_ZONE_INFORMATION zone;
    uint32_t value = 0;
    {
        QueueDevice device;
        device.Answer(Accepted(0x08, Wire().u32(0).u32(1).raw(ZoneBytes())));
        device.Answer(Accepted(0x09, Wire().u32(0).u32(1)));
        EXPECT_EQ(KovGetTimeZoneInformation(&value, &zone), 0u);
        EXPECT_EQ(value, 1u);
        value = 0;
        EXPECT_EQ(KovSetTimeZoneInformation(&value, &zone), 0u);
        EXPECT_EQ(value, 1u);
        EXPECT_EQ(device.Requests()[0], (Bytes{0x08}));
        EXPECT_EQ(device.Requests()[1], (Bytes)Wire().u8(0x09).raw(ZoneBytes()));
    }
    QueueDevice refusing;
    refusing.Answer(Refused(0x08, 0xE001));
    value = 0xCC;
    EXPECT_EQ(KovGetTimeZoneInformation(&value, &zone), 0xE001u);
    EXPECT_EQ(value, 0xCCu);
    EXPECT_EQ(refusing.Requests().size(), 3u);
}

}  // namespace
