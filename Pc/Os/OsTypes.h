// Basic handle and wait types of the platform layer.
//
// The platform layer follows Win32 semantics on every OS: handles are opaque
// pointers, waits take millisecond time-outs with kOsInfinite meaning "no
// limit", and wait results use the Win32 numbers.
#pragma once

#include <cstdint>

namespace vos {

using OsHandle = void*;

constexpr uint32_t kOsInfinite = 0xFFFFFFFFu;

// Results of the wait functions (Win32 numbering).
constexpr uint32_t kWaitObject0 = 0x00000000u;
constexpr uint32_t kWaitAbandoned = 0x00000080u;
constexpr uint32_t kWaitTimeout = 0x00000102u;  // 258
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;

// The value a closed file or port handle holds (all bits set).
inline OsHandle InvalidHandle() { return reinterpret_cast<OsHandle>(~uintptr_t(0)); }
inline bool IsValidHandle(OsHandle h) { return h != nullptr && h != InvalidHandle(); }

}  // namespace vos
