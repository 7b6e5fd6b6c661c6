/*
 * Device log: a log kept by the device that the PC can start, stop, empty,
 * write out to a file of the device and add messages to. The storage and the
 * format are the device's; the library passes names and message bytes through.
 *
 * Every function returns the exchange error (vantro_errors.h) when the
 * exchange failed, else the device's Win32 error code (0 = success). Each
 * command is tried up to three times.
 */
#ifndef VANTRO_DEVLOG_H
#define VANTRO_DEVLOG_H

#include "vantro/vantro_types.h"

/* Starts the log under the name Name. */
VANTRO_API uint32_t VANTRO_STDCALL KovLogInit(const VWCHAR* Name);

/* Stops the log. */
VANTRO_API uint32_t VANTRO_STDCALL KovLogClose(void);

/* Empties the log. */
VANTRO_API uint32_t VANTRO_STDCALL KovLogClear(void);

/* Writes the log out to the device file Name. */
VANTRO_API uint32_t VANTRO_STDCALL KovLogFlash(const VWCHAR* Name);

/* Adds Length bytes of Message to the log, sent whole in one command. A null
 * Message or a Length of 0 gives QXR_ERROR_INVALID_PARAMETER without an
 * exchange. */
VANTRO_API uint32_t VANTRO_STDCALL KovLogPutMsg(const uint8_t* Message, uint32_t Length);

#endif /* VANTRO_DEVLOG_H */
