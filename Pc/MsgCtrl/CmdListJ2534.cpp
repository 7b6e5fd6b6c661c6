// The J2534 version 04.04 records: codecs, texts, message arrays, filters,
// versions, the last error and every Ioctl form.
#include "Tessra/CmdListJ2534.h"

#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdIo.h"

namespace {

const char kSource[] = "Include/Tessra/CmdList";
// Places in this file that refuse an answer (reported once, here).
constexpr int kLineDataSizeRead = 4210;
constexpr int kLineDataSizeWrite = 4218;
constexpr int kLineTextTooLong = 4262;
constexpr int kLineTooManyMsgs = 4305;
constexpr int kLineIoctlEcho = 4561;

constexpr uint32_t kMinWireMsg = 24;     // six u32 header members
constexpr uint32_t kWireConfigPair = 8;  // Parameter and Value

// Sets the stream's error unless it already has one.
void Fail(CCmdReader& reader, uint32_t code) {
    if (reader.GetLastError() == 0) reader.SetLastError(code);
}
void Fail(CCmdWriter& writer, uint32_t code) {
    if (writer.GetLastError() == 0) writer.SetLastError(code);
}

void Refuse(CCmdReader& reader, uint32_t code, int line) {
    if (reader.GetLastError() != 0) return;
    ErrReportf(code, "[PC]%s(%d):", kSource, line);
    reader.SetLastError(code);
}

// Raw bytes; a count of 0 moves nothing (the writer refuses size 0).
void WriteRaw(CCmdWriter& writer, const void* data, uint32_t size) {
    if (size != 0) writer.Write(data, static_cast<int32_t>(size));
}
bool ReadRaw(CCmdReader& reader, void* data, uint32_t size) {
    if (size == 0) return reader.GetLastError() == 0;
    return reader.Read(data, static_cast<int32_t>(size)) == 0;
}

bool ReadU32(CCmdReader& reader, uint32_t& value) {
    Xfer(reader, value);
    return reader.GetLastError() == 0;
}

PASSTHRU_MSG* AllocMessages(uint32_t count) {
    return static_cast<PASSTHRU_MSG*>(vos::MemAlloc(static_cast<size_t>(count) * kPassThruMsgStride));
}

// Reads one message into *slot, allocating it when the slot is empty.
// Returns false when the allocation failed (nothing set on the reader).
bool ReadOwnedMessage(CCmdReader& reader, PASSTHRU_MSG*& slot, uint32_t& owned, uint32_t bit) {
    if (!slot) {
        slot = AllocMessages(1);
        if (!slot) return false;
        std::memset(slot, 0, kPassThruMsgStride);
        owned |= bit;
    }
    PassThruMsgCodec codec;
    codec.Set(slot, kMaskMsgAll);
    codec.Read(reader);
    return true;
}

void FreeOwnedMessage(PASSTHRU_MSG*& slot, uint32_t& owned, uint32_t bit) {
    if (owned & bit) vos::MemFree(slot);
    owned &= ~bit;
    slot = nullptr;
}

void FreeOwnedText(char*& text, uint32_t& owned, uint32_t bit) {
    if (owned & bit) vos::MemFree(text);
    owned &= ~bit;
    text = nullptr;
}

// Reads a text into *slot through a TextField and adopts what it allocated.
void ReadText(CCmdReader& reader, char*& slot, uint32_t& owned, uint32_t bit) {
    TextField field;
    field.Set(slot);
    field.Read(reader);
    if (char* mine = field.TakeOwned()) {
        slot = mine;
        owned |= bit;
    }
}

void WriteText(CCmdWriter& writer, char* text) {
    TextField field;
    field.Set(text);
    field.Write(writer);
}

}  // namespace

// ---- PassThruMsgCodec ------------------------------------------------------------

PassThruMsgCodec::PassThruMsgCodec() : CCmdCore(1, 0), m_pTarget(nullptr), m_dwMask(0) {}

void PassThruMsgCodec::Set(PASSTHRU_MSG* target, uint32_t mask) {
    m_pTarget = target;
    m_dwMask = mask;
}

void PassThruMsgCodec::Write(CCmdWriter& writer) {
    if (!m_pTarget) {
        Fail(writer, kTessraInvalidParameter);
        return;
    }
    PASSTHRU_MSG& m = *m_pTarget;
    if ((m_dwMask & kFieldData) && m.DataSize > kPassThruMaxData) {
        // Data would be read past the caller's message.
        ErrReportf(kTessraInvalidParameter, "[PC]%s(%d):", kSource, kLineDataSizeWrite);
        Fail(writer, kTessraInvalidParameter);
        return;
    }
    if (m_dwMask & kFieldProtocolID) Xfer(writer, m.ProtocolID);
    if (m_dwMask & kFieldRxStatus) Xfer(writer, m.RxStatus);
    if (m_dwMask & kFieldTxFlags) Xfer(writer, m.TxFlags);
    if (m_dwMask & kFieldTimestamp) Xfer(writer, m.Timestamp);
    if (m_dwMask & kFieldDataSize) Xfer(writer, m.DataSize);
    if (m_dwMask & kFieldExtraDataIndex) Xfer(writer, m.ExtraDataIndex);
    if (m_dwMask & kFieldData) WriteRaw(writer, m.Data, m.DataSize);
}

void PassThruMsgCodec::Read(CCmdReader& reader) {
    if (!m_pTarget) {
        Fail(reader, kTessraInvalidParameter);
        return;
    }
    PASSTHRU_MSG& m = *m_pTarget;
    if (m_dwMask & kFieldProtocolID) Xfer(reader, m.ProtocolID);
    if (m_dwMask & kFieldRxStatus) Xfer(reader, m.RxStatus);
    if (m_dwMask & kFieldTxFlags) Xfer(reader, m.TxFlags);
    if (m_dwMask & kFieldTimestamp) Xfer(reader, m.Timestamp);
    if (m_dwMask & kFieldDataSize) {
        uint32_t size = m.DataSize;
        if (!ReadU32(reader, size)) return;
        if (size > kPassThruMaxData) {
            Refuse(reader, kJ2534RecordTooLarge, kLineDataSizeRead);
            return;
        }
        m.DataSize = size;
    }
    if (m_dwMask & kFieldExtraDataIndex) Xfer(reader, m.ExtraDataIndex);
    if (m_dwMask & kFieldData) {
        if (m.DataSize > kPassThruMaxData) {
            Refuse(reader, kJ2534RecordTooLarge, kLineDataSizeRead);
            return;
        }
        ReadRaw(reader, m.Data, m.DataSize);
    }
}

// ---- ConfigCodec ---------------------------------------------------------------------

ConfigCodec::ConfigCodec() : CCmdCore(1, 0), m_pTarget(nullptr), m_dwMask(0) {}

void ConfigCodec::Set(SCONFIG* target, uint32_t mask) {
    m_pTarget = target;
    m_dwMask = mask;
}

void ConfigCodec::Write(CCmdWriter& writer) {
    if (!m_pTarget) {
        Fail(writer, kTessraInvalidParameter);
        return;
    }
    if (m_dwMask & kFieldParameter) Xfer(writer, m_pTarget->Parameter);
    if (m_dwMask & kFieldValue) Xfer(writer, m_pTarget->Value);
}

void ConfigCodec::Read(CCmdReader& reader) {
    if (!m_pTarget) {
        Fail(reader, kTessraInvalidParameter);
        return;
    }
    if (m_dwMask & kFieldParameter) Xfer(reader, m_pTarget->Parameter);
    if (m_dwMask & kFieldValue) Xfer(reader, m_pTarget->Value);
}

// ---- TextField ---------------------------------------------------------------------------

TextField::TextField() : CCmdCore(1, 0), m_pText(nullptr), m_bOwned(false), m_dwLength(0) {}

TextField::~TextField() {
    if (m_bOwned) vos::MemFree(m_pText);
}

void TextField::Set(char* text) {
    if (m_bOwned) vos::MemFree(m_pText);
    m_bOwned = false;
    m_pText = text;
    m_dwLength = 0;
}

char* TextField::TakeOwned() {
    if (!m_bOwned) return nullptr;
    m_bOwned = false;
    return m_pText;
}

uint32_t TextField::LengthOf(const char* text) {
    if (!text) return 0;
    uint32_t n = 0;
    while (n < kTextFieldMax && text[n] != 0) ++n;
    return n < kTextFieldMax ? n + 1 : kTextFieldMax;
}

void TextField::Write(CCmdWriter& writer) {
    m_dwLength = LengthOf(m_pText);
    Xfer(writer, m_dwLength);
    WriteRaw(writer, m_pText, m_dwLength);
}

void TextField::Read(CCmdReader& reader) {
    m_dwLength = 0;
    uint32_t length = 0;
    if (!ReadU32(reader, length) || length == 0) return;
    if (length > kTextFieldMax) {
        Refuse(reader, kJ2534RecordTooLarge, kLineTextTooLong);
        return;
    }
    if (!m_pText) {
        m_pText = static_cast<char*>(vos::MemAlloc(length));
        if (!m_pText) {
            Fail(reader, kTessraOutOfMemory);
            return;
        }
        m_bOwned = true;
    }
    if (!ReadRaw(reader, m_pText, length)) return;
    // The last byte of a text is its terminator: a text that filled all 80
    // bytes loses its 80th character.
    m_pText[length - 1] = 0;
    m_dwLength = length;
}

// ---- plain requests and responses ---------------------------------------------------

J2534ConnectRequest::J2534ConnectRequest() : CCmdBase(0) { Clear(); }
void J2534ConnectRequest::Clear() { ProtocolID = Flags = 0; }
void J2534ConnectRequest::Write(CCmdWriter& w) {
    Xfer(w, ProtocolID);
    Xfer(w, Flags);
}
void J2534ConnectRequest::Read(CCmdReader& r) {
    Xfer(r, ProtocolID);
    Xfer(r, Flags);
}

J2534ConnectResponse::J2534ConnectResponse() : CCmdBase(0) { Clear(); }
void J2534ConnectResponse::Clear() { Result = ChannelID = 0; }
void J2534ConnectResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result == 0) Xfer(w, ChannelID);
}
void J2534ConnectResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result) || Result != 0) return;
    Xfer(r, ChannelID);
}

J2534ResultResponse::J2534ResultResponse() : CCmdBase(0) { Clear(); }
void J2534ResultResponse::Clear() { Result = 0; }
void J2534ResultResponse::Write(CCmdWriter& w) { Xfer(w, Result); }
void J2534ResultResponse::Read(CCmdReader& r) { Xfer(r, Result); }

J2534DisconnectRequest::J2534DisconnectRequest() : CCmdBase(0) { Clear(); }
void J2534DisconnectRequest::Clear() { ChannelID = 0; }
void J2534DisconnectRequest::Write(CCmdWriter& w) { Xfer(w, ChannelID); }
void J2534DisconnectRequest::Read(CCmdReader& r) { Xfer(r, ChannelID); }

J2534StopPeriodicMsgRequest::J2534StopPeriodicMsgRequest() : CCmdBase(0) { Clear(); }
void J2534StopPeriodicMsgRequest::Clear() { ChannelID = MsgID = 0; }
void J2534StopPeriodicMsgRequest::Write(CCmdWriter& w) {
    Xfer(w, ChannelID);
    Xfer(w, MsgID);
}
void J2534StopPeriodicMsgRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, MsgID);
}

J2534StopMsgFilterRequest::J2534StopMsgFilterRequest() : CCmdBase(0) { Clear(); }
void J2534StopMsgFilterRequest::Clear() { ChannelID = FilterID = 0; }
void J2534StopMsgFilterRequest::Write(CCmdWriter& w) {
    Xfer(w, ChannelID);
    Xfer(w, FilterID);
}
void J2534StopMsgFilterRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, FilterID);
}

J2534SetProgrammingVoltageRequest::J2534SetProgrammingVoltageRequest() : CCmdBase(0) { Clear(); }
void J2534SetProgrammingVoltageRequest::Clear() { PinNumber = Voltage = 0; }
void J2534SetProgrammingVoltageRequest::Write(CCmdWriter& w) {
    Xfer(w, PinNumber);
    Xfer(w, Voltage);
}
void J2534SetProgrammingVoltageRequest::Read(CCmdReader& r) {
    Xfer(r, PinNumber);
    Xfer(r, Voltage);
}

// ---- message arrays -----------------------------------------------------------------------

J2534MsgArrayRequest::J2534MsgArrayRequest(uint32_t mask) : CCmdBase(0), m_dwMask(mask) { Clear(); }

void J2534MsgArrayRequest::Clear() {
    ChannelID = NumMsgs = Timeout = 0;
    pMsg = nullptr;
}

void J2534MsgArrayRequest::Write(CCmdWriter& w) {
    Xfer(w, ChannelID);
    Xfer(w, NumMsgs);
    Xfer(w, Timeout);
    if (!pMsg) {
        Fail(w, kTessraInvalidParameter);
        return;
    }
    PassThruMsgCodec codec;
    for (uint32_t i = 0; i < NumMsgs && w.GetLastError() == 0; ++i) {
        codec.Set(pMsg + i, m_dwMask);
        codec.Write(w);
    }
}

void J2534MsgArrayRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, NumMsgs);
    Xfer(r, Timeout);
    if (!pMsg) {
        Fail(r, kTessraInvalidParameter);
        return;
    }
    PassThruMsgCodec codec;
    for (uint32_t i = 0; i < NumMsgs && r.GetLastError() == 0; ++i) {
        codec.Set(pMsg + i, m_dwMask);
        codec.Read(r);
    }
}

J2534MsgArrayResponse::J2534MsgArrayResponse() : CCmdBase(0), pMsg(nullptr), Owned(0) { Clear(); }
J2534MsgArrayResponse::~J2534MsgArrayResponse() { Clear(); }

void J2534MsgArrayResponse::Clear() {
    FreeOwnedMessage(pMsg, Owned, 0x01);
    Result = NumMsgs = Capacity = 0;
    pMsg = nullptr;
}

void J2534MsgArrayResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result != 0 && Result != ERR_TIMEOUT) return;
    Xfer(w, NumMsgs);
    if (NumMsgs == 0) return;
    if (!pMsg) {
        Fail(w, kTessraInvalidParameter);
        return;
    }
    PassThruMsgCodec codec;
    for (uint32_t i = 0; i < NumMsgs && w.GetLastError() == 0; ++i) {
        codec.Set(pMsg + i, kMaskMsgAll);
        codec.Write(w);
    }
}

void J2534MsgArrayResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result)) return;
    if (Result != 0 && Result != ERR_TIMEOUT) return;
    if (!ReadU32(r, NumMsgs)) return;
    if (NumMsgs == 0) return;
    if (!pMsg) {
        // No array from the caller: one of our own, never larger than what
        // the rest of the answer can fill.
        if (NumMsgs > r.Remaining() / kMinWireMsg) {
            Fail(r, kTessraShortRead);
            return;
        }
        pMsg = AllocMessages(NumMsgs);
        if (!pMsg) {
            Fail(r, kTessraOutOfMemory);
            return;
        }
        Owned |= 0x01;
        Capacity = NumMsgs;
    } else if (NumMsgs > Capacity) {
        Refuse(r, kJ2534RecordTooLarge, kLineTooManyMsgs);
        return;
    }
    PassThruMsgCodec codec;
    for (uint32_t i = 0; i < NumMsgs && r.GetLastError() == 0; ++i) {
        codec.Set(pMsg + i, kMaskMsgAll);
        codec.Read(r);
    }
}

// ---- periodic messages -----------------------------------------------------------------

J2534StartPeriodicMsgRequest::J2534StartPeriodicMsgRequest() : CCmdBase(0) { Clear(); }

void J2534StartPeriodicMsgRequest::Clear() {
    ChannelID = TimeInterval = 0;
    pMsg = nullptr;
}

void J2534StartPeriodicMsgRequest::Write(CCmdWriter& w) {
    Xfer(w, ChannelID);
    Xfer(w, TimeInterval);
    PassThruMsgCodec codec;
    codec.Set(pMsg, kMaskMsgAll);
    codec.Write(w);
}

void J2534StartPeriodicMsgRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, TimeInterval);
    PassThruMsgCodec codec;
    codec.Set(pMsg, kMaskMsgAll);
    codec.Read(r);
}

J2534StartPeriodicMsgResponse::J2534StartPeriodicMsgResponse() : CCmdBase(0), pMsg(nullptr), Owned(0) {
    Clear();
}
J2534StartPeriodicMsgResponse::~J2534StartPeriodicMsgResponse() { Clear(); }

void J2534StartPeriodicMsgResponse::Clear() {
    FreeOwnedMessage(pMsg, Owned, 0x01);
    Result = MsgID = 0;
}

void J2534StartPeriodicMsgResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result != 0) return;
    Xfer(w, MsgID);
    PassThruMsgCodec codec;
    codec.Set(pMsg, kMaskMsgAll);
    codec.Write(w);
}

void J2534StartPeriodicMsgResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result) || Result != 0) return;
    if (!ReadU32(r, MsgID)) return;
    if (!ReadOwnedMessage(r, pMsg, Owned, 0x01)) Fail(r, kTessraOutOfMemory);
}

// ---- filters -------------------------------------------------------------------------------

J2534StartMsgFilterRequest::J2534StartMsgFilterRequest() : CCmdBase(0) { Clear(); }

void J2534StartMsgFilterRequest::Clear() {
    ChannelID = FilterType = 0;
    Present = 0;
    pMaskMsg = pPatternMsg = pFlowControlMsg = nullptr;
}

void J2534StartMsgFilterRequest::Write(CCmdWriter& w) {
    Present = static_cast<uint8_t>((pMaskMsg ? kPresentMask : 0) | (pPatternMsg ? kPresentPattern : 0) |
                                   (pFlowControlMsg ? kPresentFlowControl : 0));
    Xfer(w, ChannelID);
    Xfer(w, FilterType);
    Xfer(w, Present);
    PASSTHRU_MSG* msgs[3] = {pMaskMsg, pPatternMsg, pFlowControlMsg};
    PassThruMsgCodec codec;
    for (PASSTHRU_MSG* m : msgs) {
        if (!m) continue;
        codec.Set(m, kMaskMsgAll);
        codec.Write(w);
    }
}

void J2534StartMsgFilterRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, FilterType);
    Xfer(r, Present);
    PASSTHRU_MSG* msgs[3] = {pMaskMsg, pPatternMsg, pFlowControlMsg};
    PassThruMsgCodec codec;
    for (int i = 0; i < 3; ++i) {
        if (!(Present & (1u << i))) continue;
        codec.Set(msgs[i], kMaskMsgAll);
        codec.Read(r);
    }
}

J2534StartMsgFilterResponse::J2534StartMsgFilterResponse()
    : CCmdBase(0), pMaskMsg(nullptr), pPatternMsg(nullptr), pFlowControlMsg(nullptr), Owned(0) {
    Clear();
}
J2534StartMsgFilterResponse::~J2534StartMsgFilterResponse() { Clear(); }

PASSTHRU_MSG** J2534StartMsgFilterResponse::Slot(int index) {
    return index == 0 ? &pMaskMsg : index == 1 ? &pPatternMsg : &pFlowControlMsg;
}

void J2534StartMsgFilterResponse::Clear() {
    for (int i = 0; i < 3; ++i) FreeOwnedMessage(*Slot(i), Owned, 1u << i);
    Result = FilterID = 0;
    Present = 0;
}

void J2534StartMsgFilterResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result != 0) return;
    Xfer(w, FilterID);
    Xfer(w, Present);
    PassThruMsgCodec codec;
    for (int i = 0; i < 3; ++i) {
        if (!(Present & (1u << i))) continue;
        codec.Set(*Slot(i), kMaskMsgAll);
        codec.Write(w);
    }
}

void J2534StartMsgFilterResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result) || Result != 0) return;
    if (!ReadU32(r, FilterID)) return;
    Xfer(r, Present);
    for (int i = 0; i < 3 && r.GetLastError() == 0; ++i) {
        uint32_t bit = 1u << i;
        if (Present & bit) {
            if (!ReadOwnedMessage(r, *Slot(i), Owned, bit)) {
                Fail(r, kTessraOutOfMemory);
                return;
            }
        } else {
            // Not sent back: the caller's message of this role stays as it was.
            FreeOwnedMessage(*Slot(i), Owned, bit);
        }
    }
}

// ---- versions and the last error -----------------------------------------------------------

J2534ReadVersionResponse::J2534ReadVersionResponse()
    : CCmdBase(0), pFirmwareVersion(nullptr), pDllVersion(nullptr), pApiVersion(nullptr), Owned(0) {
    Clear();
}
J2534ReadVersionResponse::~J2534ReadVersionResponse() { Clear(); }

void J2534ReadVersionResponse::Clear() {
    FreeOwnedText(pFirmwareVersion, Owned, 0x01);
    FreeOwnedText(pDllVersion, Owned, 0x02);
    FreeOwnedText(pApiVersion, Owned, 0x04);
    Result = 0;
}

void J2534ReadVersionResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result != 0) return;
    WriteText(w, pFirmwareVersion);
    WriteText(w, pDllVersion);
    WriteText(w, pApiVersion);
}

void J2534ReadVersionResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result) || Result != 0) return;
    ReadText(r, pFirmwareVersion, Owned, 0x01);
    if (r.GetLastError() == 0) ReadText(r, pDllVersion, Owned, 0x02);
    if (r.GetLastError() == 0) ReadText(r, pApiVersion, Owned, 0x04);
}

LocalJ2534GetLastErrorResponse::LocalJ2534GetLastErrorResponse()
    : CCmdBase(0), pErrorDescription(nullptr), TextLength(0), Owned(0) {
    Clear();
}
LocalJ2534GetLastErrorResponse::~LocalJ2534GetLastErrorResponse() { Clear(); }

void LocalJ2534GetLastErrorResponse::Clear() {
    FreeOwnedText(pErrorDescription, Owned, 0x01);
    Result = 0;
    TextLength = 0;
}

void LocalJ2534GetLastErrorResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result == 0) WriteText(w, pErrorDescription);
}

void LocalJ2534GetLastErrorResponse::Read(CCmdReader& r) {
    TextLength = 0;
    if (!ReadU32(r, Result) || Result != 0) return;
    TextField field;
    field.Set(pErrorDescription);
    field.Read(r);
    TextLength = field.GetLength();
    if (char* mine = field.TakeOwned()) {
        pErrorDescription = mine;
        Owned |= 0x01;
    }
}

// ---- Ioctl ---------------------------------------------------------------------------------------

LocalJ2534IoctlRequest::LocalJ2534IoctlRequest() : CCmdBase(0) { Clear(); }

void LocalJ2534IoctlRequest::Clear() {
    ChannelID = IoctlID = 0;
    pInput = pOutput = nullptr;
}

void LocalJ2534IoctlRequest::Write(CCmdWriter& w) {
    Xfer(w, ChannelID);
    Xfer(w, IoctlID);
    switch (IoctlID) {
    case GET_CONFIG:
    case SET_CONFIG: {
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        if (!list || !list->ConfigPtr) break;
        Xfer(w, list->NumOfParams);
        ConfigCodec codec;
        uint32_t mask = IoctlID == GET_CONFIG ? kMaskConfigParameter : kMaskConfigPair;
        for (uint32_t i = 0; i < list->NumOfParams && w.GetLastError() == 0; ++i) {
            codec.Set(list->ConfigPtr + i, mask);
            codec.Write(w);
        }
        break;
    }
    case FIVE_BAUD_INIT:
    case ADD_TO_FUNCT_MSG_LOOKUP_TABLE:
    case DELETE_FROM_FUNCT_MSG_LOOKUP_TABLE: {
        SBYTE_ARRAY* in = static_cast<SBYTE_ARRAY*>(pInput);
        if (!in || !in->BytePtr) break;
        Xfer(w, in->NumOfBytes);
        WriteRaw(w, in->BytePtr, in->NumOfBytes);
        if (IoctlID == FIVE_BAUD_INIT && pOutput) Xfer(w, static_cast<SBYTE_ARRAY*>(pOutput)->NumOfBytes);
        break;
    }
    case FAST_INIT:
        if (pInput) {
            PassThruMsgCodec codec;
            codec.Set(static_cast<PASSTHRU_MSG*>(pInput), kMaskMsgAll);
            codec.Write(w);
        }
        break;
    default:
        break;
    }
}

void LocalJ2534IoctlRequest::Read(CCmdReader& r) {
    Xfer(r, ChannelID);
    Xfer(r, IoctlID);
    switch (IoctlID) {
    case GET_CONFIG:
    case SET_CONFIG: {
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        if (!list || !list->ConfigPtr) break;
        Xfer(r, list->NumOfParams);
        ConfigCodec codec;
        uint32_t mask = IoctlID == GET_CONFIG ? kMaskConfigParameter : kMaskConfigPair;
        for (uint32_t i = 0; i < list->NumOfParams && r.GetLastError() == 0; ++i) {
            codec.Set(list->ConfigPtr + i, mask);
            codec.Read(r);
        }
        break;
    }
    case FIVE_BAUD_INIT:
    case ADD_TO_FUNCT_MSG_LOOKUP_TABLE:
    case DELETE_FROM_FUNCT_MSG_LOOKUP_TABLE: {
        SBYTE_ARRAY* in = static_cast<SBYTE_ARRAY*>(pInput);
        if (!in || !in->BytePtr) break;
        Xfer(r, in->NumOfBytes);
        ReadRaw(r, in->BytePtr, in->NumOfBytes);
        if (IoctlID == FIVE_BAUD_INIT && pOutput) Xfer(r, static_cast<SBYTE_ARRAY*>(pOutput)->NumOfBytes);
        break;
    }
    case FAST_INIT:
        if (pInput) {
            PassThruMsgCodec codec;
            codec.Set(static_cast<PASSTHRU_MSG*>(pInput), kMaskMsgAll);
            codec.Read(r);
        }
        break;
    default:
        break;
    }
}

LocalJ2534IoctlResponse::LocalJ2534IoctlResponse()
    : CCmdBase(0), IoctlID(0), pInput(nullptr), pOutput(nullptr), Owned(0) {
    Clear();
}
LocalJ2534IoctlResponse::~LocalJ2534IoctlResponse() { FreeOwned(); }

void LocalJ2534IoctlResponse::FreeOwned() {
    if (Owned & 0x01) {
        // Only GET_CONFIG supplies its own list.
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        vos::MemFree(list->ConfigPtr);
        vos::MemFree(list);
        pInput = nullptr;
    }
    if (Owned & 0x02) {
        if (IoctlID == FIVE_BAUD_INIT) {
            SBYTE_ARRAY* out = static_cast<SBYTE_ARRAY*>(pOutput);
            vos::MemFree(out->BytePtr);
            vos::MemFree(out);
        } else {
            vos::MemFree(pOutput);  // FAST_INIT's message
        }
        pOutput = nullptr;
    }
    Owned = 0;
}

void LocalJ2534IoctlResponse::Clear() {
    FreeOwned();
    Result = 0;
    IoctlID = 0;
    pInput = pOutput = nullptr;
}

void LocalJ2534IoctlResponse::Write(CCmdWriter& w) {
    Xfer(w, Result);
    if (Result != 0) return;
    Xfer(w, IoctlID);
    switch (IoctlID) {
    case GET_CONFIG: {
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        uint32_t count = list && list->ConfigPtr ? list->NumOfParams : 0;
        Xfer(w, count);
        ConfigCodec codec;
        for (uint32_t i = 0; i < count && w.GetLastError() == 0; ++i) {
            codec.Set(list->ConfigPtr + i, kMaskConfigPair);
            codec.Write(w);
        }
        break;
    }
    case READ_VBATT:
    case READ_PROG_VOLTAGE: {
        uint32_t value = pOutput ? *static_cast<uint32_t*>(pOutput) : 0;
        Xfer(w, value);
        break;
    }
    case FIVE_BAUD_INIT: {
        SBYTE_ARRAY* out = static_cast<SBYTE_ARRAY*>(pOutput);
        uint32_t count = out && out->BytePtr ? out->NumOfBytes : 0;
        Xfer(w, count);
        if (count) WriteRaw(w, out->BytePtr, count);
        break;
    }
    case FAST_INIT: {
        PassThruMsgCodec codec;
        codec.Set(static_cast<PASSTHRU_MSG*>(pOutput), kMaskMsgAll);
        codec.Write(w);
        break;
    }
    default:
        break;
    }
}

void LocalJ2534IoctlResponse::Read(CCmdReader& r) {
    if (!ReadU32(r, Result) || Result != 0) return;
    uint32_t echoed = 0;
    if (!ReadU32(r, echoed)) return;
    if (echoed != IoctlID) {
        // Another ID's output form would land in structures of another type.
        Refuse(r, kJ2534RecordMismatch, kLineIoctlEcho);
        return;
    }
    switch (IoctlID) {
    case GET_CONFIG: {
        SCONFIG_LIST* list = static_cast<SCONFIG_LIST*>(pInput);
        if (!list) {
            list = static_cast<SCONFIG_LIST*>(vos::MemAlloc(sizeof(SCONFIG_LIST)));
            if (!list) return;  // ends the reading, no error
            std::memset(list, 0, sizeof *list);
            pInput = list;
            Owned |= 0x01;
        }
        uint32_t count = 0;
        if (!ReadU32(r, count)) return;
        if (Owned & 0x01) {
            if (count > r.Remaining() / kWireConfigPair) {
                Fail(r, kTessraShortRead);
                return;
            }
            list->NumOfParams = count;
            if (count != 0) {
                list->ConfigPtr = static_cast<SCONFIG*>(vos::MemAlloc(static_cast<size_t>(count) * sizeof(SCONFIG)));
                if (!list->ConfigPtr) return;
            }
        }
        if (!list->ConfigPtr && list->NumOfParams > 0) return;
        uint32_t n = count < list->NumOfParams ? count : list->NumOfParams;
        ConfigCodec codec;
        for (uint32_t i = 0; i < n && r.GetLastError() == 0; ++i) {
            codec.Set(list->ConfigPtr + i, kMaskConfigPair);
            codec.Read(r);
        }
        break;
    }
    case READ_VBATT:
    case READ_PROG_VOLTAGE: {
        uint32_t value = 0;
        if (ReadU32(r, value) && pOutput) *static_cast<uint32_t*>(pOutput) = value;
        break;
    }
    case FIVE_BAUD_INIT: {
        SBYTE_ARRAY* out = static_cast<SBYTE_ARRAY*>(pOutput);
        if (!out) {
            out = static_cast<SBYTE_ARRAY*>(vos::MemAlloc(sizeof(SBYTE_ARRAY)));
            if (!out) return;
            std::memset(out, 0, sizeof *out);
            pOutput = out;
            Owned |= 0x02;
        }
        uint32_t count = 0;
        if (!ReadU32(r, count)) return;
        if (Owned & 0x02) {
            if (count > r.Remaining()) {
                Fail(r, kTessraShortRead);
                return;
            }
            out->NumOfBytes = count;
            if (count != 0) {
                out->BytePtr = static_cast<uint8_t*>(vos::MemAlloc(count));
                if (!out->BytePtr) return;
            }
        }
        if (!out->BytePtr && out->NumOfBytes > 0) return;
        uint32_t n = count < out->NumOfBytes ? count : out->NumOfBytes;
        ReadRaw(r, out->BytePtr, n);
        break;
    }
    case FAST_INIT: {
        PASSTHRU_MSG* msg = static_cast<PASSTHRU_MSG*>(pOutput);
        uint32_t owned = 0;
        if (!ReadOwnedMessage(r, msg, owned, 0x02)) return;  // ends the reading, no error
        pOutput = msg;
        Owned |= owned;
        break;
    }
    default:
        break;
    }
}
