/*
 * SAE J2534-1 version 04.04 pass-thru interface of the Vantro library.
 *
 * Types and constants follow the published 04.04 layouts; every integer is
 * uint32_t, so the structures have the same layout on 32- and 64-bit hosts
 * apart from the two pointer members (ConfigPtr, BytePtr).
 *
 * The library's own statuses: 0 success, 4 a required pointer is null,
 * 7 the exchange with the device failed (PassThruGetLastError then gives
 * "DI_ZEDO_IF_ERROR") or the device answered 7 (PassThruGetLastError then
 * gives the device's own text), 8 the device is not open or did not answer,
 * 14 PassThruOpen while open, 26 a DeviceID other than 1. Every other status
 * is the device's answer. The only DeviceID is 1.
 *
 * Answers beyond the caller's capacity. The library never writes past the
 * memory the caller described:
 *  - PassThruReadMsgs, PassThruWriteMsgs: *pNumMsgs on entry is the size of
 *    the pMsg array. A device answer with more messages than that, or with a
 *    message whose DataSize exceeds 4128, is refused as a whole: the call
 *    returns ERR_FAILED (7) with "DI_ZEDO_IF_ERROR" and *pNumMsgs unchanged
 *    (messages before the refused one may already have been stored).
 *  - PassThruIoctl GET_CONFIG and FIVE_BAUD_INIT: the caller's NumOfParams and
 *    NumOfBytes are capacities; a longer answer fills them and the surplus is
 *    dropped; the counts are never changed.
 *  - Texts (PassThruReadVersion, PassThruGetLastError; 80-byte buffers): a
 *    device text longer than 80 bytes is refused (ERR_FAILED with
 *    "DI_ZEDO_IF_ERROR"); a text that fills all 80 bytes is cut to 79
 *    characters so that the buffer always ends with its terminator.
 *  - Messages handed to the library with DataSize above 4128 are not sent:
 *    the call returns ERR_FAILED with "DI_ZEDO_IF_ERROR".
 */
#ifndef J2534_H
#define J2534_H

#include "vantro/vantro_types.h"

/* ---- Structures ---------------------------------------------------------- */

#define PASSTHRU_MSG_DATA_SIZE 4128u

typedef struct PASSTHRU_MSG {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;      /* microseconds */
    uint32_t DataSize;       /* bytes used in Data, at most 4128 */
    uint32_t ExtraDataIndex;
    uint8_t Data[PASSTHRU_MSG_DATA_SIZE];
} PASSTHRU_MSG;              /* 4152 bytes: the stride of message arrays */

typedef struct SCONFIG {
    uint32_t Parameter;
    uint32_t Value;
} SCONFIG;

typedef struct SCONFIG_LIST {
    uint32_t NumOfParams;
    SCONFIG* ConfigPtr;
} SCONFIG_LIST;

typedef struct SBYTE_ARRAY {
    uint32_t NumOfBytes;
    uint8_t* BytePtr;
} SBYTE_ARRAY;

/* ---- Protocol IDs ---------------------------------------------------------- */

#define J1850VPW      0x01u
#define J1850PWM      0x02u
#define ISO9141       0x03u
#define ISO14230      0x04u
#define CAN           0x05u
#define ISO15765      0x06u
#define SCI_A_ENGINE  0x07u
#define SCI_A_TRANS   0x08u
#define SCI_B_ENGINE  0x09u
#define SCI_B_TRANS   0x0Au

/* ---- PassThruConnect flags --------------------------------------------------- */

#define CAN_29BIT_ID          0x00000100u
#define ISO9141_NO_CHECKSUM   0x00000200u
#define CAN_ID_BOTH           0x00000800u
#define ISO9141_K_LINE_ONLY   0x00001000u

/* ---- RxStatus bits ----------------------------------------------------------- */

#define TX_MSG_TYPE             0x00000001u /* a transmitted message looped back */
#define START_OF_MESSAGE        0x00000002u /* first frame of a segmented message received */
#define ISO15765_FIRST_FRAME    0x00000002u
#define RX_BREAK                0x00000004u
#define TX_INDICATION           0x00000008u /* transmission of a segmented message done */
#define ISO15765_PADDING_ERROR  0x00000010u
#define ISO15765_ADDR_TYPE      0x00000080u
#define ISO15765_EXT_ADDR       0x00000080u
/* CAN_29BIT_ID (0x100) also marks received 29-bit messages. */

/* ---- TxFlags bits ------------------------------------------------------------ */

#define ISO15765_FRAME_PAD  0x00000040u
/* ISO15765_ADDR_TYPE (0x80) and CAN_29BIT_ID (0x100) as above. */
#define WAIT_P3_MIN_ONLY    0x00000200u
#define SW_CAN_HV_TX        0x00000400u
#define SCI_MODE            0x00400000u
#define SCI_TX_VOLTAGE      0x00800000u

/* ---- Filter types -------------------------------------------------------------- */

#define PASS_FILTER          0x01u
#define BLOCK_FILTER         0x02u
#define FLOW_CONTROL_FILTER  0x03u

/* ---- Programming voltage --------------------------------------------------------- */

#define SHORT_TO_GROUND  0xFFFFFFFEu
#define VOLTAGE_OFF      0xFFFFFFFFu

/* ---- Ioctl IDs ----------------------------------------------------------------- */

#define GET_CONFIG                          0x01u /* pInput: SCONFIG_LIST */
#define SET_CONFIG                          0x02u /* pInput: SCONFIG_LIST */
#define READ_VBATT                          0x03u /* pOutput: uint32_t millivolts; ChannelID: DeviceID */
#define FIVE_BAUD_INIT                      0x04u /* pInput, pOutput: SBYTE_ARRAY */
#define FAST_INIT                           0x05u /* pInput, pOutput: PASSTHRU_MSG */
#define CLEAR_TX_BUFFER                     0x07u
#define CLEAR_RX_BUFFER                     0x08u
#define CLEAR_PERIODIC_MSGS                 0x09u
#define CLEAR_MSG_FILTERS                   0x0Au
#define CLEAR_FUNCT_MSG_LOOKUP_TABLE        0x0Bu
#define ADD_TO_FUNCT_MSG_LOOKUP_TABLE       0x0Cu /* pInput: SBYTE_ARRAY */
#define DELETE_FROM_FUNCT_MSG_LOOKUP_TABLE  0x0Du /* pInput: SBYTE_ARRAY */
#define READ_PROG_VOLTAGE                   0x0Eu /* pOutput: uint32_t millivolts; ChannelID: DeviceID */

/* ---- Configuration parameter IDs ------------------------------------------------- */

#define DATA_RATE         0x01u
#define LOOPBACK          0x03u
#define NODE_ADDRESS      0x04u
#define NETWORK_LINE      0x05u
#define P1_MIN            0x06u
#define P1_MAX            0x07u
#define P2_MIN            0x08u
#define P2_MAX            0x09u
#define P3_MIN            0x0Au
#define P3_MAX            0x0Bu
#define P4_MIN            0x0Cu
#define P4_MAX            0x0Du
#define W1                0x0Eu
#define W2                0x0Fu
#define W3                0x10u
#define W4                0x11u
#define W5                0x12u
#define TIDLE             0x13u
#define TINIL             0x14u
#define TWUP              0x15u
#define PARITY            0x16u
#define BIT_SAMPLE_POINT  0x17u
#define SYNC_JUMP_WIDTH   0x18u
#define W0                0x19u
#define T1_MAX            0x1Au
#define T2_MAX            0x1Bu
#define T4_MAX            0x1Cu
#define T5_MAX            0x1Du
#define ISO15765_BS       0x1Eu
#define ISO15765_STMIN    0x1Fu
#define DATA_BITS         0x20u
#define FIVE_BAUD_MOD     0x21u
#define BS_TX             0x22u
#define STMIN_TX          0x23u
#define T3_MAX            0x24u
#define ISO15765_WFT_MAX  0x25u

/* PARITY values */
#define NO_PARITY    0u
#define ODD_PARITY   1u
#define EVEN_PARITY  2u

/* ---- Status codes ------------------------------------------------------------------ */

#define STATUS_NOERROR             0x00u
#define ERR_NOT_SUPPORTED          0x01u
#define ERR_INVALID_CHANNEL_ID     0x02u
#define ERR_INVALID_PROTOCOL_ID    0x03u
#define ERR_NULL_PARAMETER         0x04u
#define ERR_INVALID_IOCTL_VALUE    0x05u
#define ERR_INVALID_FLAGS          0x06u
#define ERR_FAILED                 0x07u
#define ERR_DEVICE_NOT_CONNECTED   0x08u
#define ERR_TIMEOUT                0x09u
#define ERR_INVALID_MSG            0x0Au
#define ERR_INVALID_TIME_INTERVAL  0x0Bu
#define ERR_EXCEEDED_LIMIT         0x0Cu
#define ERR_INVALID_MSG_ID         0x0Du
#define ERR_DEVICE_IN_USE          0x0Eu
#define ERR_INVALID_IOCTL_ID       0x0Fu
#define ERR_BUFFER_EMPTY           0x10u
#define ERR_BUFFER_FULL            0x11u
#define ERR_BUFFER_OVERFLOW        0x12u
#define ERR_PIN_INVALID            0x13u
#define ERR_CHANNEL_IN_USE         0x14u
#define ERR_MSG_PROTOCOL_ID        0x15u
#define ERR_INVALID_FILTER_ID      0x16u
#define ERR_NO_FLOW_CONTROL        0x17u
#define ERR_NOT_UNIQUE             0x18u
#define ERR_INVALID_BAUDRATE       0x19u
#define ERR_INVALID_DEVICE_ID      0x1Au

/* ---- Entry points (undecorated, ordinals 1 to 14) ------------------------------------ */

VANTRO_API uint32_t VANTRO_STDCALL PassThruOpen(void* pName, uint32_t* pDeviceID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruClose(uint32_t DeviceID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                                   uint32_t BaudRate, uint32_t* pChannelID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruDisconnect(uint32_t ChannelID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                    uint32_t Timeout);
VANTRO_API uint32_t VANTRO_STDCALL PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                                     uint32_t Timeout);
VANTRO_API uint32_t VANTRO_STDCALL PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                            uint32_t* pMsgID, uint32_t TimeInterval);
VANTRO_API uint32_t VANTRO_STDCALL PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                          PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                                          PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID);
VANTRO_API uint32_t VANTRO_STDCALL PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                                 uint32_t Voltage);
/* Each text buffer holds 80 bytes. */
VANTRO_API uint32_t VANTRO_STDCALL PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion,
                                                       char* pDllVersion, char* pApiVersion);
VANTRO_API uint32_t VANTRO_STDCALL PassThruGetLastError(char* pErrorDescription);
VANTRO_API uint32_t VANTRO_STDCALL PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                                 void* pOutput);

#endif /* J2534_H */
