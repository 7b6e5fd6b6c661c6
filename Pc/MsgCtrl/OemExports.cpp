// The device's own pass-thru extensions: its version texts and its log.
// Each export runs one exchange (retries 0, trace 1), maps a failed exchange
// with MapExchangeResult and otherwise copies the answer, whatever the
// device's Result says, and returns that Result.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/PassThru0202Text.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Tessra/CmdListOem.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_passthru0202.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineVersionTextCut = 5210;
constexpr int kLineLogDataCut = 5220;

constexpr uint32_t kCodeReadLog = 80;
constexpr uint32_t kCodeClearLog = 81;
constexpr uint32_t kCodeGetLogStatus = 82;
constexpr uint32_t kCodeSeekLog = 83;
constexpr uint32_t kCodeReadVersion = 86;

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadVersion(VWCHAR* pText1, VWCHAR* pText2,
                                                          VWCHAR* pText3) {
    PassThruOemReadVersionRequest request;
    PassThruOemReadVersionResponse response;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeReadVersion, &request, &response, 0, 1));
    if (status != 0) return status;
    bool whole = CopyPassThruText(pText1, response.Text1);
    whole = CopyPassThruText(pText2, response.Text2) && whole;
    whole = CopyPassThruText(pText3, response.Text3) && whole;
    if (!whole) ErrReportf(QXR_ERROR_BUFFER_TOO_SMALL, "[PC]%s(%d):", kSource, kLineVersionTextCut);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadLog(uint32_t LogArg, OemLogEntry* pEntry) {
    PassThruOemReadLogRequest request;
    PassThruOemReadLogResponse response;
    request.LogArg = LogArg;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeReadLog, &request, &response, 0, 1));
    if (status != 0) return status;
    if (pEntry) {
        pEntry->Value1 = response.EntryValue(0);
        pEntry->Value2 = response.EntryValue(1);
        pEntry->Value3 = response.EntryValue(2);
        pEntry->Value4 = response.EntryValue(3);
        pEntry->Value5 = response.EntryValue(4);
        pEntry->Value6 = response.EntryValue(5);
        uint32_t length = response.Data.GetLength();
        if (length > VANTRO_OEM_LOG_DATA_SIZE) {
            ErrReportf(QXR_ERROR_BUFFER_TOO_SMALL, "[PC]%s(%d):", kSource, kLineLogDataCut);
            length = VANTRO_OEM_LOG_DATA_SIZE;
        }
        if (length != 0 && pEntry->pData) std::memcpy(pEntry->pData, response.Data.GetData(), length);
    }
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemClearLog(uint32_t LogArg) {
    PassThruOemClearLogRequest request;
    PassThruOemClearLogResponse response;
    request.LogArg = LogArg;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeClearLog, &request, &response, 0, 1));
    return status != 0 ? status : response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemGetLogStatus(uint32_t LogArg, uint32_t* pStatus) {
    PassThruOemGetLogStatusRequest request;
    PassThruOemGetLogStatusResponse response;
    request.LogArg = LogArg;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeGetLogStatus, &request, &response, 0, 1));
    if (status != 0) return status;
    if (pStatus) {
        for (unsigned i = 0; i < 3; ++i) pStatus[i] = response.StatusValue(i);
    }
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemSeekLog(uint32_t LogArg, uint32_t SeekArg1,
                                                      uint32_t SeekArg2) {
    PassThruOemSeekLogRequest request;
    PassThruOemSeekLogResponse response;
    request.LogArg = LogArg;
    request.SeekArg1 = SeekArg1;
    request.SeekArg2 = SeekArg2;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeSeekLog, &request, &response, 0, 1));
    return status != 0 ? status : response.Result;
}
