// Device status and control: the records' wire bytes, and the exports against
// a scripted device (request bytes, what reaches the caller, the return
// rules, argument checks and their reports).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListStatus.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Unit/DeviceServiceBytes.h"
#include "vantro/vantro.h"

namespace {

using namespace svctest;

// ---- records ---------------------------------------------------------------------

TEST(StatusRecords, RequestsEncodeTheirFieldsAfterTheCode) {
    GetVoltageRequest voltage;
    voltage.Selector = 0x1234;
    EXPECT_EQ(Encode(3, voltage), (Bytes{0x03, 0x34, 0x12, 0x00, 0x00}));

    KernelIoControlRequest ioctl;
    ioctl.IoControlCode = 0xA0000010;
    ioctl.OutBufSize = 0;
    EXPECT_EQ(Encode(11, ioctl), (Bytes{0x0B, 0x10, 0x00, 0x00, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const uint8_t in[] = {0xDE, 0xAD};
    ioctl.InBuf.SetAt(in, 2);
    ioctl.OutBufSize = 0x40;
    EXPECT_EQ(Encode(11, ioctl), (Bytes{0x0B, 0x10, 0x00, 0x00, 0xA0, 2, 0, 0, 0, 0xDE, 0xAD, 0x40, 0, 0, 0}));

    GetFileVersionRequest file;
    file.FileName = W(u"a");
    file.FileNameLength = static_cast<uint16_t>(file.FileName.GetLength());
    EXPECT_EQ(Encode(44, file), (Bytes{0x2C, 0x04, 0x00, 0x04, 0, 0, 0, 'a', 0, 0, 0}));

    GetAppPathRequest path;
    EXPECT_EQ(Encode(10, path), (Bytes{0x0A}));
    CCmdBase base(0);
    EXPECT_EQ(Encode(32, base), (Bytes{0x20}));
}

TEST(StatusRecords, ResponsesStartCleared) {
    GetVersionResponse version;
    EXPECT_EQ(version.Result, 0u);
    EXPECT_EQ(version.Version1, 0u);
    EXPECT_EQ(version.Text4.GetLength(), 0u);
    GetVimInfomationResponse vim;
    for (uint32_t v : vim.Value) EXPECT_EQ(v, 0u);
    GetFileVersionResponse file;
    for (uint8_t b : file.VersionInfo) EXPECT_EQ(b, 0u);
}

TEST(StatusRecords, VimInformationTransfersOnlyTheValuesOfItsMask) {
    // Mask 0x05: exactly Value[0] and Value[2] follow.
    GetVimInfomationResponse read;
    uint32_t unread = 99;
    Bytes message = Accepted(0x0C, Wire().u32(0).u32(0x05).u32(0x11111111).u32(0x33333333));
    ASSERT_EQ(Decode(message, read, &unread), 0u);
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(read.ValidMask, 0x05u);
    EXPECT_EQ(read.Value[0], 0x11111111u);
    EXPECT_EQ(read.Value[1], 0u);
    EXPECT_EQ(read.Value[2], 0x33333333u);
    for (int i = 3; i < 8; ++i) EXPECT_EQ(read.Value[i], 0u);

    // Writing follows the mask too; bits above the low byte select nothing.
    GetVimInfomationResponse write;
    write.Result = 1;
    write.ValidMask = 0x182;
    for (int i = 0; i < 8; ++i) write.Value[i] = 0xA0 + i;
    EXPECT_EQ(Encode(0x0C, write), (Bytes)Wire().u8(0x0C).u32(1).u32(0x182).u32(0xA1).u32(0xA7));

    // A mask announcing more values than arrive is a short response.
    GetVimInfomationResponse shortRead;
    EXPECT_NE(Decode(Accepted(0x0C, Wire().u32(0).u32(0x07).u32(1).u32(2)), shortRead), 0u);
}

// ---- exports -----------------------------------------------------------------------

TEST(StatusExports, GetVoltageSendsTheSelectorAndStoresSixteenBits) {
    QueueDevice device;
    device.Answer(Accepted(0x03, Wire().u32(0).u16(12345)));
    uint16_t voltage[2] = {0xFFFF, 0xFFFF};  // a 16-bit store only
    EXPECT_EQ(KovGetVoltage(0x1234, &voltage[0]), 0u);
    ASSERT_EQ(device.Requests().size(), 1u);
    EXPECT_EQ(device.Requests()[0], (Bytes{0x03, 0x34, 0x12, 0x00, 0x00}));
    EXPECT_EQ(voltage[0], 12345u);
    EXPECT_EQ(voltage[1], 0xFFFFu);
}

TEST(StatusExports, ModeCommandsAndAcStatusReturnTheDevicesResult) {
    QueueDevice device;
    device.Answer(Accepted(0x01, Wire().u32(3)));
    device.Answer(Accepted(0x3B, Wire().u32(1)));
    device.Answer(Accepted(0x02, Wire().u32(0x57)));
    EXPECT_EQ(KovGetMode(), 3u);
    EXPECT_EQ(KovGetAcStatus(), 1u);
    EXPECT_EQ(KovChangeMode(9), 0x57u);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], (Bytes{0x01}));
    EXPECT_EQ(requests[1], (Bytes{0x3B}));
    EXPECT_EQ(requests[2], (Bytes{0x02, 0x09, 0x00, 0x00, 0x00}));
}

TEST(StatusExports, ChangeModeZeroReleasesTheLinkWhateverTheOutcome) {
    {
        QueueDevice device;
        device.Answer(Accepted(0x02, Wire().u32(0)));
        EXPECT_EQ(KovChangeMode(1), 0u);
        EXPECT_NE(g_pFrameCtrl, nullptr);  // mode 1 keeps the link
        EXPECT_NE(g_pMessage, nullptr);

        EXPECT_EQ(KovChangeMode(0), 0u);
        EXPECT_EQ(g_pFrameCtrl, nullptr);
        EXPECT_EQ(g_pMessage, nullptr);
    }

    // A refused exchange (one attempt only) still ends the link.
    QueueDevice refusing;
    refusing.Answer(Refused(0x02, kRefusal));
    EXPECT_EQ(KovChangeMode(0), kRefusal);
    EXPECT_EQ(refusing.Requests().size(), 1u);
    EXPECT_EQ(g_pFrameCtrl, nullptr);
    EXPECT_EQ(g_pMessage, nullptr);
}

TEST(StatusExports, GetVersionCopiesVersionsAndTextsEvenWhenResultIsNonzero) {
    QueueDevice device;
    device.Answer(Accepted(0x00, Wire()
                                     .u32(2)
                                     .u16(0x0104)
                                     .u16(0x0002)
                                     .u16(8)
                                     .wstr(u"VCI")
                                     .u16(4)
                                     .wstr(u"1")
                                     .u16(0)
                                     .u32(0)  // an empty text
                                     .u16(6)
                                     .wstr(u"xy")));
    uint16_t v1 = 0, v2 = 0;
    uint8_t t1[80], t2[80], t3[80], t4[80];
    std::memset(t1, 0xCC, sizeof t1);
    std::memset(t2, 0xCC, sizeof t2);
    std::memset(t3, 0xCC, sizeof t3);
    std::memset(t4, 0xCC, sizeof t4);
    EXPECT_EQ(KovGetVersion(W(u"SYSTEM"), &v1, &v2, t1, t2, t3, t4), 2u);
    ASSERT_EQ(device.Requests().size(), 1u);
    EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x00).wstr(u"SYSTEM"));
    EXPECT_EQ(v1, 0x0104);
    EXPECT_EQ(v2, 0x0002);
    // Exactly the text's bytes (its terminator included), nothing added.
    EXPECT_EQ(Bytes(t1, t1 + 9), (Bytes{'V', 0, 'C', 0, 'I', 0, 0, 0, 0xCC}));
    EXPECT_EQ(Bytes(t2, t2 + 5), (Bytes{'1', 0, 0, 0, 0xCC}));
    EXPECT_EQ(t3[0], 0xCC);
    EXPECT_EQ(Bytes(t4, t4 + 7), (Bytes{'x', 0, 'y', 0, 0, 0, 0xCC}));
}

TEST(StatusExports, GetVersionNeverWritesPastEightyBytes) {
    QueueDevice device;
    std::u16string longText(100, u'Z');  // 202 bytes with its terminator
    std::u16string exact(39, u'E');      // 80 bytes with its terminator
    device.Answer(Accepted(0x00, Wire()
                                     .u32(0)
                                     .u16(1)
                                     .u16(2)
                                     .u16(202)
                                     .wstr(longText)
                                     .u16(80)
                                     .wstr(exact)
                                     .u16(0)
                                     .u32(0)
                                     .u16(0)
                                     .u32(0)));
    uint8_t t1[81], t2[81], t3[1], t4[1];
    std::memset(t1, 0xCC, sizeof t1);
    std::memset(t2, 0xCC, sizeof t2);
    uint16_t v1, v2;
    EXPECT_EQ(KovGetVersion(W(u""), &v1, &v2, t1, t2, t3, t4), 0u);
    for (int i = 0; i < 78; i += 2) EXPECT_EQ(t1[i], 'Z') << i;
    EXPECT_EQ(t1[78], 0);  // cut texts end with a zero unit
    EXPECT_EQ(t1[79], 0);
    EXPECT_EQ(t1[80], 0xCC);
    EXPECT_EQ(t2[76], 'E');
    EXPECT_EQ(t2[78], 0);
    EXPECT_EQ(t2[80], 0xCC);
}

TEST(StatusExports, GetAppPathChecksSizeAndReportsTooSmallBuffers) {
    vtest::ReportCapture reports;
    {
        QueueDevice device;
        EXPECT_EQ(KovGetAppPath(nullptr, nullptr), QXR_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 3050), 1u);
        EXPECT_TRUE(device.Requests().empty());
    }

    QueueDevice device;
    const std::u16string path = u"\\Windows\\App.exe";  // 34 bytes with the terminator
    device.Answer(Accepted(0x0A, Wire().u32(0).wstr(path)));
    // Learn the size with a null buffer.
    uint32_t size = 1000;
    EXPECT_EQ(KovGetAppPath(nullptr, &size), QXR_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 34u);
    EXPECT_EQ(reports.Count(QXR_ERROR_BUFFER_TOO_SMALL, kApi, 3066), 1u);
    // One byte short.
    uint8_t buffer[40];
    std::memset(buffer, 0xCC, sizeof buffer);
    size = 33;
    EXPECT_EQ(KovGetAppPath(buffer, &size), QXR_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 34u);
    EXPECT_EQ(buffer[0], 0xCC);
    EXPECT_EQ(reports.Count(QXR_ERROR_BUFFER_TOO_SMALL, kApi, 3066), 2u);
    // Exactly the size.
    size = 34;
    EXPECT_EQ(KovGetAppPath(buffer, &size), 0u);
    EXPECT_EQ(size, 34u);
    EXPECT_EQ(buffer[0], '\\');
    EXPECT_EQ(buffer[2], 'W');
    EXPECT_EQ(buffer[33], 0);
    EXPECT_EQ(buffer[34], 0xCC);
    for (const Bytes& request : device.Requests()) EXPECT_EQ(request, (Bytes{0x0A}));
}

TEST(StatusExports, GetAppPathReturnsTheDevicesErrorAndRetriesTwice) {
    uint32_t size = 77;
    {
        QueueDevice device;
        device.Answer(Accepted(0x0A, Wire().u32(5).u32(0)));
        EXPECT_EQ(KovGetAppPath(nullptr, &size), 5u);
        EXPECT_EQ(size, 77u);
    }

    QueueDevice refusing;
    refusing.Answer(Refused(0x0A, kRefusal));
    EXPECT_EQ(KovGetAppPath(nullptr, &size), kRefusal);
    EXPECT_EQ(refusing.Requests().size(), 3u);
    EXPECT_EQ(size, 77u);
}

TEST(StatusExports, KernelIoControlWritesOutputsOnlyForANonzeroResult) {
    const uint8_t in[] = {1, 2, 3};
    uint8_t out[8];
    uint32_t returned = 0xAAAA;
    {
        // Result 0: outputs untouched, 0 returned.
        QueueDevice device;
        device.Answer(Accepted(0x0B, Wire().u32(0).buf({9, 9}).u32(2)));
        std::memset(out, 0xCC, sizeof out);
        EXPECT_EQ(KovKernelIoControl(0x01010054, in, 3, out, 4, &returned), 0u);
        EXPECT_EQ(out[0], 0xCC);
        EXPECT_EQ(returned, 0xAAAAu);
        ASSERT_EQ(device.Requests().size(), 1u);
        EXPECT_EQ(device.Requests()[0],
                  (Bytes)Wire().u8(0x0B).u32(0x01010054).buf({1, 2, 3}).u32(4));
    }
    {
        // A failed exchange gives 0, not the error, after three attempts.
        QueueDevice device;
        device.Answer(Refused(0x0B, kRefusal));
        EXPECT_EQ(KovKernelIoControl(0x01010054, in, 3, out, 4, &returned), 0u);
        EXPECT_EQ(device.Requests().size(), 3u);
        EXPECT_EQ(out[0], 0xCC);
        EXPECT_EQ(returned, 0xAAAAu);
    }
    {
        // A nonzero result: the bytes and the count arrive.
        QueueDevice device;
        device.Answer(Accepted(0x0B, Wire().u32(1).buf({7, 8}).u32(2)));
        EXPECT_EQ(KovKernelIoControl(0x01010054, nullptr, 0, out, 4, &returned), 1u);
        EXPECT_EQ(Bytes(out, out + 3), (Bytes{7, 8, 0xCC}));
        EXPECT_EQ(returned, 2u);
        EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x0B).u32(0x01010054).u32(0).u32(4));
    }
    {
        // More than OutBufSize never passes the caller's buffer.
        QueueDevice device;
        device.Answer(Accepted(0x0B, Wire().u32(1).buf({1, 2, 3, 4, 5, 6}).u32(6)));
        std::memset(out, 0xCC, sizeof out);
        EXPECT_EQ(KovKernelIoControl(0x01010054, nullptr, 0, out, 4, &returned), 1u);
        EXPECT_EQ(Bytes(out, out + 5), (Bytes{1, 2, 3, 4, 0xCC}));
    }
}

TEST(StatusExports, SetBattChargeModeSendsItsIoControlCodes) {
    vtest::ReportCapture reports;
    {
        QueueDevice device;
        EXPECT_EQ(KovSetBattChargeMode(2), QXR_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(KovSetBattChargeMode(-1), QXR_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2655), 2u);
        EXPECT_TRUE(device.Requests().empty());
    }
    {
        QueueDevice device;
        device.Answer(Accepted(0x0B, Wire().u32(1).u32(0).u32(0)));
        device.Answer(Accepted(0x0B, Wire().u32(0).u32(0).u32(0)));
        EXPECT_EQ(KovSetBattChargeMode(0), 0u);
        reports.Clear();
        EXPECT_EQ(KovSetBattChargeMode(1), QXR_ERROR_DEVICE_FAILED);
        EXPECT_TRUE(reports.Reports().empty());  // a "no" from the device is not reported
        auto requests = device.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0], (Bytes{0x0B, 0x10, 0x00, 0x00, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(requests[1], (Bytes{0x0B, 0x0C, 0x00, 0x00, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0}));
    }

    QueueDevice refusing;
    refusing.Answer(Refused(0x0B, kRefusal));
    EXPECT_EQ(KovSetBattChargeMode(1), kRefusal);
    EXPECT_EQ(refusing.Requests().size(), 3u);
}

TEST(StatusExports, GetVimInfomationSpreadsTheMaskedValues) {
    vtest::ReportCapture reports;
    {
        QueueDevice device;
        EXPECT_EQ(KovGetVimInfomation(1, nullptr), QXR_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(reports.Count(QXR_ERROR_INVALID_PARAMETER, kApi, 2693), 1u);
        EXPECT_TRUE(device.Requests().empty());
    }
    uint32_t info[10];
    for (uint32_t& v : info) v = 0xCCCCCCCC;
    {
        QueueDevice device;
        device.Answer(Accepted(0x0C, Wire().u32(0).u32(0x05).u32(12600).u32(3300)));
        EXPECT_EQ(KovGetVimInfomation(1, info), 0u);
        EXPECT_EQ(device.Requests()[0], (Bytes{0x0C, 0x01, 0, 0, 0}));
    }
    EXPECT_EQ(info[0], 0x05u);
    EXPECT_EQ(info[1], 12600u);
    EXPECT_EQ(info[2], 0u);
    EXPECT_EQ(info[3], 3300u);
    for (int i = 4; i <= 8; ++i) EXPECT_EQ(info[i], 0u) << i;
    EXPECT_EQ(info[9], 0xCCCCCCCCu);

    QueueDevice refusing;
    refusing.Answer(Refused(0x0C, kRefusal));
    for (uint32_t& v : info) v = 0xCCCCCCCC;
    EXPECT_EQ(KovGetVimInfomation(0, info), kRefusal);
    EXPECT_EQ(refusing.Requests().size(), 3u);
    EXPECT_EQ(info[0], 0u);
    EXPECT_EQ(info[1], 0xCCCCCCCCu);
}

TEST(StatusExports, GetLastErrorReturnsTheBaseValueAndLogsTheCall) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "KovGetLastError");
    char expected[2][80];
    {
        QueueDevice device;
        device.Answer(Accepted(0x20, Wire().u32(0x57)));
        EXPECT_EQ(KovGetLastError(), 0x57u);
        EXPECT_EQ(device.Requests()[0], (Bytes{0x20}));
        std::snprintf(expected[0], sizeof expected[0], "[0x%08X] KovGetLastError - return[0x57] -\r\n",
                      vos::ThreadCurrentId());
    }
    {
        QueueDevice refusing;
        refusing.Answer(Refused(0x20, kRefusal));
        EXPECT_EQ(KovGetLastError(), kRefusal);
        EXPECT_EQ(refusing.Requests().size(), 1u);
        std::snprintf(expected[1], sizeof expected[1], "[0x%08X] KovGetLastError - return[0xE001] -\r\n",
                      vos::ThreadCurrentId());
    }
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{expected[0], expected[1]}));
}

TEST(StatusExports, GetFileVersionSendsTheNameLengthAndCopiesThirteenValues) {
    QueueDevice device;
    Wire info;
    for (uint32_t i = 0; i < 13; ++i) info.u32(0xFEEF0000 + i);
    device.Answer(Accepted(0x2C, Wire().u32(2).raw(info)));
    uint32_t version[14];
    for (uint32_t& v : version) v = 0xCCCCCCCC;
    EXPECT_EQ(KovGetFileVersion(W(u"\\a.dll"), version), 2u);
    EXPECT_EQ(device.Requests()[0], (Bytes)Wire().u8(0x2C).u16(14).wstr(u"\\a.dll"));
    for (uint32_t i = 0; i < 13; ++i) EXPECT_EQ(version[i], 0xFEEF0000 + i);
    EXPECT_EQ(version[13], 0xCCCCCCCCu);
}

}  // namespace
