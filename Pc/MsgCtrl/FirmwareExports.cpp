// Firmware update: the five KovVup commands and KovVupPutFile, which sends a
// whole PC file, resumes after failed chunks from the device's own count of
// received bytes, checks the device's 8-bit checksum against the file's and
// only then has the device write the file.
#include <algorithm>
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/TransferProgress.h"
#include "Pc/Os/OsFile.h"
#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdListFirmware.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_firmware.h"

namespace {

constexpr uint32_t kCodeVupCreateFile = 16;
constexpr uint32_t kCodeVupTransmitData = 17;
constexpr uint32_t kCodeVupGetFileInfo = 18;
constexpr uint32_t kCodeVupWriteFile = 19;
constexpr uint32_t kCodeVupFileFree = 20;

constexpr uint32_t kTrace = 1;
constexpr uint32_t kTransferChunk = 2538;
constexpr uint32_t kMaxRetries = 3;

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineOpen = 1883;
constexpr int kLineSize = 1894;
constexpr int kLineNameBuffer = 1903;  // the name buffer cannot be allocated
constexpr int kLineTransmitRead = 1915;
constexpr int kLineRetriesUsed = 1928;
constexpr int kLineResync = 1945;
constexpr int kLineRewind = 1959;
constexpr int kLineChecksumRead = 1967;
constexpr int kLineChecksum = 2000;

uint32_t Fail(uint32_t code, int line) {
    ErrReportf(code, "[PC]%s(%d):", kSource, line);
    return code;
}

uint8_t Sum8(const uint8_t* data, uint32_t n) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

// Holds the PC file and the name buffer of one KovVupPutFile; every exit
// closes and frees whatever it holds.
struct PutFileResources {
    vos::OsHandle file = nullptr;
    uint8_t* nameBuf = nullptr;
    ~PutFileResources() {
        FreeName();
        if (vos::IsValidHandle(file)) vos::FileClose(file);
    }
    void FreeName() {
        vos::MemFree(nameBuf);
        nameBuf = nullptr;
    }
};

}  // namespace

uint32_t VANTRO_STDCALL KovVupCreateFile(const VWCHAR* Name, uint32_t Size) {
    VupCreateFileRequest request;
    VupCreateFileResponse response;
    request.Name = Name;
    request.NameLength = static_cast<uint16_t>(request.Name.GetLength());
    request.Size = Size;
    uint32_t error = ExecuteCommand(kCodeVupCreateFile, &request, &response, 0, kTrace);
    return error != 0 ? error : response.Result;
}

uint32_t VANTRO_STDCALL KovVupTransmitData(const uint8_t* Data, uint32_t Length) {
    VupTransmitDataRequest request;
    VupTransmitDataResponse response;
    request.Length = Length;
    request.Data.SetAt(Data, Length);
    uint32_t error = ExecuteCommand(kCodeVupTransmitData, &request, &response, 0, kTrace);
    return error != 0 ? error : response.Result;
}

uint32_t VANTRO_STDCALL KovVupGetFileInfo(uint8_t* NameBuf, uint32_t NameBufSize, uint32_t* Info1,
                                          uint32_t* ReceivedSize, uint8_t* Checksum, uint32_t* Info2) {
    CCmdBase request(0);
    VupGetFileInfoResponse response;
    uint32_t error = ExecuteCommand(kCodeVupGetFileInfo, &request, &response, 2, kTrace);
    if (error != 0) return error;
    if (Info1) *Info1 = response.Info1;
    if (ReceivedSize) *ReceivedSize = response.ReceivedSize;
    if (Checksum) *Checksum = response.Checksum;
    if (Info2) *Info2 = response.Info2;
    if (NameBuf && NameBufSize != 0) {
        std::memset(NameBuf, 0, NameBufSize);
        uint32_t n = std::min<uint32_t>(response.NameLength, NameBufSize);
        if (n > 2) {
            // Never more than the name really holds.
            uint32_t copy = std::min<uint32_t>(n - 2, response.Name.GetLength());
            if (copy != 0) std::memcpy(NameBuf, response.Name.GetBytes(), copy);
        }
    }
    return response.Result;
}

uint32_t VANTRO_STDCALL KovVupWriteFile(uint32_t Param1, uint32_t Param2) {
    VupWriteFileRequest request;
    VupWriteFileResponse response;
    request.Param1 = Param1;
    request.Param2 = Param2;
    uint32_t error = ExecuteCommand(kCodeVupWriteFile, &request, &response, 0, kTrace);
    return error != 0 ? error : response.Result;
}

uint32_t VANTRO_STDCALL KovVupFileFree(void) {
    CCmdBase request(0);
    VupWriteFileResponse response;
    uint32_t error = ExecuteCommand(kCodeVupFileFree, &request, &response, 0, kTrace);
    return error != 0 ? error : response.Result;
}

uint32_t VANTRO_STDCALL KovVupPutFile(const char* PcFile, const VWCHAR* DeviceName, uint32_t WriteParam) {
    PutFileResources res;
    res.file =
        vos::FileCreate(PcFile, vos::kGenericRead, vos::kFileShareRead, vos::kOpenExisting, vos::kFileAttributeNormal);
    if (!vos::IsValidHandle(res.file)) return Fail(QXR_ERROR_FILE_OPEN, kLineOpen);

    uint32_t sizeHigh = 0;
    uint32_t size = vos::FileGetSize(res.file, &sizeHigh);
    if (size == vos::kInvalidFileSize || sizeHigh != 0) return Fail(QXR_ERROR_FILE_READ, kLineSize);

    uint32_t result = KovVupCreateFile(DeviceName, size);
    if (result != 0) return result;

    // The name with its terminator; the block is twice that size.
    uint32_t units = 0;
    if (DeviceName)
        while (DeviceName[units] != 0) ++units;
    uint32_t nameBufSize = 2 * units + 2;
    res.nameBuf = static_cast<uint8_t*>(vos::MemAlloc(2 * static_cast<size_t>(nameBufSize)));
    if (!res.nameBuf) return Fail(QXR_ERROR_OUT_OF_MEMORY, kLineNameBuffer);

    uint32_t info1 = 0;
    uint32_t received = 0;
    uint8_t checksum = 0;
    uint32_t info2 = 0;

    // Transmit phase.
    uint8_t chunk[kTransferChunk];
    uint32_t retries = 0;
    uint64_t done = 0;
    uint32_t n = 0;
    if (!vos::FileRead(res.file, chunk, kTransferChunk, &n)) return Fail(QXR_ERROR_FILE_READ, kLineTransmitRead);
    while (n > 0) {
        if (KovVupTransmitData(chunk, n) == 0) {
            retries = 0;
            done += n;
        } else {
            if (retries == kMaxRetries) return Fail(QXR_ERROR_FILE_TRANSFER, kLineRetriesUsed);
            result = KovVupGetFileInfo(res.nameBuf, nameBufSize, &info1, &received, &checksum, &info2);
            if (result != 0) return result;
            // Resume where the device's own count says the data ends.
            int32_t high = 0;
            if (vos::FileSetPointer(res.file, static_cast<int32_t>(received), &high, vos::kFileBegin) ==
                vos::kInvalidSetFilePointer)
                return Fail(QXR_ERROR_FILE_TRANSFER, kLineResync);
            ++retries;
            done = received;
        }
        ReportTransferProgress(done, size);
        if (!vos::FileRead(res.file, chunk, kTransferChunk, &n)) return Fail(QXR_ERROR_FILE_READ, kLineTransmitRead);
    }

    // Checksum phase: the 8-bit sum of the whole file.
    if (vos::FileSetPointer(res.file, 0, nullptr, vos::kFileBegin) == vos::kInvalidSetFilePointer)
        return Fail(QXR_ERROR_FILE_TRANSFER, kLineRewind);
    uint8_t sum = 0;
    for (;;) {
        if (!vos::FileRead(res.file, chunk, kTransferChunk, &n)) return Fail(QXR_ERROR_FILE_READ, kLineChecksumRead);
        if (n == 0) break;
        sum = static_cast<uint8_t>(sum + Sum8(chunk, n));
    }

    result = KovVupGetFileInfo(res.nameBuf, nameBufSize, &info1, &received, &checksum, &info2);
    if (result != 0) return result;
    res.FreeName();

    if (checksum != sum) return Fail(QXR_ERROR_FILE_TRANSFER, kLineChecksum);
    return KovVupWriteFile(0, WriteParam);
}
