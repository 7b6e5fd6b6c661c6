// Debugger output (OutputDebugStringA).
//
// On Windows the text goes to the debugger. On POSIX there is no debugger
// channel: the text goes to the file named by $VANTRO_DEBUG_OUTPUT ("stderr"
// for the standard error), and nowhere when it is not set.
#pragma once

#include <functional>

namespace vos {

void DebugOutput(const char* text);

// Test hook: every text also goes to this function (null removes it).
void SetDebugOutputHook(std::function<void(const char*)> hook);

}  // namespace vos
