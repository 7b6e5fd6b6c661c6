// The reprogramming system exports, codes 0x407F to 0x4D7F. Each is one
// exchange (retries 0, trace 1); outputs are written only when the exchange
// succeeded; the result is the exchange's error if there is one, else the
// device's Result. The pointer checks report 0x900d0028 at the lines of
// PcMsgCtrlAPI and cost no exchange.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Tessra/CmdListRepro.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_repro.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineSystemListNull = 4210;
constexpr int kLineReadSoftwareNumberNull = 4320;
constexpr int kLineGetAllProgramInfoNull = 4383;
constexpr int kLineGetProgressNull = 4469;
constexpr int kLineDeleteSaveSoftwareNumberNull = 4513;
constexpr int kLineReadVehicleIdNumberNull = 6213;
// Answers with fewer bytes than their records need.
constexpr int kLineSystemListShort = 4230;
constexpr int kLineReadSoftwareNumberShort = 4340;
constexpr int kLineGetAllProgramInfoShort = 4400;
constexpr int kLineDeleteSaveSoftwareNumberShort = 4530;
constexpr int kLineReadVehicleIdNumberShort = 6230;

constexpr uint32_t kCodeCheckVoltage = 0x407F;
constexpr uint32_t kCodeControlWfseLine = 0x417F;
constexpr uint32_t kCodeGetSystemList = 0x427F;
constexpr uint32_t kCodeCheckProgramInfo = 0x437F;
constexpr uint32_t kCodeDeleteProgramInfo = 0x447F;
constexpr uint32_t kCodeReadSoftwareNumber = 0x457F;
constexpr uint32_t kCodeGetAllProgramInfo = 0x467F;
constexpr uint32_t kCodeReprogramming = 0x477F;
constexpr uint32_t kCodeGetProgress = 0x487F;
constexpr uint32_t kCodeDeleteSaveSoftwareNumber = 0x497F;
constexpr uint32_t kCodeGetToolCondition = 0x4A7F;
constexpr uint32_t kCodeCheckNeedParentSoftwareInfo = 0x4B7F;
constexpr uint32_t kCodeSetParentSoftwareInfo = 0x4C7F;
constexpr uint32_t kCodeReadVehicleIdNumber = 0x4D7F;

uint32_t ReportNull(int line) {
    ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, line);
    return QXR_ERROR_INVALID_PARAMETER;
}

template <class Response>
uint32_t RunResultOnly(uint32_t code, CCmdCore* request) {
    Response response;
    uint32_t error = ExecuteCommand(code, request, &response, 0, 1);
    return error != 0 ? error : response.Result;
}

// Copies count records of size bytes from the buffer into one contiguous
// array: the whole records that arrived, zeros for the rest (reported).
void CopyContiguous(uint8_t* out, uint32_t count, uint32_t size, const CCmdBuffer& buffer, int line) {
    uint32_t whole = buffer.GetLength() / size;
    uint32_t copied = whole < count ? whole : count;
    if (copied != 0) std::memcpy(out, buffer.GetData(), static_cast<size_t>(copied) * size);
    if (copied < count) {
        std::memset(out + static_cast<size_t>(copied) * size, 0, static_cast<size_t>(count - copied) * size);
        ErrReportf(QXR_ERROR_SHORT_RESPONSE, "[PC]%s(%d):", kSource, line);
    }
}

// The same into records reached through an array of pointers.
void CopyScattered(SoftwareNumberEntry** out, uint32_t count, const CCmdBuffer& buffer, int line) {
    const uint32_t size = kSoftwareNumberEntrySize;
    uint32_t whole = buffer.GetLength() / size;
    for (uint32_t i = 0; i < count; ++i) {
        if (!out[i]) continue;
        if (i < whole)
            std::memcpy(out[i], buffer.GetData() + static_cast<size_t>(i) * size, size);
        else
            std::memset(out[i], 0, size);
    }
    if (whole < count) ErrReportf(QXR_ERROR_SHORT_RESPONSE, "[PC]%s(%d):", kSource, line);
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL ReproCheckVoltageOs(void) {
    CCmdBase request(0);
    return RunResultOnly<ReproCheckVoltageOsResponse>(kCodeCheckVoltage, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproControlWfseLineOs(uint32_t Control) {
    ReproControlWfseLineOsRequest request;
    request.Control = Control;
    return RunResultOnly<ReproControlWfseLineOsResponse>(kCodeControlWfseLine, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproGetSystemListOs(SystemListEntry* List, uint32_t* Count) {
    if (!List || !Count) return ReportNull(kLineSystemListNull);
    ReproGetSystemListOsRequest request;
    ReproGetSystemListOsResponse response;
    request.Capacity = *Count;
    uint32_t error = ExecuteCommand(kCodeGetSystemList, &request, &response, 0, 1);
    if (error != 0) return error;
    *Count = response.EntryCount;
    if (response.Result == 0 && request.Capacity >= response.EntryCount)
        CopyContiguous(reinterpret_cast<uint8_t*>(List), response.EntryCount, kSystemListEntrySize,
                       response.Entries, kLineSystemListShort);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproCheckProgramInfoOs(uint32_t Selector) {
    ReproCheckProgramInfoOsRequest request;
    request.Selector = Selector;
    return RunResultOnly<ReproCheckProgramInfoOsResponse>(kCodeCheckProgramInfo, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproDeleteProgramInfoOs(uint32_t Selector) {
    ReproDeleteProgramInfoOsRequest request;
    request.Selector = Selector;
    return RunResultOnly<ReproDeleteProgramInfoOsResponse>(kCodeDeleteProgramInfo, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproReadSoftwareNumberOs(uint32_t Selector1,
                                                             uint32_t Selector2,
                                                             SoftwareNumberEntry** Entries,
                                                             uint32_t* Count, uint32_t* Status) {
    if (!Entries || !Count || !Status) return ReportNull(kLineReadSoftwareNumberNull);
    ReproReadSoftwareNumberOsRequest request;
    ReproReadSoftwareNumberOsResponse response;
    request.Selector1 = Selector1;
    request.Selector2 = Selector2;
    request.Capacity = *Count;
    uint32_t error = ExecuteCommand(kCodeReadSoftwareNumber, &request, &response, 0, 1);
    if (error != 0) return error;
    *Count = response.EntryCount;
    *Status = response.Status;
    if (response.EntryCount <= request.Capacity)
        CopyScattered(Entries, response.EntryCount, response.Entries, kLineReadSoftwareNumberShort);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproGetAllProgramInfoOs(uint32_t Selector,
                                                            ProgramInfoEntry* List,
                                                            uint32_t* Count, uint32_t* Status) {
    if (!List || !Count || !Status) return ReportNull(kLineGetAllProgramInfoNull);
    ReproGetAllProgramInfoOsRequest request;
    ReproGetAllProgramInfoOsResponse response;
    request.Selector = Selector;
    request.Capacity = *Count;
    uint32_t error = ExecuteCommand(kCodeGetAllProgramInfo, &request, &response, 0, 1);
    if (error != 0) return error;
    *Count = response.EntryCount;
    *Status = response.Status;
    if (response.Result == 0 && request.Capacity >= response.EntryCount)
        CopyContiguous(reinterpret_cast<uint8_t*>(List), response.EntryCount, kProgramInfoEntrySize,
                       response.Entries, kLineGetAllProgramInfoShort);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproReprogrammingOs(uint32_t Param1, uint32_t Param2,
                                                        uint32_t Param3, uint32_t Param4,
                                                        uint32_t Param5) {
    ReproReprogrammingOsRequest request;
    request.Param1 = Param1;
    request.Param2 = Param2;
    request.Param3 = Param3;
    request.Param4 = Param4;
    request.Param5 = Param5;
    return RunResultOnly<ReproReprogrammingOsResponse>(kCodeReprogramming, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproGetProgressOs(uint32_t* Progress, uint32_t* Detail) {
    if (!Progress || !Detail) return ReportNull(kLineGetProgressNull);
    CCmdBase request(0);
    ReproGetProgressOsResponse response;
    uint32_t error = ExecuteCommand(kCodeGetProgress, &request, &response, 0, 1);
    if (error != 0) return error;
    *Progress = response.Progress;
    *Detail = response.Detail;
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproDeleteSaveSoftwareNumberOs(SoftwareNumberEntry** Entries,
                                                                   uint32_t* Count) {
    if (!Entries || !Count) return ReportNull(kLineDeleteSaveSoftwareNumberNull);
    ReproDeleteSaveSoftwareNumberOsRequest request;
    ReproDeleteSaveSoftwareNumberOsResponse response;
    request.Capacity = *Count;
    uint32_t error = ExecuteCommand(kCodeDeleteSaveSoftwareNumber, &request, &response, 0, 1);
    if (error != 0) return error;
    *Count = response.EntryCount;
    if (response.EntryCount <= request.Capacity)
        CopyScattered(Entries, response.EntryCount, response.Entries, kLineDeleteSaveSoftwareNumberShort);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL ReproGetToolConditionOs(void) {
    ReproGetToolConditionOsRequest request;
    return RunResultOnly<ReproGetToolConditionOsResponse>(kCodeGetToolCondition, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproCheckNeedParentSoftwareInfoOs(uint32_t Selector) {
    ReproCheckNeedParentSoftwareInfoOsRequest request;
    request.Selector = Selector;
    return RunResultOnly<ReproCheckNeedParentSoftwareInfoOsResponse>(kCodeCheckNeedParentSoftwareInfo,
                                                                     &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproSetParentSoftwareInfoOs(uint32_t Value1, uint32_t Value2) {
    ReproSetParentSoftwareInfoOsRequest request;
    request.Value1 = Value1;
    request.Value2 = Value2;
    return RunResultOnly<ReproSetParentSoftwareInfoOsResponse>(kCodeSetParentSoftwareInfo, &request);
}

VANTRO_API uint32_t VANTRO_STDCALL ReproReadVehicleIdNumberOs(uint32_t Selector1,
                                                              uint32_t Selector2,
                                                              VehicleIdNumber* Out) {
    if (!Out) return ReportNull(kLineReadVehicleIdNumberNull);
    ReproReadVehicleIdNumberOsRequest request;
    ReproReadVehicleIdNumberOsResponse response;
    request.Selector1 = Selector1;
    request.Selector2 = Selector2;
    uint32_t error = ExecuteCommand(kCodeReadVehicleIdNumber, &request, &response, 0, 1);
    if (error != 0) return error;
    uint32_t length = response.Data.GetLength();
    if (length >= kVehicleIdNumberSize) {
        std::memcpy(Out->Bytes, response.Data.GetData(), kVehicleIdNumberSize);
    } else {
        if (length != 0) std::memcpy(Out->Bytes, response.Data.GetData(), length);
        std::memset(Out->Bytes + length, 0, kVehicleIdNumberSize - length);
        ErrReportf(QXR_ERROR_SHORT_RESPONSE, "[PC]%s(%d):", kSource, kLineReadVehicleIdNumberShort);
    }
    return response.Result;
}
