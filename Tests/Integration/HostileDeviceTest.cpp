// A hostile device (SimConfig::hostile) against every export family: it
// answers with counts, lengths and texts larger than the caller's buffers
// and capacities, and with records cut short. Every caller buffer here is a
// heap block of exactly the size the export's rules give it, so that an
// AddressSanitizer build sees any write past it; the tests check that each
// export returns what its public header promises for such an answer and that
// nothing the rules keep untouched is written.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/j2534.h"
#include "vantro/vantro_clock.h"
#include "vantro/vantro_devlog.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_firmware.h"
#include "vantro/vantro_monitor.h"
#include "vantro/vantro_passthru0202.h"
#include "vantro/vantro_registry.h"
#include "vantro/vantro_repro.h"
#include "vantro/vantro_status.h"

namespace {

inline const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }

// A heap block of exactly n elements, every byte set to fill.
template <class T>
std::unique_ptr<T[]> Exact(size_t n, uint8_t fill) {
    std::unique_ptr<T[]> p(new T[n]);
    std::memset(static_cast<void*>(p.get()), fill, n * sizeof(T));
    return p;
}

bool AllBytes(const void* data, size_t size, uint8_t value) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != value) return false;
    return true;
}

sim::SimConfig Hostile() {
    sim::SimConfig config;
    config.hostile = true;
    return config;
}

constexpr uint32_t kShortResponse = QXR_ERROR_SHORT_RESPONSE;

class HostileDevice : public ::testing::Test {
protected:
    HostileDevice() : sim(Hostile()) {}
    vtest::InProcessSim sim;
};

// ---- device status -------------------------------------------------------------------------

TEST_F(HostileDevice, StatusTextsAndOutputsStayInsideTheirBuffers) {
    // Version texts of 40000 units with a stated length of 0xFFFF: each is cut
    // to 78 bytes and one zero unit in its 80-byte buffer.
    std::unique_ptr<uint8_t[]> texts[4];
    for (auto& t : texts) t = Exact<uint8_t>(VANTRO_VERSION_TEXT_SIZE, 0xCC);
    auto v1 = Exact<uint16_t>(1, 0), v2 = Exact<uint16_t>(1, 0);
    EXPECT_EQ(KovGetVersion(W(u""), v1.get(), v2.get(), texts[0].get(), texts[1].get(), texts[2].get(),
                            texts[3].get()),
              0u);
    for (auto& t : texts) {
        EXPECT_EQ(t[0], '#');  // the device's text, as sent
        EXPECT_EQ(t[2], 'X');
        EXPECT_EQ(t[VANTRO_VERSION_TEXT_SIZE - 2], 0);
        EXPECT_EQ(t[VANTRO_VERSION_TEXT_SIZE - 1], 0);
    }

    // The application path: the size the library asks for is the size it
    // copies.
    auto size = Exact<uint32_t>(1, 0);
    EXPECT_EQ(KovGetAppPath(nullptr, size.get()), QXR_ERROR_BUFFER_TOO_SMALL);
    const uint32_t needed = size[0];
    ASSERT_GT(needed, 0u);
    auto path = Exact<uint8_t>(needed, 0xCC);
    EXPECT_EQ(KovGetAppPath(path.get(), size.get()), 0u);
    EXPECT_EQ(size[0], needed);
    // One byte less is too small and copies nothing.
    auto shorter = Exact<uint8_t>(needed - 1, 0xCC);
    size[0] = needed - 1;
    EXPECT_EQ(KovGetAppPath(shorter.get(), size.get()), QXR_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size[0], needed);
    EXPECT_TRUE(AllBytes(shorter.get(), needed - 1, 0xCC));

    // KernelIoControl answering 4096 bytes more than OutBufSize: OutBuf gets
    // OutBufSize bytes, *BytesReturned the device's count.
    const uint8_t in[3] = {1, 2, 3};
    auto out = Exact<uint8_t>(16, 0xCC);
    auto returned = Exact<uint32_t>(1, 0);
    EXPECT_EQ(KovKernelIoControl(0xA0000020, in, sizeof in, out.get(), 16, returned.get()), 1u);
    EXPECT_EQ(returned[0], 16u + 4096u);
    EXPECT_TRUE(AllBytes(out.get(), 16, 0xEE));

    // VIM information with every mask bit set: nine u32, no more.
    auto info = Exact<uint32_t>(VANTRO_VIM_INFO_COUNT, 0xCC);
    EXPECT_EQ(KovGetVimInfomation(0, info.get()), 0u);
    EXPECT_EQ(info[3], sim.Device().State().voltage);
}

// ---- device files ----------------------------------------------------------------------------

TEST_F(HostileDevice, FileReadsAndListingsStayInsideTheirBuffers) {
    const std::filesystem::path root = sim.RootDir();
    {
        std::ofstream(root / "one.bin", std::ios::binary) << std::string(100, 'a');
        std::ofstream(root / "two.bin", std::ios::binary) << std::string(10, 'b');
    }
    const uint32_t handle = KovCreateFile(W(u"\\one.bin"), 0x80000000u, 1, nullptr, 3, 0x80, 0);
    ASSERT_NE(handle, 0xFFFFFFFFu);
    ASSERT_NE(handle, 0u);
    // 64 bytes more than asked: the read fails and writes nothing.
    auto buffer = Exact<uint8_t>(40, 0x5C);
    auto read = Exact<uint32_t>(1, 0x77);
    EXPECT_EQ(KovReadFile(handle, buffer.get(), 40, read.get(), nullptr), 0u);
    EXPECT_TRUE(AllBytes(buffer.get(), 40, 0x5C));
    EXPECT_EQ(read[0], 0x77777777u);
    EXPECT_EQ(KovCloseHandle(handle), 1u);

    // Names of 300 units: cut to 259 and a zero unit; the alternate name and
    // the reserved words are never written.
    auto find = Exact<VFIND_DATAW>(1, 0xCD);
    const uint32_t search = KovFindFirstFile(W(u"\\*.bin"), find.get());
    ASSERT_NE(search, 0xFFFFFFFFu);
    ASSERT_NE(search, 0u);
    EXPECT_EQ(static_cast<uint16_t>(find[0].cFileName[259]), 0u);
    EXPECT_NE(static_cast<uint16_t>(find[0].cFileName[258]), 0u);
    EXPECT_TRUE(AllBytes(find[0].cAlternateFileName, sizeof find[0].cAlternateFileName, 0xCD));
    auto next = Exact<VFIND_DATAW>(1, 0xCD);
    EXPECT_EQ(KovFindNextFile(search, next.get()), 1u);
    EXPECT_EQ(static_cast<uint16_t>(next[0].cFileName[259]), 0u);
    EXPECT_EQ(KovFindClose(search), 1u);

    auto count = Exact<uint32_t>(1, 0);
    VFIND_DATAW* list = nullptr;
    ASSERT_EQ(KovDir(W(u"\\*.bin"), count.get(), &list), 1u);
    ASSERT_EQ(count[0], 2u);
    for (uint32_t i = 0; i < count[0]; ++i) EXPECT_EQ(static_cast<uint16_t>(list[i].cFileName[259]), 0u);
    EXPECT_EQ(KovDirFree(), 1u);

    // A whole-file copy whose every chunk comes back too long gives up.
    const std::string pcFile = (root / "copy.out").string();
    EXPECT_EQ(KovGetFile(W(u"\\one.bin"), pcFile.c_str()), 0u);
}

// ---- registry, clock, log ----------------------------------------------------------------------

TEST_F(HostileDevice, RegistryValueLargerThanTheBufferIsNotCopied) {
    auto key = Exact<uint32_t>(1, 0);
    auto disposition = Exact<uint32_t>(1, 0);
    ASSERT_EQ(KovRegCreateKeyEx(VANTRO_HKEY_LOCAL_MACHINE, W(u"Software\\Hostile"), 0, W(u""), 0, 0, nullptr,
                                key.get(), disposition.get()),
              0u);
    const uint8_t value[4] = {1, 2, 3, 4};
    ASSERT_EQ(KovRegSetValueEx(key[0], W(u"V"), 0, VANTRO_REG_BINARY, value, sizeof value), 0u);

    // Success with 4096 bytes more than the 8 offered: 234, the length, and
    // neither the data nor the type written.
    auto data = Exact<uint8_t>(8, 0xCC);
    auto type = Exact<uint32_t>(1, 0xCC);
    auto size = Exact<uint32_t>(1, 0);
    size[0] = 8;
    EXPECT_EQ(KovRegQueryValueEx(key[0], W(u"V"), nullptr, type.get(), data.get(), size.get()),
              VANTRO_ERROR_MORE_DATA);
    EXPECT_EQ(size[0], 8u + 4096u);
    EXPECT_EQ(type[0], 0xCCCCCCCCu);
    EXPECT_TRUE(AllBytes(data.get(), 8, 0xCC));
    EXPECT_EQ(KovRegCloseKey(key[0]), 0u);
}

TEST_F(HostileDevice, ClockRecordsCutShortFailWithTheReadersError) {
    // Half of each record arrives: every attempt fails the same way and the
    // reader's error is the result. The SYSTEMTIME is filled as far as the
    // answer went; the return values are left alone.
    auto time = Exact<VSYSTEMTIME>(1, 0xCC);
    EXPECT_EQ(KovGetSystemTime(time.get()), kShortResponse);
    EXPECT_EQ(KovGetLocalTime(time.get()), kShortResponse);
    auto returned = Exact<uint32_t>(1, 0xCC);
    VSYSTEMTIME t = {2024, 5, 3, 1, 12, 0, 0, 0};
    EXPECT_EQ(KovSetSystemTime(returned.get(), &t), kShortResponse);
    EXPECT_EQ(KovSetLocalTime(returned.get(), &t), kShortResponse);
    EXPECT_EQ(returned[0], 0xCCCCCCCCu);
    auto zone = Exact<VTIME_ZONE_INFORMATION>(1, 0xCC);
    EXPECT_EQ(KovGetTimeZoneInformation(returned.get(), zone.get()), kShortResponse);
    EXPECT_EQ(returned[0], 0xCCCCCCCCu);
    VTIME_ZONE_INFORMATION tz;
    std::memset(&tz, 0, sizeof tz);
    EXPECT_EQ(KovSetTimeZoneInformation(returned.get(), &tz), kShortResponse);
    EXPECT_EQ(returned[0], 0xCCCCCCCCu);
}

TEST_F(HostileDevice, LogResultsCutShortFailWithTheReadersError) {
    EXPECT_EQ(KovLogInit(W(u"hostile")), kShortResponse);
    const uint8_t message[5] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(KovLogPutMsg(message, sizeof message), kShortResponse);
    EXPECT_EQ(KovLogFlash(W(u"\\log.txt")), kShortResponse);
    EXPECT_EQ(KovLogClear(), kShortResponse);
    EXPECT_EQ(KovLogClose(), kShortResponse);
}

// ---- firmware ----------------------------------------------------------------------------------

TEST_F(HostileDevice, FirmwareNameLongerThanStatedStaysInsideNameBuf) {
    ASSERT_EQ(KovVupCreateFile(W(u"firmware-image.bin"), 100), 0u);
    // A name length of 0xFFFF: NameBuf is zeroed and gets at most
    // NameBufSize - 2 bytes of the name.
    auto name = Exact<uint8_t>(8, 0xCC);
    auto info1 = Exact<uint32_t>(1, 0), received = Exact<uint32_t>(1, 0xCC), info2 = Exact<uint32_t>(1, 0);
    auto checksum = Exact<uint8_t>(1, 0xCC);
    EXPECT_EQ(KovVupGetFileInfo(name.get(), 8, info1.get(), received.get(), checksum.get(), info2.get()), 0u);
    const uint8_t expected[8] = {'f', 0, 'i', 0, 'r', 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, name.get(), 8));
    EXPECT_EQ(received[0], 0u);
    EXPECT_EQ(checksum[0], 0u);
    EXPECT_EQ(KovVupFileFree(), 0u);
}

// ---- J2534 04.04 ---------------------------------------------------------------------------------

TEST_F(HostileDevice, PassThruRefusesAnswersBeyondTheCallersMemory) {
    uint32_t device = 0;
    ASSERT_EQ(PassThruOpen(nullptr, &device), STATUS_NOERROR);
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect(device, CAN, 0, 500000, &channel), STATUS_NOERROR);

    // Two messages asked, four of 4200 bytes sent: refused as a whole, the
    // count unchanged.
    auto msgs = Exact<PASSTHRU_MSG>(2, 0);
    auto n = Exact<uint32_t>(1, 0);
    n[0] = 2;
    EXPECT_EQ(PassThruReadMsgs(channel, msgs.get(), n.get(), 10), ERR_FAILED);
    EXPECT_EQ(n[0], 2u);
    auto text = Exact<char>(80, 0);
    EXPECT_EQ(PassThruGetLastError(text.get()), STATUS_NOERROR);
    EXPECT_STREQ(text.get(), "DI_ZEDO_IF_ERROR");

    // WriteMsgs answered with more messages than were sent: refused.
    auto out = Exact<PASSTHRU_MSG>(1, 0);
    out[0].ProtocolID = CAN;
    out[0].DataSize = 4;
    n[0] = 1;
    EXPECT_EQ(PassThruWriteMsgs(channel, out.get(), n.get(), 0), ERR_FAILED);
    EXPECT_EQ(n[0], 1u);

    // Version texts beyond 80 bytes: refused.
    auto fw = Exact<char>(80, 1), dll = Exact<char>(80, 1), api = Exact<char>(80, 1);
    EXPECT_EQ(PassThruReadVersion(device, fw.get(), dll.get(), api.get()), ERR_FAILED);

    // GET_CONFIG answering three pairs more: the two asked for are filled.
    auto pairs = Exact<SCONFIG>(2, 0);
    pairs[0] = {DATA_RATE, 0};
    pairs[1] = {LOOPBACK, 7};
    SCONFIG_LIST list = {2, pairs.get()};
    EXPECT_EQ(PassThruIoctl(channel, GET_CONFIG, &list, nullptr), STATUS_NOERROR);
    EXPECT_EQ(list.NumOfParams, 2u);
    EXPECT_EQ(pairs[0].Value, 500000u);

    // Filter messages echoed with 4200 bytes: refused.
    auto mask = Exact<PASSTHRU_MSG>(1, 0), pattern = Exact<PASSTHRU_MSG>(1, 0);
    mask[0].ProtocolID = pattern[0].ProtocolID = CAN;
    mask[0].DataSize = pattern[0].DataSize = 4;
    auto filter = Exact<uint32_t>(1, 0);
    EXPECT_EQ(PassThruStartMsgFilter(channel, PASS_FILTER, mask.get(), pattern.get(), nullptr, filter.get()),
              ERR_FAILED);

    EXPECT_EQ(PassThruDisconnect(channel), STATUS_NOERROR);
    EXPECT_EQ(PassThruClose(device), STATUS_NOERROR);
}

TEST_F(HostileDevice, FiveBaudKeyBytesFillOnlyTheCallersArray) {
    uint32_t device = 0;
    ASSERT_EQ(PassThruOpen(nullptr, &device), STATUS_NOERROR);
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect(device, ISO9141, 0, 10400, &channel), STATUS_NOERROR);
    auto address = Exact<uint8_t>(1, 0x33);
    auto keys = Exact<uint8_t>(2, 0);
    SBYTE_ARRAY in = {1, address.get()};
    SBYTE_ARRAY out = {2, keys.get()};
    EXPECT_EQ(PassThruIoctl(channel, FIVE_BAUD_INIT, &in, &out), STATUS_NOERROR);
    EXPECT_EQ(out.NumOfBytes, 2u);
    EXPECT_EQ(PassThruClose(device), STATUS_NOERROR);
}

// ---- stdcall pass-thru and OEM extensions -------------------------------------------------------

TEST_F(HostileDevice, StdcallPassThruCutsEveryAnswerToTheCaller) {
    vtest::ReportCapture reports;
    auto channel = Exact<uint32_t>(1, 0);
    ASSERT_EQ(PassThruConnect_0202(CAN, 0, channel.get()), STATUS_NOERROR);

    // Five messages of 5000 bytes for two places: two stored, each cut to
    // 4128 bytes.
    auto msgs = Exact<PASSTHRU_MSG>(2, 0);
    auto n = Exact<uint32_t>(1, 0);
    n[0] = 2;
    EXPECT_EQ(PassThruReadMsgs_0202(channel[0], msgs.get(), n.get(), 0), STATUS_NOERROR);
    EXPECT_EQ(n[0], 2u);
    EXPECT_EQ(msgs[1].DataSize, PASSTHRU_MSG_DATA_SIZE);
    n[0] = 2;
    EXPECT_EQ(PassThruOemReadMsgsNoLength(channel[0], msgs.get(), n.get(), 0), STATUS_NOERROR);
    EXPECT_EQ(n[0], 2u);

    auto one = Exact<PASSTHRU_MSG>(1, 0);
    one[0].ProtocolID = CAN;
    one[0].DataSize = 4;
    n[0] = 1;
    EXPECT_EQ(PassThruWriteMsgs_0202(channel[0], one.get(), n.get(), 0), STATUS_NOERROR);
    EXPECT_EQ(n[0], 1u);
    EXPECT_LE(one[0].DataSize, PASSTHRU_MSG_DATA_SIZE);

    // Texts of 300 units: 79 units and a zero unit.
    auto error = Exact<VWCHAR>(VANTRO_PASSTHRU0202_TEXT_UNITS, 0xCC);
    EXPECT_EQ(PassThruOemGetLastError(error.get()), STATUS_NOERROR);
    EXPECT_EQ(static_cast<uint16_t>(error[VANTRO_PASSTHRU0202_TEXT_UNITS - 1]), 0u);
    EXPECT_EQ(static_cast<uint16_t>(error[VANTRO_PASSTHRU0202_TEXT_UNITS - 2]), u'E');
    std::unique_ptr<VWCHAR[]> versions[3];
    for (auto& v : versions) v = Exact<VWCHAR>(VANTRO_PASSTHRU0202_TEXT_UNITS, 0xCC);
    EXPECT_EQ(PassThruOemReadVersion(versions[0].get(), versions[1].get(), versions[2].get()), STATUS_NOERROR);
    for (auto& v : versions) EXPECT_EQ(static_cast<uint16_t>(v[VANTRO_PASSTHRU0202_TEXT_UNITS - 1]), 0u);

    // A log entry of 10000 bytes into a data area of 4096.
    auto data = Exact<uint8_t>(VANTRO_OEM_LOG_DATA_SIZE, 0);
    auto entry = Exact<OemLogEntry>(1, 0);
    entry[0].pData = data.get();
    PassThruOemReadLog(0, entry.get());
    EXPECT_EQ(data[VANTRO_OEM_LOG_DATA_SIZE - 1], 0xD7);

    // GET_CONFIG with five pairs more than asked, FAST_INIT with 9000 bytes.
    auto pairs = Exact<SCONFIG>(1, 0);
    pairs[0] = {DATA_RATE, 0};
    SCONFIG_LIST list = {1, pairs.get()};
    EXPECT_EQ(PassThruIoctl_0202(channel[0], VANTRO_IOCTL0202_GET_CONFIG, &list, nullptr), STATUS_NOERROR);
    EXPECT_EQ(list.NumOfParams, 1u);

    EXPECT_GE(reports.Count(QXR_ERROR_BUFFER_TOO_SMALL), 5u) << "every cut is reported";
    EXPECT_EQ(PassThruDisconnect_0202(channel[0]), STATUS_NOERROR);
}

// ---- reprogramming --------------------------------------------------------------------------------

TEST_F(HostileDevice, ReproListsWriteOnlyTheCapacity) {
    // The device claims exactly the capacity and sends eight records more:
    // the records inside the capacity are written, nothing after them.
    std::unique_ptr<SoftwareNumberEntry[]> numbers[2] = {Exact<SoftwareNumberEntry>(1, 0),
                                                         Exact<SoftwareNumberEntry>(1, 0)};
    auto pointers = Exact<SoftwareNumberEntry*>(2, 0);
    pointers[0] = numbers[0].get();
    pointers[1] = numbers[1].get();
    auto count = Exact<uint32_t>(1, 0);
    auto status = Exact<uint32_t>(1, 0);
    count[0] = 2;
    EXPECT_EQ(ReproReadSoftwareNumber(1, pointers.get(), count.get(), status.get(), 0), 0u);
    EXPECT_EQ(count[0], 2u);
    EXPECT_TRUE(AllBytes(numbers[1][0].Bytes, sizeof numbers[1][0].Bytes, 0xA5));
    count[0] = 2;
    EXPECT_EQ(ReproReadSoftwareNumberOs(1, 0, pointers.get(), count.get(), status.get()), 0u);
    EXPECT_EQ(count[0], 2u);
    std::memset(numbers[1].get(), 0, sizeof(SoftwareNumberEntry));
    count[0] = 2;
    EXPECT_EQ(ReproDeleteSaveSoftwareNumberOs(pointers.get(), count.get()), 0u);
    EXPECT_EQ(count[0], 2u);
    EXPECT_TRUE(AllBytes(numbers[1][0].Bytes, sizeof numbers[1][0].Bytes, 0xA5));

    auto systems = Exact<SystemListEntry>(3, 0);
    count[0] = 3;
    EXPECT_EQ(ReproGetSystemListOs(systems.get(), count.get()), 0u);
    EXPECT_EQ(count[0], 3u);
    EXPECT_TRUE(AllBytes(systems[2].Bytes, sizeof systems[2].Bytes, 0xA5));

    auto programs = Exact<ProgramInfoEntry>(1, 0);
    count[0] = 1;
    EXPECT_EQ(ReproGetAllProgramInfoOs(0xFFFFFFFF, programs.get(), count.get(), status.get()), 0u);
    EXPECT_EQ(count[0], 1u);
    EXPECT_TRUE(AllBytes(programs[0].Bytes, sizeof programs[0].Bytes, 0xA5));

    // A VIN of 5000 bytes: the first 36 land in the record.
    auto vin = Exact<VehicleIdNumber>(1, 0);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, vin.get()), 0u);
    EXPECT_TRUE(AllBytes(vin[0].Bytes, sizeof vin[0].Bytes, 'V'));
}

// ---- diagnostic monitor ---------------------------------------------------------------------------

// A caller's record pair: the request writes a u32 and eight bytes, the
// response reads the same fields back (the device echoes the request).
class EchoRequest : public CCmdBase {
public:
    EchoRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Value = 0;
        std::memset(Bytes, 0, sizeof Bytes);
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Value);
        Xfer(s, Bytes);
    }
    TESSRA_FIELD_IO
    uint32_t Value;
    uint8_t Bytes[8];
};
using EchoResponse = EchoRequest;

TEST_F(HostileDevice, MonitorRecordsCutShortAndDiagCodesBeyond255) {
    // The echo loses its last byte: the caller's record cannot be read and
    // the reader's error is returned after the one attempt.
    std::unique_ptr<EchoRequest> request(new EchoRequest);
    std::unique_ptr<EchoResponse> response(new EchoResponse);
    request->Value = 0x01020304;
    EXPECT_EQ(KovCommandExecute(request.get(), response.get()), kShortResponse);
    EXPECT_EQ(KovDmciGetMonitorData(request.get(), response.get()), kShortResponse);

    // A code of 70000 bytes: its length modulo 256 (112) into 255 bytes.
    auto code = Exact<uint8_t>(VANTRO_DLC12_DIAG_CODE_SIZE, 0);
    auto length = Exact<uint8_t>(1, 0);
    EXPECT_EQ(KovDLC12GetDiagCode(0x01, 0xFFFF, code.get(), length.get()), 0u);
    EXPECT_EQ(length[0], 70000u % 256u);
    EXPECT_EQ(code[length[0] - 1], 0xC3);
    EXPECT_EQ(code[length[0]], 0);
}

}  // namespace
