// The DLL's entry point: hands each notification to the lifecycle functions.
// Declared without the system headers: BOOL is int, DWORD is unsigned long.
// (The build globs every DllMain file; this one is for Windows only.)
#if defined(_WIN32)
#include <cstdint>

#include "Pc/Log/Lifecycle.h"

namespace {
constexpr unsigned long kDllProcessDetach = 0;
constexpr unsigned long kDllProcessAttach = 1;
constexpr unsigned long kDllThreadAttach = 2;
constexpr unsigned long kDllThreadDetach = 3;
}  // namespace

extern "C" int __stdcall DllMain(void* module, unsigned long reason, void* reserved) {
    (void)module;
    (void)reserved;
    switch (reason) {
        case kDllProcessAttach:
            ProcessAttach();
            break;
        case kDllProcessDetach:
            ProcessDetach();
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
