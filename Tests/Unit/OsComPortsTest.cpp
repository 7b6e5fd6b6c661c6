// Listing COM ports: the ports directory on POSIX, the spooler on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Pc/Os/OsComPorts.h"

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
TEST(OsComPorts, ListsEveryEntryOfThePortsDirectorySorted) {
    fs::path dir = fs::temp_directory_path() /
                   ("vantro-ports-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    fs::create_symlink("/dev/null", dir / "COM3");
    fs::create_symlink("/dev/null", dir / "COM10");
    fs::create_symlink("/nonexistent", dir / "LPT1");
    std::ofstream(dir / "notes.txt") << "x";

    const char* saved = std::getenv("VANTRO_PORTS_DIR");
    std::string savedValue = saved ? saved : "";
    setenv("VANTRO_PORTS_DIR", dir.c_str(), 1);
    EXPECT_EQ(dir.string(), vos::PortsDirectory());
    EXPECT_EQ((std::vector<std::string>{"COM10", "COM3", "LPT1", "notes.txt"}), vos::EnumPorts());

    setenv("VANTRO_PORTS_DIR", (dir / "missing").c_str(), 1);
    EXPECT_TRUE(vos::EnumPorts().empty());
    unsetenv("VANTRO_PORTS_DIR");
    EXPECT_EQ("/etc/vantro/ports", vos::PortsDirectory());
    if (saved) setenv("VANTRO_PORTS_DIR", savedValue.c_str(), 1);
    fs::remove_all(dir);
}
#else
TEST(OsComPorts, ListsTheSpoolerPorts) {
    // Wine and Windows both list at least the standard COM and LPT ports.
    std::vector<std::string> ports = vos::EnumPorts();
    bool com = false;
    for (const std::string& p : ports) com = com || p.compare(0, 3, "COM") == 0;
    EXPECT_TRUE(com) << ports.size() << " ports";
}
#endif

}  // namespace
