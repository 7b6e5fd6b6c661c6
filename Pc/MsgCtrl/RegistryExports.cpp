// Device registry exports: one command each, tried up to three times. Each
// returns the exchange error if there was one, else the device's Win32 error
// code; outputs are written only after a successful exchange.
#include <cstring>

#include "Pc/MsgCtrl/CommExchange.h"
#include "Tessra/CmdListRegistry.h"
#include "vantro/vantro_registry.h"

namespace {

constexpr uint32_t kTrace = 1;
constexpr uint32_t kThreeAttempts = 2;

constexpr uint32_t kCodeRegCreateKeyEx = 0x33;
constexpr uint32_t kCodeRegOpenKeyEx = 0x34;
constexpr uint32_t kCodeRegDeleteKey = 0x35;
constexpr uint32_t kCodeRegCloseKey = 0x36;
constexpr uint32_t kCodeRegQueryValueEx = 0x37;
constexpr uint32_t kCodeRegSetValueEx = 0x38;
constexpr uint32_t kCodeRegDeleteValue = 0x39;
constexpr uint32_t kCodeRegFlushKey = 0x3A;

constexpr uint32_t kErrorMoreData = 234;

uint32_t RuleR1(uint32_t exchangeError, uint32_t result) { return exchangeError ? exchangeError : result; }

}  // namespace

VANTRO_API uint32_t VANTRO_STDCALL KovRegCreateKeyEx(uint32_t Key, const VWCHAR* SubKey, uint32_t,
                                                     const VWCHAR* Class, uint32_t, uint32_t, void*,
                                                     uint32_t* KeyOut, uint32_t* Disposition) {
    RegCreateKeyExRequest request;
    RegCreateKeyExResponse response;
    request.Key = Key;
    request.SubKey = SubKey;
    request.Class = Class;
    uint32_t error = ExecuteCommand(kCodeRegCreateKeyEx, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result == 0) {
        if (KeyOut) *KeyOut = response.NewKey;
        if (Disposition) *Disposition = response.Disposition;
    }
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegOpenKeyEx(uint32_t Key, const VWCHAR* SubKey, uint32_t,
                                                   uint32_t, uint32_t* KeyOut) {
    RegOpenKeyExRequest request;
    RegOpenKeyExResponse response;
    request.Key = Key;
    request.SubKey = SubKey;
    uint32_t error = ExecuteCommand(kCodeRegOpenKeyEx, &request, &response, kThreeAttempts, kTrace);
    if (error == 0 && response.Result == 0 && KeyOut) *KeyOut = response.NewKey;
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegDeleteKey(uint32_t Key, const VWCHAR* SubKey) {
    RegDeleteKeyRequest request;
    RegDeleteKeyResponse response;
    request.Key = Key;
    request.SubKey = SubKey;
    uint32_t error = ExecuteCommand(kCodeRegDeleteKey, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegCloseKey(uint32_t Key) {
    RegCloseKeyRequest request;
    RegCloseKeyResponse response;
    request.Key = Key;
    uint32_t error = ExecuteCommand(kCodeRegCloseKey, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegQueryValueEx(uint32_t Key, const VWCHAR* ValueName, void*,
                                                      uint32_t* Type, uint8_t* Data,
                                                      uint32_t* DataSize) {
    RegQueryValueExRequest request;
    RegQueryValueExResponse response;
    request.Key = Key;
    request.ValueName = ValueName;
    request.DataSize = DataSize ? *DataSize : 0;
    uint32_t error = ExecuteCommand(kCodeRegQueryValueEx, &request, &response, kThreeAttempts, kTrace);
    if (error) return error;

    if (response.Result == 0) {
        uint32_t length = response.Data.GetLength();
        if (Data && length > request.DataSize) {
            // More than the caller's buffer holds: nothing is copied, and the
            // caller learns the size as with a too-small buffer.
            if (DataSize) *DataSize = length;
            return kErrorMoreData;
        }
        if (Type) *Type = response.Type;
        if (Data && length) std::memcpy(Data, response.Data.GetData(), length);
        if (DataSize) *DataSize = length;
    } else if (response.Result == kErrorMoreData) {
        if (DataSize) *DataSize = response.RequiredSize;
    }
    return response.Result;
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegSetValueEx(uint32_t Key, const VWCHAR* ValueName, uint32_t,
                                                    uint32_t Type, const uint8_t* Data,
                                                    uint32_t DataSize) {
    RegSetValueExRequest request;
    RegSetValueExResponse response;
    request.Key = Key;
    request.ValueName = ValueName;
    request.Type = Type;
    request.Data.SetAt(Data, DataSize);
    uint32_t error = ExecuteCommand(kCodeRegSetValueEx, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegDeleteValue(uint32_t Key, const VWCHAR* ValueName) {
    RegDeleteValueRequest request;
    RegDeleteValueResponse response;
    request.Key = Key;
    request.ValueName = ValueName;
    uint32_t error = ExecuteCommand(kCodeRegDeleteValue, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}

VANTRO_API uint32_t VANTRO_STDCALL KovRegFlushKey(uint32_t Key) {
    RegFlushKeyRequest request;
    RegFlushKeyResponse response;
    request.Key = Key;
    uint32_t error = ExecuteCommand(kCodeRegFlushKey, &request, &response, kThreeAttempts, kTrace);
    return RuleR1(error, response.Result);
}
