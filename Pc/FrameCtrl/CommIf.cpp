// The members that every link shares (see CommIf.h).
#include "Pc/FrameCtrl/CommIf.h"

#include "Pc/Os/OsEvent.h"

CCommIf::CCommIf(CMessage* message, const char* portName)
    : m_hPort(vos::InvalidHandle()),
      m_hRecvThread(nullptr),
      m_hSendThread(nullptr),
      // Unnamed, manual-reset, not signalled.
      m_hEventRecvStarted(vos::EventCreate(true, false)),
      m_hEventRecvStopped(vos::EventCreate(true, false)),
      m_hEventRecvStop(vos::EventCreate(true, false)),
      m_hEventSendStarted(vos::EventCreate(true, false)),
      m_hEventSendStopped(vos::EventCreate(true, false)),
      m_hEventSendStop(vos::EventCreate(true, false)),
      m_hEventRecvEnable(vos::EventCreate(true, false)),
      m_hEventSendRequest(vos::EventCreate(true, false)),
      m_pMessage(message),
      m_nCommDevice(0),
      m_hDevice(-1) {
    // The port name is for the concrete link's Open.
    (void)portName;
}

CCommIf::~CCommIf() {
    vos::OsHandle* events[] = {&m_hEventRecvStarted, &m_hEventRecvStopped, &m_hEventRecvStop,
                               &m_hEventSendStarted, &m_hEventSendStopped, &m_hEventSendStop,
                               &m_hEventRecvEnable,  &m_hEventSendRequest};
    for (vos::OsHandle* event : events) {
        if (*event) vos::EventClose(*event);
        *event = nullptr;
    }
}

void CCommIf::StopReceive() { vos::EventReset(m_hEventRecvEnable); }

vos::OsHandle CCommIf::GetSendRequestEvent() { return m_hEventSendRequest; }

uint32_t CCommIf::GetCommDevice() { return m_nCommDevice; }

uint32_t CCommIf::ReceiveThreadStart(void* link) { return static_cast<CCommIf*>(link)->ReceiveThread(); }

uint32_t CCommIf::TransmitThreadStart(void* link) { return static_cast<CCommIf*>(link)->TransmitThread(); }
