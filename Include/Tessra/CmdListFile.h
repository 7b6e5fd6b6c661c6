// Command records of the device file system (commands 33 to 50 but 44).
//
// Every class lists its fields once, in wire order, in Fields(); Read and
// Write both run it. Clear() gives every field its start value: 0, except the
// Result of the SetFileAttributes, CopyFile and MoveFile responses (1), the
// FailIfExists of the CopyFile request (1) and the Handle of the
// SetFilePointer request (0xFFFFFFFF).
//
// A length field that goes with a path holds the string's byte length as a
// 16-bit value (the stored terminator included); the export sets it after
// assigning the string (cmdlist::PathLength).
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

namespace cmdlist {

// The 16-bit byte length of a string member, as the length fields carry it.
inline uint16_t PathLength(const CCmdString& s) { return static_cast<uint16_t>(s.GetLength()); }

// The find fields that follow the Result of FindFirstFile and FindNextFile.
// Each time travels high half first.
struct FindFields {
    uint32_t FileAttributes;
    uint32_t CreationTimeHigh;
    uint32_t CreationTimeLow;
    uint32_t LastAccessTimeHigh;
    uint32_t LastAccessTimeLow;
    uint32_t LastWriteTimeHigh;
    uint32_t LastWriteTimeLow;
    uint32_t FileSizeHigh;
    uint32_t FileSizeLow;
    uint16_t FileNameLength;  // received, not used
    CCmdString FileName;

    void Clear() {
        FileAttributes = 0;
        CreationTimeHigh = CreationTimeLow = 0;
        LastAccessTimeHigh = LastAccessTimeLow = 0;
        LastWriteTimeHigh = LastWriteTimeLow = 0;
        FileSizeHigh = FileSizeLow = 0;
        FileNameLength = 0;
        FileName.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, FileAttributes);
        Xfer(s, CreationTimeHigh);
        Xfer(s, CreationTimeLow);
        Xfer(s, LastAccessTimeHigh);
        Xfer(s, LastAccessTimeLow);
        Xfer(s, LastWriteTimeHigh);
        Xfer(s, LastWriteTimeLow);
        Xfer(s, FileSizeHigh);
        Xfer(s, FileSizeLow);
        Xfer(s, FileNameLength);
        Xfer(s, FileName);
    }
};

}  // namespace cmdlist

// ---- 33 KovCreateFile ---------------------------------------------------------

class CreateFileRequest : public CCmdBase {
public:
    CreateFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        FileNameLength = 0;
        FileName.RemoveAll();
        DesiredAccess = ShareMode = CreationDisposition = FlagsAndAttributes = TemplateFile = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, FileNameLength);
        Xfer(s, FileName);
        Xfer(s, DesiredAccess);
        Xfer(s, ShareMode);
        Xfer(s, CreationDisposition);
        Xfer(s, FlagsAndAttributes);
        Xfer(s, TemplateFile);
    }
    TESSRA_FIELD_IO

    uint32_t FileNameLength;
    CCmdString FileName;
    uint32_t DesiredAccess;
    uint32_t ShareMode;
    uint32_t CreationDisposition;
    uint32_t FlagsAndAttributes;
    uint32_t TemplateFile;
};

class CreateFileResponse : public CCmdBase {
public:
    CreateFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- 34 KovCloseHandle, 40 KovFindClose -----------------------------------------

class CloseHandleRequest : public CCmdBase {
public:
    CloseHandleRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Handle = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Handle); }
    TESSRA_FIELD_IO

    uint32_t Handle;
};

class CloseHandleResponse : public CCmdBase {
public:
    CloseHandleResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    TESSRA_FIELD_IO

    uint8_t Result;
};

class FindCloseRequest : public CloseHandleRequest {};
class FindCloseResponse : public CloseHandleResponse {};

// ---- 35 KovReadFile -------------------------------------------------------------

class ReadFileRequest : public CCmdBase {
public:
    ReadFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Handle = BytesToRead = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Handle);
        Xfer(s, BytesToRead);
    }
    TESSRA_FIELD_IO

    uint32_t Handle;
    uint32_t BytesToRead;
};

class ReadFileResponse : public CCmdBase {
public:
    ReadFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        BytesRead = 0;
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, BytesRead);
        Xfer(s, Data);
    }
    TESSRA_FIELD_IO

    uint8_t Result;
    uint32_t BytesRead;
    CCmdBuffer Data;
};

// ---- 36 KovWriteFile ------------------------------------------------------------

class WriteFileRequest : public CCmdBase {
public:
    WriteFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Handle = BytesToWrite = 0;
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Handle);
        Xfer(s, BytesToWrite);
        Xfer(s, Data);
    }
    TESSRA_FIELD_IO

    uint32_t Handle;
    uint32_t BytesToWrite;
    CCmdBuffer Data;
};

class WriteFileResponse : public CCmdBase {
public:
    WriteFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        BytesWritten = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, BytesWritten);
    }
    TESSRA_FIELD_IO

    uint8_t Result;
    uint32_t BytesWritten;
};

// ---- 37 KovDeleteFile, 41 KovCreateDirectory, 42 KovRemoveDirectory -------------

class DeleteFileRequest : public CCmdBase {
public:
    DeleteFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        PathLength = 0;
        Path.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, PathLength);
        Xfer(s, Path);
    }
    TESSRA_FIELD_IO

    uint16_t PathLength;
    CCmdString Path;
};

class DeleteFileResponse : public CloseHandleResponse {};

class CreateDirectoryRequest : public DeleteFileRequest {};
class CreateDirectoryResponse : public CloseHandleResponse {};
class RemoveDirectoryRequest : public DeleteFileRequest {};
class RemoveDirectoryResponse : public CloseHandleResponse {};

// ---- 38 KovFindFirstFile, 39 KovFindNextFile ------------------------------------

class FindFirstFileRequest : public CCmdBase {
public:
    FindFirstFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        PatternLength = 0;
        Pattern.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, PatternLength);
        Xfer(s, Pattern);
    }
    TESSRA_FIELD_IO

    uint16_t PatternLength;
    CCmdString Pattern;
};

class FindFirstFileResponse : public CCmdBase {
public:
    FindFirstFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Find.Clear();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Find.Fields(s);
    }
    TESSRA_FIELD_IO

    uint32_t Result;  // the search handle
    cmdlist::FindFields Find;
};

class FindNextFileRequest : public CloseHandleRequest {};

class FindNextFileResponse : public CCmdBase {
public:
    FindNextFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Find.Clear();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Find.Fields(s);
    }
    TESSRA_FIELD_IO

    uint8_t Result;
    cmdlist::FindFields Find;
};

// ---- 43 KovCreateProcess --------------------------------------------------------

class CreateProcessRequest : public CCmdBase {
public:
    CreateProcessRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        ImageNameLength = 0;
        ImageName.RemoveAll();
        CommandLineLength = 0;
        CommandLine.RemoveAll();
        CreationFlags = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ImageNameLength);
        Xfer(s, ImageName);
        Xfer(s, CommandLineLength);
        Xfer(s, CommandLine);
        Xfer(s, CreationFlags);
    }
    TESSRA_FIELD_IO

    uint16_t ImageNameLength;
    CCmdString ImageName;
    uint16_t CommandLineLength;
    CCmdString CommandLine;
    uint32_t CreationFlags;
};

class CreateProcessResponse : public CCmdBase {
public:
    CreateProcessResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Process = Thread = ProcessId = ThreadId = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Process);
        Xfer(s, Thread);
        Xfer(s, ProcessId);
        Xfer(s, ThreadId);
    }
    TESSRA_FIELD_IO

    uint8_t Result;
    uint32_t Process;
    uint32_t Thread;
    uint32_t ProcessId;
    uint32_t ThreadId;
};

// ---- 45 KovGetDiskFreeSpace -----------------------------------------------------

class GetDiskFreeSpaceRequest : public CCmdBase {
public:
    GetDiskFreeSpaceRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { DirectoryName.RemoveAll(); }
    template <class S>
    void Fields(S& s) { Xfer(s, DirectoryName); }
    TESSRA_FIELD_IO

    CCmdString DirectoryName;
};

class GetDiskFreeSpaceResponse : public CCmdBase {
public:
    GetDiskFreeSpaceResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        FreeBytesAvailable = TotalNumberOfBytes = TotalNumberOfFreeBytes = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, FreeBytesAvailable);
        Xfer(s, TotalNumberOfBytes);
        Xfer(s, TotalNumberOfFreeBytes);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint64_t FreeBytesAvailable;
    uint64_t TotalNumberOfBytes;
    uint64_t TotalNumberOfFreeBytes;
};

// ---- 46 KovSetFilePointer -------------------------------------------------------

class SetFilePointerRequest : public CCmdBase {
public:
    SetFilePointerRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Handle = 0xFFFFFFFFu;
        DistanceLow = DistanceHigh = MoveMethod = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Handle);
        Xfer(s, DistanceLow);
        Xfer(s, DistanceHigh);
        Xfer(s, MoveMethod);
    }
    TESSRA_FIELD_IO

    uint32_t Handle;
    uint32_t DistanceLow;
    uint32_t DistanceHigh;
    uint32_t MoveMethod;
};

class SetFilePointerResponse : public CCmdBase {
public:
    SetFilePointerResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = PositionHigh = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, PositionHigh);
    }
    TESSRA_FIELD_IO

    uint32_t Result;  // the new position's low 32 bits
    uint32_t PositionHigh;
};

// ---- 47 KovGetFileAttributes, 48 KovSetFileAttributes ---------------------------

class GetFileAttributesRequest : public CCmdBase {
public:
    GetFileAttributesRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        FileName.RemoveAll();
        FileNameLength = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, FileName);
        Xfer(s, FileNameLength);  // after the string
    }
    TESSRA_FIELD_IO

    CCmdString FileName;
    uint32_t FileNameLength;
};

class GetFileAttributesResponse : public CreateFileResponse {};

class SetFileAttributesRequest : public CCmdBase {
public:
    SetFileAttributesRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        FileName.RemoveAll();
        FileNameLength = 0;
        FileAttributes = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, FileName);
        Xfer(s, FileNameLength);
        Xfer(s, FileAttributes);
    }
    TESSRA_FIELD_IO

    CCmdString FileName;
    uint32_t FileNameLength;
    uint32_t FileAttributes;
};

// u32 Result that starts at 1: SetFileAttributes, CopyFile, MoveFile.
class SetFileAttributesResponse : public CCmdBase {
public:
    SetFileAttributesResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 1; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- 49 KovCopyFile, 50 KovMoveFile ---------------------------------------------

class MoveFileRequest : public CCmdBase {
public:
    MoveFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        ExistingFileName.RemoveAll();
        ExistingFileNameLength = 0;
        NewFileName.RemoveAll();
        NewFileNameLength = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ExistingFileName);
        Xfer(s, ExistingFileNameLength);
        Xfer(s, NewFileName);
        Xfer(s, NewFileNameLength);
    }
    TESSRA_FIELD_IO

    CCmdString ExistingFileName;
    uint32_t ExistingFileNameLength;
    CCmdString NewFileName;
    uint32_t NewFileNameLength;
};

class CopyFileRequest : public CCmdBase {
public:
    CopyFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        ExistingFileName.RemoveAll();
        ExistingFileNameLength = 0;
        NewFileName.RemoveAll();
        NewFileNameLength = 0;
        FailIfExists = 1;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ExistingFileName);
        Xfer(s, ExistingFileNameLength);
        Xfer(s, NewFileName);
        Xfer(s, NewFileNameLength);
        Xfer(s, FailIfExists);
    }
    TESSRA_FIELD_IO

    CCmdString ExistingFileName;
    uint32_t ExistingFileNameLength;
    CCmdString NewFileName;
    uint32_t NewFileNameLength;
    uint32_t FailIfExists;
};

class CopyFileResponse : public SetFileAttributesResponse {};
class MoveFileResponse : public SetFileAttributesResponse {};
