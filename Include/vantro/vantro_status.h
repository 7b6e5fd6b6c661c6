/*
 * Device status and control: version, operating mode, supply voltage, AC
 * status, the device's application path and last error, file versions, the
 * kernel I/O control pass-through and the VIM information query.
 *
 * Conventions of every Kov export (also those of the registry, clock and log
 * headers):
 *   - one command exchange with the device per call; a failed exchange (link,
 *     communication mutex, refusal by the device after every attempt) gives
 *     the library's own code (0x900d..../0xa00d...., vantro_errors.h);
 *   - unless a function says otherwise, it returns that exchange error when
 *     there is one, else the device's result, and writes its outputs only
 *     after a successful exchange;
 *   - texts are zero-terminated UTF-16; texts coming back are copied with the
 *     byte length the device sent (which counts the device's terminator) and
 *     nothing is added;
 *   - output pointers may be null where a function says so; a null output
 *     pointer that a function does not check is skipped, never written.
 */
#ifndef VANTRO_STATUS_H
#define VANTRO_STATUS_H

#include "vantro/vantro_types.h"

/* The size in bytes that each text buffer of KovGetVersion must have. */
#define VANTRO_VERSION_TEXT_SIZE 80u

/* Number of u32 that KovGetVimInfomation writes. */
#define VANTRO_VIM_INFO_COUNT 9u

/* Number of u32 that KovGetFileVersion writes (VS_FIXEDFILEINFO). */
#define VANTRO_FILE_VERSION_COUNT 13u

/* Battery-charge modes of KovSetBattChargeMode. */
#define VANTRO_BATT_CHARGE_MODE_0 0
#define VANTRO_BATT_CHARGE_MODE_1 1

/* Reads the version of the device component Name: two 16-bit version values
 * and four texts. Outputs are written after a successful exchange even when the
 * device's result is nonzero. Each text buffer must hold
 * VANTRO_VERSION_TEXT_SIZE (80) bytes: a text of up to 80 bytes is copied
 * as sent; a longer one is cut to 78 bytes followed by one zero UTF-16 unit, so
 * nothing is ever written past byte 80. Returns the exchange error or the
 * device's result. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetVersion(const VWCHAR* Name, uint16_t* Version1,
                                                 uint16_t* Version2, uint8_t* Text1, uint8_t* Text2,
                                                 uint8_t* Text3, uint8_t* Text4);

/* Returns the device's current operating mode, or the exchange error. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetMode(void);

/* Switches the device to operating mode Mode. With Mode 0 the library then
 * closes its link and releases its device objects, as KovDisconnect does,
 * whatever the outcome; the next call builds them again. Returns the exchange
 * error or the device's result. */
VANTRO_API uint32_t VANTRO_STDCALL KovChangeMode(uint32_t Mode);

/* Reads the supply voltage selected by Selector (the device's meaning) into
 * *Voltage. Returns the exchange error or the device's result. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetVoltage(uint32_t Selector, uint16_t* Voltage);

/* Reads the device's application path (UTF-16, as the device sends it).
 * *Size is the buffer's size in bytes on entry and the path's byte length on
 * return. A null Buffer or one smaller than the path gives
 * QXR_ERROR_BUFFER_TOO_SMALL with the needed size in *Size and nothing copied;
 * a null Size gives QXR_ERROR_INVALID_PARAMETER without an exchange. A nonzero
 * device result is returned as it is, with *Size unchanged. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetAppPath(uint8_t* Buffer, uint32_t* Size);

/* Runs the device's KernelIoControl. Returns the device's BOOL result, and 0
 * when the exchange fails (the error itself is not passed on). Only when the
 * result is nonzero are the outputs written (each only if its pointer is not
 * null): the device's output bytes go to OutBuf, never more than OutBufSize
 * bytes, and *BytesReturned receives the count the device reports. */
VANTRO_API uint32_t VANTRO_STDCALL KovKernelIoControl(uint32_t IoControlCode, const void* InBuf,
                                                      uint32_t InBufSize, void* OutBuf,
                                                      uint32_t OutBufSize, uint32_t* BytesReturned);

/* Sets the battery-charge mode (0 or 1) through the device's I/O control.
 * Returns 0 when the device did it, QXR_ERROR_DEVICE_FAILED when it answered
 * no, QXR_ERROR_INVALID_PARAMETER (without an exchange) for another Mode, or
 * the exchange error. */
VANTRO_API uint32_t VANTRO_STDCALL KovSetBattChargeMode(int32_t Mode);

/* Reads the VIM information selected by Selector into Info[0..8]: Info[0] is
 * the mask of valid values, Info[1 + i] the value i when bit i of the mask is
 * set and 0 otherwise. A failed exchange sets Info[0] to 0 and leaves the rest.
 * A null Info gives QXR_ERROR_INVALID_PARAMETER without an exchange. Returns
 * the exchange error or the device's result. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetVimInfomation(uint32_t Selector, uint32_t* Info);

/* Returns the device's last error value, or the exchange error. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetLastError(void);

/* Reads the fixed file-version record (VS_FIXEDFILEINFO, 13 u32) of the
 * device file FileName into VersionInfo, whatever the device's result says.
 * Returns the exchange error or the device's result. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetFileVersion(const VWCHAR* FileName, uint32_t* VersionInfo);

/* Returns the device's AC status, or the exchange error. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetAcStatus(void);

#endif /* VANTRO_STATUS_H */
