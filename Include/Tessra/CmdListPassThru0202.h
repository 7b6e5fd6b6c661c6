// Command records of the stdcall (J2534 version 02.02) pass-thru entry points:
// the element records MsgRecord and ConfigRecord, the two lists that carry
// them, and the request and response records of codes 64 to 67, 73, 75, 84
// and 85.
//
// Wire forms (Tessra/CmdCore.h gives those of the members):
//   MsgRecord        u32 ProtocolID, RxStatus, TxFlags, Timestamp, DataSize,
//                    ExtraDataIndex, buffer Data
//   ConfigRecord     u32 Parameter, Value
//   MsgRecordList    base part, u32 Count, Count x MsgRecord
//   ConfigRecordList base part, u32 Count, Count x ConfigRecord
// The element records put no base part of their own on the wire; the lists
// do. A list owns its elements as a singly linked chain (head, tail, count),
// appends at the tail and frees every element when it is cleared, read
// again or destroyed. An element that cannot be allocated while the list is
// read sets 0xa00d0024 in the reader and ends the reading.
#pragma once

#include <cstdint>
#include <new>

#include "Pc/Os/OsMemory.h"
#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// ---- element records -------------------------------------------------------

class MsgRecord : public CCmdCore {
public:
    MsgRecord() : CCmdCore(1, 0) { Clear(); }
    MsgRecord(const MsgRecord&) = delete;
    MsgRecord& operator=(const MsgRecord&) = delete;
    ~MsgRecord() override = default;

    TESSRA_FIELD_IO
    virtual void Clear() {
        ProtocolID = RxStatus = TxFlags = Timestamp = DataSize = ExtraDataIndex = 0;
        Data.RemoveAll();
    }

    template <class S>
    void Fields(S& s) {
        Xfer(s, ProtocolID);
        Xfer(s, RxStatus);
        Xfer(s, TxFlags);
        Xfer(s, Timestamp);
        Xfer(s, DataSize);
        Xfer(s, ExtraDataIndex);
        Xfer(s, Data);
    }

    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
    CCmdBuffer Data;
};

class ConfigRecord : public CCmdCore {
public:
    ConfigRecord() : CCmdCore(1, 0) { Clear(); }
    ConfigRecord(const ConfigRecord&) = delete;
    ConfigRecord& operator=(const ConfigRecord&) = delete;
    ~ConfigRecord() override = default;

    TESSRA_FIELD_IO
    virtual void Clear() { Parameter = Value = 0; }

    template <class S>
    void Fields(S& s) {
        Xfer(s, Parameter);
        Xfer(s, Value);
    }

    uint32_t Parameter;
    uint32_t Value;
};

// ---- lists -----------------------------------------------------------------

// A list of element records of type T, kept as a singly linked chain.
template <class T>
class CmdRecordChain : public CCmdCore {
public:
    static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

    CmdRecordChain() : CCmdCore(1, 0), m_pHead(nullptr), m_pTail(nullptr), m_dwCount(0) {}
    CmdRecordChain(const CmdRecordChain&) = delete;
    CmdRecordChain& operator=(const CmdRecordChain&) = delete;
    ~CmdRecordChain() override { Clear(); }

    // Appends a cleared element at the tail; its index, or kNoIndex when the
    // memory cannot be had.
    uint32_t Append() {
        void* block = vos::MemAlloc(sizeof(Node));
        if (!block) return kNoIndex;
        Node* node = new (block) Node();
        if (m_pTail)
            m_pTail->next = node;
        else
            m_pHead = node;
        m_pTail = node;
        return m_dwCount++;
    }

    // Element i, walking from the head; null when i is not below Count().
    T* At(uint32_t index) {
        Node* node = m_pHead;
        for (uint32_t i = 0; node && i < index; ++i) node = node->next;
        return node ? &node->record : nullptr;
    }
    const T* At(uint32_t index) const { return const_cast<CmdRecordChain*>(this)->At(index); }

    uint32_t Count() const { return m_dwCount; }

    // Bytes of the heap block that holds one element (vos::MemAlloc).
    static constexpr size_t ElementBlockSize();

    // Frees every element.
    virtual void Clear() {
        Node* node = m_pHead;
        while (node) {
            Node* next = node->next;
            node->~Node();
            vos::MemFree(node);
            node = next;
        }
        m_pHead = m_pTail = nullptr;
        m_dwCount = 0;
    }

    void Write(CCmdWriter& writer) override {
        WriteBasePart(writer);
        uint32_t count = m_dwCount;
        Xfer(writer, count);
        for (Node* node = m_pHead; node; node = node->next) writer.Write(&node->record);
    }

    void Read(CCmdReader& reader) override {
        ReadBasePart(reader);
        Clear();
        uint32_t count = 0;
        Xfer(reader, count);
        // Each element either reads or stops the reader, so a count larger
        // than what arrived ends at the end of the data.
        for (uint32_t i = 0; i < count && reader.GetLastError() == 0; ++i) {
            if (Append() == kNoIndex) {
                reader.SetLastError(kTessraOutOfMemory);
                return;
            }
            reader.Read(&m_pTail->record);
        }
    }

private:
    struct Node {
        T record;
        Node* next = nullptr;
    };

    Node* m_pHead;
    Node* m_pTail;
    uint32_t m_dwCount;
};

template <class T>
constexpr size_t CmdRecordChain<T>::ElementBlockSize() {
    return sizeof(Node);
}

class MsgRecordList : public CmdRecordChain<MsgRecord> {};
class ConfigRecordList : public CmdRecordChain<ConfigRecord> {};

// ---- command records -------------------------------------------------------

// Code 64: _PassThruConnect@12.
class PassThruConnectRequest : public CCmdBase {
public:
    PassThruConnectRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { ProtocolID = Flags = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ProtocolID);
        Xfer(s, Flags);
    }
    uint32_t ProtocolID;
    uint32_t Flags;
};

class PassThruConnectResponse : public CCmdBase {
public:
    PassThruConnectResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = ChannelID = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ChannelID);
    }
    uint32_t Result;
    uint32_t ChannelID;
};

// Code 65: _PassThruDisconnect@4.
class PassThruDisconnectRequest : public CCmdBase {
public:
    PassThruDisconnectRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { ChannelID = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, ChannelID); }
    uint32_t ChannelID;
};

// A response that carries only the device's status.
class PassThruResultResponse : public CCmdBase {
public:
    PassThruResultResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    uint32_t Result;
};

class PassThruDisconnectResponse : public PassThruResultResponse {};

// The message request of codes 66, 67, 84 and 85.
class PassThruMsgsRequest : public CCmdBase {
public:
    PassThruMsgsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        ChannelID = NumMsgs = Timeout = 0;
        Msgs.Clear();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ChannelID);
        Xfer(s, NumMsgs);
        Xfer(s, Timeout);
        Xfer(s, Msgs);
    }
    uint32_t ChannelID;
    uint32_t NumMsgs;
    uint32_t Timeout;
    MsgRecordList Msgs;
};

// The message response of codes 66, 67, 84 and 85: every field is present
// whatever Result says.
class PassThruMsgsResponse : public CCmdBase {
public:
    PassThruMsgsResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = NumMsgs = 0;
        Msgs.Clear();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, NumMsgs);
        Xfer(s, Msgs);
    }
    uint32_t Result;
    uint32_t NumMsgs;
    MsgRecordList Msgs;
};

// Codes 66 and 84 (the read worker), 67 and 85 (the write worker).
class PassThruReadMsgsRequest : public PassThruMsgsRequest {};
class PassThruReadMsgsResponse : public PassThruMsgsResponse {};
class PassThruWriteMsgsRequest : public PassThruMsgsRequest {};
class PassThruWriteMsgsResponse : public PassThruMsgsResponse {};

// Code 73: _PassThruOemGetLastError@4.
class PassThruOemGetLastErrorRequest : public CCmdBase {
public:
    PassThruOemGetLastErrorRequest() : CCmdBase(0) {}
    void Read(CCmdReader&) override {}
    void Write(CCmdWriter&) override {}
    void Clear() override {}
};

class PassThruOemGetLastErrorResponse : public CCmdBase {
public:
    PassThruOemGetLastErrorResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        ErrorDescription.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ErrorDescription);
    }
    uint32_t Result;
    CCmdString ErrorDescription;
};

// Ioctl IDs this family sends.
constexpr uint32_t kIoctl0202GetConfig = 1;
constexpr uint32_t kIoctl0202SetConfig = 2;
constexpr uint32_t kIoctl0202FiveBaudInit = 4;
constexpr uint32_t kIoctl0202FastInit = 5;
constexpr uint32_t kIoctl0202ClearTxBuffer = 7;
constexpr uint32_t kIoctl0202ClearRxBuffer = 8;
constexpr uint32_t kIoctl0202Device0 = 0x10000;  // in: u8, u8, u8
constexpr uint32_t kIoctl0202Device1 = 0x10001;  // out: u16
constexpr uint32_t kIoctl0202Device2 = 0x10002;  // in: u16, u16, u16; out: u32
constexpr uint32_t kIoctl0202Device3 = 0x10003;  // in: u32

// Code 75: _PassThruIoctl@16. The fields after IoctlID depend on it.
class PassThruIoctlRequest : public CCmdBase {
public:
    PassThruIoctlRequest() : CCmdBase(0) { Clear(); }
    void Read(CCmdReader& reader) override { Fields(reader); }
    void Write(CCmdWriter& writer) override { Fields(writer); }
    void Clear() override {
        ChannelID = IoctlID = NumOfParams = Value = 0;
        Configs.Clear();
        Address = 0;
        Msg.Clear();
        Bytes[0] = Bytes[1] = Bytes[2] = 0;
        Words[0] = Words[1] = Words[2] = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, ChannelID);
        Xfer(s, IoctlID);
        switch (IoctlID) {
        case kIoctl0202GetConfig:
        case kIoctl0202SetConfig:
            Xfer(s, NumOfParams);
            Xfer(s, Configs);
            break;
        case kIoctl0202FiveBaudInit:
            Xfer(s, Address);
            break;
        case kIoctl0202FastInit:
            Xfer(s, Msg);
            break;
        case kIoctl0202Device0:
            for (uint8_t& b : Bytes) Xfer(s, b);
            break;
        case kIoctl0202Device2:
            for (uint16_t& w : Words) Xfer(s, w);
            break;
        case kIoctl0202Device3:
            Xfer(s, Value);
            break;
        default:
            break;
        }
    }
    uint32_t ChannelID;
    uint32_t IoctlID;
    uint32_t NumOfParams;      // 1, 2
    ConfigRecordList Configs;  // 1, 2
    uint8_t Address;           // 4
    MsgRecord Msg;             // 5
    uint8_t Bytes[3];          // 0x10000
    uint16_t Words[3];         // 0x10002
    uint32_t Value;            // 0x10003
};

// Result and the echoed IoctlID, then the tail of that ID.
class PassThruIoctlResponse : public CCmdBase {
public:
    PassThruIoctlResponse() : CCmdBase(0) { Clear(); }
    void Read(CCmdReader& reader) override { Fields(reader); }
    void Write(CCmdWriter& writer) override { Fields(writer); }
    void Clear() override {
        Result = IoctlID = NumOfParams = Value = 0;
        Configs.Clear();
        KeyByte1 = KeyByte2 = 0;
        Msg.Clear();
        Word = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, IoctlID);
        switch (IoctlID) {
        case kIoctl0202GetConfig:
            Xfer(s, NumOfParams);
            Xfer(s, Configs);
            break;
        case kIoctl0202FiveBaudInit:
            Xfer(s, KeyByte1);
            Xfer(s, KeyByte2);
            break;
        case kIoctl0202FastInit:
            Xfer(s, Msg);
            break;
        case kIoctl0202Device1:
            Xfer(s, Word);
            break;
        case kIoctl0202Device2:
            Xfer(s, Value);
            break;
        default:
            break;
        }
    }
    uint32_t Result;
    uint32_t IoctlID;
    uint32_t NumOfParams;      // 1
    ConfigRecordList Configs;  // 1
    uint8_t KeyByte1;          // 4
    uint8_t KeyByte2;          // 4
    MsgRecord Msg;             // 5
    uint16_t Word;             // 0x10001
    uint32_t Value;            // 0x10002
};
