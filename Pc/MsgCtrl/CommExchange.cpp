// Rules this file keeps, as every layer below it:
//  - every wait is bounded or ends with the link (the message layer's
//    time-outs end every exchange within 10 s of silence);
//  - nothing reports success it did not achieve: a response that could not be
//    read is an error, never a short answer;
//  - every failure is reported once, where it is detected.
#include "Pc/MsgCtrl/CommExchange.h"

#include <mutex>
#include <new>
#include <string>

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/MsgReader.h"
#include "Pc/MsgCtrl/MsgWriter.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsNamedMutex.h"

CMessage* g_pMessage = nullptr;
FrameCtrl* g_pFrameCtrl = nullptr;
vos::OsHandle g_hCommMutex = nullptr;
std::mutex g_objectsLock;

namespace {
const char kSource[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
std::mutex g_mutexHandleLock;
}  // namespace

uint32_t CreateCommObjects() {
    std::lock_guard<std::mutex> lock(g_objectsLock);
    if (!g_pMessage) g_pMessage = new (std::nothrow) CMessage();
    if (g_pMessage && !g_pFrameCtrl) g_pFrameCtrl = new (std::nothrow) FrameCtrl(g_pMessage);
    return 0;
}

uint32_t ReleaseDeviceLink() {
    std::lock_guard<std::mutex> lock(g_objectsLock);
    if (g_pFrameCtrl) {
        delete g_pFrameCtrl;
        g_pFrameCtrl = nullptr;
    }
    if (g_pMessage) {
        delete g_pMessage;
        g_pMessage = nullptr;
    }
    FreeDirList();
    return 0;
}

// A test's own name for the mutex (empty: the product's name).
static std::string g_commMutexNameForTests;

void SetCommMutexNameForTests(const char* name) {
    std::lock_guard<std::mutex> lock(g_mutexHandleLock);
    g_commMutexNameForTests = name ? name : "";
}

uint32_t LockCommunication(uint32_t timeoutMs) {
    vos::OsHandle mutex;
    {
        std::lock_guard<std::mutex> lock(g_mutexHandleLock);
        if (!g_hCommMutex) {
            g_hCommMutex = vos::NamedMutexCreate(
                g_commMutexNameForTests.empty() ? kCommMutexName : g_commMutexNameForTests.c_str());
            if (!g_hCommMutex) {
                ErrReportf(QXR_ERROR_MUTEX_CREATE, "[PC]%s(%d):", kSource, 182);
                return QXR_ERROR_MUTEX_CREATE;
            }
        }
        mutex = g_hCommMutex;
    }
    uint32_t wait = vos::NamedMutexWait(mutex, timeoutMs);
    if (wait == vos::kWaitObject0) return 0;
    if (wait == vos::kWaitTimeout) {
        ErrReportf(QXR_ERROR_MUTEX_TIMEOUT, "[PC]%s(%d):", kSource, 193);
        return QXR_ERROR_MUTEX_TIMEOUT;
    }
    if (wait == vos::kWaitAbandoned) {
        // The waiter now owns a mutex whose last holder died; give it back so
        // that it does not stay owned, and fail this call.
        vos::NamedMutexRelease(mutex);
    }
    ErrReportf(QXR_ERROR_MUTEX_WAIT, "[PC]%s(%d):", kSource, 199);
    return QXR_ERROR_MUTEX_WAIT;
}

uint32_t UnlockCommunication() {
    vos::OsHandle mutex;
    {
        std::lock_guard<std::mutex> lock(g_mutexHandleLock);
        mutex = g_hCommMutex;
    }
    if (!mutex || !vos::NamedMutexRelease(mutex)) {
        ErrReportf(QXR_ERROR_MUTEX_RELEASE, "[PC]%s(%d):", kSource, 214);
        return QXR_ERROR_MUTEX_RELEASE;
    }
    return 0;
}

uint32_t ExecuteCommand(uint32_t code, CCmdCore* request, CCmdCore* response, uint32_t retries,
                        uint32_t trace) {
    MsgWriter writer;
    MsgReader reader;

    CreateCommObjects();

    writer.WriteCommand(code, request);
    if (writer.GetLastError() != 0) return writer.GetLastError();

    uint32_t result = LockCommunication(vos::kOsInfinite);
    if (result != 0) return result;

    // Under the mutex: the objects of this process (built again here if a
    // release ran since the call began).
    CreateCommObjects();
    CMessage* message;
    FrameCtrl* frameCtrl;
    {
        std::lock_guard<std::mutex> lock(g_objectsLock);
        message = g_pMessage;
        frameCtrl = g_pFrameCtrl;
    }
    if (!message || !frameCtrl) {
        result = QXR_ERROR_OUT_OF_MEMORY;
        ErrReportf(result, "[PC]%s(%d):", kSource, 251);
    } else {
        uint32_t attempt = 0;
        for (;;) {
            uint32_t error = message->SendRequest(writer.GetBuffer(), writer.GetSize(), nullptr);
            if (error == 0) {
                if (trace) ComReport(0, 0, reinterpret_cast<const char*>(writer.GetBuffer()), writer.GetSize());
                error = frameCtrl->Transmit();
            }
            if (error == 0) error = frameCtrl->WaitResponse();
            const uint8_t* bytes = nullptr;
            uint32_t length = 0;
            if (error == 0) error = message->GetResponse(&bytes, &length);
            if (error == 0) {
                if (trace) ComReport(0, 0, reinterpret_cast<const char*>(bytes), length);
                reader.SetBuffer(bytes, length);
                reader.ResponseStatus = 0;
                reader.RefusalCode = 0;
                reader.ReadCommand(response);
                if (reader.GetLastError() != 0) {
                    error = reader.GetLastError();
                } else if (reader.ResponseStatus == kStatusRefused) {
                    error = reader.RefusalCode;
                }
            }
            result = error;
            if (error == 0) break;
            // Nothing of a failed attempt outlives it: the message layer goes
            // back to Idle and forgets the request (the frame controller has
            // done so on most paths already; a failed SendRequest or
            // GetResponse has not), so the next attempt can begin.
            message->EndExchange();
            ++attempt;
            if (retries < attempt) break;
        }
    }

    UnlockCommunication();
    return result;
}
