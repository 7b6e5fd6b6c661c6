#include "Pc/MsgCtrl/PassThruState.h"

#include <cstdio>
#include <cstring>

#include "Pc/MsgCtrl/ResultCodes.h"

uint8_t DeviceOpen = 0;
uint32_t CurrentChannelID = 0;
char J2534LastError[80] = {0};
VWCHAR WideLastError[80] = {0};
std::mutex g_passThruLock;

uint32_t MapExchangeResult(uint32_t code) {
    if (code == 0) return 0;
    char text[32];
    std::snprintf(text, sizeof text, "ERROR_CODE:%08X", code);
    {
        std::lock_guard<std::mutex> lock(g_passThruLock);
        size_t i = 0;
        for (; text[i] != 0 && i + 1 < 80; ++i) WideLastError[i] = static_cast<VWCHAR>(text[i]);
        WideLastError[i] = 0;
    }
    if (code == QXR_ERROR_SEND_TIMEOUT || code == QXR_ERROR_RECV_TIMEOUT) return 8;
    if (code > 0xFFFFu) return 7;
    return code;
}

void ResetPassThruState() {
    std::lock_guard<std::mutex> lock(g_passThruLock);
    DeviceOpen = 0;
    CurrentChannelID = 0;
    std::memset(J2534LastError, 0, sizeof J2534LastError);
    std::memset(WideLastError, 0, sizeof WideLastError);
}
