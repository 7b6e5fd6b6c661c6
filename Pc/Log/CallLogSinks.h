// The window and clipboard sinks of the call log. On Windows they act on the
// window and the clipboard; elsewhere there is nothing to act on and they do
// nothing.
#pragma once

#include <cstdint>

namespace callog_sinks {

// Runs the three window sinks selected in mask (redrawing off first, on again
// after them).
void WindowOutput(void* window, uint32_t mask, const char* line);
void ClipboardReplace(const char* line);
void ClipboardAdd(const char* line, bool atEnd);

}  // namespace callog_sinks
