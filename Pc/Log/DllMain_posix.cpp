// The shared object's load and unload notifications. There are no thread
// notifications on POSIX.
#if !defined(_WIN32)
#include "Pc/Log/Lifecycle.h"

namespace {

__attribute__((constructor)) void LibraryLoaded() { ProcessAttach(); }

__attribute__((destructor)) void LibraryUnloaded() { ProcessDetach(); }

}  // namespace
#endif  // !_WIN32
