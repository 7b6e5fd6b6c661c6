// Serial ports on the Win32 comm API. The handle is the port's file handle.
//
// Time-outs handed to the driver are scaled by the library clock's rate, so
// that tests running the clock faster see the port's limits shrink with it
// (0 and MAXDWORD keep their special meanings).
#include <windows.h>

#include <cstring>
#include <string>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsSerial.h"

namespace vos {
namespace {

static_assert(sizeof(DCB) <= sizeof(OsDcb::native), "DCB does not fit");

DWORD Scaled(DWORD ms) { return (ms == 0 || ms == MAXDWORD) ? ms : OsRealMs(ms); }

}  // namespace

OsHandle SerialOpen(const char* name) {
    if (!name || !*name) return InvalidHandle();
    // "\\.\COMn" reaches every port, also COM10 and above; the spooler
    // lists ports as "COM3:", whose colon the device path does not take.
    std::string path = name;
    if (path.find('\\') == std::string::npos) {
        if (path.size() > 1 && path.back() == ':') path.pop_back();
        path = "\\\\.\\" + path;
    }
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool SerialGetState(OsHandle port, OsDcb* dcb) {
    if (!IsValidHandle(port) || !dcb) return false;
    DCB native;
    std::memset(&native, 0, sizeof native);
    native.DCBlength = sizeof native;
    if (!GetCommState(port, &native)) return false;
    dcb->BaudRate = native.BaudRate;
    dcb->ByteSize = native.ByteSize;
    dcb->Parity = native.Parity;
    dcb->StopBits = native.StopBits;
    dcb->fOutxCtsFlow = native.fOutxCtsFlow != 0;
    dcb->fOutxDsrFlow = native.fOutxDsrFlow != 0;
    dcb->fDtrControl = static_cast<uint8_t>(native.fDtrControl);
    dcb->fRtsControl = static_cast<uint8_t>(native.fRtsControl);
    std::memcpy(dcb->native, &native, sizeof native);
    return true;
}

bool SerialSetState(OsHandle port, const OsDcb* dcb) {
    if (!IsValidHandle(port) || !dcb) return false;
    DCB native;
    std::memcpy(&native, dcb->native, sizeof native);
    if (native.DCBlength != sizeof native) {
        std::memset(&native, 0, sizeof native);
        native.DCBlength = sizeof native;
        if (!GetCommState(port, &native)) return false;
    }
    native.BaudRate = dcb->BaudRate;
    native.ByteSize = dcb->ByteSize;
    native.Parity = dcb->Parity;
    native.StopBits = dcb->StopBits;
    native.fOutxCtsFlow = dcb->fOutxCtsFlow ? 1 : 0;
    native.fOutxDsrFlow = dcb->fOutxDsrFlow ? 1 : 0;
    native.fDtrControl = dcb->fDtrControl & 3;
    native.fRtsControl = dcb->fRtsControl & 3;
    return SetCommState(port, &native) != FALSE;
}

bool SerialSetTimeouts(OsHandle port, const OsCommTimeouts* timeouts) {
    if (!IsValidHandle(port) || !timeouts) return false;
    COMMTIMEOUTS ct;
    ct.ReadIntervalTimeout = Scaled(timeouts->ReadIntervalTimeout);
    ct.ReadTotalTimeoutMultiplier = Scaled(timeouts->ReadTotalTimeoutMultiplier);
    ct.ReadTotalTimeoutConstant = Scaled(timeouts->ReadTotalTimeoutConstant);
    ct.WriteTotalTimeoutMultiplier = Scaled(timeouts->WriteTotalTimeoutMultiplier);
    ct.WriteTotalTimeoutConstant = Scaled(timeouts->WriteTotalTimeoutConstant);
    return SetCommTimeouts(port, &ct) != FALSE;
}

bool SerialPurge(OsHandle port, uint32_t flags) { return IsValidHandle(port) && PurgeComm(port, flags) != FALSE; }

bool SerialClearError(OsHandle port, uint32_t* errors, uint32_t* inQueue) {
    DWORD bits = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    if (!IsValidHandle(port) || !ClearCommError(port, &bits, &stat)) return false;
    if (errors) *errors = bits;
    if (inQueue) *inQueue = stat.cbInQue;
    return true;
}

bool SerialRead(OsHandle port, void* buffer, uint32_t size, uint32_t* read) {
    DWORD n = 0;
    BOOL ok = IsValidHandle(port) && ReadFile(port, buffer, size, &n, nullptr);
    if (read) *read = n;
    return ok != FALSE;
}

bool SerialWrite(OsHandle port, const void* data, uint32_t size, uint32_t* written) {
    DWORD n = 0;
    BOOL ok = IsValidHandle(port) && WriteFile(port, data, size, &n, nullptr);
    if (written) *written = n;
    return ok != FALSE;
}

// The port is synchronous, so there is no waitable comm event: the queue
// count is polled with 1 ms pauses. The stop event is only looked at: when the
// wait takes it (an auto-reset event) it is set again for its owner's wait.
bool SerialWaitInput(OsHandle port, OsHandle stopEvent, uint32_t timeoutMs) {
    if (!IsValidHandle(port)) return false;
    DWORD realMs = OsRealMs(timeoutMs);
    ULONGLONG start = GetTickCount64();
    for (;;) {
        uint32_t queued = 0;
        if (!SerialClearError(port, nullptr, &queued)) return false;
        if (queued > 0) return true;
        if (realMs != INFINITE && GetTickCount64() - start >= realMs) return false;
        if (stopEvent) {
            DWORD rc = WaitForSingleObject(stopEvent, 1);
            if (rc == WAIT_OBJECT_0) {
                SetEvent(stopEvent);
                return false;
            }
            if (rc != WAIT_TIMEOUT) return false;
        } else {
            Sleep(1);
        }
    }
}

void SerialClose(OsHandle port) {
    if (IsValidHandle(port)) CloseHandle(port);
}

}  // namespace vos

