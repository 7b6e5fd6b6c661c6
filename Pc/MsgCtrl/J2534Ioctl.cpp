// The J2534 Ioctl (LocalJ2534Ioctl and its export) and the device's
// last-error text (LocalJ2534GetLastError).
#include <cstring>

#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/J2534Local.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListJ2534.h"
#include "vantro/j2534.h"

uint32_t LocalJ2534Ioctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf(
        "[0x%08X] LocalJ2534Ioctl( ChannelID[0x%08X], IoctlID[0x%08X], pInput[0x%08X], pOutput[0x%08X] )\r\n", tid,
        ChannelID, IoctlID, LogPtr(pInput), LogPtr(pOutput));
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;
    if (IoctlID == READ_VBATT || IoctlID == READ_PROG_VOLTAGE) {
        // These two read the device, not a channel: the caller passes the
        // DeviceID, the device gets the current channel.
        if (ChannelID != 1) return ERR_INVALID_DEVICE_ID;
        ChannelID = J2534CurrentChannel();
    }

    LocalJ2534IoctlRequest request;
    LocalJ2534IoctlResponse response;
    request.ChannelID = ChannelID;
    request.IoctlID = IoctlID;
    request.pInput = pInput;
    request.pOutput = pOutput;
    response.IoctlID = IoctlID;
    response.pInput = pInput;
    response.pOutput = pOutput;
    uint32_t error = ExecuteCommand(kCmdLocalJ2534Ioctl, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    TheCallLog().Printf("[0x%08X] LocalJ2534Ioctl - return[0x%08X] -\r\n", tid, status);
    return status;
}

uint32_t VANTRO_STDCALL PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534Ioctl( ChannelID[0x%08X], IoctlID[0x%08X], pInput[0x%08X], pOutput[0x%08X] )\r\n",
                        tid, ChannelID, IoctlID, LogPtr(pInput), LogPtr(pOutput));
    uint32_t status = LocalJ2534Ioctl(ChannelID, IoctlID, pInput, pOutput);
    TheCallLog().Printf("[0x%08X] J2534Ioctl - return[0x%08X] -\r\n", tid, status);
    return status;
}

uint32_t LocalJ2534GetLastError(char* pErrorDescription) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] LocalJ2534GetLastError( pErrorDescription[0x%08X] )\r\n", tid,
                        LogPtr(pErrorDescription));
    if (!pErrorDescription) return ERR_NULL_PARAMETER;

    // The text is read into a buffer of this call and stored under the
    // pass-thru lock once it has arrived whole, so that the lock is never held
    // across the exchange and a failed fetch leaves the old text.
    char text[kTextFieldMax] = {0};
    LocalJ2534GetLastErrorRequest request;
    LocalJ2534GetLastErrorResponse response;
    response.pErrorDescription = text;
    uint32_t error = ExecuteCommand(kCmdLocalJ2534GetLastError, &request, &response, 0, 1);
    uint32_t status = MapExchangeResult(error);
    if (status == 0) status = response.Result;
    if (error == 0 && response.Result == 0 && response.TextLength != 0) {
        std::lock_guard<std::mutex> lock(g_passThruLock);
        std::memcpy(pErrorDescription, text, std::strlen(text) + 1);
    }
    char logged[kTextFieldMax];
    {
        std::lock_guard<std::mutex> lock(g_passThruLock);
        std::memcpy(logged, LogText(pErrorDescription).value, sizeof logged);
    }
    TheCallLog().Printf("[0x%08X] LocalJ2534GetLastError - return[0x%08X], ErrorDescription[%s] -\r\n", tid, status,
                        logged);
    return status;
}
