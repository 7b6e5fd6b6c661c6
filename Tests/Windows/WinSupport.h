// Helpers of the Windows tests (vantro_windows_tests, run under wine64 or on
// Windows): the test executable's folder and the DLL beside it, the threads
// of this process, a simulated device on the simulated USB bus, and
// Vantro64.dll loaded by path as an application loads it.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tests/Support/Wait.h"

namespace wintest {

// The folder of the test executable, with a trailing backslash.
std::string ExeDirectory();
// Full path of the product DLL the build copies next to the tests.
std::string DllPath();
// Number of threads of this process (Toolhelp snapshot); 0 on failure.
uint32_t ThreadCount();

using vtest::WaitUntil;

// Sets VANTRO_USB_BUS (for a child process that got the port as argument).
void UseUsbBus(const std::string& port);

// Whole file as bytes, "" when it cannot be read; writes a whole file.
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& data);

// A simulated device served on the simulated USB bus (127.0.0.1, a free
// port). While it lives VANTRO_USB_BUS names its port, so every USB link of
// this process (and of children that inherit the environment) finds it; the
// device links of the statically linked library are released before and
// after.
class UsbBusDevice {
public:
    explicit UsbBusDevice(sim::SimConfig config = sim::SimConfig());
    ~UsbBusDevice();
    UsbBusDevice(const UsbBusDevice&) = delete;
    UsbBusDevice& operator=(const UsbBusDevice&) = delete;

    bool ok() const { return m_port != 0; }
    uint16_t Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }
    sim::SimDevice& Device() { return *m_device; }
    sim::UsbBusServer& Bus() { return *m_bus; }

private:
    std::string m_root;
    std::string m_oldBus;
    bool m_hadBus = false;
    std::unique_ptr<sim::SimDevice> m_device;
    std::unique_ptr<sim::UsbBusServer> m_bus;
    uint16_t m_port = 0;
};

// Vantro64.dll loaded with LoadLibraryA by its full path, freed at the end.
class LoadedDll {
public:
    LoadedDll();
    ~LoadedDll();
    LoadedDll(const LoadedDll&) = delete;
    LoadedDll& operator=(const LoadedDll&) = delete;

    bool ok() const { return m_module != nullptr; }
    DWORD loadError() const { return m_error; }
    // FreeLibrary now; true when it succeeded.
    bool Free();

    // The export named name (GetProcAddress) as a function pointer of type F.
    template <class F>
    F Get(const char* name) const {
        return m_module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_module, name))) : nullptr;
    }

private:
    HMODULE m_module = nullptr;
    DWORD m_error = 0;
};

}  // namespace wintest
