#include <dirent.h>

#include <algorithm>
#include <cstdlib>

#include "Pc/Os/OsComPorts.h"

namespace vos {

std::string PortsDirectory() {
    const char* dir = std::getenv("VANTRO_PORTS_DIR");
    return (dir && *dir) ? std::string(dir) : std::string("/etc/vantro/ports");
}

std::vector<std::string> EnumPorts() {
    std::vector<std::string> names;
    DIR* dir = opendir(PortsDirectory().c_str());
    if (!dir) return names;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vos
