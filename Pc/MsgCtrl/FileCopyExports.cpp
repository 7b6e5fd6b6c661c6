// Whole-file copies between the PC and the device, 2538 bytes per command.
//
// A chunk that fails is retried up to 3 times in a row; before each retry the
// side that is read from is brought back to the position the side written to
// has reached, so nothing is lost or doubled. The retry counter restarts
// after every good chunk, so isolated failures never end a copy.
#include <cstdint>

#include "Pc/MsgCtrl/TransferProgress.h"
#include "Pc/Os/OsFile.h"
#include "vantro/vantro_files.h"

namespace {

constexpr uint32_t kTransferChunk = 2538;
constexpr uint32_t kMaxRetries = 3;
constexpr uint32_t kFailed = 0xFFFFFFFFu;

// Moves a PC file to an absolute position below 4 GiB.
bool SeekPcFile(vos::OsHandle file, uint32_t position) {
    int32_t high = 0;
    return vos::FileSetPointer(file, static_cast<int32_t>(position), &high, vos::kFileBegin) !=
           vos::kInvalidSetFilePointer;
}

// The PC file's current position, kFailed when it cannot be had.
uint32_t PcFilePosition(vos::OsHandle file) {
    return vos::FileSetPointer(file, 0, nullptr, vos::kFileCurrent);
}

}  // namespace

uint32_t VANTRO_STDCALL KovGetFile(const VWCHAR* DeviceFile, const char* PcFile) {
    uint32_t device = KovCreateFile(DeviceFile, vos::kGenericRead, vos::kFileShareRead, nullptr, vos::kOpenExisting,
                                    vos::kFileAttributeNormal, 0);
    if (device == 0) return 0;

    vos::OsHandle pc =
        vos::FileCreate(PcFile, vos::kGenericWrite, vos::kFileShareRead, vos::kCreateAlways, vos::kFileAttributeNormal);
    if (!vos::IsValidHandle(pc)) {
        KovCloseHandle(device);
        return 0;
    }

    uint8_t chunk[kTransferChunk];
    uint32_t result = 0;
    uint32_t retries = 0;
    uint64_t done = 0;
    for (;;) {
        uint32_t n = 0;
        if (KovReadFile(device, chunk, kTransferChunk, &n, nullptr) == 1) {
            if (n == 0) {
                result = 1;
                break;
            }
            retries = 0;
            uint32_t written = 0;
            if (!vos::FileWrite(pc, chunk, n, &written)) break;
            done += n;
            ReportTransferProgress(done, 0);
            continue;
        }
        if (retries == kMaxRetries) break;
        // Bring the device file back to what the PC file holds.
        uint32_t position = PcFilePosition(pc);
        if (position == vos::kInvalidSetFilePointer) break;
        if (KovSetFilePointer(device, static_cast<int32_t>(position), nullptr, vos::kFileBegin) == kFailed) break;
        ++retries;
        done = position;
        ReportTransferProgress(done, 0);
    }

    vos::FileClose(pc);
    KovCloseHandle(device);
    return result;
}

uint32_t VANTRO_STDCALL KovPutFile(const char* PcFile, const VWCHAR* DeviceFile) {
    vos::OsHandle pc =
        vos::FileCreate(PcFile, vos::kGenericRead, vos::kFileShareRead, vos::kOpenExisting, vos::kFileAttributeNormal);
    if (!vos::IsValidHandle(pc)) return 0;

    uint32_t device = KovCreateFile(DeviceFile, vos::kGenericWrite, vos::kFileShareRead, nullptr, vos::kCreateAlways,
                                    vos::kFileAttributeNormal, 0);
    if (device == 0) {
        vos::FileClose(pc);
        return 0;
    }

    uint32_t sizeHigh = 0;
    uint32_t sizeLow = vos::FileGetSize(pc, &sizeHigh);
    uint64_t total = sizeLow == vos::kInvalidFileSize ? 0 : (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;

    uint8_t chunk[kTransferChunk];
    uint32_t result = 0;
    uint32_t retries = 0;
    uint64_t done = 0;
    uint32_t n = 0;
    bool readOk = vos::FileRead(pc, chunk, kTransferChunk, &n);
    while (readOk) {
        if (n == 0) {
            result = 1;
            break;
        }
        uint32_t written = 0;
        if (KovWriteFile(device, chunk, n, &written, nullptr) == 1) {
            retries = 0;
            done += n;
        } else {
            if (retries == kMaxRetries) break;
            // Continue from what the device file really holds.
            uint32_t position = KovSetFilePointer(device, 0, nullptr, vos::kFileCurrent);
            if (position == kFailed) break;
            if (!SeekPcFile(pc, position)) break;
            ++retries;
            done = position;
        }
        ReportTransferProgress(done, total);
        readOk = vos::FileRead(pc, chunk, kTransferChunk, &n);
    }

    KovCloseHandle(device);
    vos::FileClose(pc);
    return result;
}
