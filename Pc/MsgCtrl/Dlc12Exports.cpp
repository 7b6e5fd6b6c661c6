// The DLC12 diagnostic-code exports. Each writes its call line and its
// return line to the call log, runs one exchange (retries 0, trace 1) and
// maps a failed exchange with MapExchangeResult.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListMonitor.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_monitor.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineGetDiagCodeNull = 6040;

constexpr uint32_t kCodeGetDiagCode = 0x307F;
constexpr uint32_t kCodeConnect = 0x317F;
constexpr uint32_t kCodeDisconnect = 0x327F;

// The call log prints pointers as 32-bit values.
uint32_t Ptr32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

template <class Request, class Response>
uint32_t RunSimple(uint32_t code, const char* callLine, const char* returnLine) {
    TheCallLog().Printf(callLine, vos::ThreadCurrentId());
    Request request;
    Response response;
    uint32_t result = MapExchangeResult(ExecuteCommand(code, &request, &response, 0, 1));
    if (result == 0) result = response.Result;
    TheCallLog().Printf(returnLine, vos::ThreadCurrentId(), result);
    return result;
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovDLC12GetDiagCode(uint8_t bySendData, uint16_t wMaskData,
                                                       uint8_t* pbyDiagCode,
                                                       uint8_t* pbyDiagCodeLen) {
    TheCallLog().Printf(
        "[0x%08X] KovDLC12GetDiagCode( bySendData[%d], wMaskData[%d], pbyDiagCode[0x%08X], "
        "pbyDiagCodeLen[0x%08X] )\r\n",
        vos::ThreadCurrentId(), static_cast<int>(bySendData), static_cast<int>(wMaskData),
        Ptr32(pbyDiagCode), Ptr32(pbyDiagCodeLen));
    if (!pbyDiagCode || !pbyDiagCodeLen) {
        ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLineGetDiagCodeNull);
        return QXR_ERROR_INVALID_PARAMETER;
    }
    DLC12GetDiagCodeRequest request;
    DLC12GetDiagCodeResponse response;
    request.bySendData = bySendData;
    request.wMaskData = wMaskData;
    uint32_t mapped = MapExchangeResult(ExecuteCommand(kCodeGetDiagCode, &request, &response, 0, 1));
    if (mapped == 0 && response.Result == 0) {
        // The length travels in one byte: a code of 300 bytes gives 44.
        uint8_t length = static_cast<uint8_t>(response.DiagCode.GetLength() & 0xFFu);
        *pbyDiagCodeLen = length;
        if (length != 0) std::memcpy(pbyDiagCode, response.DiagCode.GetData(), length);
        TheCallLog().Printf("[0x%08X] KovDLC12GetDiagCode - DiagCodeLen[%d] -\r\n", vos::ThreadCurrentId(),
                            static_cast<int>(length));
    }
    uint32_t result = mapped != 0 ? mapped : response.Result;
    TheCallLog().Printf("[0x%08X] KovDLC12GetDiagCode - return[0x%08X] -\r\n", vos::ThreadCurrentId(),
                        result);
    return result;
}

VANTRO_API uint32_t VANTRO_STDCALL KovDLC12Connect(void) {
    return RunSimple<DLC12ConnectRequest, DLC12ConnectResponse>(
        kCodeConnect, "[0x%08X] KovDLC12Connect( void )\r\n", "[0x%08X] KovDLC12Connect - return[0x%08X] -\r\n");
}

VANTRO_API uint32_t VANTRO_STDCALL KovDLC12Disconnect(void) {
    return RunSimple<DLC12DisconnectRequest, DLC12DisconnectResponse>(
        kCodeDisconnect, "[0x%08X] KovDLC12Disconnect( void )\r\n",
        "[0x%08X] KovDLC12Disconnect - return[0x%08X] -\r\n");
}
