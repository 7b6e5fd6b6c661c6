// Debugger output: the test hook sees every text, then the OS's channel.
#include "Pc/Os/OsDebug.h"

#include <mutex>

namespace vos {

// The OS's channel (OsDebug_win32.cpp, OsDebug_posix.cpp).
void DebugOutputNative(const char* text);

namespace {
std::mutex g_hookLock;
std::function<void(const char*)> g_hook;
}  // namespace

void DebugOutput(const char* text) {
    if (!text) return;
    std::function<void(const char*)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        hook = g_hook;
    }
    if (hook) hook(text);
    DebugOutputNative(text);
}

void SetDebugOutputHook(std::function<void(const char*)> hook) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_hook = std::move(hook);
}

}  // namespace vos
