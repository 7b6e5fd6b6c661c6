#include <windows.h>
#include <winspool.h>
// winspool.h maps EnumPorts to EnumPortsA; the name is ours here.
#undef EnumPorts

#include <vector>

#include "Pc/Os/OsComPorts.h"

namespace vos {

std::string PortsDirectory() { return std::string(); }

std::vector<std::string> EnumPorts() {
    std::vector<std::string> names;
    DWORD needed = 0, returned = 0;
    ::EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned);
    if (needed == 0) return names;
    std::vector<BYTE> buffer(needed);
    if (!::EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &returned)) return names;
    const PORT_INFO_1A* ports = reinterpret_cast<const PORT_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        if (ports[i].pName) names.push_back(ports[i].pName);
    return names;
}

}  // namespace vos
