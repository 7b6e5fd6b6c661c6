// The link to a device on a COM port (38400 baud, 8N1). A receive thread cuts
// the incoming byte stream into frames and hands each to the message layer; a
// transmit thread writes the frame the message layer has prepared. The link
// neither builds, checks nor retransmits frames.
#pragma once

#include <cstdint>

#include "Pc/FrameCtrl/CommIf.h"

class CSerialIf : public CCommIf {
public:
    // Opens the port at once; a failure shows later through Send and the
    // message layer.
    CSerialIf(CMessage* message, const char* portName);
    ~CSerialIf() override;

    uint32_t Open(const char* portName) override;
    void Close(uint32_t flags) override;
    uint32_t Send() override;
    uint32_t ReceiveThread() override;
    uint32_t TransmitThread() override;
};
