// Command records of the device registry commands. Key handles are the
// device's 32-bit values, passed unchanged; names are UTF-16 texts without a
// length field of their own; Result is the device's Win32 error code.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// ---- RegCreateKeyEx -----------------------------------------------------------

class RegCreateKeyExRequest : public CCmdBase {
public:
    RegCreateKeyExRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        SubKey.RemoveAll();
        Class.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, SubKey);
        Xfer(s, Class);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString SubKey;
    CCmdString Class;
};

class RegCreateKeyExResponse : public CCmdBase {
public:
    RegCreateKeyExResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        NewKey = 0;
        Disposition = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, NewKey);
        Xfer(s, Disposition);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t NewKey;
    uint32_t Disposition;
};

// ---- RegOpenKeyEx -------------------------------------------------------------

class RegOpenKeyExRequest : public CCmdBase {
public:
    RegOpenKeyExRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        SubKey.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, SubKey);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString SubKey;
};

class RegOpenKeyExResponse : public CCmdBase {
public:
    RegOpenKeyExResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        NewKey = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, NewKey);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t NewKey;
};

// ---- RegDeleteKey ---------------------------------------------------------------

class RegDeleteKeyRequest : public CCmdBase {
public:
    RegDeleteKeyRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        SubKey.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, SubKey);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString SubKey;
};

class RegDeleteKeyResponse : public CCmdBase {
public:
    RegDeleteKeyResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- RegCloseKey ------------------------------------------------------------------

class RegCloseKeyRequest : public CCmdBase {
public:
    RegCloseKeyRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Key = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
};

class RegCloseKeyResponse : public CCmdBase {
public:
    RegCloseKeyResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- RegQueryValueEx ----------------------------------------------------------------

class RegQueryValueExRequest : public CCmdBase {
public:
    RegQueryValueExRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        ValueName.RemoveAll();
        DataSize = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, ValueName);
        Xfer(s, DataSize);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString ValueName;
    uint32_t DataSize;  // the caller's buffer size
};

class RegQueryValueExResponse : public CCmdBase {
public:
    RegQueryValueExResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Type = 0;
        Data.RemoveAll();
        RequiredSize = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Type);
        Xfer(s, Data);
        Xfer(s, RequiredSize);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t Type;
    CCmdBuffer Data;
    uint32_t RequiredSize;
};

// ---- RegSetValueEx --------------------------------------------------------------------

class RegSetValueExRequest : public CCmdBase {
public:
    RegSetValueExRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        ValueName.RemoveAll();
        Type = 0;
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, ValueName);
        Xfer(s, Type);
        Xfer(s, Data);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString ValueName;
    uint32_t Type;
    CCmdBuffer Data;
};

class RegSetValueExResponse : public CCmdBase {
public:
    RegSetValueExResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- RegDeleteValue ---------------------------------------------------------------------

class RegDeleteValueRequest : public CCmdBase {
public:
    RegDeleteValueRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Key = 0;
        ValueName.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
        Xfer(s, ValueName);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
    CCmdString ValueName;
};

class RegDeleteValueResponse : public CCmdBase {
public:
    RegDeleteValueResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- RegFlushKey -------------------------------------------------------------------------

class RegFlushKeyRequest : public CCmdBase {
public:
    RegFlushKeyRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Key = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Key);
    }
    TESSRA_FIELD_IO

    uint32_t Key;
};

class RegFlushKeyResponse : public CCmdBase {
public:
    RegFlushKeyResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};
