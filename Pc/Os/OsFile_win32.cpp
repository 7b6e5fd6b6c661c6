#include <windows.h>

#include "Pc/Os/OsFile.h"

namespace vos {

OsHandle FileCreate(const char* path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                    uint32_t flagsAndAttributes) {
    if (!path) return InvalidHandle();
    return CreateFileA(path, access, shareMode, nullptr, disposition, flagsAndAttributes, nullptr);
}

bool FileRead(OsHandle file, void* buffer, uint32_t size, uint32_t* read) {
    DWORD n = 0;
    BOOL ok = IsValidHandle(file) && ReadFile(file, buffer, size, &n, nullptr);
    if (read) *read = n;
    return ok != FALSE;
}

bool FileWrite(OsHandle file, const void* data, uint32_t size, uint32_t* written) {
    DWORD n = 0;
    BOOL ok = IsValidHandle(file) && WriteFile(file, data, size, &n, nullptr);
    if (written) *written = n;
    return ok != FALSE;
}

uint32_t FileSetPointer(OsHandle file, int32_t distance, int32_t* distanceHigh, uint32_t method) {
    if (!IsValidHandle(file)) return kInvalidSetFilePointer;
    LONG high = distanceHigh ? *distanceHigh : 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, distance, distanceHigh ? &high : nullptr, method);
    if (distanceHigh && !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR))
        *distanceHigh = high;
    return low;
}

uint32_t FileGetSize(OsHandle file, uint32_t* sizeHigh) {
    if (!IsValidHandle(file)) return kInvalidFileSize;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (sizeHigh) *sizeHigh = high;
    return low;
}

bool FileClose(OsHandle file) { return IsValidHandle(file) && CloseHandle(file) != FALSE; }

}  // namespace vos
