// Heap blocks for buffers handed along the device path (LocalAlloc with fixed
// memory on Windows, malloc elsewhere), with a hook that lets tests make
// allocations fail.
#pragma once

#include <cstddef>
#include <functional>

namespace vos {

// Null on failure.
void* MemAlloc(size_t size);
void MemFree(void* block);

// Test hook: called with the size of every MemAlloc; returning true makes
// that allocation fail. Null removes it.
void SetAllocFailHook(std::function<bool(size_t)> hook);

}  // namespace vos
