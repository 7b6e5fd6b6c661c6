// PC files with the Win32 file semantics used by file copies and firmware
// update (CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize).
#pragma once

#include <cstdint>

#include "Pc/Os/OsTypes.h"

namespace vos {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 0x1u;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFFu;

// InvalidHandle() on failure.
OsHandle FileCreate(const char* path, uint32_t access, uint32_t shareMode,
                    uint32_t creationDisposition, uint32_t flagsAndAttributes);
bool FileRead(OsHandle file, void* buffer, uint32_t size, uint32_t* read);
bool FileWrite(OsHandle file, const void* data, uint32_t size, uint32_t* written);
// SetFilePointer: the new position's low 32 bits, its high half through
// distanceHigh when given; kInvalidSetFilePointer on failure.
uint32_t FileSetPointer(OsHandle file, int32_t distance, int32_t* distanceHigh, uint32_t method);
// GetFileSize: low 32 bits, high half through sizeHigh; kInvalidFileSize on
// failure.
uint32_t FileGetSize(OsHandle file, uint32_t* sizeHigh);
bool FileClose(OsHandle file);

}  // namespace vos
