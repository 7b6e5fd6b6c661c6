// The J2534 version 04.04 records: wire bytes of requests, what responses
// store into the caller's structures, and answers beyond the caller's
// capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/MsgWriter.h"
#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdListJ2534.h"
#include "Tests/Support/PassThruMsg.h"
#include "Tests/Support/ReportCapture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(CCmdCore& record, uint32_t* error = nullptr) {
    MsgWriter writer;
    writer.Write(&record);
    if (error) *error = writer.GetLastError();
    const uint8_t* p = writer.GetBuffer();
    return p ? Bytes(p, p + writer.GetSize()) : Bytes();
}

struct Wire {
    Bytes b;
    Wire& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Wire& u8(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Wire& bytes(const Bytes& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    Wire& text(const char* t, uint32_t length) {
        u32(length);
        for (uint32_t i = 0; i < length; ++i) b.push_back(static_cast<uint8_t>(t[i]));
        return *this;
    }
    // A message with all seven members.
    Wire& msg(uint32_t protocol, uint32_t rx, uint32_t tx, uint32_t ts, const Bytes& data, uint32_t extra = 0) {
        u32(protocol).u32(rx).u32(tx).u32(ts).u32(static_cast<uint32_t>(data.size())).u32(extra);
        return bytes(data);
    }
};

// Reads a record from bytes; returns the reader's error and how much is left.
uint32_t ReadInto(CCmdCore& record, const Bytes& bytes, uint32_t* left = nullptr) {
    CCmdReader reader;
    reader.SetBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    reader.Read(&record);
    if (left) *left = reader.Remaining();
    return reader.GetLastError();
}

std::unique_ptr<PASSTHRU_MSG[]> Messages(size_t n, uint8_t fill = 0) {
    std::unique_ptr<PASSTHRU_MSG[]> m(new PASSTHRU_MSG[n]);
    std::memset(m.get(), fill, n * sizeof(PASSTHRU_MSG));
    return m;
}

// ---- codecs and message arrays ------------------------------------------------------

TEST(J2534Records, MessageWithoutDataIsTwentyFourBytesForBothMasks) {
    PASSTHRU_MSG m;
    std::memset(&m, 0xCC, sizeof m);
    m.ProtocolID = 6;
    m.RxStatus = 0x102;
    m.TxFlags = 0x40;
    m.Timestamp = 0x11223344;
    m.DataSize = 0;
    m.ExtraDataIndex = 7;
    PassThruMsgCodec codec;
    codec.Set(&m, kMaskMsgAll);
    const Bytes expected = Wire().u32(6).u32(0x102).u32(0x40).u32(0x11223344).u32(0).u32(7).b;
    EXPECT_EQ(Written(codec), expected);

    // The header mask never carries data, whatever DataSize says.
    m.DataSize = 12;
    codec.Set(&m, kMaskMsgHeader);
    const Bytes header = Written(codec);
    EXPECT_EQ(header.size(), 24u);
    EXPECT_EQ(header, Wire().u32(6).u32(0x102).u32(0x40).u32(0x11223344).u32(12).u32(7).b);
}

TEST(J2534Records, MessageDataFollowsTheHeaderAndNullTargetFailsTheWriter) {
    PASSTHRU_MSG m = vtest::Msg(5, {0xAB, 0xCD, 0xEF});
    PassThruMsgCodec codec;
    codec.Set(&m, kMaskMsgAll);
    EXPECT_EQ(Written(codec), Wire().msg(5, 0, 0, 0, {0xAB, 0xCD, 0xEF}).b);

    uint32_t error = 0;
    codec.Set(nullptr, kMaskMsgAll);
    EXPECT_TRUE(Written(codec, &error).empty());
    EXPECT_EQ(error, 0x900d0028u);
}

TEST(J2534Records, MessageDataBeyond4128IsNeverSent) {
    vtest::ReportCapture reports;
    PASSTHRU_MSG m = {};
    m.DataSize = 4129;
    PassThruMsgCodec codec;
    codec.Set(&m, kMaskMsgAll);
    uint32_t error = 0;
    EXPECT_TRUE(Written(codec, &error).empty());
    EXPECT_EQ(error, 0x900d0028u);
    EXPECT_EQ(reports.Count(0x900d0028u), 1u);
}

TEST(J2534Records, ArrayRequestsWalkTheCallersArrayWithTheStride) {
    auto msgs = Messages(2);
    msgs[0] = vtest::Msg(6, {0x3E, 0});
    msgs[1] = vtest::Msg(5, {0x99});

    J2534ReadMsgsRequest read;
    read.ChannelID = 3;
    read.NumMsgs = 2;
    read.Timeout = 100;
    read.pMsg = msgs.get();
    EXPECT_EQ(Written(read), Wire().u32(3).u32(2).u32(100)
                                 .u32(6).u32(0).u32(0).u32(0).u32(2).u32(0)
                                 .u32(5).u32(0).u32(0).u32(0).u32(1).u32(0).b);

    J2534WriteMsgsRequest write;
    write.ChannelID = 3;
    write.NumMsgs = 2;
    write.Timeout = 0;
    write.pMsg = msgs.get();
    EXPECT_EQ(Written(write), Wire().u32(3).u32(2).u32(0).msg(6, 0, 0, 0, {0x3E, 0}).msg(5, 0, 0, 0, {0x99}).b);

    uint32_t error = 0;
    write.pMsg = nullptr;
    EXPECT_EQ(Written(write, &error), Wire().u32(3).u32(2).u32(0).b);
    EXPECT_EQ(error, 0x900d0028u);
}

TEST(J2534Records, ReadMsgsResponseStoresIntoTheCallersArray) {
    auto msgs = Messages(3, 0xEE);
    J2534ReadMsgsResponse response;
    response.pMsg = msgs.get();
    response.Capacity = 3;
    const Bytes wire = Wire().u32(0).u32(2).msg(6, 0, 0, 1000, {0, 0, 7, 0xE8, 0x41}, 5)
                           .msg(6, 2, 0, 2000, {0, 0, 7, 0xE8}, 4).b;
    EXPECT_EQ(ReadInto(response, wire), 0u);
    EXPECT_EQ(response.NumMsgs, 2u);
    EXPECT_EQ(response.Owned, 0u);
    EXPECT_EQ(msgs[0].DataSize, 5u);
    EXPECT_EQ(msgs[0].Data[4], 0x41);
    EXPECT_EQ(msgs[0].Timestamp, 1000u);
    EXPECT_EQ(msgs[1].RxStatus, 2u);
    EXPECT_EQ(msgs[1].ExtraDataIndex, 4u);
    EXPECT_EQ(msgs[2].ProtocolID, 0xEEEEEEEEu);  // beyond what came: untouched
}

TEST(J2534Records, ReadMsgsResponseCarriesMessagesOnlyWithResult0Or9) {
    J2534ReadMsgsResponse buffered;
    auto msgs = Messages(2, 0x55);
    buffered.pMsg = msgs.get();
    buffered.Capacity = 2;
    uint32_t left = 0;
    // Result 16 (ERR_BUFFER_EMPTY): nothing follows; what does is not read.
    EXPECT_EQ(ReadInto(buffered, Wire().u32(16).u32(1).b, &left), 0u);
    EXPECT_EQ(buffered.Result, 16u);
    EXPECT_EQ(buffered.NumMsgs, 0u);
    EXPECT_EQ(left, 4u);
    EXPECT_EQ(msgs[0].ProtocolID, 0x55555555u);

    J2534ReadMsgsResponse timedOut;
    timedOut.pMsg = msgs.get();
    timedOut.Capacity = 2;
    EXPECT_EQ(ReadInto(timedOut, Wire().u32(9).u32(1).msg(5, 0, 0, 0, {0, 0, 7, 0xE8, 1}).b), 0u);
    EXPECT_EQ(timedOut.Result, 9u);
    EXPECT_EQ(timedOut.NumMsgs, 1u);
    EXPECT_EQ(msgs[0].ProtocolID, 5u);
}

TEST(J2534Records, ReadMsgsAnswersBeyondTheCallersCapacityAreRefused) {
    vtest::ReportCapture reports;
    // More messages than the caller's array holds: nothing is stored.
    auto msgs = Messages(2, 0x77);
    J2534ReadMsgsResponse tooMany;
    tooMany.pMsg = msgs.get();
    tooMany.Capacity = 1;
    const Bytes two = Wire().u32(0).u32(2).msg(5, 0, 0, 0, {1, 2, 3, 4}).msg(5, 0, 0, 0, {1, 2, 3, 4}).b;
    EXPECT_EQ(ReadInto(tooMany, two), 0x900d0029u);
    EXPECT_EQ(msgs[0].ProtocolID, 0x77777777u);
    EXPECT_EQ(msgs[1].ProtocolID, 0x77777777u);

    // A DataSize beyond Data: refused before it reaches the caller's message.
    J2534ReadMsgsResponse tooLong;
    tooLong.pMsg = msgs.get();
    tooLong.Capacity = 2;
    Wire big;
    big.u32(0).u32(1).u32(5).u32(0).u32(0).u32(0).u32(4129).u32(0).bytes(Bytes(4129, 0xAB));
    EXPECT_EQ(ReadInto(tooLong, big.b), 0x900d0029u);
    EXPECT_EQ(msgs[0].DataSize, 0x77777777u);
    EXPECT_EQ(msgs[0].Data[0], 0x77);
    EXPECT_EQ(reports.Count(0x900d0029u), 2u);
}

TEST(J2534Records, ReadMsgsWithoutCallerArrayOwnsABoundedOne) {
    J2534ReadMsgsResponse response;
    EXPECT_EQ(ReadInto(response, Wire().u32(0).u32(2).msg(5, 0, 0, 0, {9, 9, 9, 9}).msg(5, 0, 0, 0, {}).b), 0u);
    ASSERT_NE(response.pMsg, nullptr);
    EXPECT_EQ(response.Owned, 0x01u);
    EXPECT_EQ(response.pMsg[0].Data[0], 9);
    EXPECT_EQ(response.pMsg[1].DataSize, 0u);

    // A count that the rest of the answer cannot fill allocates nothing.
    size_t biggest = 0;
    vos::SetAllocFailHook([&](size_t size) {
        biggest = std::max(biggest, size);
        return false;
    });
    J2534ReadMsgsResponse bogus;
    EXPECT_EQ(ReadInto(bogus, Wire().u32(0).u32(0x00FFFFFF).msg(5, 0, 0, 0, {}).b), kTessraShortRead);
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(bogus.pMsg, nullptr);
    EXPECT_EQ(biggest, 0u);

    // A failed allocation is the reader's error.
    vos::SetAllocFailHook([](size_t) { return true; });
    J2534ReadMsgsResponse starved;
    EXPECT_EQ(ReadInto(starved, Wire().u32(0).u32(1).msg(5, 0, 0, 0, {}).b), 0xa00d0024u);
    vos::SetAllocFailHook(nullptr);
}

// ---- connect, periodic, filters -------------------------------------------------------------

TEST(J2534Records, ConnectCarriesItsChannelOnlyOnSuccess) {
    J2534ConnectRequest request;
    request.ProtocolID = 6;
    request.Flags = 0x800;
    EXPECT_EQ(Written(request), Wire().u32(6).u32(0x800).b);

    J2534ConnectResponse ok;
    EXPECT_EQ(ReadInto(ok, Wire().u32(0).u32(0x1234).b), 0u);
    EXPECT_EQ(ok.ChannelID, 0x1234u);
    J2534ConnectResponse refused;
    uint32_t left = 0;
    EXPECT_EQ(ReadInto(refused, Wire().u32(3).u32(0x1234).b, &left), 0u);
    EXPECT_EQ(refused.Result, 3u);
    EXPECT_EQ(refused.ChannelID, 0u);
    EXPECT_EQ(left, 4u);
    // A success too short for its channel fails the reader.
    J2534ConnectResponse shortOne;
    EXPECT_NE(ReadInto(shortOne, Wire().u32(0).b), 0u);
}

TEST(J2534Records, PeriodicMessageTravelsAndComesBack) {
    PASSTHRU_MSG m = {};
    m.ProtocolID = 6;
    m.TxFlags = 0x40;
    m.DataSize = 6;
    const uint8_t data[6] = {0, 0, 7, 0xDF, 0x3E, 0x80};
    std::memcpy(m.Data, data, 6);
    J2534StartPeriodicMsgRequest request;
    request.ChannelID = 2;
    request.TimeInterval = 2000;
    request.pMsg = &m;
    EXPECT_EQ(Written(request), Wire().u32(2).u32(2000).msg(6, 0, 0x40, 0, {0, 0, 7, 0xDF, 0x3E, 0x80}).b);

    J2534StartPeriodicMsgResponse response;
    response.pMsg = &m;
    EXPECT_EQ(ReadInto(response, Wire().u32(0).u32(4).msg(6, 0, 0x40, 55, {0, 0, 7, 0xDF, 0x3E, 0x80}).b), 0u);
    EXPECT_EQ(response.MsgID, 4u);
    EXPECT_EQ(m.Timestamp, 55u);
    EXPECT_EQ(response.Owned, 0u);

    J2534StartPeriodicMsgResponse owned;
    EXPECT_EQ(ReadInto(owned, Wire().u32(0).u32(5).msg(6, 0, 0, 0, {1}).b), 0u);
    ASSERT_NE(owned.pMsg, nullptr);
    EXPECT_EQ(owned.Owned, 0x01u);
    EXPECT_EQ(owned.pMsg->Data[0], 1);
}

TEST(J2534Records, FilterRequestCarriesPresentBitsForItsMessages) {
    PASSTHRU_MSG mask = {}, pattern = {};
    mask.ProtocolID = pattern.ProtocolID = 5;
    mask.DataSize = pattern.DataSize = 4;
    const uint8_t m[4] = {0xFF, 0xFF, 0xFF, 0xFF}, p[4] = {0, 0, 7, 0xE8};
    std::memcpy(mask.Data, m, 4);
    std::memcpy(pattern.Data, p, 4);
    J2534StartMsgFilterRequest request;
    request.ChannelID = 1;
    request.FilterType = 1;
    request.pMaskMsg = &mask;
    request.pPatternMsg = &pattern;
    EXPECT_EQ(Written(request), Wire().u32(1).u32(1).u8(0x03)
                                    .msg(5, 0, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF})
                                    .msg(5, 0, 0, 0, {0, 0, 7, 0xE8}).b);
    EXPECT_EQ(request.Present, 0x03);

    request.pMaskMsg = nullptr;
    request.pPatternMsg = nullptr;
    request.pFlowControlMsg = &pattern;
    EXPECT_EQ(Written(request), Wire().u32(1).u32(1).u8(0x04).msg(5, 0, 0, 0, {0, 0, 7, 0xE8}).b);
}

TEST(J2534Records, FilterResponseOverwritesOnlyTheMessagesItCarries) {
    PASSTHRU_MSG mask = {}, pattern = {};
    mask.Timestamp = 111;
    pattern.Timestamp = 222;
    J2534StartMsgFilterResponse response;
    response.pMaskMsg = &mask;
    response.pPatternMsg = &pattern;
    // Present 0x06: the pattern into the caller's, the flow control into one
    // of the record's own; the mask stays as it was.
    EXPECT_EQ(ReadInto(response, Wire().u32(0).u32(7).u8(0x06).msg(6, 0, 0, 333, {1, 2, 3, 4})
                                     .msg(6, 0, 0, 444, {5, 6, 7, 8}).b),
              0u);
    EXPECT_EQ(response.FilterID, 7u);
    EXPECT_EQ(response.pMaskMsg, nullptr);
    EXPECT_EQ(mask.Timestamp, 111u);
    EXPECT_EQ(pattern.Timestamp, 333u);
    ASSERT_NE(response.pFlowControlMsg, nullptr);
    EXPECT_EQ(response.pFlowControlMsg->Timestamp, 444u);
    EXPECT_EQ(response.Owned, 0x04u);

    J2534StartMsgFilterResponse refused;
    refused.pPatternMsg = &pattern;
    EXPECT_EQ(ReadInto(refused, Wire().u32(0x18).b), 0u);
    EXPECT_EQ(refused.Result, 0x18u);
    EXPECT_EQ(pattern.Timestamp, 333u);
}

// ---- texts -----------------------------------------------------------------------------------

TEST(J2534Records, TextFieldLengths) {
    char version[] = "04.04";
    TextField field;
    field.Set(version);
    EXPECT_EQ(Written(field), Wire().text("04.04", 6).b);

    field.Set(nullptr);
    EXPECT_EQ(Written(field), Wire().u32(0).b);

    // 85 characters: cut to 80 bytes, no terminator.
    std::string longText(85, 'x');
    field.Set(&longText[0]);
    EXPECT_EQ(Written(field), Wire().text(longText.c_str(), 80).b);
    EXPECT_EQ(TextField::LengthOf(std::string(79, 'y').c_str()), 80u);
    EXPECT_EQ(TextField::LengthOf(""), 1u);
}

TEST(J2534Records, ReadVersionTextsLandInTheCallersBuffers) {
    char fw[80], dll[80], api[80];
    std::memset(fw, 'F', 80);
    std::memset(dll, 'D', 80);
    std::memset(api, 'A', 80);
    J2534ReadVersionResponse response;
    response.pFirmwareVersion = fw;
    response.pDllVersion = dll;
    response.pApiVersion = api;
    const std::string full(80, 'z');  // exactly 80 bytes, no terminator
    const Bytes wire = Wire().u32(0).text("3.12", 5).text(full.c_str(), 80).text("04.04", 6).b;
    EXPECT_EQ(ReadInto(response, wire), 0u);
    EXPECT_STREQ(fw, "3.12");
    EXPECT_EQ(fw[5], 'F');  // nothing beyond the text
    EXPECT_EQ(std::string(dll), std::string(79, 'z'));
    EXPECT_STREQ(api, "04.04");
    EXPECT_EQ(response.Owned, 0u);
}

TEST(J2534Records, TextsBeyond80BytesAreRefused) {
    vtest::ReportCapture reports;
    char fw[80];
    std::memset(fw, 'F', 80);
    J2534ReadVersionResponse response;
    response.pFirmwareVersion = fw;
    const std::string longer(81, 'q');
    EXPECT_EQ(ReadInto(response, Wire().u32(0).text(longer.c_str(), 81).b), 0x900d0029u);
    EXPECT_EQ(fw[0], 'F');
    EXPECT_EQ(reports.Count(0x900d0029u), 1u);

    LocalJ2534GetLastErrorResponse error;
    char text[80] = "old";
    error.pErrorDescription = text;
    EXPECT_EQ(ReadInto(error, Wire().u32(0).text(longer.c_str(), 81).b), 0x900d0029u);
    EXPECT_STREQ(text, "old");
}

TEST(J2534Records, LastErrorTextAndItsAbsence) {
    char text[80] = "old";
    LocalJ2534GetLastErrorResponse sent;
    sent.pErrorDescription = text;
    EXPECT_EQ(ReadInto(sent, Wire().u32(0).text("Invalid channel ID 7", 21).b), 0u);
    EXPECT_STREQ(text, "Invalid channel ID 7");
    EXPECT_EQ(sent.TextLength, 21u);

    LocalJ2534GetLastErrorResponse none;
    char untouched[80] = "kept";
    none.pErrorDescription = untouched;
    EXPECT_EQ(ReadInto(none, Wire().u32(0).u32(0).b), 0u);
    EXPECT_EQ(none.TextLength, 0u);
    EXPECT_STREQ(untouched, "kept");

    LocalJ2534GetLastErrorResponse owned;
    EXPECT_EQ(ReadInto(owned, Wire().u32(0).text("abc", 4).b), 0u);
    ASSERT_NE(owned.pErrorDescription, nullptr);
    EXPECT_STREQ(owned.pErrorDescription, "abc");
    EXPECT_EQ(owned.Owned, 0x01u);
}

// ---- Ioctl -----------------------------------------------------------------------------------

TEST(J2534Records, IoctlInputForms) {
    SCONFIG pairs[2] = {{1, 500000}, {3, 1}};
    SCONFIG_LIST list = {2, pairs};
    LocalJ2534IoctlRequest request;
    request.ChannelID = 4;
    request.IoctlID = SET_CONFIG;
    request.pInput = &list;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(2).u32(2).u32(1).u32(500000).u32(3).u32(1).b);

    request.IoctlID = GET_CONFIG;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(1).u32(2).u32(1).u32(3).b);

    list.ConfigPtr = nullptr;  // no list: nothing after the ID
    EXPECT_EQ(Written(request), Wire().u32(4).u32(1).b);

    uint8_t address = 0x33;
    uint8_t keys[2] = {0, 0};
    SBYTE_ARRAY in = {1, &address}, out = {2, keys};
    request.IoctlID = FIVE_BAUD_INIT;
    request.pInput = &in;
    request.pOutput = &out;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(4).u32(1).u8(0x33).u32(2).b);
    request.pOutput = nullptr;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(4).u32(1).u8(0x33).b);

    request.IoctlID = ADD_TO_FUNCT_MSG_LOOKUP_TABLE;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(12).u32(1).u8(0x33).b);

    PASSTHRU_MSG start = {};
    start.ProtocolID = 4;
    start.DataSize = 4;
    const uint8_t sc[4] = {0xC1, 0x33, 0xF1, 0x81};
    std::memcpy(start.Data, sc, 4);
    request.IoctlID = FAST_INIT;
    request.pInput = &start;
    EXPECT_EQ(Written(request), Wire().u32(4).u32(5).msg(4, 0, 0, 0, {0xC1, 0x33, 0xF1, 0x81}).b);

    for (uint32_t id : {3u, 7u, 8u, 9u, 10u, 11u, 14u, 0x8000u}) {
        request.IoctlID = id;
        EXPECT_EQ(Written(request), Wire().u32(4).u32(id).b) << id;
    }
}

TEST(J2534Records, GetConfigFillsUpToTheCallersCount) {
    SCONFIG pairs[3] = {{1, 0}, {3, 0}, {0x1E, 0xABCD}};
    SCONFIG_LIST list = {3, pairs};
    LocalJ2534IoctlResponse five;
    five.IoctlID = GET_CONFIG;
    five.pInput = &list;
    Wire answer;
    answer.u32(0).u32(GET_CONFIG).u32(5);
    for (uint32_t i = 0; i < 5; ++i) answer.u32(0x10 + i).u32(100 + i);
    uint32_t left = 0;
    EXPECT_EQ(ReadInto(five, answer.b, &left), 0u);
    EXPECT_EQ(list.NumOfParams, 3u);
    EXPECT_EQ(pairs[0].Parameter, 0x10u);
    EXPECT_EQ(pairs[2].Value, 102u);
    EXPECT_EQ(left, 16u);  // the two surplus pairs stay unread

    SCONFIG fresh[3] = {{1, 0}, {3, 0}, {0x1E, 0xABCD}};
    SCONFIG_LIST three = {3, fresh};
    LocalJ2534IoctlResponse two;
    two.IoctlID = GET_CONFIG;
    two.pInput = &three;
    EXPECT_EQ(ReadInto(two, Wire().u32(0).u32(GET_CONFIG).u32(2).u32(1).u32(500000).u32(3).u32(0).b), 0u);
    EXPECT_EQ(three.NumOfParams, 3u);
    EXPECT_EQ(fresh[0].Value, 500000u);
    EXPECT_EQ(fresh[2].Parameter, 0x1Eu);
    EXPECT_EQ(fresh[2].Value, 0xABCDu);

    // Without a caller's list the record keeps one of the received size.
    LocalJ2534IoctlResponse own;
    own.IoctlID = GET_CONFIG;
    EXPECT_EQ(ReadInto(own, Wire().u32(0).u32(GET_CONFIG).u32(2).u32(1).u32(2).u32(3).u32(4).b), 0u);
    ASSERT_NE(own.pInput, nullptr);
    SCONFIG_LIST* got = static_cast<SCONFIG_LIST*>(own.pInput);
    EXPECT_EQ(got->NumOfParams, 2u);
    EXPECT_EQ(got->ConfigPtr[1].Value, 4u);
    EXPECT_EQ(own.Owned, 0x01u);
}

TEST(J2534Records, IoctlOutputForms) {
    uint32_t volts = 0;
    LocalJ2534IoctlResponse vbatt;
    vbatt.IoctlID = READ_VBATT;
    vbatt.pOutput = &volts;
    EXPECT_EQ(ReadInto(vbatt, Wire().u32(0).u32(READ_VBATT).u32(12600).b), 0u);
    EXPECT_EQ(volts, 12600u);

    uint8_t keys[2] = {0, 0};
    SBYTE_ARRAY out = {2, keys};
    LocalJ2534IoctlResponse baud;
    baud.IoctlID = FIVE_BAUD_INIT;
    baud.pOutput = &out;
    uint32_t left = 0;
    EXPECT_EQ(ReadInto(baud, Wire().u32(0).u32(FIVE_BAUD_INIT).u32(5).bytes({8, 8, 1, 2, 3}).b, &left), 0u);
    EXPECT_EQ(keys[0], 8);
    EXPECT_EQ(keys[1], 8);
    EXPECT_EQ(out.NumOfBytes, 2u);
    EXPECT_EQ(left, 3u);

    PASSTHRU_MSG answer = {};
    LocalJ2534IoctlResponse fast;
    fast.IoctlID = FAST_INIT;
    fast.pOutput = &answer;
    EXPECT_EQ(ReadInto(fast, Wire().u32(0).u32(FAST_INIT).msg(4, 0, 0, 9, {0x83, 0xF1, 0x10}).b), 0u);
    EXPECT_EQ(answer.DataSize, 3u);
    EXPECT_EQ(answer.Data[0], 0x83);

    // Refused: nothing after the Result.
    volts = 77;
    LocalJ2534IoctlResponse refused;
    refused.IoctlID = READ_VBATT;
    refused.pOutput = &volts;
    EXPECT_EQ(ReadInto(refused, Wire().u32(ERR_INVALID_IOCTL_ID).b), 0u);
    EXPECT_EQ(volts, 77u);
}

TEST(J2534Records, IoctlEchoOfAnotherIdIsRefused) {
    vtest::ReportCapture reports;
    uint32_t volts = 5;
    LocalJ2534IoctlResponse response;
    response.IoctlID = READ_VBATT;
    response.pOutput = &volts;
    // A GET_CONFIG form would land in the caller's u32.
    EXPECT_EQ(ReadInto(response, Wire().u32(0).u32(GET_CONFIG).u32(1).u32(1).u32(2).b), 0x900d0028u);
    EXPECT_EQ(volts, 5u);
    EXPECT_EQ(reports.Count(0x900d0028u), 1u);
}

TEST(J2534Records, IoctlAllocationFailureEndsReadingWithoutError) {
    vos::SetAllocFailHook([](size_t) { return true; });
    LocalJ2534IoctlResponse fast;
    fast.IoctlID = FAST_INIT;
    uint32_t left = 0;
    EXPECT_EQ(ReadInto(fast, Wire().u32(0).u32(FAST_INIT).msg(4, 0, 0, 0, {1}).b, &left), 0u);
    EXPECT_EQ(fast.pOutput, nullptr);
    EXPECT_GT(left, 0u);
    LocalJ2534IoctlResponse config;
    config.IoctlID = GET_CONFIG;
    EXPECT_EQ(ReadInto(config, Wire().u32(0).u32(GET_CONFIG).u32(1).u32(1).u32(2).b), 0u);
    EXPECT_EQ(config.pInput, nullptr);
    vos::SetAllocFailHook(nullptr);
}

}  // namespace
