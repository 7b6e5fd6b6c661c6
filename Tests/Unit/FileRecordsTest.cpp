// The file-system and firmware exports against a scripted device: the request
// bytes they send, how they map each response (and each failed exchange) to
// what the caller gets, and that an answer longer than the caller's buffer is
// never written past it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListFile.h"
#include "Tessra/CmdListFirmware.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_firmware.h"

using vtest::Bytes;
using vtest::FromHex;
using vtest::Hex;

namespace {

using svctest::Accepted;
using svctest::Refused;
using svctest::W;
using svctest::Wire;

constexpr uint32_t kRefusal = 0x0000BEEF;

class FileRecords : public ::testing::Test {
protected:
    vtest::ScriptedDevice& Device() { return bench.Usb().Device(); }

    // Every command is answered by fn(code, request).
    void Answer(std::function<Bytes(uint8_t code, const Bytes& request)> fn) {
        Device().SetHandler([fn](const Bytes& request) { return fn(request[0], request); });
    }
    // One fixed answer: status 6 and these fields.
    void AnswerFields(const Bytes& fields) {
        Answer([fields](uint8_t code, const Bytes&) { return Accepted(code, fields); });
    }
    void AnswerRefusal() {
        Answer([](uint8_t code, const Bytes&) { return Refused(code, kRefusal); });
    }
    std::vector<Bytes> Requests() { return Device().Requests(); }
    Bytes LastRequest() {
        auto all = Requests();
        return all.empty() ? Bytes() : all.back();
    }

    vtest::LinkBench bench;
};

// ---- request bytes ------------------------------------------------------------------

TEST_F(FileRecords, RequestsCarryTheirFieldsInTableOrder) {
    AnswerFields(Wire().u32(1).u64(0).u64(0).u64(0).bytes());  // long enough for every response read here

    KovCreateFile(W(u"\\a.txt"), 0x80000000u, 1, nullptr, 3, 0x80, 0);
    // u32 FileNameLength (14: six units and the terminator), the wstring, then
    // access, share mode, disposition, flags, template.
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("21 0E 00 00 00 0E 00 00 00 5C 00 61 00 2E 00 74 00 78 00 74 00 00 00"
                                              " 00 00 00 80 01 00 00 00 03 00 00 00 80 00 00 00 00 00 00 00")));

    KovDeleteFile(W(u"x"));  // u16 PathLength before the string
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("25 04 00 04 00 00 00 78 00 00 00")));
    KovCreateDirectory(W(u"d"), nullptr);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("29 04 00 04 00 00 00 64 00 00 00")));
    KovRemoveDirectory(W(u"d"));
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2A 04 00 04 00 00 00 64 00 00 00")));

    KovGetFileAttributes(W(u"x"));  // u32 length after the string
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2F 04 00 00 00 78 00 00 00 04 00 00 00")));
    KovSetFileAttributes(W(u"x"), 0x21);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("30 04 00 00 00 78 00 00 00 04 00 00 00 21 00 00 00")));
    KovCopyFile(W(u"a"), W(u"bc"), 0);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("31 04 00 00 00 61 00 00 00 04 00 00 00"
                                              " 06 00 00 00 62 00 63 00 00 00 06 00 00 00 00 00 00 00")));
    KovMoveFile(W(u"a"), W(u"bc"));
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("32 04 00 00 00 61 00 00 00 04 00 00 00 06 00 00 00 62 00 63 00 00 00 06 00 00 00")));

    uint8_t buffer[16];
    uint32_t n = 0;
    KovReadFile(0x1234, buffer, 2538, &n, nullptr);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("23 34 12 00 00 EA 09 00 00")));
    const uint8_t data[3] = {1, 2, 3};
    KovWriteFile(0x1234, data, 3, &n, nullptr);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("24 34 12 00 00 03 00 00 00 03 00 00 00 01 02 03")));
    KovCloseHandle(0x1234);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("22 34 12 00 00")));
    KovFindClose(0x55);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("28 55 00 00 00")));
    VFIND_DATAW find;
    KovFindNextFile(0x55, &find);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("27 55 00 00 00")));
    KovFindFirstFile(W(u"*"), &find);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("26 04 00 04 00 00 00 2A 00 00 00")));

    KovGetDiskFreeSpace(W(u"\\"), nullptr, nullptr, nullptr);  // no length field
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2D 04 00 00 00 5C 00 00 00")));
    uint32_t info[4];
    int dummy = 0;
    KovCreateProcess(W(u"a"), W(u"b"), &dummy, &dummy, 1, 0x10, &dummy, W(u"c"), &dummy, info);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2B 04 00 04 00 00 00 61 00 00 00 04 00 04 00 00 00 62 00 00 00 10 00 00 00")));
}

TEST_F(FileRecords, FirmwareRequestsCarryTheirFieldsInTableOrder) {
    AnswerFields(Wire().u32(0).u16(0).u32(0).u32(0).u32(0).u8(0).u8(0).bytes());
    KovVupCreateFile(W(u"f"), 3);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("10 04 00 04 00 00 00 66 00 00 00 03 00 00 00")));
    const uint8_t data[3] = {1, 2, 3};
    KovVupTransmitData(data, 3);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("11 03 00 00 00 03 00 00 00 01 02 03")));
    uint8_t name[4];
    uint32_t a, b, c;
    uint8_t sum;
    KovVupGetFileInfo(name, 4, &a, &b, &sum, &c);
    EXPECT_EQ(Hex(LastRequest()), "12");
    KovVupWriteFile(5, 7);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("13 05 00 00 00 07 00 00 00")));
    KovVupFileFree();
    EXPECT_EQ(Hex(LastRequest()), "14");
}

TEST_F(FileRecords, RecordsStartWithTheirDocumentedValues) {
    EXPECT_EQ(SetFilePointerRequest().Handle, 0xFFFFFFFFu);
    EXPECT_EQ(CopyFileRequest().FailIfExists, 1u);
    EXPECT_EQ(SetFileAttributesResponse().Result, 1u);
    EXPECT_EQ(CopyFileResponse().Result, 1u);
    EXPECT_EQ(MoveFileResponse().Result, 1u);
    CopyFileRequest copy;
    copy.FailIfExists = 0;
    copy.Clear();
    EXPECT_EQ(copy.FailIfExists, 1u);
    EXPECT_EQ(CreateFileResponse().Result, 0u);
}

// ---- KovSetFilePointer -----------------------------------------------------------------

TEST_F(FileRecords, SetFilePointerSignExtendsWithoutHighPointer) {
    AnswerFields(Wire().u32(0x1000).u32(0x2).bytes());
    EXPECT_EQ(KovSetFilePointer(0x44, -10, nullptr, 2), 0x1000u);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2E 44 00 00 00 F6 FF FF FF FF FF FF FF 02 00 00 00")));

    KovSetFilePointer(0x44, 10, nullptr, 0);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2E 44 00 00 00 0A 00 00 00 00 00 00 00 00 00 00 00")));

    int32_t high = 5;  // the caller's high half is sent as it is and receives PositionHigh
    EXPECT_EQ(KovSetFilePointer(0x44, -10, &high, 1), 0x1000u);
    EXPECT_EQ(Hex(LastRequest()), Hex(FromHex("2E 44 00 00 00 F6 FF FF FF 05 00 00 00 01 00 00 00")));
    EXPECT_EQ(high, 2);
}

TEST_F(FileRecords, SetFilePointerFailsWithAllBitsAfterThreeAttempts) {
    AnswerRefusal();
    int32_t high = 0;
    EXPECT_EQ(KovSetFilePointer(0x44, 0, &high, 1), 0xFFFFFFFFu);
    EXPECT_EQ(high, -1);
    EXPECT_EQ(Requests().size(), 3u);  // retries 2
    EXPECT_EQ(KovSetFilePointer(0x44, 0, nullptr, 1), 0xFFFFFFFFu);
}

// ---- find data ---------------------------------------------------------------------------

Bytes FindFields(const std::u16string& name) {
    return Wire()
        .u32(0x20)
        .u32(0x01D00001)  // creation, high half first
        .u32(0xAAAA0001)
        .u32(0x01D00002)  // last access
        .u32(0xAAAA0002)
        .u32(0x01D00003)  // last write
        .u32(0xAAAA0003)
        .u32(0x1)  // size high
        .u32(0x2)  // size low
        .u16(static_cast<uint16_t>((name.size() + 1) * 2))
        .wstr(name)
        .bytes();
}

VFIND_DATAW Poisoned() {
    VFIND_DATAW d;
    std::memset(&d, 0xCD, sizeof d);
    return d;
}

TEST_F(FileRecords, FindDataTakesEachTimeHighHalfFirst) {
    Bytes fields = FindFields(u"n.txt");
    Answer([&](uint8_t code, const Bytes&) {
        Bytes f = code == 38 ? Wire().u32(0x77).bytes() : Wire().u8(1).bytes();
        f.insert(f.end(), fields.begin(), fields.end());
        return Accepted(code, f);
    });
    for (int next = 0; next < 2; ++next) {
        VFIND_DATAW d = Poisoned();
        uint32_t r = next ? KovFindNextFile(0x77, &d) : KovFindFirstFile(W(u"*"), &d);
        EXPECT_EQ(r, next ? 1u : 0x77u);
        EXPECT_EQ(d.dwFileAttributes, 0x20u);
        EXPECT_EQ(d.ftCreationTime.dwHighDateTime, 0x01D00001u);
        EXPECT_EQ(d.ftCreationTime.dwLowDateTime, 0xAAAA0001u);
        EXPECT_EQ(d.ftLastAccessTime.dwHighDateTime, 0x01D00002u);
        EXPECT_EQ(d.ftLastAccessTime.dwLowDateTime, 0xAAAA0002u);
        EXPECT_EQ(d.ftLastWriteTime.dwHighDateTime, 0x01D00003u);
        EXPECT_EQ(d.ftLastWriteTime.dwLowDateTime, 0xAAAA0003u);
        EXPECT_EQ(d.nFileSizeHigh, 1u);
        EXPECT_EQ(d.nFileSizeLow, 2u);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(d.cFileName), 6), std::u16string(u"n.txt\0", 6));
        // The reserved words and the alternate name are not written.
        EXPECT_EQ(d.dwReserved0, 0xCDCDCDCDu);
        EXPECT_EQ(d.dwReserved1, 0xCDCDCDCDu);
        EXPECT_EQ(static_cast<uint16_t>(d.cAlternateFileName[0]), 0xCDCDu);
    }
}

TEST_F(FileRecords, FindDataIsWrittenOnlyForANonzeroResult) {
    Bytes fields = FindFields(u"n");
    Answer([&](uint8_t code, const Bytes&) {
        Bytes f = code == 38 ? Wire().u32(0).bytes() : Wire().u8(0).bytes();
        f.insert(f.end(), fields.begin(), fields.end());
        return Accepted(code, f);
    });
    VFIND_DATAW d = Poisoned();
    EXPECT_EQ(KovFindFirstFile(W(u"*"), &d), 0u);
    EXPECT_EQ(KovFindNextFile(1, &d), 0u);
    EXPECT_EQ(d.dwFileAttributes, 0xCDCDCDCDu);

    AnswerRefusal();
    EXPECT_EQ(KovFindFirstFile(W(u"*"), &d), 0u);
    EXPECT_EQ(KovFindNextFile(1, &d), 0u);
    EXPECT_EQ(KovFindClose(1), 0u);
    EXPECT_EQ(d.dwFileAttributes, 0xCDCDCDCDu);
}

TEST_F(FileRecords, FindNameLongerThanCFileNameIsCutAndTerminated) {
    std::u16string longName(300, u'q');
    Bytes fields = FindFields(longName);
    Answer([&](uint8_t code, const Bytes&) {
        Bytes f = Wire().u32(9).bytes();
        f.insert(f.end(), fields.begin(), fields.end());
        return Accepted(code, f);
    });
    VFIND_DATAW d = Poisoned();
    EXPECT_EQ(KovFindFirstFile(W(u"*"), &d), 9u);
    EXPECT_EQ(static_cast<uint16_t>(d.cFileName[258]), u'q');
    EXPECT_EQ(static_cast<uint16_t>(d.cFileName[259]), 0u);
    EXPECT_EQ(static_cast<uint16_t>(d.cAlternateFileName[0]), 0xCDCDu);
}

// ---- KovReadFile and KovWriteFile ----------------------------------------------------------

TEST_F(FileRecords, ReadFileHandsOverExactlyTheCountedBytes) {
    AnswerFields(Wire().u8(1).u32(3).buf({7, 8, 9}).bytes());
    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t n = 0;
    EXPECT_EQ(KovReadFile(1, buffer, 8, &n, nullptr), 1u);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Hex(Bytes(buffer, buffer + 4)), "07 08 09 EE");
}

TEST_F(FileRecords, ReadFileFailsAndWritesNothingOnMismatchRefusalOrResultZero) {
    uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t n = 0x5555;

    AnswerFields(Wire().u8(1).u32(4).buf({7, 8, 9}).bytes());  // count says 4, data holds 3
    EXPECT_EQ(KovReadFile(1, buffer, 8, &n, nullptr), 0u);
    AnswerFields(Wire().u8(0).u32(3).buf({7, 8, 9}).bytes());
    EXPECT_EQ(KovReadFile(1, buffer, 8, &n, nullptr), 0u);
    AnswerRefusal();
    EXPECT_EQ(KovReadFile(1, buffer, 8, &n, nullptr), 0u);

    EXPECT_EQ(n, 0x5555u);
    EXPECT_EQ(Hex(Bytes(buffer, buffer + 8)), "EE EE EE EE EE EE EE EE");
}

TEST_F(FileRecords, ReadFileRefusesMoreDataThanAskedFor) {
    Bytes big(64, 0x11);
    AnswerFields(Wire().u8(1).u32(64).buf(big).bytes());
    std::vector<uint8_t> buffer(16, 0xEE);  // exactly BytesToRead: ASan sees any overrun
    uint32_t n = 0x5555;
    EXPECT_EQ(KovReadFile(1, buffer.data(), 16, &n, nullptr), 0u);
    EXPECT_EQ(n, 0x5555u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0xEE));
}

TEST_F(FileRecords, WriteFileReportsTheCountOnlyOnSuccess) {
    const uint8_t data[2] = {1, 2};
    uint32_t written = 0x5555;
    AnswerFields(Wire().u8(9).u32(2).bytes());
    EXPECT_EQ(KovWriteFile(1, data, 2, &written, nullptr), 1u);
    EXPECT_EQ(written, 2u);
    written = 0x5555;
    AnswerFields(Wire().u8(0).u32(2).bytes());
    EXPECT_EQ(KovWriteFile(1, data, 2, &written, nullptr), 0u);
    AnswerRefusal();
    EXPECT_EQ(KovWriteFile(1, data, 2, &written, nullptr), 0u);
    EXPECT_EQ(written, 0x5555u);
}

// ---- the yes/no commands --------------------------------------------------------------------

TEST_F(FileRecords, ByteResultsAreWidenedOrNormalisedPerCommand) {
    AnswerFields(Wire().u8(7).bytes());
    EXPECT_EQ(KovDeleteFile(W(u"a")), 1u);  // R4: exactly 1
    EXPECT_EQ(KovCloseHandle(1), 7u);    // R3: the byte itself
    EXPECT_EQ(KovFindClose(1), 7u);
    EXPECT_EQ(KovCreateDirectory(W(u"d"), nullptr), 7u);
    EXPECT_EQ(KovRemoveDirectory(W(u"d")), 7u);
    AnswerFields(Wire().u8(0).bytes());
    EXPECT_EQ(KovDeleteFile(W(u"a")), 0u);
    AnswerRefusal();
    EXPECT_EQ(KovDeleteFile(W(u"a")), 0u);
    EXPECT_EQ(KovCloseHandle(1), 0u);
    EXPECT_EQ(KovCreateDirectory(W(u"d"), nullptr), 0u);
}

TEST_F(FileRecords, AttributeAndCopyResultsMapExchangeFailures) {
    AnswerFields(Wire().u32(0x21).bytes());
    EXPECT_EQ(KovGetFileAttributes(W(u"a")), 0x21u);
    EXPECT_EQ(KovSetFileAttributes(W(u"a"), 1), 0x21u);
    EXPECT_EQ(KovCopyFile(W(u"a"), W(u"b"), 1), 0x21u);
    EXPECT_EQ(KovMoveFile(W(u"a"), W(u"b")), 0x21u);
    AnswerRefusal();
    EXPECT_EQ(KovGetFileAttributes(W(u"a")), 0xFFFFFFFFu);
    EXPECT_EQ(KovSetFileAttributes(W(u"a"), 1), 0u);
    EXPECT_EQ(KovCopyFile(W(u"a"), W(u"b"), 1), 0u);
    EXPECT_EQ(KovMoveFile(W(u"a"), W(u"b")), 0u);
}

TEST_F(FileRecords, UnreadResponsesLeaveTheStartValueOne) {
    // A status that is neither 6 nor 21 ends the exchange without reading
    // the response record.
    Answer([](uint8_t code, const Bytes&) { return Bytes{code, 0x07, 0, 0, 0, 0}; });
    EXPECT_EQ(KovSetFileAttributes(W(u"a"), 1), 1u);
    EXPECT_EQ(KovCopyFile(W(u"a"), W(u"b"), 1), 1u);
    EXPECT_EQ(KovMoveFile(W(u"a"), W(u"b")), 1u);
    EXPECT_EQ(KovCreateFile(W(u"a"), 0, 0, nullptr, 3, 0, 0), 0u);
}

TEST_F(FileRecords, DiskFreeSpaceFillsOnlyGivenPointersOnSuccess) {
    AnswerFields(Wire().u32(1).u64(0x1122334455ull).u64(0x99AABBCCDDull).u64(0x55).bytes());
    uint64_t avail = 0, total = 0;
    EXPECT_EQ(KovGetDiskFreeSpace(W(u"\\"), &avail, &total, nullptr), 1u);
    EXPECT_EQ(avail, 0x1122334455ull);
    EXPECT_EQ(total, 0x99AABBCCDDull);
    AnswerFields(Wire().u32(0).u64(1).u64(2).u64(3).bytes());
    EXPECT_EQ(KovGetDiskFreeSpace(W(u"\\"), &avail, &total, nullptr), 0u);
    EXPECT_EQ(avail, 0x1122334455ull);
}

TEST_F(FileRecords, CreateProcessFillsProcessInformationWhateverTheResult) {
    AnswerFields(Wire().u8(0).u32(0x10).u32(0x20).u32(0x30).u32(0x40).bytes());
    uint32_t info[4] = {};
    EXPECT_EQ(KovCreateProcess(W(u"a.exe"), W(u""), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, info), 0u);
    EXPECT_EQ(info[0], 0x10u);
    EXPECT_EQ(info[3], 0x40u);
    AnswerRefusal();
    uint32_t untouched[4] = {1, 2, 3, 4};
    EXPECT_EQ(KovCreateProcess(W(u"a.exe"), W(u""), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, untouched), 0u);
    EXPECT_EQ(untouched[0], 1u);
}

// ---- KovCreateFile and its call-log line -----------------------------------------------------


std::string ExpectedLine(const char* file, uint32_t handle) {
    char line[256];
    std::snprintf(line, sizeof line, "[0x%08X] KovCreateFile - File[%s], Handle[0x%08X] -\r\n", vos::ThreadCurrentId(),
                  file, handle);
    return line;
}

TEST_F(FileRecords, CreateFileReturnsZeroOnExchangeFailureAndStillLogs) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog);
    AnswerRefusal();
    EXPECT_EQ(KovCreateFile(W(u"\\Temp\\a.txt"), 0x80000000u, 1, nullptr, 3, 0x80, 0), 0u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], ExpectedLine("\\Temp\\a.txt", 0));
}

TEST_F(FileRecords, CreateFilePassesTheDevicesHandleAndFailureValueThrough) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog);
    AnswerFields(Wire().u32(0xFFFFFFFFu).bytes());
    EXPECT_EQ(KovCreateFile(W(u"b\u00e9"), 0, 0, nullptr, 3, 0, 0), 0xFFFFFFFFu);
    AnswerFields(Wire().u32(0x1008).bytes());
    EXPECT_EQ(KovCreateFile(W(u"c"), 0, 0, nullptr, 3, 0, 0), 0x1008u);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0], ExpectedLine("b?", 0xFFFFFFFFu));  // no ANSI form: '?'
    EXPECT_EQ(log.Lines()[1], ExpectedLine("c", 0x1008));
}

// ---- KovVupGetFileInfo ---------------------------------------------------------------------------

Bytes FileInfo(uint32_t result, uint16_t nameLength, const std::u16string& name) {
    return Wire().u32(result).u16(nameLength).wstr(name).u32(0x11).u32(0x22).u8(0x33).u8(0xF4).bytes();
}

TEST_F(FileRecords, VupGetFileInfoCopiesTheNameWithoutItsTerminator) {
    AnswerFields(FileInfo(5, 10, u"abcd"));  // 10 bytes: four units and the terminator
    std::vector<uint8_t> name(100, 0xEE);
    uint32_t info1 = 0, received = 0, info2 = 0;
    uint8_t sum = 0;
    EXPECT_EQ(KovVupGetFileInfo(name.data(), 100, &info1, &received, &sum, &info2), 5u);  // R1, outputs anyway
    EXPECT_EQ(Hex(Bytes(name.begin(), name.begin() + 10)), "61 00 62 00 63 00 64 00 00 00");
    EXPECT_EQ(name[99], 0u);  // the whole buffer is zeroed
    EXPECT_EQ(info1, 0x11u);
    EXPECT_EQ(received, 0x22u);
    EXPECT_EQ(sum, 0x33u);
    EXPECT_EQ(info2, 0xF4u);  // the byte widened

    std::vector<uint8_t> two(2, 0xEE);
    EXPECT_EQ(KovVupGetFileInfo(two.data(), 2, &info1, &received, &sum, &info2), 5u);
    EXPECT_EQ(Hex(two), "00 00");
}

TEST_F(FileRecords, VupGetFileInfoNeverReadsOrWritesPastEitherSide) {
    // The length field claims far more than the name holds, and the name is
    // longer than the caller's buffer.
    AnswerFields(FileInfo(0, 0xFFFF, u"abcdefgh"));
    std::vector<uint8_t> name(6, 0xEE);
    uint32_t a, b, c;
    uint8_t sum;
    EXPECT_EQ(KovVupGetFileInfo(name.data(), 6, &a, &b, &sum, &c), 0u);
    EXPECT_EQ(Hex(name), "61 00 62 00 00 00");
    AnswerFields(FileInfo(0, 0xFFFF, u"a"));
    std::vector<uint8_t> wide(40, 0xEE);
    EXPECT_EQ(KovVupGetFileInfo(wide.data(), 40, &a, &b, &sum, &c), 0u);
    EXPECT_EQ(Hex(Bytes(wide.begin(), wide.begin() + 6)), "61 00 00 00 00 00");
}

TEST_F(FileRecords, VupCommandsReturnTheExchangeErrorOrTheResult) {
    AnswerRefusal();
    uint32_t a = 9;
    uint8_t sum = 9;
    EXPECT_EQ(KovVupCreateFile(W(u"f"), 1), kRefusal);
    EXPECT_EQ(KovVupTransmitData(nullptr, 0), kRefusal);
    EXPECT_EQ(KovVupGetFileInfo(nullptr, 0, &a, &a, &sum, &a), kRefusal);
    EXPECT_EQ(Requests().size(), 2u + 3u);  // GetFileInfo retries twice
    EXPECT_EQ(a, 9u);
    EXPECT_EQ(KovVupWriteFile(0, 0), kRefusal);
    EXPECT_EQ(KovVupFileFree(), kRefusal);
    AnswerFields(Wire().u32(0x77).bytes());
    EXPECT_EQ(KovVupWriteFile(0, 0), 0x77u);
    EXPECT_EQ(KovVupFileFree(), 0x77u);
}

TEST_F(FileRecords, DirFreeWithoutListReturnsZero) {
    KovDirFree();
    EXPECT_EQ(g_pDirList, nullptr);
    EXPECT_EQ(KovDirFree(), 0u);
}

}  // namespace
