// Serial ports with the Win32 comm behaviour: comm state, time-outs with
// interval and total limits, purge, input-queue count. A port is opened by its
// Windows name ("COM3"); on POSIX the name is looked up in the ports directory
// (OsComPorts.h) and only character devices are opened.
#pragma once

#include <cstdint>

#include "Pc/Os/OsTypes.h"

namespace vos {

// The fields of the Win32 DCB that the library sets. Fields the library does
// not name keep the values the port had (the native state is carried along).
struct OsDcb {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;    // NOPARITY
    uint8_t StopBits = 0;  // ONESTOPBIT
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    uint8_t fDtrControl = 0;  // DTR_CONTROL_DISABLE/ENABLE/HANDSHAKE = 0/1/2
    uint8_t fRtsControl = 0;  // RTS_CONTROL_DISABLE/ENABLE/HANDSHAKE/TOGGLE = 0/1/2/3
    alignas(8) unsigned char native[128] = {};
};

struct OsCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

constexpr uint32_t kPurgeTxAbort = 0x01;
constexpr uint32_t kPurgeRxAbort = 0x02;
constexpr uint32_t kPurgeTxClear = 0x04;
constexpr uint32_t kPurgeRxClear = 0x08;

// InvalidHandle() on failure (null name, unknown port, not a character
// device, busy).
OsHandle SerialOpen(const char* name);
bool SerialGetState(OsHandle port, OsDcb* dcb);
bool SerialSetState(OsHandle port, const OsDcb* dcb);
bool SerialSetTimeouts(OsHandle port, const OsCommTimeouts* timeouts);
bool SerialPurge(OsHandle port, uint32_t flags);
// ClearCommError: error bits and the number of bytes waiting to be read.
bool SerialClearError(OsHandle port, uint32_t* errors, uint32_t* inQueue);
// ReadFile under the port's time-outs (library clock): returns true with the
// bytes that arrived in time, possibly fewer than asked.
bool SerialRead(OsHandle port, void* buffer, uint32_t size, uint32_t* read);
bool SerialWrite(OsHandle port, const void* data, uint32_t size, uint32_t* written);
// Blocks until bytes are waiting, stopEvent is signalled or the time-out
// passes; true when bytes are waiting. Lets a receive loop sleep instead of
// polling the queue count. The stop event (may be null) is only looked at,
// never reset, so an auto-reset event stays signalled for its owner's wait.
// One thread at a time waits on a port.
bool SerialWaitInput(OsHandle port, OsHandle stopEvent, uint32_t timeoutMs);
void SerialClose(OsHandle port);

}  // namespace vos
