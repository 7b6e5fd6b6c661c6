#include <windows.h>

namespace vos {

void DebugOutputNative(const char* text) { OutputDebugStringA(text); }

}  // namespace vos
