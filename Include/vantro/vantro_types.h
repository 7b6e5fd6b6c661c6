/*
 * Vantro public types shared by every export family.
 *
 * All integers that cross the API are fixed-width. Texts are UTF-16:
 * VWCHAR is wchar_t on Windows (where it is 16 bits) and char16_t elsewhere.
 */
#ifndef VANTRO_TYPES_H
#define VANTRO_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
typedef wchar_t VWCHAR;
#else
#ifdef __cplusplus
typedef char16_t VWCHAR;
#else
typedef uint16_t VWCHAR;
#endif
#endif

/* Calling convention of every export: stdcall on 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define VANTRO_STDCALL __stdcall
#else
#define VANTRO_STDCALL
#endif

#ifdef __cplusplus
#define VANTRO_EXTERN_C extern "C"
#else
#define VANTRO_EXTERN_C
#endif

#if defined(_WIN32)
#define VANTRO_VISIBLE
#else
#define VANTRO_VISIBLE __attribute__((visibility("default")))
#endif

#define VANTRO_API VANTRO_EXTERN_C VANTRO_VISIBLE

/* Win32-layout records used by the device services. */
typedef struct VFILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} VFILETIME;

/* WIN32_FIND_DATAW, 592 bytes; cFileName starts at byte 44. */
typedef struct VFIND_DATAW {
    uint32_t dwFileAttributes;
    VFILETIME ftCreationTime;
    VFILETIME ftLastAccessTime;
    VFILETIME ftLastWriteTime;
    uint32_t nFileSizeHigh;
    uint32_t nFileSizeLow;
    uint32_t dwReserved0;
    uint32_t dwReserved1;
    VWCHAR cFileName[260];
    VWCHAR cAlternateFileName[14];
} VFIND_DATAW;

/* SYSTEMTIME, eight u16. */
typedef struct VSYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} VSYSTEMTIME;

/* TIME_ZONE_INFORMATION, 172 bytes. */
typedef struct VTIME_ZONE_INFORMATION {
    int32_t Bias;
    VWCHAR StandardName[32];
    VSYSTEMTIME StandardDate;
    int32_t StandardBias;
    VWCHAR DaylightName[32];
    VSYSTEMTIME DaylightDate;
    int32_t DaylightBias;
} VTIME_ZONE_INFORMATION;

#endif /* VANTRO_TYPES_H */
