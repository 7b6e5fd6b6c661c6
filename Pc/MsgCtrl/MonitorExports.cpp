// The caller-record exports: the application builds both records (classes
// derived from CCmdBase); each export sends the request under its own command
// code in one attempt (retries 0, trace 1) and returns the exchange's result
// unchanged. Nothing is tested or added here.
#include "Pc/MsgCtrl/CommExchange.h"
#include "vantro/vantro_monitor.h"

namespace {

uint32_t RunCallerRecords(uint32_t code, CCmdCore* request, CCmdCore* response) {
    return ExecuteCommand(code, request, response, 0, 1);
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovCommandExecute(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x70, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovPcMonStart(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x71, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovPcMonGetData(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x72, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovPcMonStop(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x73, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateIsoDiagInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x107F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateCanDiagInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x117F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDiagInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x127F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateDmInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x137F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDmInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x147F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupPack(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x157F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupPair(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x167F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorSetupDtc(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x177F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorStart(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x187F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciGetMonitorData(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x197F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDataMonitorStop(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1A7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciActiveTestStart(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1B7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciActiveTestStop(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1C7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciIDMapAppend(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1D7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciSetPickupData(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1E7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciMonitorSystemSend(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x1F7F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateDLC12Interface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x207F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciDeleteDLC12Interface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x217F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreateVpwDiagInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x227F, Request, Response);
}

VANTRO_API uint32_t VANTRO_STDCALL KovDmciCreatePwmDiagInterface(CCmdCore* Request, CCmdCore* Response) {
    return RunCallerRecords(0x237F, Request, Response);
}
