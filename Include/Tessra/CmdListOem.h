// Command records of the device's own pass-thru extensions: its version
// texts (code 86) and its log (codes 80 to 83). Every response field is
// present whatever Result says.
#pragma once

#include <cstdint>
#include <cstring>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// Code 86: _PassThruOemReadVersion@12. The request has no fields.
class PassThruOemReadVersionRequest : public CCmdBase {
public:
    PassThruOemReadVersionRequest() : CCmdBase(0) {}
    void Read(CCmdReader&) override {}
    void Write(CCmdWriter&) override {}
    void Clear() override {}
};

class PassThruOemReadVersionResponse : public CCmdBase {
public:
    PassThruOemReadVersionResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        Text1.RemoveAll();
        Text2.RemoveAll();
        Text3.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Text1);
        Xfer(s, Text2);
        Xfer(s, Text3);
    }
    uint32_t Result;
    CCmdString Text1;
    CCmdString Text2;
    CCmdString Text3;
};

// The request of the log commands that take only the log argument.
class PassThruOemLogRequest : public CCmdBase {
public:
    PassThruOemLogRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { LogArg = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, LogArg); }
    uint32_t LogArg;
};

class PassThruOemLogResultResponse : public CCmdBase {
public:
    PassThruOemLogResultResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    uint32_t Result;
};

// Code 80: _PassThruOemReadLog@8. Entry holds seven u32 in the device's
// order; the first six are the caller's Value1 to Value6.
class PassThruOemReadLogRequest : public PassThruOemLogRequest {};

class PassThruOemReadLogResponse : public CCmdBase {
public:
    PassThruOemReadLogResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        std::memset(Entry, 0, sizeof Entry);
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Entry);
        Xfer(s, Data);
    }
    // The i-th u32 of Entry (little-endian on the wire).
    uint32_t EntryValue(unsigned i) const {
        return static_cast<uint32_t>(Entry[4 * i]) | static_cast<uint32_t>(Entry[4 * i + 1]) << 8 |
               static_cast<uint32_t>(Entry[4 * i + 2]) << 16 | static_cast<uint32_t>(Entry[4 * i + 3]) << 24;
    }
    uint32_t Result;
    uint8_t Entry[28];
    CCmdBuffer Data;
};

// Code 81: _PassThruOemClearLog@4.
class PassThruOemClearLogRequest : public PassThruOemLogRequest {};
class PassThruOemClearLogResponse : public PassThruOemLogResultResponse {};

// Code 82: _PassThruOemGetLogStatus@8. Status holds three u32.
class PassThruOemGetLogStatusRequest : public PassThruOemLogRequest {};

class PassThruOemGetLogStatusResponse : public CCmdBase {
public:
    PassThruOemGetLogStatusResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        std::memset(Status, 0, sizeof Status);
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Status);
    }
    uint32_t StatusValue(unsigned i) const {
        return static_cast<uint32_t>(Status[4 * i]) | static_cast<uint32_t>(Status[4 * i + 1]) << 8 |
               static_cast<uint32_t>(Status[4 * i + 2]) << 16 | static_cast<uint32_t>(Status[4 * i + 3]) << 24;
    }
    uint32_t Result;
    uint8_t Status[12];
};

// Code 83: _PassThruOemSeekLog@12.
class PassThruOemSeekLogRequest : public CCmdBase {
public:
    PassThruOemSeekLogRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { LogArg = SeekArg1 = SeekArg2 = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, LogArg);
        Xfer(s, SeekArg1);
        Xfer(s, SeekArg2);
    }
    uint32_t LogArg;
    uint32_t SeekArg1;
    uint32_t SeekArg2;
};

class PassThruOemSeekLogResponse : public PassThruOemLogResultResponse {};
