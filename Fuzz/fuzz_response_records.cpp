// Fuzzes the decoding of responses: MsgReader::ReadCommand with the Read of
// every response record class of Include/Tessra/CmdList*.h. Records that read
// into the caller's memory (clock structures, J2534 message arrays, texts and
// Ioctl outputs) get exactly-sized heap blocks, as the exports hand them, so
// that AddressSanitizer sees a write past them.
//
// Input: byte 0 picks the record (modulo the table), byte 1 the caller's
// capacity where a record has one; the rest is the response message (code,
// status, record) as the message layer hands it out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "Pc/MsgCtrl/MsgReader.h"
#include "Tessra/CmdListClock.h"
#include "Tessra/CmdListFile.h"
#include "Tessra/CmdListFirmware.h"
#include "Tessra/CmdListJ2534.h"
#include "Tessra/CmdListLog.h"
#include "Tessra/CmdListMonitor.h"
#include "Tessra/CmdListOem.h"
#include "Tessra/CmdListPassThru0202.h"
#include "Tessra/CmdListRegistry.h"
#include "Tessra/CmdListRepro.h"
#include "Tessra/CmdListStatus.h"

namespace {

// Reads the message into the record and touches what it read.
void Decode(CCmdCore* record, const uint8_t* message, size_t size) {
    // An exact heap copy: a read past the message is seen.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), message, size);
    MsgReader reader;
    reader.SetBuffer(size ? copy.get() : nullptr, static_cast<uint32_t>(size));
    reader.ReadCommand(record);
    (void)reader.GetLastError();
}

template <class R>
void Plain(uint8_t, const uint8_t* message, size_t size) {
    R record;
    Decode(&record, message, size);
    record.Clear();
    Decode(&record, message, size);  // a record read twice (a retried attempt)
}

void SystemTime(uint8_t, const uint8_t* m, size_t n) {
    std::unique_ptr<VSYSTEMTIME> t(new VSYSTEMTIME());
    GetSystemTimeResponse r;
    r.SystemTime = t.get();
    Decode(&r, m, n);
    GetLocalTimeResponse l;
    l.SystemTime = t.get();
    Decode(&l, m, n);
}

void TimeZone(uint8_t, const uint8_t* m, size_t n) {
    std::unique_ptr<VTIME_ZONE_INFORMATION> tz(new VTIME_ZONE_INFORMATION());
    GetTimeZoneInformationResponse r;
    r.TimeZone = tz.get();
    Decode(&r, m, n);
}

template <class R>
void MsgArray(uint8_t capacity, const uint8_t* m, size_t n) {
    const uint32_t count = capacity % 5;
    std::unique_ptr<PASSTHRU_MSG[]> msgs(count ? new PASSTHRU_MSG[count]() : nullptr);
    R r;
    r.pMsg = msgs.get();
    r.Capacity = count;
    Decode(&r, m, n);
}

void PeriodicMsg(uint8_t, const uint8_t* m, size_t n) {
    std::unique_ptr<PASSTHRU_MSG> msg(new PASSTHRU_MSG());
    J2534StartPeriodicMsgResponse r;
    r.pMsg = msg.get();
    Decode(&r, m, n);
}

void MsgFilter(uint8_t which, const uint8_t* m, size_t n) {
    std::unique_ptr<PASSTHRU_MSG> mask(new PASSTHRU_MSG()), pattern(new PASSTHRU_MSG()), flow(new PASSTHRU_MSG());
    J2534StartMsgFilterResponse r;
    r.pMaskMsg = which & 1 ? mask.get() : nullptr;
    r.pPatternMsg = which & 2 ? pattern.get() : nullptr;
    r.pFlowControlMsg = which & 4 ? flow.get() : nullptr;
    Decode(&r, m, n);
}

void ReadVersion(uint8_t, const uint8_t* m, size_t n) {
    std::unique_ptr<char[]> fw(new char[80]), dll(new char[80]), api(new char[80]);
    J2534ReadVersionResponse r;
    r.pFirmwareVersion = fw.get();
    r.pDllVersion = dll.get();
    r.pApiVersion = api.get();
    Decode(&r, m, n);
}

void LastError(uint8_t, const uint8_t* m, size_t n) {
    std::unique_ptr<char[]> text(new char[80]);
    LocalJ2534GetLastErrorResponse r;
    r.pErrorDescription = text.get();
    Decode(&r, m, n);
}

// The Ioctl answer for each ID the caller's pointers can stand for.
void Ioctl(uint8_t pick, const uint8_t* m, size_t n) {
    const uint32_t count = (pick >> 3) % 6;
    LocalJ2534IoctlResponse r;
    std::unique_ptr<SCONFIG[]> pairs(count ? new SCONFIG[count]() : nullptr);
    SCONFIG_LIST list = {count, pairs.get()};
    std::unique_ptr<uint8_t[]> bytes(count ? new uint8_t[count]() : nullptr);
    SBYTE_ARRAY array = {count, bytes.get()};
    std::unique_ptr<PASSTHRU_MSG> msg(new PASSTHRU_MSG());
    std::unique_ptr<uint32_t> value(new uint32_t(0));
    switch (pick % 5) {
        case 0:
            r.IoctlID = GET_CONFIG;
            r.pInput = &list;
            break;
        case 1:
            r.IoctlID = FIVE_BAUD_INIT;
            r.pOutput = &array;
            break;
        case 2:
            r.IoctlID = FAST_INIT;
            r.pOutput = msg.get();
            break;
        case 3:
            r.IoctlID = READ_VBATT;
            r.pOutput = value.get();
            break;
        default:
            r.IoctlID = pick;  // an ID with no output
            break;
    }
    Decode(&r, m, n);
}

using Decoder = void (*)(uint8_t capacity, const uint8_t* message, size_t size);

const Decoder kRecords[] = {
    // clock
    SystemTime, TimeZone, Plain<GetSystemTimeResponse>, Plain<SetSystemTimeResponse>,
    Plain<GetLocalTimeResponse>, Plain<SetLocalTimeResponse>, Plain<GetTimeZoneInformationResponse>,
    Plain<SetTimeZoneInformationResponse>,
    // files
    Plain<CreateFileResponse>, Plain<CloseHandleResponse>, Plain<FindCloseResponse>, Plain<ReadFileResponse>,
    Plain<WriteFileResponse>, Plain<DeleteFileResponse>, Plain<CreateDirectoryResponse>,
    Plain<RemoveDirectoryResponse>, Plain<FindFirstFileResponse>, Plain<FindNextFileResponse>,
    Plain<CreateProcessResponse>, Plain<GetDiskFreeSpaceResponse>, Plain<SetFilePointerResponse>,
    Plain<GetFileAttributesResponse>, Plain<SetFileAttributesResponse>, Plain<CopyFileResponse>,
    Plain<MoveFileResponse>,
    // firmware
    Plain<VupCreateFileResponse>, Plain<VupTransmitDataResponse>, Plain<VupGetFileInfoResponse>,
    Plain<VupWriteFileResponse>,
    // J2534 04.04
    Plain<J2534ConnectResponse>, Plain<J2534ResultResponse>, Plain<J2534DisconnectResponse>,
    Plain<J2534StopPeriodicMsgResponse>, Plain<J2534StopMsgFilterResponse>,
    Plain<J2534SetProgrammingVoltageResponse>, Plain<J2534MsgArrayResponse>, Plain<J2534ReadMsgsResponse>,
    Plain<J2534WriteMsgsResponse>, MsgArray<J2534ReadMsgsResponse>, MsgArray<J2534WriteMsgsResponse>,
    Plain<J2534StartPeriodicMsgResponse>, PeriodicMsg, Plain<J2534StartMsgFilterResponse>, MsgFilter,
    Plain<J2534ReadVersionResponse>, ReadVersion, Plain<LocalJ2534GetLastErrorResponse>, LastError,
    Plain<LocalJ2534IoctlResponse>, Ioctl,
    // device log
    Plain<LogInitResponse>, Plain<LogCloseResponse>, Plain<LogClearResponse>, Plain<LogFlashResponse>,
    Plain<LogPutMsgResponse>,
    // DLC12
    Plain<DLC12GetDiagCodeResponse>, Plain<DLC12ResultResponse>, Plain<DLC12ConnectResponse>,
    Plain<DLC12DisconnectResponse>,
    // OEM extensions
    Plain<PassThruOemReadVersionResponse>, Plain<PassThruOemLogResultResponse>,
    Plain<PassThruOemReadLogResponse>, Plain<PassThruOemClearLogResponse>,
    Plain<PassThruOemGetLogStatusResponse>, Plain<PassThruOemSeekLogResponse>,
    // stdcall pass-thru
    Plain<PassThruConnectResponse>, Plain<PassThruResultResponse>, Plain<PassThruDisconnectResponse>,
    Plain<PassThruMsgsResponse>, Plain<PassThruReadMsgsResponse>, Plain<PassThruWriteMsgsResponse>,
    Plain<PassThruOemGetLastErrorResponse>, Plain<PassThruIoctlResponse>,
    // registry
    Plain<RegCreateKeyExResponse>, Plain<RegOpenKeyExResponse>, Plain<RegDeleteKeyResponse>,
    Plain<RegCloseKeyResponse>, Plain<RegQueryValueExResponse>, Plain<RegSetValueExResponse>,
    Plain<RegDeleteValueResponse>, Plain<RegFlushKeyResponse>,
    // reprogramming
    Plain<ReproResultResponse>, Plain<ReproEntryListResponse>, Plain<ReproEntryListStatusResponse>,
    Plain<ReproCheckVoltageResponse>, Plain<ReproControlWfseLineResponse>, Plain<ReproReadSoftwareNumberResponse>,
    Plain<ReproReprogrammingResponse>, Plain<ReproVerifyResponse>, Plain<ReproGetProgressResponse>,
    Plain<ReproCheckVoltageOsResponse>, Plain<ReproControlWfseLineOsResponse>,
    Plain<ReproGetSystemListOsResponse>, Plain<ReproCheckProgramInfoOsResponse>,
    Plain<ReproDeleteProgramInfoOsResponse>, Plain<ReproReadSoftwareNumberOsResponse>,
    Plain<ReproGetAllProgramInfoOsResponse>, Plain<ReproReprogrammingOsResponse>,
    Plain<ReproGetProgressOsResponse>, Plain<ReproDeleteSaveSoftwareNumberOsResponse>,
    Plain<ReproGetToolConditionOsResponse>, Plain<ReproCheckNeedParentSoftwareInfoOsResponse>,
    Plain<ReproSetParentSoftwareInfoOsResponse>, Plain<ReproReadVehicleIdNumberOsResponse>,
    // device status
    Plain<GetVersionResponse>, Plain<GetModeResponse>, Plain<ChangeModeResponse>, Plain<GetVoltageResponse>,
    Plain<GetAppPathResponse>, Plain<KernelIoControlResponse>, Plain<GetVimInfomationResponse>,
    Plain<GetFileVersionResponse>, Plain<GetAcStatusResponse>,
};

constexpr size_t kRecordCount = sizeof kRecords / sizeof kRecords[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    kRecords[data[0] % kRecordCount](data[1], data + 2, size - 2);
    return 0;
}
