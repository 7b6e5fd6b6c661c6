// Command records of the firmware update (commands 16 to 20).
//
// KovVupGetFileInfo and KovVupFileFree send the plain base record as their
// request; KovVupFileFree's response is VupWriteFileResponse.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// ---- 16 KovVupCreateFile --------------------------------------------------------

class VupCreateFileRequest : public CCmdBase {
public:
    VupCreateFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        NameLength = 0;
        Name.RemoveAll();
        Size = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, NameLength);
        Xfer(s, Name);
        Xfer(s, Size);
    }
    TESSRA_FIELD_IO

    uint16_t NameLength;  // the name's byte length, terminator included
    CCmdString Name;
    uint32_t Size;
};

class VupCreateFileResponse : public CCmdBase {
public:
    VupCreateFileResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- 17 KovVupTransmitData ------------------------------------------------------

class VupTransmitDataRequest : public CCmdBase {
public:
    VupTransmitDataRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Length = 0;
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Length);
        Xfer(s, Data);
    }
    TESSRA_FIELD_IO

    uint32_t Length;
    CCmdBuffer Data;
};

class VupTransmitDataResponse : public VupCreateFileResponse {};

// ---- 18 KovVupGetFileInfo -------------------------------------------------------

class VupGetFileInfoResponse : public CCmdBase {
public:
    VupGetFileInfoResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        NameLength = 0;
        Name.RemoveAll();
        Info1 = ReceivedSize = 0;
        Checksum = Info2 = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, NameLength);
        Xfer(s, Name);
        Xfer(s, Info1);
        Xfer(s, ReceivedSize);
        Xfer(s, Checksum);
        Xfer(s, Info2);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint16_t NameLength;
    CCmdString Name;
    uint32_t Info1;
    uint32_t ReceivedSize;
    uint8_t Checksum;
    uint8_t Info2;
};

// ---- 19 KovVupWriteFile, 20 KovVupFileFree --------------------------------------

class VupWriteFileRequest : public CCmdBase {
public:
    VupWriteFileRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Param1 = Param2 = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Param1);
        Xfer(s, Param2);
    }
    TESSRA_FIELD_IO

    uint32_t Param1;
    uint32_t Param2;
};

class VupWriteFileResponse : public VupCreateFileResponse {};
