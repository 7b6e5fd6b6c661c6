// J2534 version 04.04 entry points: open and close, channels, programming
// voltage, versions and the last error. Messages, periodic messages and
// filters are in J2534MsgExports.cpp, the Ioctl in J2534Ioctl.cpp.
#include <cstring>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/J2534Local.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListJ2534.h"
#include "vantro/j2534.h"
#include "vantro/vantro_status.h"

namespace {
// Device modes of KovChangeMode: 9 opens the pass-thru, 0 ends it and
// releases the link.
constexpr uint32_t kModePassThru = 9;
constexpr uint32_t kModeRelease = 0;
const char kDllVersion[] = "01.00";
const char kApiVersion[] = "04.04";
}  // namespace

uint32_t VANTRO_STDCALL PassThruOpen(void* pName, uint32_t* pDeviceID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534Open( pName[0x%08X], pDeviceID[0x%08X] )\r\n", tid, LogPtr(pName),
                        LogPtr(pDeviceID));
    if (!pDeviceID) return ERR_NULL_PARAMETER;
    if (J2534IsOpen()) return ERR_DEVICE_IN_USE;

    uint32_t r = KovChangeMode(kModePassThru);
    if (r == 0) {
        J2534SetOpen(true);
        *pDeviceID = 1;
        TheCallLog().Printf("[0x%08X] J2534Open - return[0x%08X] -\r\n", tid, 0u);
        return STATUS_NOERROR;
    }
    if (IsJ2534LinkFailure(r)) {
        TheCallLog().Printf("[0x%08X] J2534Open - return[0x%08X] -\r\n", tid, r);
        return ERR_DEVICE_NOT_CONNECTED;
    }
    if (r == ERR_FAILED) LocalJ2534GetLastError(J2534LastError);
    TheCallLog().Printf("[0x%08X] J2534Open - return[0x%08X] -\r\n", tid, r);
    return r;
}

uint32_t VANTRO_STDCALL PassThruClose(uint32_t DeviceID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534Close( DeviceID[0x%08X] )\r\n", tid, DeviceID);
    if (DeviceID != 1) return ERR_INVALID_DEVICE_ID;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    uint32_t r = KovChangeMode(kModeRelease);
    if (r != 0) {
        if (IsJ2534LinkFailure(r)) {
            TheCallLog().Printf("[0x%08X] J2534Close - return[0x%08X] -\r\n", tid, r);
            r = ERR_DEVICE_NOT_CONNECTED;
        } else {
            if (r == ERR_FAILED) LocalJ2534GetLastError(J2534LastError);
            TheCallLog().Printf("[0x%08X] J2534Close - return[0x%08X] -\r\n", tid, r);
        }
    }
    // Closed whatever the device said; the link goes with it (a release that
    // the mode change already did finds nothing).
    J2534SetOpen(false);
    ReleaseDeviceLink();
    TheCallLog().Printf("[0x%08X] J2534Close - return[0x%08X] -\r\n", tid, r);
    return r;
}

uint32_t VANTRO_STDCALL PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                                        uint32_t* pChannelID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534Connect( ProtocolID[0x%08X], Flags[0x%08X], pChannelID[0x%08X] )\r\n", tid,
                        ProtocolID, Flags, LogPtr(pChannelID));
    if (DeviceID != 1) return ERR_INVALID_DEVICE_ID;
    if (!pChannelID) return ERR_NULL_PARAMETER;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534ConnectRequest request;
    J2534ConnectResponse response;
    request.ProtocolID = ProtocolID;
    request.Flags = Flags;
    uint32_t error = ExecuteCommand(kCmdJ2534Connect, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;

    if (response.Result == 0) {
        J2534SetCurrentChannel(response.ChannelID);
        *pChannelID = response.ChannelID;
        // J1850VPW runs at its one rate; every other protocol gets the
        // caller's rate.
        if ((ProtocolID & 0xFFFFu) != J1850VPW) {
            SCONFIG rate = {DATA_RATE, BaudRate};
            SCONFIG_LIST list = {1, &rate};
            status = LocalJ2534Ioctl(response.ChannelID, SET_CONFIG, &list, nullptr);
        }
    }
    TheCallLog().Printf("[0x%08X] J2534Connect - return[0x%08X], ChannelID[0x%08X] -\r\n", tid, status,
                        *pChannelID);
    return status;
}

uint32_t VANTRO_STDCALL PassThruDisconnect(uint32_t ChannelID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534Disconnect( ChannelID[0x%08X] )\r\n", tid, ChannelID);
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534DisconnectRequest request;
    J2534DisconnectResponse response;
    request.ChannelID = ChannelID;
    uint32_t error = ExecuteCommand(kCmdJ2534Disconnect, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    if (response.Result == 0) J2534SetCurrentChannel(0);
    TheCallLog().Printf("[0x%08X] J2534Disconnect - return[0x%08X] -\r\n", tid, status);
    return status;
}

uint32_t VANTRO_STDCALL PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber, uint32_t Voltage) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534SetProgrammingVoltage( PinNumber[%d], Voltage[%d] )\r\n", tid,
                        static_cast<int>(PinNumber), static_cast<int>(Voltage));
    if (DeviceID != 1) return ERR_INVALID_DEVICE_ID;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534SetProgrammingVoltageRequest request;
    J2534SetProgrammingVoltageResponse response;
    request.PinNumber = PinNumber;
    request.Voltage = Voltage;
    uint32_t error = ExecuteCommand(kCmdJ2534SetProgrammingVoltage, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    TheCallLog().Printf("[0x%08X] J2534SetProgrammingVoltage - return[0x%08X] -\r\n", tid, status);
    return status;
}

uint32_t VANTRO_STDCALL PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                            char* pApiVersion) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf(
        "[0x%08X] J2534ReadVersion( pFirmwareVersion[0x%08X], pDllVersion[0x%08X], pApiVersion[0x%08X] )\r\n", tid,
        LogPtr(pFirmwareVersion), LogPtr(pDllVersion), LogPtr(pApiVersion));
    if (DeviceID != 1) return ERR_INVALID_DEVICE_ID;
    if (!pFirmwareVersion || !pDllVersion || !pApiVersion) return ERR_NULL_PARAMETER;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534ReadVersionRequest request;
    J2534ReadVersionResponse response;
    response.pFirmwareVersion = pFirmwareVersion;
    response.pDllVersion = pDllVersion;
    response.pApiVersion = pApiVersion;
    uint32_t error = ExecuteCommand(kCmdJ2534ReadVersion, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    if (response.Result == 0) {
        std::memcpy(pDllVersion, kDllVersion, sizeof kDllVersion);
        std::memcpy(pApiVersion, kApiVersion, sizeof kApiVersion);
    }
    TheCallLog().Printf(
        "[0x%08X] J2534ReadVersion - return[0x%08X], FirmwareVersion[%s], DllVersion[%s], ApiVersion[%s] -\r\n", tid,
        status, LogText(pFirmwareVersion).value, LogText(pDllVersion).value, LogText(pApiVersion).value);
    return status;
}

uint32_t VANTRO_STDCALL PassThruGetLastError(char* pErrorDescription) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534GetLastError( pErrorDescription[0x%08X] )\r\n", tid,
                        LogPtr(pErrorDescription));
    if (!pErrorDescription) return ERR_NULL_PARAMETER;
    J2534CopyLastErrorText(pErrorDescription);
    TheCallLog().Printf("[0x%08X] J2534GetLastError - return[0x%08X], ErrorDescription[%s] -\r\n", tid, 0u,
                        LogText(pErrorDescription).value);
    return STATUS_NOERROR;
}
