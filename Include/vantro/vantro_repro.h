/*
 * ECU reprogramming: the Repro exports. The device carries out the work; each
 * call is one command exchange with it.
 *
 * Conventions:
 *   - the return value is the exchange's error when the exchange failed (the
 *     library's own code, vantro_errors.h, or the device's refusal code), else
 *     the device's result;
 *   - when the exchange fails, no output is touched;
 *   - the records below are opaque: their bytes are the device's and are
 *     copied unchanged;
 *   - the Os functions that name a pointer check test it: a null pointer gives
 *     QXR_ERROR_INVALID_PARAMETER without an exchange. Elsewhere a null
 *     output pointer is skipped, never written, and a null count counts as a
 *     capacity of 0;
 *   - records are written only inside the caller's capacity: a list whose
 *     count exceeds the capacity sent writes none of its records (the count
 *     is still reported). When the device sends fewer bytes than its count of
 *     records needs, only whole records that arrived are copied and the
 *     records after them are zero-filled (reported as
 *     QXR_ERROR_SHORT_RESPONSE through the library's error report).
 */
#ifndef VANTRO_REPRO_H
#define VANTRO_REPRO_H

#include "vantro/vantro_types.h"

/* A software number of an ECU, 36 bytes. */
typedef struct SoftwareNumberEntry {
    uint8_t Bytes[36];
} SoftwareNumberEntry;

/* A reprogrammable vehicle system, 44 bytes. */
typedef struct SystemListEntry {
    uint8_t Bytes[44];
} SystemListEntry;

/* Stored program information, 3712 bytes. */
typedef struct ProgramInfoEntry {
    uint8_t Bytes[3712];
} ProgramInfoEntry;

/* The vehicle identification number record, 36 bytes. */
typedef struct VehicleIdNumber {
    uint8_t Bytes[36];
} VehicleIdNumber;

/* ---- reprogramming commands ------------------------------------------------ */

/* _ReproCheckVoltage@0: the device checks the supply voltage. */
VANTRO_API uint32_t VANTRO_STDCALL ReproCheckVoltage(void);

/* _ReproControlWfseLine@4: switches the reprogramming control line. */
VANTRO_API uint32_t VANTRO_STDCALL ReproControlWfseLine(uint32_t Control);

/* _ReproReadSoftwareNumber@20. Entries is an array of *Count pointers, each
 * to a record of the caller; *Count is the capacity on entry and the number
 * the device reports on return. After a successful exchange *Count and
 * *Status are set whatever the device's result is; the records are written
 * only when that result is 0 and they fit the capacity. */
VANTRO_API uint32_t VANTRO_STDCALL ReproReadSoftwareNumber(uint32_t Selector,
                                                           SoftwareNumberEntry** Entries,
                                                           uint32_t* Count, uint32_t* Status,
                                                           uint32_t Option);

/* _ReproReprogramming@16: starts reprogramming with the data set Name. */
VANTRO_API uint32_t VANTRO_STDCALL ReproReprogramming(const VWCHAR* Name, uint32_t Param1,
                                                      uint32_t Param2, uint32_t Param3);

/* _ReproVerify@16: starts verification with the data set Name. */
VANTRO_API uint32_t VANTRO_STDCALL ReproVerify(const VWCHAR* Name, uint32_t Param1,
                                               uint32_t Param2, uint32_t Param3);

/* _ReproGetProgress@4: *Progress (100 = done) is written only when the
 * device's result is 0. */
VANTRO_API uint32_t VANTRO_STDCALL ReproGetProgress(uint32_t* Progress);

/* ---- reprogramming system commands ------------------------------------------ */

/* _ReproCheckVoltageOs@0. */
VANTRO_API uint32_t VANTRO_STDCALL ReproCheckVoltageOs(void);

/* _ReproControlWfseLineOs@4. */
VANTRO_API uint32_t VANTRO_STDCALL ReproControlWfseLineOs(uint32_t Control);

/* _ReproGetSystemListOs@8. *Count: capacity of List (in records) on entry,
 * the device's count on return. The records are written only when the
 * device's result is 0 and they fit. */
VANTRO_API uint32_t VANTRO_STDCALL ReproGetSystemListOs(SystemListEntry* List, uint32_t* Count);

/* _ReproCheckProgramInfoOs@4. */
VANTRO_API uint32_t VANTRO_STDCALL ReproCheckProgramInfoOs(uint32_t Selector);

/* _ReproDeleteProgramInfoOs@4. */
VANTRO_API uint32_t VANTRO_STDCALL ReproDeleteProgramInfoOs(uint32_t Selector);

/* _ReproReadSoftwareNumberOs@20. Entries is an array of *Count pointers. The
 * records are written whenever they fit, whatever the device's result is. */
VANTRO_API uint32_t VANTRO_STDCALL ReproReadSoftwareNumberOs(uint32_t Selector1,
                                                             uint32_t Selector2,
                                                             SoftwareNumberEntry** Entries,
                                                             uint32_t* Count, uint32_t* Status);

/* _ReproGetAllProgramInfoOs@16. The records are written only when the
 * device's result is 0 and they fit. */
VANTRO_API uint32_t VANTRO_STDCALL ReproGetAllProgramInfoOs(uint32_t Selector,
                                                            ProgramInfoEntry* List,
                                                            uint32_t* Count, uint32_t* Status);

/* _ReproReprogrammingOs@20. */
VANTRO_API uint32_t VANTRO_STDCALL ReproReprogrammingOs(uint32_t Param1, uint32_t Param2,
                                                        uint32_t Param3, uint32_t Param4,
                                                        uint32_t Param5);

/* _ReproGetProgressOs@8: *Progress and *Detail are written whatever the
 * device's result is. */
VANTRO_API uint32_t VANTRO_STDCALL ReproGetProgressOs(uint32_t* Progress, uint32_t* Detail);

/* _ReproDeleteSaveSoftwareNumberOs@8. Entries is an array of *Count
 * pointers; the records are written whenever they fit. */
VANTRO_API uint32_t VANTRO_STDCALL ReproDeleteSaveSoftwareNumberOs(SoftwareNumberEntry** Entries,
                                                                   uint32_t* Count);

/* _ReproGetToolConditionOs@0. */
VANTRO_API uint32_t VANTRO_STDCALL ReproGetToolConditionOs(void);

/* _ReproCheckNeedParentSoftwareInfoOs@4. */
VANTRO_API uint32_t VANTRO_STDCALL ReproCheckNeedParentSoftwareInfoOs(uint32_t Selector);

/* _ReproSetParentSoftwareInfoOs@8. */
VANTRO_API uint32_t VANTRO_STDCALL ReproSetParentSoftwareInfoOs(uint32_t Value1, uint32_t Value2);

/* _ReproReadVehicleIdNumberOs@12. Writes the 36 bytes of *Out whatever the
 * device's result is: the first 36 bytes the device sent, and zeros after
 * them when it sent fewer. */
VANTRO_API uint32_t VANTRO_STDCALL ReproReadVehicleIdNumberOs(uint32_t Selector1,
                                                              uint32_t Selector2,
                                                              VehicleIdNumber* Out);

#endif /* VANTRO_REPRO_H */
