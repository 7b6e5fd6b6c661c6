#include <unistd.h>

#include "Pc/Os/OsSettings.h"

namespace vos {

std::string HostExecutablePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace vos
