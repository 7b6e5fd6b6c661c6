// The abstract link between the message layer and a physical channel.
//
// A link moves whole frames between the message layer's transmit slot and the
// wire and hands every received frame back to the message layer; it neither
// builds nor checks frames. CUsbIf and CSerialIf implement it; tests use
// doubles.
#pragma once

#include <cstdint>

#include "Pc/Os/OsCritSec.h"
#include "Pc/Os/OsTypes.h"

class CMessage;

enum CommDevice : uint32_t {
    kCommNone = 0,
    kCommUsb = 1,
    kCommSerial = 2,
};

class CCommIf {
public:
    CCommIf(CMessage* message, const char* portName);
    CCommIf(const CCommIf&) = delete;
    CCommIf& operator=(const CCommIf&) = delete;

    virtual uint32_t Open(const char* portName) = 0;
    virtual void Close(uint32_t flags) = 0;
    virtual void Reserved() {}
    virtual ~CCommIf();
    // Sets the send-request event and waits until the message layer reports
    // the request accepted, refused or failed.
    virtual uint32_t Send() = 0;
    virtual void StopReceive();
    virtual vos::OsHandle GetSendRequestEvent();
    virtual uint32_t GetCommDevice();
    virtual uint32_t ReceiveThread() = 0;
    virtual uint32_t TransmitThread() = 0;

    // Thread start routines: the argument is the link.
    static uint32_t ReceiveThreadStart(void* link);
    static uint32_t TransmitThreadStart(void* link);

protected:
    vos::OsCriticalSection m_csPort;
    vos::OsHandle m_hPort;
    vos::OsHandle m_hRecvThread;
    vos::OsHandle m_hSendThread;
    vos::OsHandle m_hEventRecvStarted;
    vos::OsHandle m_hEventRecvStopped;
    vos::OsHandle m_hEventRecvStop;
    vos::OsHandle m_hEventSendStarted;
    vos::OsHandle m_hEventSendStopped;
    vos::OsHandle m_hEventSendStop;
    vos::OsHandle m_hEventRecvEnable;
    vos::OsHandle m_hEventSendRequest;
    CMessage* m_pMessage;
    uint32_t m_nCommDevice;
    intptr_t m_hDevice;
};
