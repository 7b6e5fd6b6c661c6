/*
 * Device file system: the device's files, directories and processes as
 * Win32-style calls, one command to the device each, and whole-file copies
 * between the PC and the device.
 *
 * Texts (VWCHAR) are zero-terminated UTF-16; PC paths (char) are narrow and
 * used as the PC's file functions take them. A device handle is a 32-bit value
 * that the device chose; the library passes it back unchanged.
 *
 * Answers longer than the caller's buffer: the library never writes past a
 * buffer it was given.
 *   - KovReadFile fails (returns 0, writes nothing) when the device sends more
 *     than BytesToRead bytes.
 *   - KovFindFirstFile / KovFindNextFile cut a name longer than cFileName
 *     (520 bytes) to its first 259 units and end it with a zero unit.
 */
#ifndef VANTRO_FILES_H
#define VANTRO_FILES_H

#include "vantro/vantro_types.h"

/* Opens or creates a device file. Returns the device's handle (its own
 * failure value passed through), or 0 when the exchange failed.
 * SecurityAttributes is not sent. Writes one call-log line. */
VANTRO_API uint32_t VANTRO_STDCALL KovCreateFile(const VWCHAR* FileName, uint32_t DesiredAccess,
                                                 uint32_t ShareMode, void* SecurityAttributes,
                                                 uint32_t CreationDisposition,
                                                 uint32_t FlagsAndAttributes, uint32_t TemplateFile);

/* Closes a file handle. Returns the device's result byte, 0 on exchange
 * failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovCloseHandle(uint32_t Handle);

/* Reads up to BytesToRead bytes. Returns 1 and fills Buffer and *BytesRead
 * when the device succeeded and sent exactly BytesRead bytes (at most
 * BytesToRead); otherwise 0 and nothing is written. Overlapped is ignored. */
VANTRO_API uint32_t VANTRO_STDCALL KovReadFile(uint32_t Handle, uint8_t* Buffer, uint32_t BytesToRead,
                                               uint32_t* BytesRead, void* Overlapped);

/* Writes BytesToWrite bytes. 1 on success (then *BytesWritten is set), else 0.
 * Overlapped is ignored. */
VANTRO_API uint32_t VANTRO_STDCALL KovWriteFile(uint32_t Handle, const uint8_t* Data,
                                                uint32_t BytesToWrite, uint32_t* BytesWritten,
                                                void* Overlapped);

/* Deletes a device file: 1 on success, else 0. */
VANTRO_API uint32_t VANTRO_STDCALL KovDeleteFile(const VWCHAR* FileName);

/* Starts a search (wildcards '*' and '?'). Returns the search handle and
 * fills FindData when the device found a match; 0 and nothing written when
 * the exchange failed; the device's failure value otherwise. The reserved
 * words and cAlternateFileName are not written. */
VANTRO_API uint32_t VANTRO_STDCALL KovFindFirstFile(const VWCHAR* Pattern, VFIND_DATAW* FindData);

/* Next match of a search: the device's result byte (1 = FindData filled),
 * 0 on exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovFindNextFile(uint32_t Handle, VFIND_DATAW* FindData);

/* Ends a search: the device's result byte, 0 on exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovFindClose(uint32_t Handle);

/* Creates a directory (SecurityAttributes is not sent): the device's result
 * byte, 0 on exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovCreateDirectory(const VWCHAR* PathName, void* SecurityAttributes);

/* Removes an empty directory: the device's result byte, 0 on exchange
 * failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovRemoveDirectory(const VWCHAR* PathName);

/* Starts a process on the device. ImageName, CommandLine and CreationFlags
 * are sent; the other arguments are not. ProcessInformation (4 x u32:
 * process, thread, process id, thread id) is filled whenever the exchange
 * succeeded. Returns the device's result byte, 0 on exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovCreateProcess(const VWCHAR* ImageName, const VWCHAR* CommandLine,
                                                    void* ProcessAttributes, void* ThreadAttributes,
                                                    uint32_t InheritHandles, uint32_t CreationFlags,
                                                    void* Environment, const VWCHAR* CurrentDirectory,
                                                    void* StartupInfo, uint32_t* ProcessInformation);

/* Free and total space of the device volume holding DirectoryName. 1 on
 * success (then every non-null pointer receives its value), else 0. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetDiskFreeSpace(const VWCHAR* DirectoryName,
                                                       uint64_t* FreeBytesAvailable,
                                                       uint64_t* TotalNumberOfBytes,
                                                       uint64_t* TotalNumberOfFreeBytes);

/* Moves a file pointer (MoveMethod 0 begin, 1 current, 2 end). Without
 * DistanceToMoveHigh the distance is sign-extended. Returns the new
 * position's low 32 bits (its high half through DistanceToMoveHigh), or
 * 0xFFFFFFFF (and *DistanceToMoveHigh = 0xFFFFFFFF) when the exchange failed. */
VANTRO_API uint32_t VANTRO_STDCALL KovSetFilePointer(uint32_t Handle, int32_t DistanceToMove,
                                                     int32_t* DistanceToMoveHigh, uint32_t MoveMethod);

/* A file's attributes, 0xFFFFFFFF when the exchange failed (or the device
 * says so). */
VANTRO_API uint32_t VANTRO_STDCALL KovGetFileAttributes(const VWCHAR* FileName);

/* Sets a file's attributes: the device's result, 0 on exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovSetFileAttributes(const VWCHAR* FileName, uint32_t FileAttributes);

/* Copies a device file on the device: the device's result, 0 on exchange
 * failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovCopyFile(const VWCHAR* ExistingFileName, const VWCHAR* NewFileName,
                                               uint32_t FailIfExists);

/* Renames or moves a device file or directory: the device's result, 0 on
 * exchange failure. */
VANTRO_API uint32_t VANTRO_STDCALL KovMoveFile(const VWCHAR* ExistingFileName, const VWCHAR* NewFileName);

/* Copies a device file to a PC file (created or replaced) in chunks of 2538
 * bytes; a failed chunk is retried up to 3 times in a row. 1 on success, 0 on
 * failure (a partly written PC file stays). */
VANTRO_API uint32_t VANTRO_STDCALL KovGetFile(const VWCHAR* DeviceFile, const char* PcFile);

/* Copies a PC file to a device file (created or replaced) in chunks of 2538
 * bytes; a failed chunk is retried up to 3 times in a row. 1 on success, 0 on
 * failure; a missing PC file sends nothing. */
VANTRO_API uint32_t VANTRO_STDCALL KovPutFile(const char* PcFile, const VWCHAR* DeviceFile);

/* Lists the device files matching Pattern into one array. Returns 1 with the
 * array in *List and its length in *Count, or 0 (no match, or the array could
 * not be allocated: then no list exists and *Count is 0). The array stays
 * valid until the next KovDir, KovDirFree, KovDisconnect or KovChangeMode(0);
 * calls of these must not overlap. */
VANTRO_API uint32_t VANTRO_STDCALL KovDir(const VWCHAR* Pattern, uint32_t* Count, VFIND_DATAW** List);

/* Releases the KovDir array: 1 if there was one, else 0. */
VANTRO_API uint32_t VANTRO_STDCALL KovDirFree(void);

#endif /* VANTRO_FILES_H */
