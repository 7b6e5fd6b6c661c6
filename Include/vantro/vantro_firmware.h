/*
 * Firmware update: announce a file to the device, send its data, check what
 * arrived, have the device write it, release the device's copy.
 *
 * Each single command returns the library's error code when the exchange
 * failed, else the device's result (0 = success).
 */
#ifndef VANTRO_FIRMWARE_H
#define VANTRO_FIRMWARE_H

#include "vantro/vantro_types.h"

/* Announces a file of Size bytes under Name. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupCreateFile(const VWCHAR* Name, uint32_t Size);

/* Sends the next Length bytes of the announced file. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupTransmitData(const uint8_t* Data, uint32_t Length);

/* What the device holds: *Info1, *ReceivedSize, *Checksum (8-bit sum of the
 * bytes received) and *Info2 are written whenever the exchange succeeded.
 * NameBuf (NameBufSize bytes) is zeroed and receives the name's bytes without
 * its terminator, at most NameBufSize - 2 bytes, so it always ends in at least
 * two zero bytes; nothing is written past NameBufSize. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupGetFileInfo(uint8_t* NameBuf, uint32_t NameBufSize,
                                                     uint32_t* Info1, uint32_t* ReceivedSize,
                                                     uint8_t* Checksum, uint32_t* Info2);

/* Has the device write the received file; both values are passed unchanged. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupWriteFile(uint32_t Param1, uint32_t Param2);

/* Releases the device's copy of the received file. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupFileFree(void);

/* Sends the PC file PcFile to the device under DeviceName in chunks of 2538
 * bytes, resuming after a failed chunk from the device's received size (up to
 * 3 retries in a row), compares the device's checksum with the file's 8-bit
 * sum and then calls KovVupWriteFile(0, WriteParam). Returns 0 on success,
 * a device result, an exchange error, or QXR_ERROR_FILE_OPEN,
 * QXR_ERROR_FILE_READ, QXR_ERROR_FILE_TRANSFER (retries used up, position
 * lost, checksum differs: then no write command is sent) or
 * QXR_ERROR_OUT_OF_MEMORY. It never calls KovVupFileFree. */
VANTRO_API uint32_t VANTRO_STDCALL KovVupPutFile(const char* PcFile, const VWCHAR* DeviceName,
                                                 uint32_t WriteParam);

#endif /* VANTRO_FIRMWARE_H */
