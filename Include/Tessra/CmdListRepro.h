// Command records of the reprogramming exports: codes 96 to 101 and the
// system commands 0x407F to 0x4D7F. Every response begins with the device's
// u32 Result. Commands without request fields send the plain base record
// (CCmdBase(0)), except ReproGetToolConditionOs, which has a class of its own
// that writes nothing.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// Sizes of the opaque caller records that the responses carry back to back.
constexpr uint32_t kSoftwareNumberEntrySize = 36;
constexpr uint32_t kSystemListEntrySize = 44;
constexpr uint32_t kProgramInfoEntrySize = 3712;
constexpr uint32_t kVehicleIdNumberSize = 36;

// ---- shared layouts ---------------------------------------------------------

// u32 Result.
class ReproResultResponse : public CCmdBase {
public:
    ReproResultResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Result); }
    uint32_t Result;
};

// u32 Result, u32 EntryCount, u32 Spare, buffer Entries.
class ReproEntryListResponse : public CCmdBase {
public:
    ReproEntryListResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = EntryCount = Spare = 0;
        Entries.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, EntryCount);
        Xfer(s, Spare);
        Xfer(s, Entries);
    }
    uint32_t Result;
    uint32_t EntryCount;
    uint32_t Spare;
    CCmdBuffer Entries;
};

// As ReproEntryListResponse, then u32 Status.
class ReproEntryListStatusResponse : public CCmdBase {
public:
    ReproEntryListStatusResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = EntryCount = Spare = Status = 0;
        Entries.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, EntryCount);
        Xfer(s, Spare);
        Xfer(s, Entries);
        Xfer(s, Status);
    }
    uint32_t Result;
    uint32_t EntryCount;
    uint32_t Spare;
    CCmdBuffer Entries;
    uint32_t Status;
};

// u32 Spare (always 0), wstring Name, u32 Param1, Param2, Param3.
class ReproNamedRunRequest : public CCmdBase {
public:
    ReproNamedRunRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Spare = Param1 = Param2 = Param3 = 0;
        Name.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Spare);
        Xfer(s, Name);
        Xfer(s, Param1);
        Xfer(s, Param2);
        Xfer(s, Param3);
    }
    uint32_t Spare;
    CCmdString Name;
    uint32_t Param1;
    uint32_t Param2;
    uint32_t Param3;
};

// ---- codes 96 to 101 ----------------------------------------------------------

// 96: the request is the plain base record.
class ReproCheckVoltageResponse : public ReproResultResponse {};

// 97.
class ReproControlWfseLineRequest : public CCmdBase {
public:
    ReproControlWfseLineRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Control = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Control); }
    uint32_t Control;
};
class ReproControlWfseLineResponse : public ReproResultResponse {};

// 98.
class ReproReadSoftwareNumberRequest : public CCmdBase {
public:
    ReproReadSoftwareNumberRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Selector = Capacity = Option = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector);
        Xfer(s, Capacity);
        Xfer(s, Option);
    }
    uint32_t Selector;
    uint32_t Capacity;
    uint32_t Option;
};
class ReproReadSoftwareNumberResponse : public ReproEntryListStatusResponse {};

// 99 and 100.
class ReproReprogrammingRequest : public ReproNamedRunRequest {};
class ReproReprogrammingResponse : public ReproResultResponse {};
class ReproVerifyRequest : public ReproNamedRunRequest {};
class ReproVerifyResponse : public ReproResultResponse {};

// 101: the request is the plain base record.
class ReproGetProgressResponse : public CCmdBase {
public:
    ReproGetProgressResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = Progress = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Progress);
    }
    uint32_t Result;
    uint32_t Progress;
};

// ---- codes 0x407F to 0x4D7F ------------------------------------------------------

// 0x407F: the request is the plain base record.
class ReproCheckVoltageOsResponse : public ReproResultResponse {};

// 0x417F.
class ReproControlWfseLineOsRequest : public ReproControlWfseLineRequest {};
class ReproControlWfseLineOsResponse : public ReproResultResponse {};

// 0x427F.
class ReproGetSystemListOsRequest : public CCmdBase {
public:
    ReproGetSystemListOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Capacity = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Capacity); }
    uint32_t Capacity;
};
class ReproGetSystemListOsResponse : public ReproEntryListResponse {};

// 0x437F and 0x447F.
class ReproCheckProgramInfoOsRequest : public CCmdBase {
public:
    ReproCheckProgramInfoOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Selector = 0; }
    template <class S>
    void Fields(S& s) { Xfer(s, Selector); }
    uint32_t Selector;
};
class ReproCheckProgramInfoOsResponse : public ReproResultResponse {};
class ReproDeleteProgramInfoOsRequest : public ReproCheckProgramInfoOsRequest {};
class ReproDeleteProgramInfoOsResponse : public ReproResultResponse {};

// 0x457F.
class ReproReadSoftwareNumberOsRequest : public CCmdBase {
public:
    ReproReadSoftwareNumberOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Selector1 = Selector2 = Capacity = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector1);
        Xfer(s, Selector2);
        Xfer(s, Capacity);
    }
    uint32_t Selector1;
    uint32_t Selector2;
    uint32_t Capacity;
};
class ReproReadSoftwareNumberOsResponse : public ReproEntryListStatusResponse {};

// 0x467F.
class ReproGetAllProgramInfoOsRequest : public CCmdBase {
public:
    ReproGetAllProgramInfoOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Selector = Capacity = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector);
        Xfer(s, Capacity);
    }
    uint32_t Selector;
    uint32_t Capacity;
};
class ReproGetAllProgramInfoOsResponse : public ReproEntryListStatusResponse {};

// 0x477F.
class ReproReprogrammingOsRequest : public CCmdBase {
public:
    ReproReprogrammingOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Param1 = Param2 = Param3 = Param4 = Param5 = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Param1);
        Xfer(s, Param2);
        Xfer(s, Param3);
        Xfer(s, Param4);
        Xfer(s, Param5);
    }
    uint32_t Param1;
    uint32_t Param2;
    uint32_t Param3;
    uint32_t Param4;
    uint32_t Param5;
};
class ReproReprogrammingOsResponse : public ReproResultResponse {};

// 0x487F: the request is the plain base record.
class ReproGetProgressOsResponse : public CCmdBase {
public:
    ReproGetProgressOsResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Result = Progress = Detail = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Progress);
        Xfer(s, Detail);
    }
    uint32_t Result;
    uint32_t Progress;
    uint32_t Detail;
};

// 0x497F.
class ReproDeleteSaveSoftwareNumberOsRequest : public ReproGetSystemListOsRequest {};
class ReproDeleteSaveSoftwareNumberOsResponse : public ReproEntryListResponse {};

// 0x4A7F: a request of its own that writes nothing.
class ReproGetToolConditionOsRequest : public CCmdBase {
public:
    ReproGetToolConditionOsRequest() : CCmdBase(0) {}
    void Read(CCmdReader&) override {}
    void Write(CCmdWriter&) override {}
    void Clear() override {}
};
class ReproGetToolConditionOsResponse : public ReproResultResponse {};

// 0x4B7F.
class ReproCheckNeedParentSoftwareInfoOsRequest : public ReproCheckProgramInfoOsRequest {};
class ReproCheckNeedParentSoftwareInfoOsResponse : public ReproResultResponse {};

// 0x4C7F.
class ReproSetParentSoftwareInfoOsRequest : public CCmdBase {
public:
    ReproSetParentSoftwareInfoOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Value1 = Value2 = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Value1);
        Xfer(s, Value2);
    }
    uint32_t Value1;
    uint32_t Value2;
};
class ReproSetParentSoftwareInfoOsResponse : public ReproResultResponse {};

// 0x4D7F.
class ReproReadVehicleIdNumberOsRequest : public CCmdBase {
public:
    ReproReadVehicleIdNumberOsRequest() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override { Selector1 = Selector2 = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector1);
        Xfer(s, Selector2);
    }
    uint32_t Selector1;
    uint32_t Selector2;
};
class ReproReadVehicleIdNumberOsResponse : public CCmdBase {
public:
    ReproReadVehicleIdNumberOsResponse() : CCmdBase(0) { Clear(); }
    TESSRA_FIELD_IO
    void Clear() override {
        Result = 0;
        Data.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Data);
    }
    uint32_t Result;
    CCmdBuffer Data;
};
