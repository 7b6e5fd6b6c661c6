// Placeholder: the window and clipboard sinks arrive with the call log's
// Windows work.
#include "Pc/Log/CallLogSinks.h"

namespace callog_sinks {
void WindowOutput(void*, uint32_t, const char*) {}
void ClipboardReplace(const char*) {}
void ClipboardAdd(const char*, bool) {}
}  // namespace callog_sinks
