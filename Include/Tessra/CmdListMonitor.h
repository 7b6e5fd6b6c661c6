// Command records of the DLC12 diagnostic-code commands (0x307F to 0x327F).
// The caller-record commands (KovDmci*, KovPcMon*, KovCommandExecute) have no
// records here: the application builds both of them itself (docs/RECORDS.md).
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// 0x307F: u8 bySendData, u16 wMaskData (3 bytes on the wire).
class DLC12GetDiagCodeRequest : public CCmdBase {
public:
    DLC12GetDiagCodeRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        bySendData = 0;
        wMaskData = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, bySendData);
        Xfer(s, wMaskData);
    }
    uint8_t bySendData;
    uint16_t wMaskData;
};

class DLC12GetDiagCodeResponse : public CCmdBase {
public:
    DLC12GetDiagCodeResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        DiagCode.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, DiagCode);
    }
    uint32_t Result;
    CCmdBuffer DiagCode;
};

// Requests without fields: nothing follows the command code.
class DLC12EmptyRequest : public CCmdBase {
public:
    DLC12EmptyRequest() : CCmdBase(0) {}
    void Read(CCmdReader&) override {}
    void Write(CCmdWriter&) override {}
    void Clear() override {}
};

class DLC12ResultResponse : public CCmdBase {
public:
    DLC12ResultResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    uint32_t Result;
};

// 0x317F and 0x327F.
class DLC12ConnectRequest : public DLC12EmptyRequest {};
class DLC12ConnectResponse : public DLC12ResultResponse {};
class DLC12DisconnectRequest : public DLC12EmptyRequest {};
class DLC12DisconnectResponse : public DLC12ResultResponse {};
