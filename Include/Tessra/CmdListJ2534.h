// Command records of the J2534 version 04.04 commands (codes 0x007F to
// 0x0B7F), the field-mask codecs that put J2534 messages and configuration
// pairs on the wire, and the length-prefixed text form.
//
// Requests hold pointers to the caller's input; responses hold pointers to
// the caller's output structures and read straight into them. Where a
// response pointer is null when its data arrives, the record allocates the
// structure itself, marks it in its ownership bits (0x01 first pointer, 0x02
// second, 0x04 third) and frees it, with any array it allocated for it, when
// it is destroyed or cleared.
//
// Capacity rules (nothing is ever written past the caller's memory):
//  - a message whose DataSize field exceeds 4128 is refused: the reader's
//    error becomes 0x900d0029 and the caller's DataSize is left as it was;
//  - a message array answer with more messages than the record's capacity
//    (the caller's array size, set by the entry point) is refused before any
//    message is read: reader error 0x900d0029;
//  - a text longer than 80 bytes is refused (reader error 0x900d0029); a text
//    of exactly 80 bytes is cut to 79 characters and terminated in byte 80;
//  - GET_CONFIG and FIVE_BAUD_INIT answers fill at most the caller's
//    NumOfParams / NumOfBytes entries; the surplus stays unread;
//  - an Ioctl answer whose echoed IoctlID differs from the one asked is
//    refused (reader error 0x900d0028): its output form would not match the
//    caller's structures;
//  - storage the record allocates for itself is bounded by what is left in
//    the response, so a bogus count cannot make it allocate without limit.
// Writing a message whose DataSize exceeds 4128 sets 0x900d0028 on the writer
// and nothing is sent.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "vantro/j2534.h"

// Distance between consecutive messages of a caller's array.
constexpr uint32_t kPassThruMsgStride = 4152;
static_assert(sizeof(PASSTHRU_MSG) == kPassThruMsgStride, "PASSTHRU_MSG must keep its published layout");
constexpr uint32_t kPassThruMaxData = PASSTHRU_MSG_DATA_SIZE;  // 4128
constexpr uint32_t kTextFieldMax = 80;

// Errors a record sets on its stream.
constexpr uint32_t kJ2534RecordTooLarge = 0x900d0029u;  // answer beyond the caller's capacity
constexpr uint32_t kJ2534RecordMismatch = 0x900d0028u;  // answer of another form than asked

// FieldMask bits and the masks in use.
enum : uint32_t {
    kFieldProtocolID = 0x01,
    kFieldRxStatus = 0x02,
    kFieldTxFlags = 0x04,
    kFieldTimestamp = 0x08,
    kFieldDataSize = 0x10,
    kFieldExtraDataIndex = 0x20,
    kFieldData = 0x40,
    kFieldParameter = 0x01,
    kFieldValue = 0x02,
};
constexpr uint32_t kMaskMsgAll = 0x7F;
constexpr uint32_t kMaskMsgHeader = 0x3F;
constexpr uint32_t kMaskConfigPair = 0x03;
constexpr uint32_t kMaskConfigParameter = 0x01;

// Present bits of J2534StartMsgFilter.
enum : uint8_t {
    kPresentMask = 0x01,
    kPresentPattern = 0x02,
    kPresentFlowControl = 0x04,
};

// J2534 version 04.04 command codes.
enum : uint32_t {
    kCmdJ2534Connect = 0x007F,
    kCmdJ2534Disconnect = 0x017F,
    kCmdJ2534ReadMsgs = 0x027F,
    kCmdJ2534WriteMsgs = 0x037F,
    kCmdJ2534StartPeriodicMsg = 0x047F,
    kCmdJ2534StopPeriodicMsg = 0x057F,
    kCmdJ2534StartMsgFilter = 0x067F,
    kCmdJ2534StopMsgFilter = 0x077F,
    kCmdJ2534SetProgrammingVoltage = 0x087F,
    kCmdJ2534ReadVersion = 0x097F,
    kCmdLocalJ2534GetLastError = 0x0A7F,
    kCmdLocalJ2534Ioctl = 0x0B7F,
};

// ---- codecs ------------------------------------------------------------------

// Moves the members of one PASSTHRU_MSG that the mask selects.
class PassThruMsgCodec : public CCmdCore {
public:
    PassThruMsgCodec();
    void Set(PASSTHRU_MSG* target, uint32_t mask);
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;

private:
    PASSTHRU_MSG* m_pTarget;
    uint32_t m_dwMask;
};

// Moves the members of one SCONFIG that the mask selects.
class ConfigCodec : public CCmdCore {
public:
    ConfigCodec();
    void Set(SCONFIG* target, uint32_t mask);
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;

private:
    SCONFIG* m_pTarget;
    uint32_t m_dwMask;
};

// A text of up to 80 bytes: u32 Length (0 = no text; strlen + 1 below 80
// characters, else 80), then Length bytes. Reading into a null text pointer
// allocates Length bytes, which the field owns until TakeText.
class TextField : public CCmdCore {
public:
    TextField();
    ~TextField() override;
    TextField(const TextField&) = delete;
    TextField& operator=(const TextField&) = delete;

    void Set(char* text);
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    char* GetText() const { return m_pText; }
    // Hands the storage the field allocated to the caller (null when none).
    char* TakeOwned();
    // Length as written or read.
    uint32_t GetLength() const { return m_dwLength; }

    static uint32_t LengthOf(const char* text);

private:
    char* m_pText;
    bool m_bOwned;
    uint32_t m_dwLength;
};

// ---- shared forms ---------------------------------------------------------------

// Requests with only u32 fields.
class J2534ConnectRequest : public CCmdBase {
public:
    J2534ConnectRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ProtocolID;
    uint32_t Flags;
};

class J2534ConnectResponse : public CCmdBase {
public:
    J2534ConnectResponse();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    uint32_t ChannelID;  // when Result is 0
};

// A response that is only the device's Result.
class J2534ResultResponse : public CCmdBase {
public:
    J2534ResultResponse();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
};

class J2534DisconnectRequest : public CCmdBase {
public:
    J2534DisconnectRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
};

class J2534DisconnectResponse : public J2534ResultResponse {};

class J2534StopPeriodicMsgRequest : public CCmdBase {
public:
    J2534StopPeriodicMsgRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t MsgID;
};
class J2534StopPeriodicMsgResponse : public J2534ResultResponse {};

class J2534StopMsgFilterRequest : public CCmdBase {
public:
    J2534StopMsgFilterRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t FilterID;
};
class J2534StopMsgFilterResponse : public J2534ResultResponse {};

class J2534SetProgrammingVoltageRequest : public CCmdBase {
public:
    J2534SetProgrammingVoltageRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t PinNumber;
    uint32_t Voltage;
};
class J2534SetProgrammingVoltageResponse : public J2534ResultResponse {};

// ---- message arrays (ReadMsgs, WriteMsgs) -----------------------------------------

// u32 ChannelID, u32 NumMsgs, u32 Timeout, NumMsgs messages with the mask of
// the command (0x3F for ReadMsgs, 0x7F for WriteMsgs).
class J2534MsgArrayRequest : public CCmdBase {
public:
    explicit J2534MsgArrayRequest(uint32_t mask);
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t NumMsgs;
    uint32_t Timeout;
    PASSTHRU_MSG* pMsg;  // the caller's array (NumMsgs elements)

private:
    uint32_t m_dwMask;
};

class J2534ReadMsgsRequest : public J2534MsgArrayRequest {
public:
    J2534ReadMsgsRequest() : J2534MsgArrayRequest(kMaskMsgHeader) {}
};
class J2534WriteMsgsRequest : public J2534MsgArrayRequest {
public:
    J2534WriteMsgsRequest() : J2534MsgArrayRequest(kMaskMsgAll) {}
};

// u32 Result; when Result is 0 or 9: u32 NumMsgs, NumMsgs messages (0x7F),
// stored into pMsg as they are read.
class J2534MsgArrayResponse : public CCmdBase {
public:
    J2534MsgArrayResponse();
    ~J2534MsgArrayResponse() override;
    J2534MsgArrayResponse(const J2534MsgArrayResponse&) = delete;
    J2534MsgArrayResponse& operator=(const J2534MsgArrayResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;

    uint32_t Result;
    uint32_t NumMsgs;
    PASSTHRU_MSG* pMsg;  // the caller's array, or one the record allocated
    uint32_t Capacity;   // elements pMsg holds (the caller's *pNumMsgs)
    uint32_t Owned;      // 0x01: pMsg was allocated by the record
};

class J2534ReadMsgsResponse : public J2534MsgArrayResponse {};
class J2534WriteMsgsResponse : public J2534MsgArrayResponse {};

// ---- periodic messages -------------------------------------------------------------

class J2534StartPeriodicMsgRequest : public CCmdBase {
public:
    J2534StartPeriodicMsgRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t TimeInterval;
    PASSTHRU_MSG* pMsg;
};

class J2534StartPeriodicMsgResponse : public CCmdBase {
public:
    J2534StartPeriodicMsgResponse();
    ~J2534StartPeriodicMsgResponse() override;
    J2534StartPeriodicMsgResponse(const J2534StartPeriodicMsgResponse&) = delete;
    J2534StartPeriodicMsgResponse& operator=(const J2534StartPeriodicMsgResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    uint32_t MsgID;
    PASSTHRU_MSG* pMsg;
    uint32_t Owned;
};

// ---- filters -----------------------------------------------------------------------

class J2534StartMsgFilterRequest : public CCmdBase {
public:
    J2534StartMsgFilterRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t FilterType;
    uint8_t Present;  // recomputed from the pointers when written
    PASSTHRU_MSG* pMaskMsg;
    PASSTHRU_MSG* pPatternMsg;
    PASSTHRU_MSG* pFlowControlMsg;
};

class J2534StartMsgFilterResponse : public CCmdBase {
public:
    J2534StartMsgFilterResponse();
    ~J2534StartMsgFilterResponse() override;
    J2534StartMsgFilterResponse(const J2534StartMsgFilterResponse&) = delete;
    J2534StartMsgFilterResponse& operator=(const J2534StartMsgFilterResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    uint32_t FilterID;
    uint8_t Present;
    PASSTHRU_MSG* pMaskMsg;
    PASSTHRU_MSG* pPatternMsg;
    PASSTHRU_MSG* pFlowControlMsg;
    uint32_t Owned;

private:
    PASSTHRU_MSG** Slot(int index);
};

// ---- versions and last error ---------------------------------------------------------

class J2534ReadVersionRequest : public CCmdBase {
public:
    J2534ReadVersionRequest() : CCmdBase(0) {}
};

class J2534ReadVersionResponse : public CCmdBase {
public:
    J2534ReadVersionResponse();
    ~J2534ReadVersionResponse() override;
    J2534ReadVersionResponse(const J2534ReadVersionResponse&) = delete;
    J2534ReadVersionResponse& operator=(const J2534ReadVersionResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    char* pFirmwareVersion;
    char* pDllVersion;
    char* pApiVersion;
    uint32_t Owned;
};

class LocalJ2534GetLastErrorRequest : public CCmdBase {
public:
    LocalJ2534GetLastErrorRequest() : CCmdBase(0) {}
};

class LocalJ2534GetLastErrorResponse : public CCmdBase {
public:
    LocalJ2534GetLastErrorResponse();
    ~LocalJ2534GetLastErrorResponse() override;
    LocalJ2534GetLastErrorResponse(const LocalJ2534GetLastErrorResponse&) = delete;
    LocalJ2534GetLastErrorResponse& operator=(const LocalJ2534GetLastErrorResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    char* pErrorDescription;
    uint32_t TextLength;  // the text's Length as read (0: no text came)
    uint32_t Owned;
};

// ---- Ioctl ------------------------------------------------------------------------------

// u32 ChannelID, u32 IoctlID, then the input form of the ID.
class LocalJ2534IoctlRequest : public CCmdBase {
public:
    LocalJ2534IoctlRequest();
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t ChannelID;
    uint32_t IoctlID;
    void* pInput;
    void* pOutput;
};

// u32 Result; when Result is 0: u32 IoctlID (echoed), then the output form
// of the echoed ID, read into the caller's structures. A failed allocation
// ends the reading without an error: the caller's output stays as it was.
class LocalJ2534IoctlResponse : public CCmdBase {
public:
    LocalJ2534IoctlResponse();
    ~LocalJ2534IoctlResponse() override;
    LocalJ2534IoctlResponse(const LocalJ2534IoctlResponse&) = delete;
    LocalJ2534IoctlResponse& operator=(const LocalJ2534IoctlResponse&) = delete;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    void Clear() override;
    uint32_t Result;
    uint32_t IoctlID;
    void* pInput;   // GET_CONFIG: SCONFIG_LIST
    void* pOutput;  // READ_VBATT / READ_PROG_VOLTAGE: u32; FIVE_BAUD_INIT: SBYTE_ARRAY; FAST_INIT: PASSTHRU_MSG
    uint32_t Owned;  // 0x01 pInput, 0x02 pOutput (with the arrays allocated for them)

private:
    void FreeOwned();
};
