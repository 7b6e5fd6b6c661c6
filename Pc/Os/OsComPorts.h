// Listing the PC's serial ports.
//
// Windows: the print spooler's port list (EnumPortsA, level 1), in its order.
// POSIX: the entries of the ports directory, sorted by name. Each entry is a
// symbolic link named like a Windows port ("COM3") whose target is the device
// ("/dev/ttyUSB0"); the directory is $VANTRO_PORTS_DIR, by default
// /etc/vantro/ports.
#pragma once

#include <string>
#include <vector>

namespace vos {

// All port names as listed, without any filtering (callers decide which
// names they use). An empty list when there are none or the listing fails.
std::vector<std::string> EnumPorts();

// POSIX: the ports directory in use.
std::string PortsDirectory();

}  // namespace vos
