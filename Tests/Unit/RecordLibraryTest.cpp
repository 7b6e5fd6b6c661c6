// The record library: the wire forms of its string and buffer members, the
// base record, the reader's sticky error, and how records meet MsgWriter.
#include <gtest/gtest.h>

#include "Pc/MsgCtrl/MsgWriter.h"
#include "Tessra/CmdIo.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_errors.h"

using vtest::Bytes;
using vtest::FromHex;
using vtest::Hex;

namespace {

struct TextAndData : CCmdBase {
    TextAndData() : CCmdBase(0), Before(0), After(0) {}
    uint16_t Before;
    CCmdString Name;
    CCmdBuffer Data;
    uint8_t After;
    template <class S>
    void Fields(S& s) {
        Xfer(s, Before);
        Xfer(s, Name);
        Xfer(s, Data);
        Xfer(s, After);
    }
    TESSRA_FIELD_IO
};

struct Nested : CCmdBase {
    Nested() : CCmdBase(0), Tag(0) {}
    uint64_t Tag;
    TextAndData Inner;
    template <class S>
    void Fields(S& s) {
        Xfer(s, Tag);
        Xfer(s, Inner);
    }
    TESSRA_FIELD_IO
};

Bytes Written(CCmdCore& record) {
    MsgWriter writer;
    writer.Write(&record);
    EXPECT_EQ(0u, writer.GetLastError());
    return Bytes(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

TEST(RecordLibrary, StringAndBufferTravelWithAU32ByteLength) {
    vtest::ReportCapture reports;
    TextAndData r;
    r.Before = 0x1234;
    const VWCHAR ab[] = {'A', 'B', 0};
    r.Name = ab;
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(0u, r.Data.SetAt(data, 3));
    r.After = 0x7E;
    EXPECT_EQ(6u, r.Name.GetLength()) << "the terminator is counted";
    EXPECT_EQ("34 12 06 00 00 00 41 00 42 00 00 00 03 00 00 00 01 02 03 7E", Hex(Written(r)));

    // Read back into a fresh record.
    Bytes wire = Written(r);
    TextAndData back;
    CCmdReader reader;
    reader.SetBuffer(wire.data(), static_cast<uint32_t>(wire.size()));
    reader.Read(&back);
    EXPECT_EQ(0u, reader.GetLastError());
    EXPECT_EQ(0x1234, back.Before);
    EXPECT_EQ("41 00 42 00 00 00", Hex(Bytes(back.Name.GetBytes(), back.Name.GetBytes() + back.Name.GetLength())));
    EXPECT_EQ('A', back.Name.GetData()[0]);
    EXPECT_EQ(0, back.Name.GetData()[2]);
    EXPECT_EQ(Bytes(data, data + 3), Bytes(back.Data.GetData(), back.Data.GetData() + back.Data.GetLength()));
    EXPECT_EQ(0x7E, back.After);
    EXPECT_EQ(0u, reader.Remaining());
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(RecordLibrary, EmptyMembersNeverWriteSizeZero) {
    vtest::ReportCapture reports;
    TextAndData r;
    r.Name = static_cast<const VWCHAR*>(nullptr);
    r.Data.SetAt(nullptr, 0);
    EXPECT_EQ("00 00 00 00 00 00 00 00 00 00 00", Hex(Written(r)));
    EXPECT_TRUE(reports.Reports().empty()) << "MsgWriter would report a write of size 0";

    // Emptied members too.
    const VWCHAR x[] = {'x', 0};
    r.Name = x;
    r.Name.RemoveAll();
    const uint8_t d[] = {9};
    r.Data.SetAt(d, 1);
    r.Data.RemoveAll();
    EXPECT_EQ("00 00 00 00 00 00 00 00 00 00 00", Hex(Written(r)));
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(RecordLibrary, NestedRecordsFollowInWireOrder) {
    Nested n;
    n.Tag = 0x0102030405060708ull;
    n.Inner.After = 0xAA;
    EXPECT_EQ("08 07 06 05 04 03 02 01 00 00 00 00 00 00 00 00 00 00 AA", Hex(Written(n)));
}

TEST(RecordLibrary, MembersCopyAndAssign) {
    CCmdBuffer a;
    const uint8_t d[] = {5, 6};
    a.SetAt(d, 2);
    CCmdBuffer b;
    b = a;
    CCmdBuffer c(a);
    a.RemoveAll();
    EXPECT_EQ(2u, b.GetLength());
    EXPECT_EQ(6, c.GetData()[1]);
    CCmdString s;
    const VWCHAR t[] = {'h', 'i', 0};
    s = t;
    CCmdString u(s);
    CCmdString v;
    v = s;
    s.RemoveAll();
    EXPECT_EQ(6u, u.GetLength());
    EXPECT_EQ('i', v.GetData()[1]);
    EXPECT_EQ(nullptr, s.GetData());
}

TEST(RecordLibrary, ShortReadIsStickyAndReadsNothingMore) {
    Bytes wire = FromHex("34 12 06 00 00 00 41 00");  // the string claims 6 bytes, 2 arrive
    TextAndData r;
    r.After = 0x55;
    CCmdReader reader;
    reader.SetBuffer(wire.data(), static_cast<uint32_t>(wire.size()));
    reader.Read(&r);
    EXPECT_EQ(kTessraShortRead, reader.GetLastError());
    EXPECT_EQ(0x1234, r.Before);
    EXPECT_EQ(0u, r.Name.GetLength()) << "nothing is taken from a short member";
    EXPECT_EQ(0x55, r.After);
    uint8_t byte = 0;
    EXPECT_EQ(kTessraShortRead, reader.Read(&byte, 1)) << "later reads fail, although a byte is left";
    EXPECT_EQ(2u, reader.Remaining());

    // Integers are not read in part.
    Bytes three = FromHex("01 02 03");
    reader.SetBuffer(three.data(), 3);
    uint32_t value = 0xFFFFFFFF;
    Xfer(reader, value);
    EXPECT_EQ(kTessraShortRead, reader.GetLastError());
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_EQ(3u, reader.Remaining());

    // A huge announced length is refused without allocating it.
    Bytes huge = FromHex("FF FF FF 7F 00");
    CCmdBuffer b;
    reader.SetBuffer(huge.data(), static_cast<uint32_t>(huge.size()));
    b.Read(reader);
    EXPECT_EQ(kTessraShortRead, reader.GetLastError());
    EXPECT_EQ(0u, b.GetLength());

    reader.SetBuffer(three.data(), 3);
    reader.Read(static_cast<CCmdCore*>(nullptr));
    EXPECT_EQ(kTessraInvalidParameter, reader.GetLastError());
}

TEST(RecordLibrary, BaseRecordWritesNothingAndReadsAnOptionalValue) {
    CCmdBase base(7);
    EXPECT_EQ(7u, base.GetValue());
    EXPECT_TRUE(Written(base).empty());

    Bytes four = FromHex("78 56 34 12 99");
    CCmdReader reader;
    reader.SetBuffer(four.data(), static_cast<uint32_t>(four.size()));
    reader.Read(&base);
    EXPECT_EQ(0u, reader.GetLastError());
    EXPECT_EQ(0x12345678u, base.GetValue());

    CCmdBase other(3);
    Bytes two = FromHex("01 02");
    reader.SetBuffer(two.data(), 2);
    reader.Read(&other);
    EXPECT_EQ(0u, reader.GetLastError()) << "the value is optional";
    EXPECT_EQ(3u, other.GetValue());
    base.Clear();
}

TEST(RecordLibrary, WriterRefusesANullRecordWithoutReport) {
    vtest::ReportCapture reports;
    MsgWriter writer;
    writer.Write(static_cast<CCmdCore*>(nullptr));
    EXPECT_EQ(kTessraInvalidParameter, writer.GetLastError());
    EXPECT_TRUE(reports.Reports().empty());
}

}  // namespace
