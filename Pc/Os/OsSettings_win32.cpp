#include <windows.h>

#include "Pc/Os/OsSettings.h"

namespace vos {

std::string HostExecutablePath() {
    char buffer[MAX_PATH];  // 260 bytes, as the settings file name is built
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return std::string(buffer, n == 0 ? 0 : sizeof buffer - 1);
    return std::string(buffer, n);
}

}  // namespace vos
