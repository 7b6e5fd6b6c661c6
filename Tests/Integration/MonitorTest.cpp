// The caller-record exports with an application's own records, and the DLC12
// exports, against the simulated device (which echoes caller records and
// keeps a DLC12 ECU): codes on the wire, records passed unchanged, one
// attempt, refusals, the call-log lines, the length modulo 256 and the
// mapping of failed exchanges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdIo.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Support/WideText.h"
#include "vantro/vantro.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kApi[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

using vtest::Wide;

// An application's record, built from the record library as docs/RECORDS.md
// shows: the response reads the same fields the request writes.
class AppRecord : public CCmdBase {
public:
    AppRecord() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Number = 0;
        Small = 0;
        Name.RemoveAll();
        Blob.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Number);
        Xfer(s, Small);
        Xfer(s, Name);
        Xfer(s, Blob);
    }
    TESSRA_FIELD_IO

    uint32_t Number;
    uint16_t Small;
    CCmdString Name;
    CCmdBuffer Blob;
};

using CallerRecordExport = uint32_t(VANTRO_STDCALL*)(CCmdCore*, CCmdCore*);

struct ExportCase {
    const char* name;
    CallerRecordExport function;
    uint32_t code;
};

const ExportCase kExports[] = {
    {"KovCommandExecute", KovCommandExecute, 0x70},
    {"KovPcMonStart", KovPcMonStart, 0x71},
    {"KovPcMonGetData", KovPcMonGetData, 0x72},
    {"KovPcMonStop", KovPcMonStop, 0x73},
    {"KovDmciCreateIsoDiagInterface", KovDmciCreateIsoDiagInterface, 0x107F},
    {"KovDmciCreateCanDiagInterface", KovDmciCreateCanDiagInterface, 0x117F},
    {"KovDmciDeleteDiagInterface", KovDmciDeleteDiagInterface, 0x127F},
    {"KovDmciCreateDmInterface", KovDmciCreateDmInterface, 0x137F},
    {"KovDmciDeleteDmInterface", KovDmciDeleteDmInterface, 0x147F},
    {"KovDmciDataMonitorSetupPack", KovDmciDataMonitorSetupPack, 0x157F},
    {"KovDmciDataMonitorSetupPair", KovDmciDataMonitorSetupPair, 0x167F},
    {"KovDmciDataMonitorSetupDtc", KovDmciDataMonitorSetupDtc, 0x177F},
    {"KovDmciDataMonitorStart", KovDmciDataMonitorStart, 0x187F},
    {"KovDmciGetMonitorData", KovDmciGetMonitorData, 0x197F},
    {"KovDmciDataMonitorStop", KovDmciDataMonitorStop, 0x1A7F},
    {"KovDmciActiveTestStart", KovDmciActiveTestStart, 0x1B7F},
    {"KovDmciActiveTestStop", KovDmciActiveTestStop, 0x1C7F},
    {"KovDmciIDMapAppend", KovDmciIDMapAppend, 0x1D7F},
    {"KovDmciSetPickupData", KovDmciSetPickupData, 0x1E7F},
    {"KovDmciMonitorSystemSend", KovDmciMonitorSystemSend, 0x1F7F},
    {"KovDmciCreateDLC12Interface", KovDmciCreateDLC12Interface, 0x207F},
    {"KovDmciDeleteDLC12Interface", KovDmciDeleteDLC12Interface, 0x217F},
    {"KovDmciCreateVpwDiagInterface", KovDmciCreateVpwDiagInterface, 0x227F},
    {"KovDmciCreatePwmDiagInterface", KovDmciCreatePwmDiagInterface, 0x237F},
};

Bytes CodeBytes(uint32_t code) {
    if ((code & 0x7F) != 0x7F) return Bytes{static_cast<uint8_t>(code)};
    return Bytes{0x7F, static_cast<uint8_t>(code >> 8)};
}

void FillRequest(AppRecord& r) {
    r.Number = 0x0A0B0C0D;
    r.Small = 0x1234;
    r.Name = Wide(u"monitor").c_str();
    const uint8_t blob[] = {1, 2, 3, 4, 5};
    r.Blob.SetAt(blob, sizeof blob);
}

class CallerRecordTest : public ::testing::Test {
protected:
    vtest::InProcessSim sim;
    vtest::ReportCapture capture;
};

TEST_F(CallerRecordTest, EveryExportSendsItsCodeAndTheRecordsAsTheyAre) {
    for (const ExportCase& e : kExports) {
        capture.Clear();
        AppRecord request, response;
        FillRequest(request);
        ASSERT_EQ(e.function(&request, &response), 0u) << e.name;
        auto traces = capture.Traces();
        ASSERT_EQ(traces.size(), 2u) << e.name;
        Bytes code = CodeBytes(e.code);
        ASSERT_GE(traces[0].size(), code.size());
        EXPECT_EQ(Bytes(traces[0].begin(), traces[0].begin() + static_cast<std::ptrdiff_t>(code.size())), code)
            << e.name;
        // u32, u16, wstring (4 + 16), buffer (4 + 5) after the code.
        EXPECT_EQ(traces[0].size(), code.size() + 4 + 2 + 20 + 9) << e.name;
        // The device's echo, read by the caller's own response record.
        EXPECT_EQ(response.Number, request.Number) << e.name;
        EXPECT_EQ(response.Small, request.Small);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(response.Name.GetData())), u"monitor");
        ASSERT_EQ(response.Blob.GetLength(), 5u);
        EXPECT_EQ(response.Blob.GetData()[4], 5);
    }
}

TEST_F(CallerRecordTest, TwoExportsDifferOnlyInTheirCodeBytes) {
    AppRecord request, response;
    FillRequest(request);
    ASSERT_EQ(KovDmciDataMonitorStart(&request, &response), 0u);
    ASSERT_EQ(KovDmciDataMonitorStop(&request, &response), 0u);
    auto traces = capture.Traces();
    ASSERT_EQ(traces.size(), 4u);
    const Bytes& start = traces[0];
    const Bytes& stop = traces[2];
    ASSERT_EQ(start.size(), stop.size());
    EXPECT_EQ(start[0], 0x7F);
    EXPECT_EQ(start[1], 0x18);
    EXPECT_EQ(stop[0], 0x7F);
    EXPECT_EQ(stop[1], 0x1A);
    EXPECT_EQ(Bytes(start.begin() + 2, start.end()), Bytes(stop.begin() + 2, stop.end()));
}

TEST_F(CallerRecordTest, ARefusalIsReturnedAfterOneAttemptAndTheResponseIsNotRead) {
    sim.Faults().Add("refuse=0x4321@code=0x187F,times=0");
    AppRecord request, response;
    FillRequest(request);
    EXPECT_EQ(KovDmciDataMonitorStart(&request, &response), 0x4321u);
    EXPECT_EQ(response.Number, 0u);
    EXPECT_EQ(response.Name.GetLength(), 0u);
    EXPECT_EQ(capture.Traces().size(), 2u);  // one request, one answer
    EXPECT_EQ(sim.Device().Stats().commands, 1u);
}

TEST_F(CallerRecordTest, NullRecordsGoToTheExchangeUnchanged) {
    AppRecord response;
    EXPECT_EQ(KovCommandExecute(nullptr, &response), 0x900d0028u);
    EXPECT_TRUE(capture.Traces().empty());
}

// ---- DLC12 ------------------------------------------------------------------------------


std::string Line(const char* format, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0,
                 uint32_t e = 0) {
    char text[512];
    std::snprintf(text, sizeof text, format, a, b, c, d, e);
    return text;
}

uint32_t Ptr32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class Dlc12Test : public ::testing::Test {
protected:
    vtest::InProcessSim sim;
    vtest::ReportCapture capture;
};

TEST_F(Dlc12Test, ReadingCodesLogsEachCall) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "KovDLC12");
    const uint32_t tid = vos::ThreadCurrentId();
    EXPECT_EQ(KovDLC12Connect(), 0u);
    uint8_t code[255];
    std::memset(code, 0xAA, sizeof code);
    uint8_t length = 0xAA;
    EXPECT_EQ(KovDLC12GetDiagCode(0x01, 0x0015, code, &length), 0u);
    EXPECT_EQ(length, 6);  // codes 0, 2 and 4
    EXPECT_EQ(Bytes(code, code + 6), (Bytes{0x01, 0x12, 0x01, 0x31, 0x03, 0x51}));
    EXPECT_EQ(code[6], 0xAA);
    EXPECT_EQ(KovDLC12Disconnect(), 0u);

    std::vector<std::string> expected = {
        Line("[0x%08X] KovDLC12Connect( void )\r\n", tid),
        Line("[0x%08X] KovDLC12Connect - return[0x%08X] -\r\n", tid, 0),
        Line("[0x%08X] KovDLC12GetDiagCode( bySendData[%d], wMaskData[%d], pbyDiagCode[0x%08X], "
             "pbyDiagCodeLen[0x%08X] )\r\n",
             tid, 1, 21, Ptr32(code), Ptr32(&length)),
        Line("[0x%08X] KovDLC12GetDiagCode - DiagCodeLen[%d] -\r\n", tid, 6),
        Line("[0x%08X] KovDLC12GetDiagCode - return[0x%08X] -\r\n", tid, 0),
        Line("[0x%08X] KovDLC12Disconnect( void )\r\n", tid),
        Line("[0x%08X] KovDLC12Disconnect - return[0x%08X] -\r\n", tid, 0),
    };
    EXPECT_EQ(log.Lines(), expected);

    auto traces = capture.Traces();
    ASSERT_EQ(traces.size(), 6u);
    EXPECT_EQ(traces[0], (Bytes{0x7F, 0x31}));
    EXPECT_EQ(traces[2], (Bytes{0x7F, 0x30, 0x01, 0x15, 0x00}));
    EXPECT_EQ(traces[4], (Bytes{0x7F, 0x32}));
}

TEST_F(Dlc12Test, ALengthAbove255IsTakenModulo256) {
    ASSERT_EQ(KovDLC12Connect(), 0u);
    uint8_t code[300];
    std::memset(code, 0xEE, sizeof code);
    uint8_t length = 0;
    EXPECT_EQ(KovDLC12GetDiagCode(0xFF, 0, code, &length), 0u);
    EXPECT_EQ(length, 44);
    for (int i = 0; i < 44; ++i) EXPECT_EQ(code[i], i) << i;
    EXPECT_EQ(code[44], 0xEE);

    // A hostile 70000-byte code: 70000 mod 256 = 112, never more than 255.
    uint8_t area[255];
    std::memset(area, 0, sizeof area);
    sim.Faults().Add("oversize@code=0x307F");
    EXPECT_EQ(KovDLC12GetDiagCode(0x01, 1, area, &length), 0u);
    EXPECT_EQ(length, 112);
    EXPECT_EQ(area[111], 0xC3);
    EXPECT_EQ(area[112], 0);
}

TEST_F(Dlc12Test, ANonzeroResultLeavesTheOutputsAlone) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "KovDLC12");
    uint8_t code[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint8_t length = 0xAA;
    EXPECT_EQ(KovDLC12GetDiagCode(0x01, 1, code, &length), 0x21u);  // not connected
    EXPECT_EQ(length, 0xAA);
    EXPECT_EQ(code[0], 0xAA);
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);  // no DiagCodeLen line
    EXPECT_EQ(lines[1], Line("[0x%08X] KovDLC12GetDiagCode - return[0x%08X] -\r\n", vos::ThreadCurrentId(), 0x21));
}

TEST_F(Dlc12Test, NullOutputsAreReportedAtLine6040WithoutAnExchange) {
    vtest::DebugLines log(vtest::DebugLines::kCallLog, "KovDLC12");
    uint8_t length = 0;
    uint8_t code[4];
    EXPECT_EQ(KovDLC12GetDiagCode(1, 1, nullptr, &length), 0x900d0028u);
    EXPECT_EQ(KovDLC12GetDiagCode(1, 1, code, nullptr), 0x900d0028u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 6040), 2u);
    EXPECT_TRUE(capture.Traces().empty());
    EXPECT_EQ(log.Lines().size(), 2u);  // the two call lines only
}

TEST_F(Dlc12Test, FailedExchangesBecomePassThruStatuses) {
    sim.SetClockRate(50);
    sim.Faults().Add("silent@code=0x317F");
    EXPECT_EQ(KovDLC12Connect(), 8u);
    sim.Faults().Add("silent@code=0x327F");
    EXPECT_EQ(KovDLC12Disconnect(), 8u);
    sim.Faults().Add("silent@code=0x307F");
    uint8_t code[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint8_t length = 0xAA;
    EXPECT_EQ(KovDLC12GetDiagCode(1, 1, code, &length), 8u);
    EXPECT_EQ(length, 0xAA);
    VWCHAR text[80];
    PassThruGetLastError_0202(text);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), u"ERROR_CODE:900D0018");

    sim.Faults().Add("refuse=0x00A1@code=0x317F");
    EXPECT_EQ(KovDLC12Connect(), 0xA1u);
    sim.Faults().Add("refuse=0xA00D0001@code=0x317F");
    EXPECT_EQ(KovDLC12Connect(), 7u);
}

}  // namespace
