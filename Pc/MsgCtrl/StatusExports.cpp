// Device status and control exports: one command exchange each. Records live
// on the stack for the call; outputs are written only after a successful
// exchange, and the result follows the command's rule:
//   R1  the exchange error if nonzero, else the device's Result;
//   R2  the exchange error if nonzero, else 0 when Result is nonzero, else
//       QXR_ERROR_DEVICE_FAILED;
//   R3  0 when the exchange failed, else Result.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListStatus.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_status.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

constexpr uint32_t kTrace = 1;
constexpr uint32_t kOneAttempt = 0;
constexpr uint32_t kThreeAttempts = 2;

constexpr uint32_t kCodeGetVersion = 0x00;
constexpr uint32_t kCodeGetMode = 0x01;
constexpr uint32_t kCodeChangeMode = 0x02;
constexpr uint32_t kCodeGetVoltage = 0x03;
constexpr uint32_t kCodeGetAppPath = 0x0A;
constexpr uint32_t kCodeKernelIoControl = 0x0B;
constexpr uint32_t kCodeGetVimInfomation = 0x0C;
constexpr uint32_t kCodeGetLastError = 0x20;
constexpr uint32_t kCodeGetFileVersion = 0x2C;
constexpr uint32_t kCodeGetAcStatus = 0x3B;

// I/O control codes of the two battery-charge modes.
constexpr uint32_t kIoctlBattChargeMode0 = 0xA0000010u;
constexpr uint32_t kIoctlBattChargeMode1 = 0xA000000Cu;

constexpr int kLineBattChargeModeInvalid = 2655;
constexpr int kLineVimInfoNull = 2693;
constexpr int kLineAppPathSizeNull = 3050;
constexpr int kLineAppPathTooSmall = 3066;

uint32_t RuleR1(uint32_t exchangeError, uint32_t result) { return exchangeError ? exchangeError : result; }

uint32_t RuleR2(uint32_t exchangeError, uint32_t result) {
    if (exchangeError) return exchangeError;
    return result ? 0 : QXR_ERROR_DEVICE_FAILED;
}

uint32_t RuleR3(uint32_t exchangeError, uint32_t result) { return exchangeError ? 0 : result; }

// A version text into the caller's buffer of VANTRO_VERSION_TEXT_SIZE bytes:
// as sent when it fits, else cut and closed with a zero UTF-16 unit.
void CopyVersionText(uint8_t* out, const CCmdString& text) {
    if (!out) return;
    uint32_t length = text.GetLength() & 0xFFFFu;
    const uint8_t* bytes = text.GetBytes();
    if (length == 0 || !bytes) return;
    if (length <= VANTRO_VERSION_TEXT_SIZE) {
        std::memcpy(out, bytes, length);
        return;
    }
    std::memcpy(out, bytes, VANTRO_VERSION_TEXT_SIZE - 2);
    out[VANTRO_VERSION_TEXT_SIZE - 2] = 0;
    out[VANTRO_VERSION_TEXT_SIZE - 1] = 0;
}

uint32_t LittleEndianU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovGetVersion(const VWCHAR* Name, uint16_t* Version1,
                                                 uint16_t* Version2, uint8_t* Text1, uint8_t* Text2,
                                                 uint8_t* Text3, uint8_t* Text4) {
    GetVersionRequest request;
    GetVersionResponse response;
    request.Name = Name;
    uint32_t error = ExecuteCommand(kCodeGetVersion, &request, &response, kOneAttempt, kTrace);
    if (error == 0) {
        if (Version1) *Version1 = response.Version1;
        if (Version2) *Version2 = response.Version2;
        CopyVersionText(Text1, response.Text1);
        CopyVersionText(Text2, response.Text2);
        CopyVersionText(Text3, response.Text3);
        CopyVersionText(Text4, response.Text4);
    }
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetMode(void) {
    CCmdBase request(0);
    GetModeResponse response;
    uint32_t error = ExecuteCommand(kCodeGetMode, &request, &response, kOneAttempt, kTrace);
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovChangeMode(uint32_t Mode) {
    ChangeModeRequest request;
    ChangeModeResponse response;
    request.Mode = Mode;
    uint32_t error = ExecuteCommand(kCodeChangeMode, &request, &response, kOneAttempt, kTrace);
    // Mode 0 ends the link whatever the exchange gave: the device leaves the
    // mode in which it talks to the PC.
    if (Mode == 0) ReleaseDeviceLink();
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetVoltage(uint32_t Selector, uint16_t* Voltage) {
    GetVoltageRequest request;
    GetVoltageResponse response;
    request.Selector = Selector;
    uint32_t error = ExecuteCommand(kCodeGetVoltage, &request, &response, kOneAttempt, kTrace);
    if (error == 0 && Voltage) *Voltage = response.Voltage;
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetAppPath(uint8_t* Buffer, uint32_t* Size) {
    GetAppPathRequest request;
    GetAppPathResponse response;
    if (!Size) {
        ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLineAppPathSizeNull);
        return QXR_ERROR_INVALID_PARAMETER;
    }
    uint32_t error = ExecuteCommand(kCodeGetAppPath, &request, &response, kThreeAttempts, kTrace);
    if (error) return error;
    if (response.Result) return response.Result;
    uint32_t length = response.Path.GetLength() & 0xFFFFu;
    if (Buffer && length <= *Size) {
        *Size = length;
        if (length) std::memcpy(Buffer, response.Path.GetBytes(), length);
        return 0;
    }
    ErrReportf(QXR_ERROR_BUFFER_TOO_SMALL, "[PC]%s(%d):", kSource, kLineAppPathTooSmall);
    *Size = length;
    return QXR_ERROR_BUFFER_TOO_SMALL;
}

VANTRO_API uint32_t VANTRO_STDCALL KovKernelIoControl(uint32_t IoControlCode, const void* InBuf,
                                                      uint32_t InBufSize, void* OutBuf,
                                                      uint32_t OutBufSize, uint32_t* BytesReturned) {
    KernelIoControlRequest request;
    KernelIoControlResponse response;
    request.IoControlCode = IoControlCode;
    request.InBuf.SetAt(static_cast<const uint8_t*>(InBuf), InBufSize);
    request.OutBufSize = OutBufSize;
    uint32_t error = ExecuteCommand(kCodeKernelIoControl, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result != 0) {
        if (OutBuf) {
            // Never more than the caller said its buffer holds.
            uint32_t length = response.OutBuf.GetLength();
            if (length > OutBufSize) length = OutBufSize;
            if (length) std::memcpy(OutBuf, response.OutBuf.GetData(), length);
        }
        if (BytesReturned) *BytesReturned = response.BytesReturned;
    }
    return RuleR3(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovSetBattChargeMode(int32_t Mode) {
    KernelIoControlRequest request;
    KernelIoControlResponse response;
    if (Mode == 0) {
        request.IoControlCode = kIoctlBattChargeMode0;
    } else if (Mode == 1) {
        request.IoControlCode = kIoctlBattChargeMode1;
    } else {
        ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLineBattChargeModeInvalid);
        return QXR_ERROR_INVALID_PARAMETER;
    }
    request.OutBufSize = 0;
    uint32_t error = ExecuteCommand(kCodeKernelIoControl, &request, &response, kThreeAttempts, kTrace);
    return RuleR2(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetVimInfomation(uint32_t Selector, uint32_t* Info) {
    GetVimInfomationRequest request;
    GetVimInfomationResponse response;
    if (!Info) {
        ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLineVimInfoNull);
        return QXR_ERROR_INVALID_PARAMETER;
    }
    request.Selector = Selector;
    uint32_t error = ExecuteCommand(kCodeGetVimInfomation, &request, &response, kThreeAttempts, kTrace);
    if (error == 0) {
        Info[0] = response.ValidMask;
        for (int i = 0; i < GetVimInfomationResponse::kValueCount; ++i) Info[1 + i] = response.Value[i];
    } else {
        Info[0] = 0;
    }
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetLastError(void) {
    CCmdBase request(0);
    CCmdBase response(0);
    uint32_t error = ExecuteCommand(kCodeGetLastError, &request, &response, kOneAttempt, kTrace);
    uint32_t result = error ? error : response.GetValue();
    TheCallLog().Printf("[0x%08X] KovGetLastError - return[0x%X] -\r\n", vos::ThreadCurrentId(), result);
    return result;
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetFileVersion(const VWCHAR* FileName, uint32_t* VersionInfo) {
    GetFileVersionRequest request;
    GetFileVersionResponse response;
    request.FileName = FileName;
    request.FileNameLength = static_cast<uint16_t>(request.FileName.GetLength());
    uint32_t error = ExecuteCommand(kCodeGetFileVersion, &request, &response, kOneAttempt, kTrace);
    if (error == 0 && VersionInfo) {
        for (uint32_t i = 0; i < VANTRO_FILE_VERSION_COUNT; ++i)
            VersionInfo[i] = LittleEndianU32(response.VersionInfo + 4 * i);
    }
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetAcStatus(void) {
    GetAcStatusRequest request;
    GetAcStatusResponse response;
    uint32_t error = ExecuteCommand(kCodeGetAcStatus, &request, &response, kOneAttempt, kTrace);
    return RuleR1(error, response.Result);
}
