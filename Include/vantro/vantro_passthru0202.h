/*
 * The stdcall pass-thru family (J2534 version 02.02 style) and the device's
 * own extensions (PassThruOem*).
 *
 * Names: on Windows these are exported under their decorated stdcall names
 * (_PassThruConnect@12, _PassThruOemReadLog@8, ...). On Linux each has its
 * plain name; the seven whose plain names are J2534 04.04 names carry the
 * suffix _0202 (_PassThruConnect@12 is PassThruConnect_0202). The C names
 * below are the Linux names; the comment before each gives the Windows name.
 *
 * Conventions of every function here:
 *   - one command exchange with the device per call (PassThruReadVersion_0202
 *     and PassThruGetLastError_0202: none); no open state is needed, the
 *     functions work whether or not PassThruOpen was called;
 *   - the return value is a J2534 status: when the exchange fails, 8
 *     (ERR_DEVICE_NOT_CONNECTED) if the device did not answer in time, 7
 *     (ERR_FAILED) for the library's own error codes, a device refusal code
 *     up to 0xFFFF unchanged; the failed exchange's code is kept as the text
 *     "ERROR_CODE:%08X" for PassThruGetLastError_0202. Otherwise the device's
 *     status is returned;
 *   - when the exchange fails, no output is touched;
 *   - texts are UTF-16 (VWCHAR); every text buffer must hold
 *     VANTRO_PASSTHRU0202_TEXT_UNITS (80) units. A text the device sends is
 *     copied with the byte length it came with (its terminator included, none
 *     added); a longer one is cut to 79 units followed by a zero unit, so
 *     nothing is ever written past unit 80;
 *   - a null output pointer is skipped, never written; a null count pointer
 *     counts as 0 messages;
 *   - answers that do not fit the caller's memory are cut to fit, never
 *     written past it: at most as many messages as the caller's count held on
 *     entry are stored (and the count says how many were stored), Data and
 *     DataSize never go above 4128 bytes, the log entry's data area receives
 *     at most VANTRO_OEM_LOG_DATA_SIZE bytes. Each cut is reported as
 *     QXR_ERROR_BUFFER_TOO_SMALL through the library's error report; the
 *     function still returns the device's status.
 */
#ifndef VANTRO_PASSTHRU0202_H
#define VANTRO_PASSTHRU0202_H

#include "vantro/vantro_types.h"
#include "vantro/j2534.h"

/* Units (VWCHAR) that each text buffer of this family must hold. */
#define VANTRO_PASSTHRU0202_TEXT_UNITS 80u

/* Bytes that the data area of an OemLogEntry must hold. */
#define VANTRO_OEM_LOG_DATA_SIZE 4096u

/* Ioctl IDs accepted by PassThruIoctl_0202. */
#define VANTRO_IOCTL0202_GET_CONFIG       0x00000001u /* in: SCONFIG_LIST* (Parameter read back with Value) */
#define VANTRO_IOCTL0202_SET_CONFIG       0x00000002u /* in: SCONFIG_LIST* */
#define VANTRO_IOCTL0202_FIVE_BAUD_INIT   0x00000004u /* in: SBYTE_ARRAY* (address byte); out: SBYTE_ARRAY* (2 key bytes) */
#define VANTRO_IOCTL0202_FAST_INIT        0x00000005u /* in: PASSTHRU_MSG*; out: PASSTHRU_MSG* */
#define VANTRO_IOCTL0202_CLEAR_TX_BUFFER  0x00000007u
#define VANTRO_IOCTL0202_CLEAR_RX_BUFFER  0x00000008u
#define VANTRO_IOCTL0202_DEVICE_0         0x00010000u /* in: 3 bytes */
#define VANTRO_IOCTL0202_DEVICE_1         0x00010001u /* out: uint16_t */
#define VANTRO_IOCTL0202_DEVICE_2         0x00010002u /* in: 3 x uint16_t; out: uint32_t */
#define VANTRO_IOCTL0202_DEVICE_3         0x00010003u /* in: uint32_t */

/* The caller's record for PassThruOemReadLog: six values whose meaning is the
 * device's, then the caller's data area (VANTRO_OEM_LOG_DATA_SIZE bytes). */
typedef struct OemLogEntry {
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value3;
    uint32_t Value4;
    uint32_t Value5;
    uint32_t Value6;
    uint8_t* pData;
} OemLogEntry;

/* _PassThruReadVersion@12. Talks to no device: writes "01.00", "01.00" and
 * "02.02" (with their terminators) and returns 0. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruReadVersion_0202(VWCHAR* pFirmwareVersion,
                                                            VWCHAR* pDllVersion,
                                                            VWCHAR* pApiVersion);

/* _PassThruConnect@12. After a successful exchange *pChannelID receives the
 * device's channel, whatever the device's status is. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruConnect_0202(uint32_t ProtocolID, uint32_t Flags,
                                                        uint32_t* pChannelID);

/* _PassThruDisconnect@4. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruDisconnect_0202(uint32_t ChannelID);

/* _PassThruGetLastError@4. Copies the last "ERROR_CODE:%08X" text (empty
 * before the first failure) with its terminator; returns 0. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruGetLastError_0202(VWCHAR* pErrorDescription);

/* _PassThruOemGetLastError@4. Copies the device's own error text. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemGetLastError(VWCHAR* pErrorDescription);

/* _PassThruReadMsgs@16. *pNumMsgs is the capacity of pMsg on entry and the
 * number of messages stored on return. Once the exchange succeeded, the
 * messages and the count are stored whatever the device's status is: the six
 * header fields and the Data bytes of each. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruReadMsgs_0202(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                         uint32_t* pNumMsgs, uint32_t Timeout);

/* _PassThruOemReadMsgsNoLength@16. As PassThruReadMsgs_0202, under the
 * device's own command. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadMsgsNoLength(uint32_t ChannelID,
                                                               PASSTHRU_MSG* pMsg,
                                                               uint32_t* pNumMsgs,
                                                               uint32_t Timeout);

/* _PassThruWriteMsgs@16. Sends ProtocolID, TxFlags, DataSize, ExtraDataIndex
 * and Data of each message (RxStatus and Timestamp go as 0; DataSize above
 * 4128 is sent as 4128). Once the exchange succeeded, *pNumMsgs and the
 * ProtocolID, TxFlags, Timestamp and DataSize of each message sent back are
 * stored; RxStatus, ExtraDataIndex and Data stay as they were. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruWriteMsgs_0202(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                          uint32_t* pNumMsgs, uint32_t Timeout);

/* _PassThruOemWriteMsgsInterrupt@8. Writes the one message *pMsg with a
 * time-out of 1000 ms, as PassThruWriteMsgs_0202 does. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemWriteMsgsInterrupt(uint32_t ChannelID,
                                                                 PASSTHRU_MSG* pMsg);

/* _PassThruIoctl@16. Returns 6 without an exchange for an IoctlID not listed
 * above (VANTRO_IOCTL0202_*) and for a missing pointer the ID needs (pInput,
 * pOutput, a ConfigPtr with NumOfParams above 0, a BytePtr). GET_CONFIG sets
 * NumOfParams to the number of pairs the device sent back, never above the
 * value it had on entry. FIVE_BAUD_INIT writes the two key bytes to BytePtr[0]
 * and BytePtr[1] (NumOfBytes unchanged). FAST_INIT stores ProtocolID,
 * DataSize, ExtraDataIndex and Data of the answer. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruIoctl_0202(uint32_t ChannelID, uint32_t IoctlID,
                                                      void* pInput, void* pOutput);

/* _PassThruOemReadVersion@12. Copies the device's three version texts. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadVersion(VWCHAR* pText1, VWCHAR* pText2,
                                                          VWCHAR* pText3);

/* _PassThruOemReadLog@8. Reads one entry of the device's log: Value1 to
 * Value6, and the entry's data into pEntry->pData. Copied once the exchange
 * succeeded, whatever the device's status is; empty data copies nothing. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadLog(uint32_t LogArg, OemLogEntry* pEntry);

/* _PassThruOemClearLog@4. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemClearLog(uint32_t LogArg);

/* _PassThruOemGetLogStatus@8. Stores three values in pStatus[0..2] once the
 * exchange succeeded, whatever the device's status is. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemGetLogStatus(uint32_t LogArg, uint32_t* pStatus);

/* _PassThruOemSeekLog@12. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruOemSeekLog(uint32_t LogArg, uint32_t SeekArg1,
                                                      uint32_t SeekArg2);

#endif /* VANTRO_PASSTHRU0202_H */
