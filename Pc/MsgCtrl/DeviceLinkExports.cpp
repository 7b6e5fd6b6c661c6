// The device-link exports: which link the library uses, and releasing it.
#include <mutex>

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "vantro/vantro_link.h"

namespace {
const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
constexpr int kLineGetCommDeviceNull = 2241;
}  // namespace

// The library picks its link itself; the argument is ignored.
uint32_t VANTRO_STDCALL KovSelectCommDevice(uint32_t device) {
    (void)device;
    return 0;
}

uint32_t VANTRO_STDCALL KovDisconnect(void) {
    ReleaseDeviceLink();
    return 0;
}

uint32_t VANTRO_STDCALL KovGetCommDevice(uint32_t* device) {
    if (!device) {
        ErrReportf(QXR_ERROR_NULL_OUTPUT, "[PC]%s(%d):", kSource, kLineGetCommDeviceNull);
        return QXR_ERROR_NULL_OUTPUT;
    }
    // Not under the communication mutex; the objects lock only keeps a
    // concurrent release from deleting the frame controller under us.
    std::lock_guard<std::mutex> lock(g_objectsLock);
    if (!g_pFrameCtrl) {
        *device = 0;
        return 0;
    }
    return g_pFrameCtrl->GetCommDevice(device);
}
