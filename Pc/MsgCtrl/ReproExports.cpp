// The reprogramming exports, codes 96 to 101. Each is one exchange (retries
// 0, trace 1); outputs are written only when the exchange succeeded, and the
// result is the exchange's error if there is one, else the device's Result.
// These exports test no pointer: a null output is skipped, a null count is a
// capacity of 0.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Tessra/CmdListRepro.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_repro.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineSoftwareNumberShort = 4150;

constexpr uint32_t kCodeCheckVoltage = 96;
constexpr uint32_t kCodeControlWfseLine = 97;
constexpr uint32_t kCodeReadSoftwareNumber = 98;
constexpr uint32_t kCodeReprogramming = 99;
constexpr uint32_t kCodeVerify = 100;
constexpr uint32_t kCodeGetProgress = 101;

template <class Response>
uint32_t RunResultOnly(uint32_t code, CCmdCore* request) {
    Response response;
    uint32_t error = ExecuteCommand(code, request, &response, 0, 1);
    return error != 0 ? error : response.Result;
}

template <class Request, class Response>
uint32_t RunNamed(uint32_t code, const VWCHAR* name, uint32_t p1, uint32_t p2, uint32_t p3) {
    Request request;
    request.Spare = 0;
    request.Name = name;
    request.Param1 = p1;
    request.Param2 = p2;
    request.Param3 = p3;
    return RunResultOnly<Response>(code, &request);
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL ReproCheckVoltage(void) {
    CCmdBase request(0);
    return RunResultOnly<ReproCheckVoltageResponse>(kCodeCheckVoltage, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproControlWfseLine(uint32_t Control) {
    ReproControlWfseLineRequest request;
    request.Control = Control;
    return RunResultOnly<ReproControlWfseLineResponse>(kCodeControlWfseLine, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproReadSoftwareNumber(uint32_t Selector,
                                                           SoftwareNumberEntry** Entries,
                                                           uint32_t* Count, uint32_t* Status,
                                                           uint32_t Option) {
    ReproReadSoftwareNumberRequest request;
    ReproReadSoftwareNumberResponse response;
    request.Selector = Selector;
    request.Capacity = Count ? *Count : 0;
    request.Option = Option;
    uint32_t error = ExecuteCommand(kCodeReadSoftwareNumber, &request, &response, 0, 1);
    if (error != 0) return error;
    if (Count) *Count = response.EntryCount;
    if (Status) *Status = response.Status;
    if (response.Result == 0 && request.Capacity >= response.EntryCount && Entries) {
        const uint8_t* bytes = response.Entries.GetData();
        uint32_t whole = response.Entries.GetLength() / kSoftwareNumberEntrySize;
        for (uint32_t i = 0; i < response.EntryCount; ++i) {
            if (!Entries[i]) continue;
            if (i < whole)
                std::memcpy(Entries[i], bytes + i * kSoftwareNumberEntrySize, kSoftwareNumberEntrySize);
            else
                std::memset(Entries[i], 0, kSoftwareNumberEntrySize);
        }
        if (whole < response.EntryCount)
            ErrReportf(QXR_ERROR_SHORT_RESPONSE, "[PC]%s(%d):", kSource, kLineSoftwareNumberShort);
    }
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproReprogramming(const VWCHAR* Name, uint32_t Param1,
                                                      uint32_t Param2, uint32_t Param3) {
    return RunNamed<ReproReprogrammingRequest, ReproReprogrammingResponse>(kCodeReprogramming, Name, Param1, Param2, Param3);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproVerify(const VWCHAR* Name, uint32_t Param1,
                                               uint32_t Param2, uint32_t Param3) {
    return RunNamed<ReproVerifyRequest, ReproVerifyResponse>(kCodeVerify, Name, Param1, Param2, Param3);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproGetProgress(uint32_t* Progress) {
    CCmdBase request(0);
    ReproGetProgressResponse response;
    uint32_t error = ExecuteCommand(kCodeGetProgress, &request, &response, 0, 1);
    if (error != 0) return error;
    if (response.Result == 0 && Progress) *Progress = response.Progress;
    return response.Result;
}
