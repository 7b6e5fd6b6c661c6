// Records of the reprogramming commands: the request bytes after the code
// (literal) and the response fields they read.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/MsgWriter.h"
#include "Tessra/CmdListRepro.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "Tests/Support/WideText.h"

namespace {

using svctest::Bytes;
using svctest::Encode;
using svctest::ReadFields;
using svctest::Wire;

using vtest::Wide;

TEST(ReproRecords, RequestsOfCodes96To101) {
    CCmdBase plain(0);
    EXPECT_EQ(Encode(96, plain), (Bytes{0x60}));

    ReproControlWfseLineRequest line;
    line.Control = 1;
    EXPECT_EQ(Encode(97, line), (Bytes{0x61, 1, 0, 0, 0}));

    ReproReadSoftwareNumberRequest numbers;
    numbers.Selector = 1;
    numbers.Capacity = 4;
    numbers.Option = 2;
    EXPECT_EQ(Encode(98, numbers), (Bytes)Wire().u8(0x62).u32(1).u32(4).u32(2));

    // Spare 0, the name with its terminator, the three parameters.
    ReproReprogrammingRequest run;
    run.Name = Wide(u"AB").c_str();
    run.Param1 = 1;
    run.Param2 = 2;
    run.Param3 = 3;
    EXPECT_EQ(Encode(99, run), (Bytes)Wire().u8(0x63).u32(0).u32(6).u16('A').u16('B').u16(0).u32(1).u32(2).u32(3));
    ReproVerifyRequest verify;
    verify.Name = Wide(u"AB").c_str();
    verify.Param1 = 1;
    verify.Param2 = 2;
    verify.Param3 = 3;
    Bytes verifyWire = Encode(100, verify);
    Bytes runWire = Encode(99, run);
    ASSERT_EQ(verifyWire.size(), runWire.size());
    EXPECT_EQ(verifyWire[0], 0x64);
    EXPECT_EQ(Bytes(verifyWire.begin() + 1, verifyWire.end()), Bytes(runWire.begin() + 1, runWire.end()));
}

TEST(ReproRecords, RequestsOfTheSystemCommandsUseTwoByteCodes) {
    CCmdBase plain(0);
    EXPECT_EQ(Encode(0x407F, plain), (Bytes{0x7F, 0x40}));
    ReproGetToolConditionOsRequest tool;
    EXPECT_EQ(Encode(0x4A7F, tool), (Bytes{0x7F, 0x4A}));

    ReproGetSystemListOsRequest list;
    list.Capacity = 8;
    EXPECT_EQ(Encode(0x427F, list), (Bytes{0x7F, 0x42, 8, 0, 0, 0}));

    ReproReadSoftwareNumberOsRequest numbers;
    numbers.Selector1 = 2;
    numbers.Selector2 = 1;
    numbers.Capacity = 3;
    EXPECT_EQ(Encode(0x457F, numbers), (Bytes)Wire().u8(0x7F).u8(0x45).u32(2).u32(1).u32(3));

    ReproGetAllProgramInfoOsRequest info;
    info.Selector = 0xFFFFFFFF;
    info.Capacity = 2;
    EXPECT_EQ(Encode(0x467F, info), (Bytes)Wire().u8(0x7F).u8(0x46).u32(0xFFFFFFFF).u32(2));

    ReproReprogrammingOsRequest run;
    run.Param1 = 1;
    run.Param2 = 2;
    run.Param3 = 3;
    run.Param4 = 4;
    run.Param5 = 5;
    EXPECT_EQ(Encode(0x477F, run), (Bytes)Wire().u8(0x7F).u8(0x47).u32(1).u32(2).u32(3).u32(4).u32(5));

    ReproSetParentSoftwareInfoOsRequest parent;
    parent.Value1 = 2;
    parent.Value2 = 0x1234;
    EXPECT_EQ(Encode(0x4C7F, parent), (Bytes)Wire().u8(0x7F).u8(0x4C).u32(2).u32(0x1234));

    ReproReadVehicleIdNumberOsRequest vin;
    vin.Selector1 = 0;
    vin.Selector2 = 7;
    EXPECT_EQ(Encode(0x4D7F, vin), (Bytes)Wire().u8(0x7F).u8(0x4D).u32(0).u32(7));

    ReproCheckNeedParentSoftwareInfoOsRequest need;
    need.Selector = 2;
    EXPECT_EQ(Encode(0x4B7F, need), (Bytes{0x7F, 0x4B, 2, 0, 0, 0}));
}

TEST(ReproRecords, EntryListResponsesReadCountSpareBufferAndStatus) {
    ReproReadSoftwareNumberOsResponse numbers;
    Bytes entries(72, 0x31);
    uint32_t unread = 1;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(2).u32(0xEEEE).u32(72).raw(entries).u32(1), numbers, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(numbers.EntryCount, 2u);
    EXPECT_EQ(numbers.Spare, 0xEEEEu);
    EXPECT_EQ(numbers.Entries.GetLength(), 72u);
    EXPECT_EQ(numbers.Status, 1u);

    // Without Status: the system list and the saved numbers.
    ReproGetSystemListOsResponse systems;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(5).u32(0).u32(0), systems, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(systems.EntryCount, 5u);

    ReproGetProgressOsResponse progress;
    ASSERT_EQ(ReadFields(Wire().u32(0x306).u32(40).u32(2), progress), 0u);
    EXPECT_EQ(progress.Result, 0x306u);
    EXPECT_EQ(progress.Progress, 40u);
    EXPECT_EQ(progress.Detail, 2u);

    ReproGetProgressResponse simple;
    EXPECT_NE(ReadFields(Wire().u32(0), simple), 0u);  // Progress missing
}

TEST(ReproRecords, ResponsesStartCleared) {
    ReproReadSoftwareNumberResponse numbers;
    EXPECT_EQ(numbers.Result + numbers.EntryCount + numbers.Spare + numbers.Status, 0u);
    EXPECT_EQ(numbers.Entries.GetLength(), 0u);
    ReproReadVehicleIdNumberOsResponse vin;
    EXPECT_EQ(vin.Data.GetLength(), 0u);
    ReproReprogrammingRequest run;
    EXPECT_EQ(run.Name.GetLength(), 0u);
    // An empty name still sends its (zero) length.
    EXPECT_EQ(Encode(99, run), (Bytes)Wire().u8(0x63).u32(0).u32(0).u32(0).u32(0).u32(0));
}

}  // namespace
