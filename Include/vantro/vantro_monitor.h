/*
 * Diagnostic monitor: the caller-record commands (KovDmci*, KovPcMon*,
 * KovCommandExecute) and the DLC12 diagnostic-code commands.
 *
 * Caller-record commands. The application builds the request and the
 * response record itself, as classes derived from the record library's
 * CCmdBase (Tessra/CmdCore.h; docs/RECORDS.md shows how). The export sends
 * the request under its own command code, in one attempt, and has the
 * response record read the device's answer. It returns 0 when the device
 * accepted the command and the response record read it, else the exchange's
 * error unchanged: the library's own code (vantro_errors.h), or the device's
 * refusal code, in which case the response record is not read. The device's
 * own result, if any, is a field of the caller's response record. Null record
 * pointers are not tested here: the exchange fails with
 * QXR_ERROR_INVALID_PARAMETER. The records stay the caller's; the library
 * neither copies nor keeps them. From C the records are opaque pointers that
 * C++ code made.
 */
#ifndef VANTRO_MONITOR_H
#define VANTRO_MONITOR_H

#include "vantro/vantro_types.h"

#ifdef __cplusplus
#include "Tessra/CmdCore.h"
#else
typedef struct CCmdCore CCmdCore;
#endif

/* _KovCommandExecute@8, code 0x70. */
VANTRO_API uint32_t VANTRO_STDCALL KovCommandExecute(CCmdCore* Request, CCmdCore* Response);
/* _KovPcMonStart@8, code 0x71. */
VANTRO_API uint32_t VANTRO_STDCALL KovPcMonStart(CCmdCore* Request, CCmdCore* Response);
/* _KovPcMonGetData@8, code 0x72. */
VANTRO_API uint32_t VANTRO_STDCALL KovPcMonGetData(CCmdCore* Request, CCmdCore* Response);
/* _KovPcMonStop@8, code 0x73. */
VANTRO_API uint32_t VANTRO_STDCALL KovPcMonStop(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreateIsoDiagInterface@8, code 0x107F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateIsoDiagInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreateCanDiagInterface@8, code 0x117F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateCanDiagInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDeleteDiagInterface@8, code 0x127F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDiagInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreateDmInterface@8, code 0x137F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateDmInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDeleteDmInterface@8, code 0x147F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDmInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDataMonitorSetupPack@8, code 0x157F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupPack(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDataMonitorSetupPair@8, code 0x167F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupPair(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDataMonitorSetupDtc@8, code 0x177F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupDtc(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDataMonitorStart@8, code 0x187F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorStart(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciGetMonitorData@8, code 0x197F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciGetMonitorData(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDataMonitorStop@8, code 0x1A7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorStop(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciActiveTestStart@8, code 0x1B7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciActiveTestStart(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciActiveTestStop@8, code 0x1C7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciActiveTestStop(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciIDMapAppend@8, code 0x1D7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciIDMapAppend(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciSetPickupData@8, code 0x1E7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciSetPickupData(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciMonitorSystemSend@8, code 0x1F7F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciMonitorSystemSend(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreateDLC12Interface@8, code 0x207F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateDLC12Interface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciDeleteDLC12Interface@8, code 0x217F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDLC12Interface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreateVpwDiagInterface@8, code 0x227F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateVpwDiagInterface(CCmdCore* Request, CCmdCore* Response);
/* _KovDmciCreatePwmDiagInterface@8, code 0x237F. */
VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreatePwmDiagInterface(CCmdCore* Request, CCmdCore* Response);

/*
 * DLC12 diagnostic codes. Each call writes a line to the call log on entry
 * and on return. Results are pass-thru statuses: when the exchange fails, 8
 * if the device did not answer in time, 7 for the library's own error codes,
 * a device refusal code up to 0xFFFF unchanged, and the failed exchange's
 * code is kept as the "ERROR_CODE:%08X" text of PassThruGetLastError_0202;
 * otherwise the device's result.
 */

/* Bytes that the pbyDiagCode area of KovDLC12GetDiagCode must hold. */
#define VANTRO_DLC12_DIAG_CODE_SIZE 255u

/* _KovDLC12GetDiagCode@16. Reads the diagnostic code for the request byte
 * bySendData and mask wMaskData. When the device's result is 0, the code's
 * length modulo 256 goes to *pbyDiagCodeLen and that many bytes to
 * pbyDiagCode (so never more than 255); otherwise both stay as they were.
 * A null pointer gives QXR_ERROR_INVALID_PARAMETER without an exchange. */
VANTRO_API uint32_t VANTRO_STDCALL KovDLC12GetDiagCode(uint8_t bySendData, uint16_t wMaskData,
                                                       uint8_t* pbyDiagCode,
                                                       uint8_t* pbyDiagCodeLen);
/* _KovDLC12Connect@0. */
VANTRO_API uint32_t VANTRO_STDCALL KovDLC12Connect(void);
/* _KovDLC12Disconnect@0. */
VANTRO_API uint32_t VANTRO_STDCALL KovDLC12Disconnect(void);

#endif /* VANTRO_MONITOR_H */
