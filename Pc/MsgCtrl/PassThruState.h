// The pass-thru state shared by the J2534 04.04, stdcall pass-thru, OEM and
// DLC12 exports: the open flag, the last connected channel and the two
// last-error texts. Process-wide; guarded by g_passThruLock, which is never
// held across an exchange.
#pragma once

#include <cstdint>
#include <mutex>

#include "vantro/vantro_types.h"

extern uint8_t DeviceOpen;
extern uint32_t CurrentChannelID;
extern char J2534LastError[80];
extern VWCHAR WideLastError[80];
extern std::mutex g_passThruLock;

// Turns an exchange result into a pass-thru status: 0 stays 0; otherwise
// WideLastError becomes "ERROR_CODE:%08X" and the result is 8 for the two
// no-answer time-outs, 7 for any code above 65535, else the code itself.
uint32_t MapExchangeResult(uint32_t code);

// Process attach: both texts emptied, flags cleared.
void ResetPassThruState();
