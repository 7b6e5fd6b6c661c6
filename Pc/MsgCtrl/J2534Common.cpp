// The exchange outcome rule of the J2534 entry points and guarded access to
// the pass-thru state.
#include <cstring>
#include <mutex>

#include "Pc/MsgCtrl/J2534Local.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "vantro/j2534.h"
#include "vantro/vantro_errors.h"

namespace {
const char kInterfaceError[] = "DI_ZEDO_IF_ERROR";
}  // namespace

uint32_t J2534ExchangeOutcome(uint32_t exchangeError, uint32_t result, bool* resultPath) {
    if (exchangeError == 0) {
        *resultPath = true;
        if (result == ERR_FAILED) LocalJ2534GetLastError(J2534LastError);
        return result;
    }
    *resultPath = false;
    if (exchangeError == QXR_ERROR_SEND_TIMEOUT || exchangeError == QXR_ERROR_RECV_TIMEOUT)
        return ERR_DEVICE_NOT_CONNECTED;
    J2534SetLastErrorText(kInterfaceError);
    return ERR_FAILED;
}

bool IsJ2534LinkFailure(uint32_t code) {
    return code == QXR_ERROR_PCIF_TRANSMIT || code == QXR_ERROR_WAIT_RESPONSE || code == QXR_ERROR_SEND_TIMEOUT ||
           code == QXR_ERROR_RECV_TIMEOUT;
}

bool J2534IsOpen() {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    return DeviceOpen == 1;
}

uint32_t J2534CurrentChannel() {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    return CurrentChannelID;
}

void J2534SetCurrentChannel(uint32_t channelId) {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    CurrentChannelID = channelId;
}

void J2534SetOpen(bool open) {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    DeviceOpen = open ? 1 : 0;
    CurrentChannelID = 0;
}

void J2534SetLastErrorText(const char* text) {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    size_t n = std::strlen(text);
    if (n >= sizeof J2534LastError) n = sizeof J2534LastError - 1;
    std::memcpy(J2534LastError, text, n);
    J2534LastError[n] = 0;
}

void J2534CopyLastErrorText(char* out) {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    size_t n = 0;
    while (n < sizeof J2534LastError - 1 && J2534LastError[n] != 0) ++n;
    std::memcpy(out, J2534LastError, n);
    out[n] = 0;
}

uint32_t LogPtr(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

LogText::LogText(const char* text) {
    size_t n = 0;
    if (text)
        while (n < sizeof value - 1 && text[n] != 0) ++n;
    if (n) std::memcpy(value, text, n);
    value[n] = 0;
}
