// The DLL's entry point: hands each notification to the lifecycle functions.
// Declared without the system headers: BOOL is int, DWORD is unsigned long.
// (The build globs every DllMain file; this one is for Windows only.)
#if defined(_WIN32)
#include <cstdint>

#include "Pc/Log/CallLog.h"
#include "Pc/Log/Lifecycle.h"
#include "Pc/Os/OsThread.h"

namespace {
constexpr unsigned long kDllProcessDetach = 0;
constexpr unsigned long kDllProcessAttach = 1;
constexpr unsigned long kDllThreadAttach = 2;
constexpr unsigned long kDllThreadDetach = 3;
}  // namespace

extern "C" int __stdcall DllMain(void* module, unsigned long reason, void* reserved) {
    (void)module;
    switch (reason) {
        case kDllProcessAttach:
            ProcessAttach();
            break;
        case kDllProcessDetach:
            if (reserved) {
                // The process is ending: its other threads are gone already,
                // possibly while holding a lock that the release would take.
                // The system frees what is left; only the line is written.
                TheCallLog().Printf("[0x%08X] DllMain DLL_PROCESS_DETACH\r\n", vos::ThreadCurrentId());
            } else {
                // FreeLibrary: the link's threads are stopped and awaited.
                ProcessDetach();
            }
            break;
        case kDllThreadAttach:
            ThreadAttach();
            break;
        case kDllThreadDetach:
            ThreadDetach();
            break;
        default:
            OtherNotification(static_cast<uint32_t>(reason));
            break;
    }
    return 1;
}
#endif  // _WIN32
