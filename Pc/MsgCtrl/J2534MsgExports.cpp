// J2534 version 04.04 entry points that carry messages: reading and writing,
// periodic messages and filters.
#include "Pc/Log/CallLog.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/J2534Local.h"
#include "Pc/Os/OsThread.h"
#include "Tessra/CmdListJ2534.h"
#include "vantro/j2534.h"

namespace {

// ReadMsgs and WriteMsgs share everything but the code and the request mask.
template <class Request, class Response>
uint32_t ExchangeMessages(const char* name, uint32_t code, uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                          uint32_t* pNumMsgs, uint32_t Timeout) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] %s( ChannelID[0x%08X], pMsg[0x%08X], pNumMsgs[0x%08X], Timeout[%d] )\r\n", tid,
                        name, ChannelID, LogPtr(pMsg), LogPtr(pNumMsgs), static_cast<int>(Timeout));
    if (!pMsg || !pNumMsgs) return ERR_NULL_PARAMETER;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    Request request;
    Response response;
    request.ChannelID = ChannelID;
    request.NumMsgs = *pNumMsgs;
    request.Timeout = Timeout;
    request.pMsg = pMsg;
    // The answer lands straight in the caller's array, never beyond it.
    response.pMsg = pMsg;
    response.Capacity = *pNumMsgs;
    // These two run often: no communication trace.
    uint32_t error = ExecuteCommand(code, &request, &response, 0, 0);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    if (response.Result == 0) *pNumMsgs = response.NumMsgs;
    TheCallLog().Printf("[0x%08X] %s - return[0x%08X], NumMsgs[%d] -\r\n", tid, name, status,
                        static_cast<int>(*pNumMsgs));
    return status;
}

}  // namespace

uint32_t VANTRO_STDCALL PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                         uint32_t Timeout) {
    return ExchangeMessages<J2534ReadMsgsRequest, J2534ReadMsgsResponse>("J2534ReadMsgs", kCmdJ2534ReadMsgs,
                                                                         ChannelID, pMsg, pNumMsgs, Timeout);
}

uint32_t VANTRO_STDCALL PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                          uint32_t Timeout) {
    return ExchangeMessages<J2534WriteMsgsRequest, J2534WriteMsgsResponse>("J2534WriteMsgs", kCmdJ2534WriteMsgs,
                                                                           ChannelID, pMsg, pNumMsgs, Timeout);
}

uint32_t VANTRO_STDCALL PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                                                 uint32_t TimeInterval) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf(
        "[0x%08X] J2534StartPeriodicMsg( ChannelID[0x%08X], pMsg[0x%08X], pMsgID[0x%08X], TimeInterval[%d] )\r\n", tid,
        ChannelID, LogPtr(pMsg), LogPtr(pMsgID), static_cast<int>(TimeInterval));
    if (!pMsg || !pMsgID) return ERR_NULL_PARAMETER;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534StartPeriodicMsgRequest request;
    J2534StartPeriodicMsgResponse response;
    request.ChannelID = ChannelID;
    request.TimeInterval = TimeInterval;
    request.pMsg = pMsg;
    response.pMsg = pMsg;
    uint32_t error = ExecuteCommand(kCmdJ2534StartPeriodicMsg, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    if (response.Result == 0) *pMsgID = response.MsgID;
    TheCallLog().Printf("[0x%08X] J2534StartPeriodicMsg - return[0x%08X], MsgID[%d] -\r\n", tid, status,
                        static_cast<int>(*pMsgID));
    return status;
}

uint32_t VANTRO_STDCALL PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534StopPeriodicMsg( ChannelID[0x%08X], MsgID[%d] )\r\n", tid, ChannelID,
                        static_cast<int>(MsgID));
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534StopPeriodicMsgRequest request;
    J2534StopPeriodicMsgResponse response;
    request.ChannelID = ChannelID;
    request.MsgID = MsgID;
    uint32_t error = ExecuteCommand(kCmdJ2534StopPeriodicMsg, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    TheCallLog().Printf("[0x%08X] J2534StopPeriodicMsg - return[0x%08X] -\r\n", tid, status);
    return status;
}

uint32_t VANTRO_STDCALL PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                                               PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                                               uint32_t* pFilterID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf(
        "[0x%08X] J2534StartMsgFilter( ChannelID[0x%08X], FilterType[%d], pMaskMsg[0x%08X], pPatternMsg[0x%08X], "
        "pFlowControlMsg[0x%08X], pFilterID[0x%08X] )\r\n",
        tid, ChannelID, static_cast<int>(FilterType), LogPtr(pMaskMsg), LogPtr(pPatternMsg),
        LogPtr(pFlowControlMsg), LogPtr(pFilterID));
    if (!pFilterID) return ERR_NULL_PARAMETER;
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534StartMsgFilterRequest request;
    J2534StartMsgFilterResponse response;
    request.ChannelID = ChannelID;
    request.FilterType = FilterType;
    request.pMaskMsg = pMaskMsg;
    request.pPatternMsg = pPatternMsg;
    request.pFlowControlMsg = pFlowControlMsg;
    // Each message sent back lands in the caller's message of its role.
    response.pMaskMsg = pMaskMsg;
    response.pPatternMsg = pPatternMsg;
    response.pFlowControlMsg = pFlowControlMsg;
    uint32_t error = ExecuteCommand(kCmdJ2534StartMsgFilter, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    if (response.Result == 0) *pFilterID = response.FilterID;
    TheCallLog().Printf("[0x%08X] J2534StartMsgFilter - return[0x%08X], FilterID[%d] -\r\n", tid, status,
                        static_cast<int>(*pFilterID));
    return status;
}

uint32_t VANTRO_STDCALL PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    const uint32_t tid = vos::ThreadCurrentId();
    TheCallLog().Printf("[0x%08X] J2534StopMsgFilter( ChannelID[0x%08X], FilterID[%d] )\r\n", tid, ChannelID,
                        static_cast<int>(FilterID));
    if (!J2534IsOpen()) return ERR_DEVICE_NOT_CONNECTED;

    J2534StopMsgFilterRequest request;
    J2534StopMsgFilterResponse response;
    request.ChannelID = ChannelID;
    request.FilterID = FilterID;
    uint32_t error = ExecuteCommand(kCmdJ2534StopMsgFilter, &request, &response, 0, 1);
    bool resultPath = false;
    uint32_t status = J2534ExchangeOutcome(error, response.Result, &resultPath);
    if (!resultPath) return status;
    TheCallLog().Printf("[0x%08X] J2534StopMsgFilter - return[0x%08X] -\r\n", tid, status);
    return status;
}
