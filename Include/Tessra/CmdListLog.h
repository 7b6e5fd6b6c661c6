// Command records of the device log commands: start the log under a name,
// close it, empty it, write it out to a file of the device, add a message.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

class LogInitRequest : public CCmdBase {
public:
    LogInitRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Name.RemoveAll(); }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Name);
    }
    TESSRA_FIELD_IO

    CCmdString Name;
};

class LogInitResponse : public CCmdBase {
public:
    LogInitResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

class LogCloseRequest : public CCmdBase {
public:
    LogCloseRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

class LogCloseResponse : public CCmdBase {
public:
    LogCloseResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

class LogClearRequest : public CCmdBase {
public:
    LogClearRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

class LogClearResponse : public CCmdBase {
public:
    LogClearResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

class LogFlashRequest : public CCmdBase {
public:
    LogFlashRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Name.RemoveAll(); }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Name);
    }
    TESSRA_FIELD_IO

    CCmdString Name;
};

class LogFlashResponse : public CCmdBase {
public:
    LogFlashResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

class LogPutMsgRequest : public CCmdBase {
public:
    LogPutMsgRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Message.RemoveAll(); }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Message);
    }
    TESSRA_FIELD_IO

    CCmdBuffer Message;
};

class LogPutMsgResponse : public CCmdBase {
public:
    LogPutMsgResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};
