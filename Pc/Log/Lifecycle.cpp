// Process attach and detach (see Lifecycle.h). Each notification writes its
// line to the call log with the current thread id.
#include "Pc/Log/Lifecycle.h"

#include <mutex>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Log/CallLog.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsNamedMutex.h"
#include "Pc/Os/OsThread.h"

void ProcessAttach() {
    ResetPassThruState();
    {
        // Nothing exists yet when the library is loaded.
        std::lock_guard<std::mutex> lock(g_objectsLock);
        g_pDirList = nullptr;
        g_pMessage = nullptr;
        g_pFrameCtrl = nullptr;
        g_hCommMutex = nullptr;
    }
    TheCallLog().SetMode(0);
    TheCallLog().Printf("[0x%08X] DllMain DLL_PROCESS_ATTACH\r\n", vos::ThreadCurrentId());
}

void ProcessDetach() {
    TheCallLog().Printf("[0x%08X] DllMain DLL_PROCESS_DETACH\r\n", vos::ThreadCurrentId());
    std::lock_guard<std::mutex> lock(g_objectsLock);
    // The frame controller first: it closes its link, whose threads use the
    // message layer.
    if (g_pFrameCtrl) {
        delete g_pFrameCtrl;
        g_pFrameCtrl = nullptr;
    }
    if (g_pMessage) {
        delete g_pMessage;
        g_pMessage = nullptr;
    }
    FreeDirList();
    if (g_hCommMutex) {
        vos::NamedMutexClose(g_hCommMutex);
        g_hCommMutex = nullptr;
    }
}

void ThreadAttach() { TheCallLog().Printf("[0x%08X] DllMain DLL_THREAD_ATTACH\r\n", vos::ThreadCurrentId()); }

void ThreadDetach() { TheCallLog().Printf("[0x%08X] DllMain DLL_THREAD_DETACH\r\n", vos::ThreadCurrentId()); }

void OtherNotification(uint32_t reason) {
    TheCallLog().Printf("[0x%08X] DllMain [0x%08X]\r\n", vos::ThreadCurrentId(), reason);
}
