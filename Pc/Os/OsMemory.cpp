#include "Pc/Os/OsMemory.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vos {
namespace {
std::mutex g_lock;
std::function<bool(size_t)> g_failHook;
std::atomic<bool> g_hasHook{false};
}  // namespace

void* MemAlloc(size_t size) {
    if (g_hasHook.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_failHook && g_failHook(size)) return nullptr;
    }
#if defined(_WIN32)
    return LocalAlloc(LMEM_FIXED, size ? size : 1);
#else
    return std::malloc(size ? size : 1);
#endif
}

void MemFree(void* block) {
    if (!block) return;
#if defined(_WIN32)
    LocalFree(block);
#else
    std::free(block);
#endif
}

void SetAllocFailHook(std::function<bool(size_t)> hook) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_failHook = std::move(hook);
    g_hasHook.store(static_cast<bool>(g_failHook), std::memory_order_release);
}

}  // namespace vos
