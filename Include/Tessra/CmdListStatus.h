// Command records of the device status and control commands: version, mode,
// supply voltage, application path, kernel I/O control (also used by the
// battery-charge wrapper), VIM information, file version and AC status.
//
// Every record lists its fields once, in wire order, in Fields(); Read and
// Write both run it. The constructor clears every field, so a field that the
// device does not send reads as 0.
//
// KovGetMode sends the plain base record, and KovGetLastError sends and
// receives it: they have no classes here.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"

// ---- version ----------------------------------------------------------------

class GetVersionRequest : public CCmdBase {
public:
    GetVersionRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Name.RemoveAll(); }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Name);
    }
    TESSRA_FIELD_IO

    CCmdString Name;
};

class GetVersionResponse : public CCmdBase {
public:
    GetVersionResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Version1 = Version2 = 0;
        Text1Length = Text2Length = Text3Length = Text4Length = 0;
        Text1.RemoveAll();
        Text2.RemoveAll();
        Text3.RemoveAll();
        Text4.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Version1);
        Xfer(s, Version2);
        Xfer(s, Text1Length);
        Xfer(s, Text1);
        Xfer(s, Text2Length);
        Xfer(s, Text2);
        Xfer(s, Text3Length);
        Xfer(s, Text3);
        Xfer(s, Text4Length);
        Xfer(s, Text4);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint16_t Version1;
    uint16_t Version2;
    uint16_t Text1Length;
    CCmdString Text1;
    uint16_t Text2Length;
    CCmdString Text2;
    uint16_t Text3Length;
    CCmdString Text3;
    uint16_t Text4Length;
    CCmdString Text4;
};

// ---- mode -------------------------------------------------------------------

class GetModeResponse : public CCmdBase {
public:
    GetModeResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;  // the device's current mode
};

class ChangeModeRequest : public CCmdBase {
public:
    ChangeModeRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Mode = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Mode);
    }
    TESSRA_FIELD_IO

    uint32_t Mode;
};

class ChangeModeResponse : public CCmdBase {
public:
    ChangeModeResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
};

// ---- voltage ----------------------------------------------------------------

class GetVoltageRequest : public CCmdBase {
public:
    GetVoltageRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Selector = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector);
    }
    TESSRA_FIELD_IO

    uint32_t Selector;
};

class GetVoltageResponse : public CCmdBase {
public:
    GetVoltageResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Voltage = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Voltage);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint16_t Voltage;
};

// ---- application path ---------------------------------------------------------

class GetAppPathRequest : public CCmdBase {
public:
    GetAppPathRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

class GetAppPathResponse : public CCmdBase {
public:
    GetAppPathResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        Path.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, Path);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    CCmdString Path;
};

// ---- kernel I/O control (also KovSetBattChargeMode) -----------------------------

class KernelIoControlRequest : public CCmdBase {
public:
    KernelIoControlRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        IoControlCode = 0;
        InBuf.RemoveAll();
        OutBufSize = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, IoControlCode);
        Xfer(s, InBuf);
        Xfer(s, OutBufSize);
    }
    TESSRA_FIELD_IO

    uint32_t IoControlCode;
    CCmdBuffer InBuf;
    uint32_t OutBufSize;
};

class KernelIoControlResponse : public CCmdBase {
public:
    KernelIoControlResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        OutBuf.RemoveAll();
        BytesReturned = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, OutBuf);
        Xfer(s, BytesReturned);
    }
    TESSRA_FIELD_IO

    uint32_t Result;  // a Win32-style BOOL
    CCmdBuffer OutBuf;
    uint32_t BytesReturned;
};

// ---- VIM information ------------------------------------------------------------

class GetVimInfomationRequest : public CCmdBase {
public:
    GetVimInfomationRequest() : CCmdBase(0) { Clear(); }
    void Clear() override { Selector = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Selector);
    }
    TESSRA_FIELD_IO

    uint32_t Selector;
};

// Value[i] travels only when bit i of the low byte of ValidMask is set; both
// directions follow the mask as it has just been transferred.
class GetVimInfomationResponse : public CCmdBase {
public:
    static constexpr int kValueCount = 8;

    GetVimInfomationResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        ValidMask = 0;
        for (uint32_t& v : Value) v = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, ValidMask);
        for (int i = 0; i < kValueCount; ++i) {
            if (ValidMask & (1u << i)) Xfer(s, Value[i]);
        }
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint32_t ValidMask;
    uint32_t Value[kValueCount];
};

// ---- file version -----------------------------------------------------------------

class GetFileVersionRequest : public CCmdBase {
public:
    GetFileVersionRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {
        FileNameLength = 0;
        FileName.RemoveAll();
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, FileNameLength);
        Xfer(s, FileName);
    }
    TESSRA_FIELD_IO

    uint16_t FileNameLength;  // FileName's byte length, set after the name
    CCmdString FileName;
};

// VersionInfo: 13 u32 in the layout of VS_FIXEDFILEINFO.
class GetFileVersionResponse : public CCmdBase {
public:
    static constexpr int kVersionInfoBytes = 52;

    GetFileVersionResponse() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Result = 0;
        for (uint8_t& b : VersionInfo) b = 0;
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
        Xfer(s, VersionInfo);
    }
    TESSRA_FIELD_IO

    uint32_t Result;
    uint8_t VersionInfo[kVersionInfoBytes];
};

// ---- AC status ----------------------------------------------------------------------

class GetAcStatusRequest : public CCmdBase {
public:
    GetAcStatusRequest() : CCmdBase(0) { Clear(); }
    void Clear() override {}
    template <class S>
    void Fields(S&) {}
    TESSRA_FIELD_IO
};

class GetAcStatusResponse : public CCmdBase {
public:
    GetAcStatusResponse() : CCmdBase(0) { Clear(); }
    void Clear() override { Result = 0; }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Result);
    }
    TESSRA_FIELD_IO

    uint32_t Result;  // the device's AC status
};
