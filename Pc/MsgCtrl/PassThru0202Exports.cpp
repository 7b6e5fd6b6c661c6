// The stdcall pass-thru entry points (J2534 version 02.02 style) and the
// device's message and error-text variants. No open state, no call log: each
// builds its records, runs one exchange (retries 0, trace 1) and maps a
// failed exchange with MapExchangeResult; otherwise it returns the device's
// Result.
//
// Answers that do not fit the caller's memory are cut to fit (never written
// past it) and the cut is reported; see vantro/vantro_passthru0202.h.
#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/PassThru0202Text.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Tessra/CmdListPassThru0202.h"
#include "vantro/j2534.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_passthru0202.h"

namespace {

const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineReadRequestMemory = 5101;
constexpr int kLineReadAnswerCut = 5102;
constexpr int kLineWriteRequestMemory = 5111;
constexpr int kLineWriteAnswerCut = 5112;
constexpr int kLineIoctlRefused = 5121;
constexpr int kLineIoctlRequestMemory = 5122;
constexpr int kLineIoctlAnswerCut = 5123;
constexpr int kLineOemErrorTextCut = 5131;

constexpr uint8_t kCodeConnect = 64;
constexpr uint8_t kCodeDisconnect = 65;
constexpr uint8_t kCodeReadMsgs = 66;
constexpr uint8_t kCodeWriteMsgs = 67;
constexpr uint8_t kCodeOemGetLastError = 73;
constexpr uint8_t kCodeIoctl = 75;
constexpr uint8_t kCodeOemReadMsgsNoLength = 84;
constexpr uint8_t kCodeOemWriteMsgsInterrupt = 85;

constexpr uint32_t kStatusRefusedIoctl = 6;  // what _PassThruIoctl@16 returns without an exchange
constexpr uint32_t kInterruptTimeout = 1000;
constexpr uint32_t kMaxData = PASSTHRU_MSG_DATA_SIZE;

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// A request could not be built: reported here, mapped like a failed exchange.
uint32_t RequestMemoryFailed(int line) {
    ErrReportf(QXR_ERROR_OUT_OF_MEMORY, "[PC]%s(%d):", kSource, line);
    return MapExchangeResult(QXR_ERROR_OUT_OF_MEMORY);
}

void ReportCut(int line) { ErrReportf(QXR_ERROR_BUFFER_TOO_SMALL, "[PC]%s(%d):", kSource, line); }

// Stores an element's Data bytes in a caller message, at most 4128 of them.
// False when they had to be cut.
bool CopyData(PASSTHRU_MSG& out, const MsgRecord& in) {
    uint32_t length = in.Data.GetLength();
    uint32_t copied = Min(length, kMaxData);
    if (copied != 0) std::memcpy(out.Data, in.Data.GetData(), copied);
    return copied == length;
}

// An element's DataSize as a caller message may hold it.
uint32_t ClampDataSize(uint32_t dataSize, bool* cut) {
    if (dataSize <= kMaxData) return dataSize;
    *cut = true;
    return kMaxData;
}

// How many messages of an answer go to the caller: the count the device
// states, never more than the caller's capacity or the elements that came.
uint32_t MessagesToStore(const PassThruMsgsResponse& response, uint32_t capacity, bool* cut) {
    uint32_t stored = Min(Min(response.NumMsgs, capacity), response.Msgs.Count());
    if (stored != response.NumMsgs) *cut = true;
    return stored;
}

// Read worker of codes 66 and 84.
uint32_t ReadWorker(uint8_t code, uint32_t channelId, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                    uint32_t timeout) {
    const uint32_t capacity = (pMsg && pNumMsgs) ? *pNumMsgs : 0;
    PassThruReadMsgsRequest request;
    PassThruReadMsgsResponse response;
    request.ChannelID = channelId;
    request.NumMsgs = capacity;
    request.Timeout = timeout;
    for (uint32_t i = 0; i < capacity; ++i) {
        uint32_t index = request.Msgs.Append();
        if (index == MsgRecordList::kNoIndex) return RequestMemoryFailed(kLineReadRequestMemory);
        MsgRecord& element = *request.Msgs.At(index);
        element.ProtocolID = pMsg[i].ProtocolID;
        element.RxStatus = pMsg[i].RxStatus;
        element.TxFlags = pMsg[i].TxFlags;
        element.Timestamp = pMsg[i].Timestamp;
        element.DataSize = pMsg[i].DataSize;
        element.ExtraDataIndex = pMsg[i].ExtraDataIndex;
    }

    uint32_t status = MapExchangeResult(ExecuteCommand(code, &request, &response, 0, 1));
    if (status != 0) return status;

    bool cut = false;
    uint32_t stored = MessagesToStore(response, capacity, &cut);
    if (pNumMsgs) *pNumMsgs = stored;
    for (uint32_t i = 0; i < stored; ++i) {
        const MsgRecord& element = *response.Msgs.At(i);
        PASSTHRU_MSG& out = pMsg[i];
        out.ProtocolID = element.ProtocolID;
        out.RxStatus = element.RxStatus;
        out.TxFlags = element.TxFlags;
        out.Timestamp = element.Timestamp;
        out.DataSize = ClampDataSize(element.DataSize, &cut);
        out.ExtraDataIndex = element.ExtraDataIndex;
        if (!CopyData(out, element)) cut = true;
    }
    if (cut) ReportCut(kLineReadAnswerCut);
    return response.Result;
}

// Write worker of codes 67 and 85.
uint32_t WriteWorker(uint8_t code, uint32_t channelId, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                     uint32_t timeout) {
    const uint32_t capacity = (pMsg && pNumMsgs) ? *pNumMsgs : 0;
    PassThruWriteMsgsRequest request;
    PassThruWriteMsgsResponse response;
    request.ChannelID = channelId;
    request.NumMsgs = capacity;
    request.Timeout = timeout;
    for (uint32_t i = 0; i < capacity; ++i) {
        uint32_t index = request.Msgs.Append();
        if (index == MsgRecordList::kNoIndex) return RequestMemoryFailed(kLineWriteRequestMemory);
        MsgRecord& element = *request.Msgs.At(index);
        const PASSTHRU_MSG& in = pMsg[i];
        const uint32_t dataSize = Min(in.DataSize, kMaxData);
        element.ProtocolID = in.ProtocolID;
        element.RxStatus = 0;
        element.TxFlags = in.TxFlags;
        element.Timestamp = 0;
        element.DataSize = dataSize;
        element.ExtraDataIndex = in.ExtraDataIndex;
        if (element.Data.SetAt(in.Data, dataSize) != 0) return RequestMemoryFailed(kLineWriteRequestMemory);
    }

    uint32_t status = MapExchangeResult(ExecuteCommand(code, &request, &response, 0, 1));
    if (status != 0) return status;

    bool cut = false;
    uint32_t stored = MessagesToStore(response, capacity, &cut);
    if (pNumMsgs) *pNumMsgs = stored;
    for (uint32_t i = 0; i < stored; ++i) {
        const MsgRecord& element = *response.Msgs.At(i);
        PASSTHRU_MSG& out = pMsg[i];
        out.ProtocolID = element.ProtocolID;
        out.TxFlags = element.TxFlags;
        out.Timestamp = element.Timestamp;
        out.DataSize = ClampDataSize(element.DataSize, &cut);
    }
    if (cut) ReportCut(kLineWriteAnswerCut);
    return response.Result;
}

// Widens a short ANSI text, terminator included.
void WidenText(VWCHAR* out, const char* text) {
    if (!out) return;
    size_t i = 0;
    for (; text[i] != 0; ++i) out[i] = static_cast<VWCHAR>(static_cast<unsigned char>(text[i]));
    out[i] = 0;
}

uint32_t RefuseIoctl() {
    ErrReportf(QXR_ERROR_INVALID_PARAMETER, "[PC]%s(%d):", kSource, kLineIoctlRefused);
    return kStatusRefusedIoctl;
}

// Fills the Ioctl request from the caller's input; false when the ID or a
// pointer it needs is missing (status 6), *memoryFailed when a list element
// could not be had.
bool FillIoctlRequest(PassThruIoctlRequest& request, uint32_t ioctlId, void* pInput, void* pOutput,
                      bool* memoryFailed) {
    switch (ioctlId) {
    case kIoctl0202GetConfig:
    case kIoctl0202SetConfig: {
        if (!pInput) return false;
        const SCONFIG_LIST* list = static_cast<const SCONFIG_LIST*>(pInput);
        if (list->NumOfParams != 0 && !list->ConfigPtr) return false;
        request.NumOfParams = list->NumOfParams;
        for (uint32_t i = 0; i < list->NumOfParams; ++i) {
            uint32_t index = request.Configs.Append();
            if (index == ConfigRecordList::kNoIndex) {
                *memoryFailed = true;
                return true;
            }
            ConfigRecord& element = *request.Configs.At(index);
            element.Parameter = list->ConfigPtr[i].Parameter;
            element.Value = list->ConfigPtr[i].Value;
        }
        return true;
    }
    case kIoctl0202FiveBaudInit: {
        if (!pInput || !pOutput) return false;
        const SBYTE_ARRAY* in = static_cast<const SBYTE_ARRAY*>(pInput);
        const SBYTE_ARRAY* out = static_cast<const SBYTE_ARRAY*>(pOutput);
        if (!in->BytePtr || !out->BytePtr) return false;
        request.Address = in->BytePtr[0];
        return true;
    }
    case kIoctl0202FastInit: {
        if (!pInput || !pOutput) return false;
        const PASSTHRU_MSG* in = static_cast<const PASSTHRU_MSG*>(pInput);
        const uint32_t dataSize = Min(in->DataSize, kMaxData);
        request.Msg.ProtocolID = in->ProtocolID;
        request.Msg.RxStatus = 0;
        request.Msg.TxFlags = 0;
        request.Msg.Timestamp = 0;
        request.Msg.DataSize = dataSize;
        request.Msg.ExtraDataIndex = in->ExtraDataIndex;
        if (request.Msg.Data.SetAt(in->Data, dataSize) != 0) *memoryFailed = true;
        return true;
    }
    case kIoctl0202ClearTxBuffer:
    case kIoctl0202ClearRxBuffer:
        return true;
    case kIoctl0202Device0:
        if (!pInput) return false;
        std::memcpy(request.Bytes, pInput, 3);
        return true;
    case kIoctl0202Device1:
        return pOutput != nullptr;
    case kIoctl0202Device2: {
        if (!pInput || !pOutput) return false;
        const uint8_t* in = static_cast<const uint8_t*>(pInput);
        for (int i = 0; i < 3; ++i) std::memcpy(&request.Words[i], in + 2 * i, 2);
        return true;
    }
    case kIoctl0202Device3:
        if (!pInput) return false;
        std::memcpy(&request.Value, pInput, 4);
        return true;
    default:
        return false;
    }
}

// Takes the Ioctl answer by the ID that was sent; false when it had to be cut.
bool StoreIoctlAnswer(const PassThruIoctlResponse& response, uint32_t ioctlId, void* pInput,
                      void* pOutput, uint32_t capacity) {
    bool cut = false;
    switch (ioctlId) {
    case kIoctl0202GetConfig: {
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        uint32_t stored = Min(Min(response.NumOfParams, capacity), response.Configs.Count());
        if (stored != response.NumOfParams) cut = true;
        list->NumOfParams = stored;
        for (uint32_t i = 0; i < stored; ++i) {
            const ConfigRecord& element = *response.Configs.At(i);
            list->ConfigPtr[i].Parameter = element.Parameter;
            list->ConfigPtr[i].Value = element.Value;
        }
        break;
    }
    case kIoctl0202FiveBaudInit: {
        SBYTE_ARRAY* out = static_cast<SBYTE_ARRAY*>(pOutput);
        out->BytePtr[0] = response.KeyByte1;
        out->BytePtr[1] = response.KeyByte2;
        break;
    }
    case kIoctl0202FastInit: {
        PASSTHRU_MSG* out = static_cast<PASSTHRU_MSG*>(pOutput);
        out->ProtocolID = response.Msg.ProtocolID;
        out->DataSize = ClampDataSize(response.Msg.DataSize, &cut);
        out->ExtraDataIndex = response.Msg.ExtraDataIndex;
        if (!CopyData(*out, response.Msg)) cut = true;
        break;
    }
    case kIoctl0202Device1:
        std::memcpy(pOutput, &response.Word, 2);
        break;
    case kIoctl0202Device2:
        std::memcpy(pOutput, &response.Value, 4);
        break;
    default:
        break;
    }
    return !cut;
}

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL PassThruReadVersion_0202(VWCHAR* pFirmwareVersion,
                                                            VWCHAR* pDllVersion,
                                                            VWCHAR* pApiVersion) {
    WidenText(pFirmwareVersion, "01.00");
    WidenText(pDllVersion, "01.00");
    WidenText(pApiVersion, "02.02");
    return 0;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruConnect_0202(uint32_t ProtocolID, uint32_t Flags,
                                                        uint32_t* pChannelID) {
    PassThruConnectRequest request;
    PassThruConnectResponse response;
    request.ProtocolID = ProtocolID;
    request.Flags = Flags;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeConnect, &request, &response, 0, 1));
    if (status != 0) return status;
    if (pChannelID) *pChannelID = response.ChannelID;
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruDisconnect_0202(uint32_t ChannelID) {
    PassThruDisconnectRequest request;
    PassThruDisconnectResponse response;
    request.ChannelID = ChannelID;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeDisconnect, &request, &response, 0, 1));
    return status != 0 ? status : response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruGetLastError_0202(VWCHAR* pErrorDescription) {
    if (!pErrorDescription) return 0;
    std::lock_guard<std::mutex> lock(g_passThruLock);
    size_t i = 0;
    for (; i + 1 < VANTRO_PASSTHRU0202_TEXT_UNITS && WideLastError[i] != 0; ++i)
        pErrorDescription[i] = WideLastError[i];
    pErrorDescription[i] = 0;
    return 0;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemGetLastError(VWCHAR* pErrorDescription) {
    PassThruOemGetLastErrorRequest request;
    PassThruOemGetLastErrorResponse response;
    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeOemGetLastError, &request, &response, 0, 1));
    if (status != 0) return status;
    if (!CopyPassThruText(pErrorDescription, response.ErrorDescription)) ReportCut(kLineOemErrorTextCut);
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruReadMsgs_0202(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                         uint32_t* pNumMsgs, uint32_t Timeout) {
    return ReadWorker(kCodeReadMsgs, ChannelID, pMsg, pNumMsgs, Timeout);
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemReadMsgsNoLength(uint32_t ChannelID,
                                                               PASSTHRU_MSG* pMsg,
                                                               uint32_t* pNumMsgs,
                                                               uint32_t Timeout) {
    return ReadWorker(kCodeOemReadMsgsNoLength, ChannelID, pMsg, pNumMsgs, Timeout);
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruWriteMsgs_0202(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                          uint32_t* pNumMsgs, uint32_t Timeout) {
    return WriteWorker(kCodeWriteMsgs, ChannelID, pMsg, pNumMsgs, Timeout);
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruOemWriteMsgsInterrupt(uint32_t ChannelID,
                                                                 PASSTHRU_MSG* pMsg) {
    uint32_t numMsgs = 1;
    return WriteWorker(kCodeOemWriteMsgsInterrupt, ChannelID, pMsg, &numMsgs, kInterruptTimeout);
}

VANTRO_API uint32_t VANTRO_STDCALL PassThruIoctl_0202(uint32_t ChannelID, uint32_t IoctlID,
                                                      void* pInput, void* pOutput) {
    PassThruIoctlRequest request;
    PassThruIoctlResponse response;
    request.ChannelID = ChannelID;
    request.IoctlID = IoctlID;
    bool memoryFailed = false;
    if (!FillIoctlRequest(request, IoctlID, pInput, pOutput, &memoryFailed)) return RefuseIoctl();
    if (memoryFailed) return RequestMemoryFailed(kLineIoctlRequestMemory);
    // GET_CONFIG fills at most the pairs the caller's list had on entry.
    const uint32_t capacity = request.NumOfParams;

    uint32_t status = MapExchangeResult(ExecuteCommand(kCodeIoctl, &request, &response, 0, 1));
    if (status != 0) return status;
    if (!StoreIoctlAnswer(response, IoctlID, pInput, pOutput, capacity)) ReportCut(kLineIoctlAnswerCut);
    return response.Result;
}
