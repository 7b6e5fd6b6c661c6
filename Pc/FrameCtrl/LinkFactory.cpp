// Construction of the real links for the frame controller's candidates.
#include <atomic>
#include <new>

#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/FrameCtrl/SerialIf.h"
#include "Pc/FrameCtrl/UsbIf.h"

namespace {
std::atomic<LinkFactory> g_factory{nullptr};
}

CCommIf* CreateRealLink(uint32_t commDevice, CMessage* message, const char* portName) {
    (void)message;
    (void)portName;
    switch (commDevice) {
        // The USB and serial links register here.
        case kCommUsb:
            return new (std::nothrow) CUsbIf(message);
        case kCommSerial:
            return new (std::nothrow) CSerialIf(message, portName);
        default:
            return nullptr;
    }
}

LinkFactory SetLinkFactory(LinkFactory factory) { return g_factory.exchange(factory); }

// Used by FrameCtrl::CreateLink.
CCommIf* ConstructLink(uint32_t commDevice, CMessage* message, const char* portName) {
    LinkFactory factory = g_factory.load();
    return factory ? factory(commDevice, message, portName) : CreateRealLink(commDevice, message, portName);
}
