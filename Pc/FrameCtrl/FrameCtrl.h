// The frame controller: keeps the candidate links (USB first, then the COM
// ports), creates a link on first use, has it transmit what the message layer
// prepared, fails over to the next candidate when the device does not
// acknowledge, and waits for the response. It has no lock: it runs only under
// the communication mutex.
#pragma once

#include <cstdint>

class CCommIf;
class CMessage;

struct LinkEntry {
    uint32_t commDevice;  // 1 USB, 2 serial
    char* portName;       // serial only: own copy of the listed name
    LinkEntry* next;
};

// Constructs (and thereby opens) the link object of a candidate; null when
// it cannot be allocated. Tests replace it to plug in link doubles.
using LinkFactory = CCommIf* (*)(uint32_t commDevice, CMessage* message, const char* portName);
LinkFactory SetLinkFactory(LinkFactory factory);  // null restores the real one
CCommIf* CreateRealLink(uint32_t commDevice, CMessage* message, const char* portName);
// The factory in force (the test one when set, else the real one).
CCommIf* ConstructLink(uint32_t commDevice, CMessage* message, const char* portName);

class FrameCtrl {
public:
    explicit FrameCtrl(CMessage* message);
    virtual ~FrameCtrl();
    FrameCtrl(const FrameCtrl&) = delete;
    FrameCtrl& operator=(const FrameCtrl&) = delete;

    uint32_t Transmit();
    uint32_t WaitResponse();
    uint32_t GetCommDevice(uint32_t* device);

    // Observers for tests.
    CCommIf* GetLink() const { return m_pLink; }
    const LinkEntry* GetCandidates() const { return m_pCandidates; }
    uint32_t GetCurrentIndex() const { return m_dwCurrentIndex; }

private:
    uint32_t CreateLink(uint32_t commDevice, const char* portName);
    void DeleteLink();

    CCommIf* m_pLink;
    CMessage* m_pMessage;
    LinkEntry* m_pCandidates;
    uint32_t m_dwCurrentIndex;
};
