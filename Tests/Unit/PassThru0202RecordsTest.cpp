// Records of the stdcall pass-thru family, the OEM extensions and DLC12: the
// wire bytes they write (literal), what they read back, the list wire form
// and the lists' ownership of their elements.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Pc/MsgCtrl/MsgReader.h"
#include "Pc/MsgCtrl/MsgWriter.h"
#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdListMonitor.h"
#include "Tessra/CmdListOem.h"
#include "Tessra/CmdListPassThru0202.h"
#include "Tests/Unit/DeviceServiceBytes.h"

namespace {

using svctest::Bytes;
using svctest::Encode;
using svctest::ReadFields;
using svctest::Wire;

// A MsgRecord on the wire: six u32 and the Data buffer.
Wire MsgWire(uint32_t p, uint32_t rx, uint32_t tx, uint32_t ts, uint32_t ds, uint32_t edi, const Bytes& data) {
    Wire w;
    w.u32(p).u32(rx).u32(tx).u32(ts).u32(ds).u32(edi).u32(static_cast<uint32_t>(data.size())).raw(data);
    return w;
}

void Fill(MsgRecord& m, uint32_t base, const Bytes& data) {
    m.ProtocolID = base;
    m.RxStatus = base + 1;
    m.TxFlags = base + 2;
    m.Timestamp = base + 3;
    m.DataSize = static_cast<uint32_t>(data.size());
    m.ExtraDataIndex = base + 5;
    m.Data.SetAt(data.data(), static_cast<uint32_t>(data.size()));
}

// ---- element records and lists -------------------------------------------------------

TEST(PassThru0202Records, MsgRecordWritesSixValuesThenItsData) {
    MsgRecord m;
    Fill(m, 0x10, {0xAA, 0xBB, 0xCC});
    Bytes expected = MsgWire(0x10, 0x11, 0x12, 0x13, 3, 0x15, {0xAA, 0xBB, 0xCC});
    // The element has no header of its own: the bytes after a one-byte code.
    Bytes wire = Encode(0x21, m);
    ASSERT_EQ(wire.size(), 1 + expected.size());
    EXPECT_EQ(Bytes(wire.begin() + 1, wire.end()), expected);

    MsgRecord empty;
    Bytes emptyWire = Encode(0x21, empty);
    EXPECT_EQ(emptyWire.size(), 1u + 28u);  // six u32 and a zero Data length
}

TEST(PassThru0202Records, ClearZeroesAMessageAndEmptiesItsData) {
    MsgRecord m;
    Fill(m, 7, {1, 2, 3});
    m.Clear();
    EXPECT_EQ(m.ProtocolID + m.RxStatus + m.TxFlags + m.Timestamp + m.DataSize + m.ExtraDataIndex, 0u);
    EXPECT_EQ(m.Data.GetLength(), 0u);
    ConfigRecord c;
    c.Parameter = 3;
    c.Value = 4;
    c.Clear();
    EXPECT_EQ(c.Parameter + c.Value, 0u);
}

TEST(PassThru0202Records, ListsKeepInsertionOrderAndWriteCountThenElements) {
    ConfigRecordList list;
    EXPECT_EQ(Encode(0x21, list), (Bytes{0x21, 0, 0, 0, 0}));
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t index = list.Append();
        ASSERT_EQ(index, i);
        list.At(index)->Parameter = 0x100 + i;
        list.At(index)->Value = 0x200 + i;
    }
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.At(3), nullptr);
    EXPECT_EQ(list.At(1)->Parameter, 0x101u);
    Bytes expected = Wire().u8(0x21).u32(3).u32(0x100).u32(0x200).u32(0x101).u32(0x201).u32(0x102).u32(0x202);
    EXPECT_EQ(Encode(0x21, list), expected);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.At(0), nullptr);
}

TEST(PassThru0202Records, ReadingAListReplacesWhatItHeld) {
    MsgRecordList list;
    list.Append();
    list.Append();
    Bytes fields = Wire().u32(1).raw(MsgWire(6, 0, 0x40, 99, 2, 2, {0x7E, 0x01}));
    uint32_t unread = 1;
    ASSERT_EQ(ReadFields(fields, list, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    ASSERT_EQ(list.Count(), 1u);
    const MsgRecord& m = *list.At(0);
    EXPECT_EQ(m.ProtocolID, 6u);
    EXPECT_EQ(m.TxFlags, 0x40u);
    EXPECT_EQ(m.Timestamp, 99u);
    ASSERT_EQ(m.Data.GetLength(), 2u);
    EXPECT_EQ(m.Data.GetData()[0], 0x7E);
}

TEST(PassThru0202Records, ACountBeyondTheDataFailsTheReadWithoutRunningAway) {
    ConfigRecordList list;
    // Count 0xFFFFFFFF, one pair: the second element finds no bytes.
    Bytes fields = Wire().u32(0xFFFFFFFF).u32(1).u32(2);
    EXPECT_EQ(ReadFields(fields, list), kTessraShortRead);
    EXPECT_LE(list.Count(), 2u);
}

TEST(PassThru0202Records, AnElementThatCannotBeAllocatedSetsOutOfMemory) {
    MsgRecordList list;
    Bytes fields = Wire().u32(2).raw(MsgWire(1, 2, 3, 4, 0, 5, {})).raw(MsgWire(1, 2, 3, 4, 0, 5, {}));
    vos::SetAllocFailHook([](size_t size) { return size == MsgRecordList::ElementBlockSize(); });
    uint32_t error = ReadFields(fields, list);
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(error, 0xa00d0024u);
    EXPECT_EQ(list.Count(), 0u);
}

// ---- command records ----------------------------------------------------------------------

TEST(PassThru0202Records, ConnectAndDisconnectBytes) {
    PassThruConnectRequest connect;
    connect.ProtocolID = 6;
    connect.Flags = 0x800;
    EXPECT_EQ(Encode(64, connect), (Bytes{0x40, 6, 0, 0, 0, 0x00, 0x08, 0, 0}));
    PassThruDisconnectRequest disconnect;
    disconnect.ChannelID = 0x01020304;
    EXPECT_EQ(Encode(65, disconnect), (Bytes{0x41, 4, 3, 2, 1}));

    PassThruConnectResponse response;
    ASSERT_EQ(ReadFields(Wire().u32(3).u32(0x77), response), 0u);
    EXPECT_EQ(response.Result, 3u);
    EXPECT_EQ(response.ChannelID, 0x77u);
}

TEST(PassThru0202Records, MessageRequestCarriesItsListAfterTheTimeout) {
    PassThruWriteMsgsRequest request;
    request.ChannelID = 2;
    request.NumMsgs = 2;
    request.Timeout = 100;
    Fill(*request.Msgs.At(request.Msgs.Append()), 0x10, {0x01});
    Fill(*request.Msgs.At(request.Msgs.Append()), 0x20, {});
    Bytes expected = Wire()
                         .u8(0x43)
                         .u32(2)
                         .u32(2)
                         .u32(100)
                         .u32(2)
                         .raw(MsgWire(0x10, 0x11, 0x12, 0x13, 1, 0x15, {0x01}))
                         .raw(MsgWire(0x20, 0x21, 0x22, 0x23, 0, 0x25, {}));
    EXPECT_EQ(Encode(67, request), expected);
}

TEST(PassThru0202Records, MessageResponseFieldsArePresentWhateverTheResult) {
    PassThruReadMsgsResponse response;
    Bytes fields = Wire().u32(0x10).u32(1).u32(1).raw(MsgWire(5, 1, 0, 42, 1, 0, {0x55}));
    uint32_t unread = 1;
    ASSERT_EQ(ReadFields(fields, response, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(response.Result, 0x10u);
    EXPECT_EQ(response.NumMsgs, 1u);
    ASSERT_EQ(response.Msgs.Count(), 1u);
    EXPECT_EQ(response.Msgs.At(0)->Timestamp, 42u);
}

TEST(PassThru0202Records, OemErrorTextTravelsAsAWideString) {
    PassThruOemGetLastErrorRequest request;
    EXPECT_EQ(Encode(73, request), (Bytes{0x49}));
    PassThruOemGetLastErrorResponse response;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(4).u16('E').u16(0), response), 0u);
    EXPECT_EQ(response.ErrorDescription.GetLength(), 4u);
    EXPECT_EQ(response.ErrorDescription.GetData()[0], u'E');
}

TEST(PassThru0202Records, IoctlRequestFormsFollowTheId) {
    PassThruIoctlRequest request;
    request.ChannelID = 1;

    request.IoctlID = 1;
    request.NumOfParams = 1;
    ConfigRecord& pair = *request.Configs.At(request.Configs.Append());
    pair.Parameter = 3;
    pair.Value = 1;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(1).u32(1).u32(1).u32(3).u32(1));

    request.IoctlID = 4;
    request.Address = 0x33;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(4).u8(0x33));

    request.IoctlID = 5;
    Fill(request.Msg, 0x40, {0xC1});
    EXPECT_EQ(Encode(75, request),
              (Bytes)Wire().u8(0x4B).u32(1).u32(5).raw(MsgWire(0x40, 0x41, 0x42, 0x43, 1, 0x45, {0xC1})));

    request.IoctlID = 8;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(8));

    request.IoctlID = 0x10000;
    request.Bytes[0] = 1;
    request.Bytes[1] = 2;
    request.Bytes[2] = 3;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(0x10000).u8(1).u8(2).u8(3));

    request.IoctlID = 0x10001;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(0x10001));

    request.IoctlID = 0x10002;
    request.Words[0] = 0x1111;
    request.Words[1] = 0x2222;
    request.Words[2] = 0x3333;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(0x10002).u16(0x1111).u16(0x2222).u16(0x3333));

    request.IoctlID = 0x10003;
    request.Value = 0xCAFEF00D;
    EXPECT_EQ(Encode(75, request), (Bytes)Wire().u8(0x4B).u32(1).u32(0x10003).u32(0xCAFEF00D));
}

TEST(PassThru0202Records, IoctlResponseReadsTheTailOfTheEchoedId) {
    PassThruIoctlResponse config;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(1).u32(2).u32(2).u32(1).u32(500000).u32(3).u32(0), config), 0u);
    EXPECT_EQ(config.NumOfParams, 2u);
    ASSERT_EQ(config.Configs.Count(), 2u);
    EXPECT_EQ(config.Configs.At(0)->Value, 500000u);

    PassThruIoctlResponse keys;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(4).u8(0x08).u8(0x09), keys), 0u);
    EXPECT_EQ(keys.KeyByte1, 0x08);
    EXPECT_EQ(keys.KeyByte2, 0x09);

    PassThruIoctlResponse word;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(0x10001).u16(12600), word), 0u);
    EXPECT_EQ(word.Word, 12600);

    PassThruIoctlResponse value;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(0x10002).u32(0xABCDEF01), value), 0u);
    EXPECT_EQ(value.Value, 0xABCDEF01u);

    // An ID without a tail reads nothing more.
    PassThruIoctlResponse plain;
    uint32_t unread = 0;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(7).u32(0xFFFFFFFF), plain, &unread), 0u);
    EXPECT_EQ(unread, 4u);
}

// ---- OEM extensions -------------------------------------------------------------------------

TEST(OemRecords, LogRequestsCarryTheirArguments) {
    PassThruOemReadLogRequest read;
    read.LogArg = 2;
    EXPECT_EQ(Encode(80, read), (Bytes{0x50, 2, 0, 0, 0}));
    PassThruOemSeekLogRequest seek;
    seek.LogArg = 0;
    seek.SeekArg1 = 1;
    seek.SeekArg2 = 0xFFFFFFFF;
    EXPECT_EQ(Encode(83, seek), (Bytes{0x53, 0, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    PassThruOemReadVersionRequest version;
    EXPECT_EQ(Encode(86, version), (Bytes{0x56}));
}

TEST(OemRecords, LogEntryIsSevenValuesThenTheData) {
    PassThruOemReadLogResponse response;
    Wire w;
    w.u32(0x10);
    for (uint32_t i = 1; i <= 7; ++i) w.u32(i * 0x01010101u);
    w.u32(2).u8(0xAB).u8(0xCD);
    ASSERT_EQ(ReadFields(w, response), 0u);
    EXPECT_EQ(response.Result, 0x10u);
    for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(response.EntryValue(i), (i + 1) * 0x01010101u);
    ASSERT_EQ(response.Data.GetLength(), 2u);

    PassThruOemGetLogStatusResponse status;
    ASSERT_EQ(ReadFields(Wire().u32(0x12).u32(64).u32(3).u32(64), status), 0u);
    EXPECT_EQ(status.StatusValue(0), 64u);
    EXPECT_EQ(status.StatusValue(1), 3u);
}

// ---- DLC12 ------------------------------------------------------------------------------------

TEST(Dlc12Records, GetDiagCodeRequestIsThreeBytes) {
    DLC12GetDiagCodeRequest request;
    request.bySendData = 0x01;
    request.wMaskData = 0x0305;
    EXPECT_EQ(Encode(0x307F, request), (Bytes{0x7F, 0x30, 0x01, 0x05, 0x03}));
    DLC12ConnectRequest connect;
    EXPECT_EQ(Encode(0x317F, connect), (Bytes{0x7F, 0x31}));
    DLC12DisconnectRequest disconnect;
    EXPECT_EQ(Encode(0x327F, disconnect), (Bytes{0x7F, 0x32}));

    DLC12GetDiagCodeResponse response;
    ASSERT_EQ(ReadFields(Wire().u32(0).u32(3).u8(1).u8(2).u8(3), response), 0u);
    EXPECT_EQ(response.DiagCode.GetLength(), 3u);
}

}  // namespace
