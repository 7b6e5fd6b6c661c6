// Device log exports: one command each, tried up to three times; the result is
// the exchange error if there was one, else the device's Result.
#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Tessra/CmdListLog.h"
#include "vantro/vantro_devlog.h"
#include "vantro/vantro_errors.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

constexpr uint32_t kTrace = 1;
constexpr uint32_t kThreeAttempts = 2;

constexpr uint32_t kCodeLogInit = 0x15;
constexpr uint32_t kCodeLogClose = 0x16;
constexpr uint32_t kCodeLogClear = 0x17;
constexpr uint32_t kCodeLogFlash = 0x18;
constexpr uint32_t kCodeLogPutMsg = 0x19;

constexpr int kLinePutMsgInvalid = 3208;

template <class Request, class Response>
uint32_t Run(uint32_t code, Request& request) {
    Response response;
    uint32_t error = ExecuteCommand(code, &request, &response, kThreeAttempts, kTrace);
    return error ? error : response.Result;
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovLogInit(const VWCHAR* Name) {
    LogInitRequest request;
    request.Name = Name;
    return Run<LogInitRequest, LogInitResponse>(kCodeLogInit, request);
}

VANTRO_API uint32_t VANTRO_STDCALL KovLogClose(void) {
    LogCloseRequest request;
    return Run<LogCloseRequest, LogCloseResponse>(kCodeLogClose, request);
}

VANTRO_API uint32_t VANTRO_STDCALL KovLogClear(void) {
    LogClearRequest request;
    return Run<LogClearRequest, LogClearResponse>(kCodeLogClear, request);
}

VANTRO_API uint32_t VANTRO_STDCALL KovLogFlash(const VWCHAR* Name) {
    LogFlashRequest request;
    request.Name = Name;
    return Run<LogFlashRequest, LogFlashResponse>(kCodeLogFlash, request);
}

VANTRO_API uint32_t VANTRO_STDCALL KovLogPutMsg(const uint8_t* Message, uint32_t Length) {
    LogPutMsgRequest request;
    if (!Message || Length == 0) {
        ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLinePutMsgInvalid);
        return QXR_ERROR_INVALID_PARAMETER;
    }
    request.Message.SetAt(Message, Length);
    return Run<LogPutMsgRequest, LogPutMsgResponse>(kCodeLogPutMsg, request);
}
