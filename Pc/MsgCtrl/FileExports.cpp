// The single commands of the device file system: each export builds its
// request, runs one exchange and maps the response to a Win32-style result.
// None of them reports through ErrReportf; the exchange has reported its own
// failure already.
#include <cstring>
#include <string>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListFile.h"
#include "vantro/vantro_files.h"

namespace {

constexpr uint32_t kCodeCreateFile = 33;
constexpr uint32_t kCodeCloseHandle = 34;
constexpr uint32_t kCodeReadFile = 35;
constexpr uint32_t kCodeWriteFile = 36;
constexpr uint32_t kCodeDeleteFile = 37;
constexpr uint32_t kCodeFindFirstFile = 38;
constexpr uint32_t kCodeFindNextFile = 39;
constexpr uint32_t kCodeFindClose = 40;
constexpr uint32_t kCodeCreateDirectory = 41;
constexpr uint32_t kCodeRemoveDirectory = 42;
constexpr uint32_t kCodeCreateProcess = 43;
constexpr uint32_t kCodeGetDiskFreeSpace = 45;
constexpr uint32_t kCodeSetFilePointer = 46;
constexpr uint32_t kCodeGetFileAttributes = 47;
constexpr uint32_t kCodeSetFileAttributes = 48;
constexpr uint32_t kCodeCopyFile = 49;
constexpr uint32_t kCodeMoveFile = 50;

constexpr uint32_t kTrace = 1;
constexpr uint32_t kFailed = 0xFFFFFFFFu;
constexpr size_t kFileNameBytes = sizeof(VFIND_DATAW::cFileName);

// The caller's UTF-16 text as the narrow text that %S prints on Windows for
// it: ASCII as it is, anything else as '?'.
std::string NarrowForLog(const VWCHAR* text) {
    if (!text) return "(null)";
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t unit = static_cast<uint32_t>(static_cast<uint16_t>(text[i]));
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

// Stores the received find fields in the caller's record. The times arrive
// high half first. A name longer than cFileName is cut and ends in a zero
// unit; the reserved words and cAlternateFileName are left alone.
void CopyFindData(const cmdlist::FindFields& find, VFIND_DATAW* data) {
    data->dwFileAttributes = find.FileAttributes;
    data->ftCreationTime.dwHighDateTime = find.CreationTimeHigh;
    data->ftCreationTime.dwLowDateTime = find.CreationTimeLow;
    data->ftLastAccessTime.dwHighDateTime = find.LastAccessTimeHigh;
    data->ftLastAccessTime.dwLowDateTime = find.LastAccessTimeLow;
    data->ftLastWriteTime.dwHighDateTime = find.LastWriteTimeHigh;
    data->ftLastWriteTime.dwLowDateTime = find.LastWriteTimeLow;
    data->nFileSizeHigh = find.FileSizeHigh;
    data->nFileSizeLow = find.FileSizeLow;
    size_t length = cmdlist::PathLength(find.FileName);
    uint8_t* name = reinterpret_cast<uint8_t*>(data->cFileName);
    if (length <= kFileNameBytes) {
        if (length != 0) std::memcpy(name, find.FileName.GetBytes(), length);
    } else {
        std::memcpy(name, find.FileName.GetBytes(), kFileNameBytes - sizeof(VWCHAR));
        data->cFileName[kFileNameBytes / sizeof(VWCHAR) - 1] = 0;
    }
}

// Commands whose request is u16 PathLength, wstring Path and whose response
// is a u8 Result.
template <class Request, class Response>
uint32_t PathCommand(uint32_t code, const VWCHAR* path, uint32_t* result) {
    Request request;
    Response response;
    request.Path = path;
    request.PathLength = cmdlist::PathLength(request.Path);
    uint32_t error = ExecuteCommand(code, &request, &response, 0, kTrace);
    *result = response.Result;
    return error;
}

}  // namespace

uint32_t VANTRO_STDCALL KovCreateFile(const VWCHAR* FileName, uint32_t DesiredAccess, uint32_t ShareMode,
                                      void* SecurityAttributes, uint32_t CreationDisposition,
                                      uint32_t FlagsAndAttributes, uint32_t TemplateFile) {
    (void)SecurityAttributes;
    CreateFileRequest request;
    CreateFileResponse response;
    request.FileName = FileName;
    request.FileNameLength = cmdlist::PathLength(request.FileName);
    request.DesiredAccess = DesiredAccess;
    request.ShareMode = ShareMode;
    request.CreationDisposition = CreationDisposition;
    request.FlagsAndAttributes = FlagsAndAttributes;
    request.TemplateFile = TemplateFile;
    uint32_t error = ExecuteCommand(kCodeCreateFile, &request, &response, 0, kTrace);
    uint32_t handle = error != 0 ? 0 : response.Result;
    TheCallLog().Printf("[0x%08X] KovCreateFile - File[%s], Handle[0x%08X] -\r\n", vos::ThreadCurrentId(),
                        NarrowForLog(FileName).c_str(), handle);
    return handle;
}

uint32_t VANTRO_STDCALL KovCloseHandle(uint32_t Handle) {
    CloseHandleRequest request;
    CloseHandleResponse response;
    request.Handle = Handle;
    uint32_t error = ExecuteCommand(kCodeCloseHandle, &request, &response, 0, kTrace);
    return error != 0 ? 0 : response.Result;
}

uint32_t VANTRO_STDCALL KovReadFile(uint32_t Handle, uint8_t* Buffer, uint32_t BytesToRead, uint32_t* BytesRead,
                                    void* Overlapped) {
    (void)Overlapped;
    ReadFileRequest request;
    ReadFileResponse response;
    request.Handle = Handle;
    request.BytesToRead = BytesToRead;
    uint32_t error = ExecuteCommand(kCodeReadFile, &request, &response, 0, kTrace);
    if (error != 0 || response.Result == 0) return 0;
    uint32_t length = response.Data.GetLength();
    // The count must match the data, and the data must fit the caller's
    // buffer: a longer answer fails the call rather than being cut.
    if (length != response.BytesRead || length > BytesToRead) return 0;
    if (length != 0 && !Buffer) return 0;
    if (length != 0) std::memcpy(Buffer, response.Data.GetData(), length);
    if (BytesRead) *BytesRead = length;
    return 1;
}

uint32_t VANTRO_STDCALL KovWriteFile(uint32_t Handle, const uint8_t* Data, uint32_t BytesToWrite,
                                     uint32_t* BytesWritten, void* Overlapped) {
    (void)Overlapped;
    WriteFileRequest request;
    WriteFileResponse response;
    request.Handle = Handle;
    request.BytesToWrite = BytesToWrite;
    request.Data.SetAt(Data, BytesToWrite);
    uint32_t error = ExecuteCommand(kCodeWriteFile, &request, &response, 0, kTrace);
    if (error != 0 || response.Result == 0) return 0;
    if (BytesWritten) *BytesWritten = response.BytesWritten;
    return 1;
}

uint32_t VANTRO_STDCALL KovDeleteFile(const VWCHAR* FileName) {
    uint32_t result = 0;
    uint32_t error = PathCommand<DeleteFileRequest, DeleteFileResponse>(kCodeDeleteFile, FileName, &result);
    return (error == 0 && result != 0) ? 1 : 0;
}

uint32_t VANTRO_STDCALL KovFindFirstFile(const VWCHAR* Pattern, VFIND_DATAW* FindData) {
    FindFirstFileRequest request;
    FindFirstFileResponse response;
    request.Pattern = Pattern;
    request.PatternLength = cmdlist::PathLength(request.Pattern);
    uint32_t error = ExecuteCommand(kCodeFindFirstFile, &request, &response, 0, kTrace);
    if (error != 0) return 0;
    if (response.Result != 0 && FindData) CopyFindData(response.Find, FindData);
    return response.Result;
}

uint32_t VANTRO_STDCALL KovFindNextFile(uint32_t Handle, VFIND_DATAW* FindData) {
    FindNextFileRequest request;
    FindNextFileResponse response;
    request.Handle = Handle;
    uint32_t error = ExecuteCommand(kCodeFindNextFile, &request, &response, 0, kTrace);
    if (error != 0) return 0;
    if (response.Result != 0 && FindData) CopyFindData(response.Find, FindData);
    return response.Result;
}

uint32_t VANTRO_STDCALL KovFindClose(uint32_t Handle) {
    FindCloseRequest request;
    FindCloseResponse response;
    request.Handle = Handle;
    uint32_t error = ExecuteCommand(kCodeFindClose, &request, &response, 0, kTrace);
    return error != 0 ? 0 : response.Result;
}

uint32_t VANTRO_STDCALL KovCreateDirectory(const VWCHAR* PathName, void* SecurityAttributes) {
    (void)SecurityAttributes;
    uint32_t result = 0;
    uint32_t error =
        PathCommand<CreateDirectoryRequest, CreateDirectoryResponse>(kCodeCreateDirectory, PathName, &result);
    return error != 0 ? 0 : result;
}

uint32_t VANTRO_STDCALL KovRemoveDirectory(const VWCHAR* PathName) {
    uint32_t result = 0;
    uint32_t error =
        PathCommand<RemoveDirectoryRequest, RemoveDirectoryResponse>(kCodeRemoveDirectory, PathName, &result);
    return error != 0 ? 0 : result;
}

uint32_t VANTRO_STDCALL KovCreateProcess(const VWCHAR* ImageName, const VWCHAR* CommandLine,
                                         void* ProcessAttributes, void* ThreadAttributes, uint32_t InheritHandles,
                                         uint32_t CreationFlags, void* Environment, const VWCHAR* CurrentDirectory,
                                         void* StartupInfo, uint32_t* ProcessInformation) {
    (void)ProcessAttributes;
    (void)ThreadAttributes;
    (void)InheritHandles;
    (void)Environment;
    (void)CurrentDirectory;
    (void)StartupInfo;
    CreateProcessRequest request;
    CreateProcessResponse response;
    request.ImageName = ImageName;
    request.ImageNameLength = cmdlist::PathLength(request.ImageName);
    request.CommandLine = CommandLine;
    request.CommandLineLength = cmdlist::PathLength(request.CommandLine);
    request.CreationFlags = CreationFlags;
    uint32_t error = ExecuteCommand(kCodeCreateProcess, &request, &response, 0, kTrace);
    if (error != 0) return 0;
    if (ProcessInformation) {
        ProcessInformation[0] = response.Process;
        ProcessInformation[1] = response.Thread;
        ProcessInformation[2] = response.ProcessId;
        ProcessInformation[3] = response.ThreadId;
    }
    return response.Result;
}

uint32_t VANTRO_STDCALL KovGetDiskFreeSpace(const VWCHAR* DirectoryName, uint64_t* FreeBytesAvailable,
                                            uint64_t* TotalNumberOfBytes, uint64_t* TotalNumberOfFreeBytes) {
    GetDiskFreeSpaceRequest request;
    GetDiskFreeSpaceResponse response;
    request.DirectoryName = DirectoryName;
    uint32_t error = ExecuteCommand(kCodeGetDiskFreeSpace, &request, &response, 0, kTrace);
    if (error != 0 || response.Result == 0) return 0;
    if (FreeBytesAvailable) *FreeBytesAvailable = response.FreeBytesAvailable;
    if (TotalNumberOfBytes) *TotalNumberOfBytes = response.TotalNumberOfBytes;
    if (TotalNumberOfFreeBytes) *TotalNumberOfFreeBytes = response.TotalNumberOfFreeBytes;
    return 1;
}

uint32_t VANTRO_STDCALL KovSetFilePointer(uint32_t Handle, int32_t DistanceToMove, int32_t* DistanceToMoveHigh,
                                          uint32_t MoveMethod) {
    SetFilePointerRequest request;
    SetFilePointerResponse response;
    request.Handle = Handle;
    request.DistanceLow = static_cast<uint32_t>(DistanceToMove);
    if (DistanceToMoveHigh)
        request.DistanceHigh = static_cast<uint32_t>(*DistanceToMoveHigh);
    else
        request.DistanceHigh = DistanceToMove < 0 ? 0xFFFFFFFFu : 0;
    request.MoveMethod = MoveMethod;
    uint32_t error = ExecuteCommand(kCodeSetFilePointer, &request, &response, 2, kTrace);
    if (error != 0) {
        if (DistanceToMoveHigh) *DistanceToMoveHigh = static_cast<int32_t>(kFailed);
        return kFailed;
    }
    if (DistanceToMoveHigh) *DistanceToMoveHigh = static_cast<int32_t>(response.PositionHigh);
    return response.Result;
}

uint32_t VANTRO_STDCALL KovGetFileAttributes(const VWCHAR* FileName) {
    GetFileAttributesRequest request;
    GetFileAttributesResponse response;
    request.FileName = FileName;
    request.FileNameLength = cmdlist::PathLength(request.FileName);
    uint32_t error = ExecuteCommand(kCodeGetFileAttributes, &request, &response, 0, kTrace);
    return error != 0 ? kFailed : response.Result;
}

uint32_t VANTRO_STDCALL KovSetFileAttributes(const VWCHAR* FileName, uint32_t FileAttributes) {
    SetFileAttributesRequest request;
    SetFileAttributesResponse response;
    request.FileName = FileName;
    request.FileNameLength = cmdlist::PathLength(request.FileName);
    request.FileAttributes = FileAttributes;
    uint32_t error = ExecuteCommand(kCodeSetFileAttributes, &request, &response, 0, kTrace);
    return error != 0 ? 0 : response.Result;
}

uint32_t VANTRO_STDCALL KovCopyFile(const VWCHAR* ExistingFileName, const VWCHAR* NewFileName,
                                    uint32_t FailIfExists) {
    CopyFileRequest request;
    CopyFileResponse response;
    request.ExistingFileName = ExistingFileName;
    request.ExistingFileNameLength = cmdlist::PathLength(request.ExistingFileName);
    request.NewFileName = NewFileName;
    request.NewFileNameLength = cmdlist::PathLength(request.NewFileName);
    request.FailIfExists = FailIfExists;
    uint32_t error = ExecuteCommand(kCodeCopyFile, &request, &response, 0, kTrace);
    return error != 0 ? 0 : response.Result;
}

uint32_t VANTRO_STDCALL KovMoveFile(const VWCHAR* ExistingFileName, const VWCHAR* NewFileName) {
    MoveFileRequest request;
    MoveFileResponse response;
    request.ExistingFileName = ExistingFileName;
    request.ExistingFileNameLength = cmdlist::PathLength(request.ExistingFileName);
    request.NewFileName = NewFileName;
    request.NewFileNameLength = cmdlist::PathLength(request.NewFileName);
    uint32_t error = ExecuteCommand(kCodeMoveFile, &request, &response, 0, kTrace);
    return error != 0 ? 0 : response.Result;
}
