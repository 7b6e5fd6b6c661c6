/*
 * Device clock: the device's system time (UTC), local time and time zone,
 * in the Win32 SYSTEMTIME and TIME_ZONE_INFORMATION layouts.
 *
 * Every function checks its pointers first: a null one gives
 * QXR_ERROR_INVALID_PARAMETER without an exchange. Otherwise it returns the
 * exchange error (vantro_errors.h) when the exchange failed, else the device's
 * result (0 = success). Each command is tried up to three times.
 */
#ifndef VANTRO_CLOCK_H
#define VANTRO_CLOCK_H

#include "vantro/vantro_types.h"

/* ReturnValue of KovGetTimeZoneInformation (as Win32's TIME_ZONE_ID_*). */
#define VANTRO_TIME_ZONE_ID_UNKNOWN  0u
#define VANTRO_TIME_ZONE_ID_STANDARD 1u
#define VANTRO_TIME_ZONE_ID_DAYLIGHT 2u

/* Reads the device's UTC time into *SystemTime. The structure is filled as the
 * answer is read, so it holds the device's values whenever an answer arrived,
 * whatever the result says (a broken answer may leave it partly written). */
VANTRO_API uint32_t VANTRO_STDCALL KovGetSystemTime(VSYSTEMTIME* SystemTime);

/* Sets the device's UTC time. On result 0, *ReturnValue receives the device's
 * own return value (nonzero when the time was set). */
VANTRO_API uint32_t VANTRO_STDCALL KovSetSystemTime(uint32_t* ReturnValue,
                                                    const VSYSTEMTIME* SystemTime);

/* Reads the device's local time into *SystemTime (filled as for
 * KovGetSystemTime). */
VANTRO_API uint32_t VANTRO_STDCALL KovGetLocalTime(VSYSTEMTIME* SystemTime);

/* Sets the device's local time. On result 0, *ReturnValue receives the
 * device's own return value (nonzero when the time was set). */
VANTRO_API uint32_t VANTRO_STDCALL KovSetLocalTime(uint32_t* ReturnValue,
                                                   const VSYSTEMTIME* SystemTime);

/* Reads the device's time zone into *TimeZone (filled as the answer is read).
 * On result 0, *ReturnValue receives the zone id (VANTRO_TIME_ZONE_ID_*). */
VANTRO_API uint32_t VANTRO_STDCALL KovGetTimeZoneInformation(uint32_t* ReturnValue,
                                                             VTIME_ZONE_INFORMATION* TimeZone);

/* Sets the device's time zone. On result 0, *ReturnValue receives the device's
 * own return value (nonzero when the zone was set). */
VANTRO_API uint32_t VANTRO_STDCALL KovSetTimeZoneInformation(uint32_t* ReturnValue,
                                                             const VTIME_ZONE_INFORMATION* TimeZone);

#endif /* VANTRO_CLOCK_H */
