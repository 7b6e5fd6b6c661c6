// Device clock exports: one command each, tried up to three times. The records
// hold the caller's structure by pointer and move its fields directly between
// the stream and the caller's memory. Pointers are checked before anything is
// sent; the result is the exchange error if there was one, else the device's
// Result.
#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Tessra/CmdListClock.h"
#include "vantro/vantro_clock.h"
#include "vantro/vantro_errors.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

constexpr uint32_t kTrace = 1;
constexpr uint32_t kThreeAttempts = 2;

constexpr uint32_t kCodeGetSystemTime = 0x04;
constexpr uint32_t kCodeSetSystemTime = 0x05;
constexpr uint32_t kCodeGetLocalTime = 0x06;
constexpr uint32_t kCodeSetLocalTime = 0x07;
constexpr uint32_t kCodeGetTimeZoneInformation = 0x08;
constexpr uint32_t kCodeSetTimeZoneInformation = 0x09;

constexpr int kLineGetSystemTimeNull = 2759;
constexpr int kLineSetSystemTimeNull = 2807;
constexpr int kLineGetLocalTimeNull = 2862;
constexpr int kLineSetLocalTimeNull = 2910;
constexpr int kLineGetTimeZoneNull = 2967;
constexpr int kLineSetTimeZoneNull = 3009;

uint32_t InvalidParameter(int line) {
    ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, line);
    return QXR_ERROR_INVALID_PARAMETER;
}

uint32_t RuleR1(uint32_t exchangeError, uint32_t result) { return exchangeError ? exchangeError : result; }

// A get of SYSTEMTIME: the answer is read straight into the caller's structure.
template <class Request, class Response>
uint32_t GetTime(uint32_t code, VSYSTEMTIME* systemTime, int nullLine) {
    Request request;
    Response response;
    if (!systemTime) return InvalidParameter(nullLine);
    response.SystemTime = systemTime;
    uint32_t error = ExecuteCommand(code, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}

// A set of SYSTEMTIME: the request is written straight from the caller's
// structure, which writing only reads.
template <class Request, class Response>
uint32_t SetTime(uint32_t code, uint32_t* returnValue, const VSYSTEMTIME* systemTime, int nullLine) {
    Request request;
    Response response;
    if (!returnValue || !systemTime) return InvalidParameter(nullLine);
    request.SystemTime = const_cast<VSYSTEMTIME*>(systemTime);
    uint32_t error = ExecuteCommand(code, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result == 0) *returnValue = response.ReturnValue;
    return RuleR1(error, response.Result);
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovGetSystemTime(VSYSTEMTIME* SystemTime) {
    return GetTime<GetSystemTimeRequest, GetSystemTimeResponse>(kCodeGetSystemTime, SystemTime,
                                                                kLineGetSystemTimeNull);
}

VANTRO_API uint32_t VANTRO_STDCALL KovSetSystemTime(uint32_t* ReturnValue,
                                                    const VSYSTEMTIME* SystemTime) {
    return SetTime<SetSystemTimeRequest, SetSystemTimeResponse>(kCodeSetSystemTime, ReturnValue,
                                                                SystemTime, kLineSetSystemTimeNull);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetLocalTime(VSYSTEMTIME* SystemTime) {
    return GetTime<GetLocalTimeRequest, GetLocalTimeResponse>(kCodeGetLocalTime, SystemTime,
                                                              kLineGetLocalTimeNull);
}

VANTRO_API uint32_t VANTRO_STDCALL KovSetLocalTime(uint32_t* ReturnValue,
                                                   const VSYSTEMTIME* SystemTime) {
    return SetTime<SetLocalTimeRequest, SetLocalTimeResponse>(kCodeSetLocalTime, ReturnValue,
                                                              SystemTime, kLineSetLocalTimeNull);
}

VANTRO_API uint32_t VANTRO_STDCALL KovGetTimeZoneInformation(uint32_t* ReturnValue,
                                                             VTIME_ZONE_INFORMATION* TimeZone) {
    GetTimeZoneInformationRequest request;
    GetTimeZoneInformationResponse response;
    if (!ReturnValue || !TimeZone) return InvalidParameter(kLineGetTimeZoneNull);
    response.TimeZone = TimeZone;
    uint32_t error =
        ExecuteCommand(kCodeGetTimeZoneInformation, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result == 0) *ReturnValue = response.ReturnValue;
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovSetTimeZoneInformation(uint32_t* ReturnValue,
                                                             const VTIME_ZONE_INFORMATION* TimeZone) {
    SetTimeZoneInformationRequest request;
    SetTimeZoneInformationResponse response;
    if (!ReturnValue || !TimeZone) return InvalidParameter(kLineSetTimeZoneNull);
    request.TimeZone = const_cast<VTIME_ZONE_INFORMATION*>(TimeZone);
    uint32_t error =
        ExecuteCommand(kCodeSetTimeZoneInformation, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result == 0) *ReturnValue = response.ReturnValue;
    return RuleR1(error, response.Result);
}
