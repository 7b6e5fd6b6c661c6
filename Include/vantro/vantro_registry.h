/*
 * Device registry: the Win32-style registry of the device's operating system,
 * with the argument lists of the Win32 functions of the same names.
 *
 * Key handles are the device's 32-bit values: one of the predefined root keys
 * below or a handle that KovRegCreateKeyEx / KovRegOpenKeyEx returned. Every
 * function returns the exchange error (vantro_errors.h) when the exchange
 * failed, else the device's Win32 error code (0 = success, 2 = not found,
 * 6 = invalid handle, 234 = more data). Each command is tried up to three
 * times.
 */
#ifndef VANTRO_REGISTRY_H
#define VANTRO_REGISTRY_H

#include "vantro/vantro_types.h"

/* Predefined root keys. */
#define VANTRO_HKEY_CLASSES_ROOT  0x80000000u
#define VANTRO_HKEY_CURRENT_USER  0x80000001u
#define VANTRO_HKEY_LOCAL_MACHINE 0x80000002u
#define VANTRO_HKEY_USERS         0x80000003u

/* Value types (the Win32 REG_* numbers); any u32 is passed unchanged. */
#define VANTRO_REG_NONE      0u
#define VANTRO_REG_SZ        1u
#define VANTRO_REG_EXPAND_SZ 2u
#define VANTRO_REG_BINARY    3u
#define VANTRO_REG_DWORD     4u
#define VANTRO_REG_MULTI_SZ  7u
#define VANTRO_REG_QWORD     11u

/* Dispositions of KovRegCreateKeyEx. */
#define VANTRO_REG_CREATED_NEW_KEY     1u
#define VANTRO_REG_OPENED_EXISTING_KEY 2u

/* Win32 error codes the device answers with. */
#define VANTRO_ERROR_SUCCESS        0u
#define VANTRO_ERROR_FILE_NOT_FOUND 2u
#define VANTRO_ERROR_INVALID_HANDLE 6u
#define VANTRO_ERROR_MORE_DATA      234u

/* Creates or opens SubKey below Key. Only Key, SubKey and Class are sent.
 * On success *KeyOut receives the new handle and *Disposition (when the pointer
 * is not null) tells whether the key was created or opened; on failure nothing
 * is written. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegCreateKeyEx(uint32_t Key, const VWCHAR* SubKey,
                                                     uint32_t Reserved, const VWCHAR* Class,
                                                     uint32_t Options, uint32_t SamDesired,
                                                     void* SecurityAttributes, uint32_t* KeyOut,
                                                     uint32_t* Disposition);

/* Opens SubKey below Key; on success *KeyOut receives the handle, on failure it
 * is left untouched. Options and SamDesired are not sent. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegOpenKeyEx(uint32_t Key, const VWCHAR* SubKey,
                                                   uint32_t Options, uint32_t SamDesired,
                                                   uint32_t* KeyOut);

/* Deletes SubKey below Key. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegDeleteKey(uint32_t Key, const VWCHAR* SubKey);

/* Closes a handle. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegCloseKey(uint32_t Key);

/* Reads the value ValueName of Key. *DataSize is the size of Data in bytes on
 * entry (a null DataSize sends 0).
 *  - Result 0: *Type, Data and *DataSize receive the type, the data and its
 *    length (each only when its pointer is not null). Should the device send
 *    more data than the size that was sent, nothing is copied into Data: the
 *    function returns 234 with the data's length in *DataSize, as if the
 *    device had answered 234.
 *  - Result 234 (the buffer is too small): *DataSize receives the size needed;
 *    nothing else is written.
 *  - any other result: nothing is written.
 * A null Data with a valid DataSize learns the data's size. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegQueryValueEx(uint32_t Key, const VWCHAR* ValueName,
                                                      void* Reserved, uint32_t* Type, uint8_t* Data,
                                                      uint32_t* DataSize);

/* Writes the value ValueName of Key with the type Type and DataSize bytes of
 * Data. Reserved is not sent. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegSetValueEx(uint32_t Key, const VWCHAR* ValueName,
                                                    uint32_t Reserved, uint32_t Type,
                                                    const uint8_t* Data, uint32_t DataSize);

/* Deletes the value ValueName of Key. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegDeleteValue(uint32_t Key, const VWCHAR* ValueName);

/* Writes the key's changes to the device's storage. */
VANTRO_API uint32_t VANTRO_STDCALL KovRegFlushKey(uint32_t Key);

#endif /* VANTRO_REGISTRY_H */
