#include "Tests/Windows/WinSupport.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <thread>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Tests/Support/InProcessLink.h"

namespace wintest {

std::string ExeDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::string DllPath() { return ExeDirectory() + "Vantro64.dll"; }

uint32_t ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    uint32_t count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snap);
    return count;
}

void UseUsbBus(const std::string& port) { vtest::SetEnv("VANTRO_USB_BUS", port.c_str()); }

std::string ReadWholeFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                    written == data.size();
    CloseHandle(h);
    return ok;
}

// ---- UsbBusDevice -----------------------------------------------------------------

UsbBusDevice::UsbBusDevice(sim::SimConfig config) {
    ReleaseDeviceLink();
    if (config.rootDir.empty()) {
        m_root = vtest::MakeTempDir("vantro-winroot-");
        config.rootDir = m_root;
    }
    if (const char* old = std::getenv("VANTRO_USB_BUS")) {
        m_hadBus = true;
        m_oldBus = old;
    }
    const uint16_t vendor = static_cast<uint16_t>(config.vendorId);
    const uint16_t product = static_cast<uint16_t>(config.productId);
    m_device.reset(new sim::SimDevice(config));
    m_bus.reset(new sim::UsbBusServer(*m_device, vendor, product));
    if (!m_bus->Start(0)) return;
    m_device->Start();
    m_port = m_bus->Port();
    vtest::SetEnv("VANTRO_USB_BUS", PortText().c_str());
}

UsbBusDevice::~UsbBusDevice() {
    ReleaseDeviceLink();
    vtest::SetEnv("VANTRO_USB_BUS", m_hadBus ? m_oldBus.c_str() : nullptr);
    m_bus->Stop();
    m_device->Stop();
    m_bus.reset();
    m_device.reset();
    if (!m_root.empty()) vtest::RemoveTree(m_root);
}

// ---- LoadedDll ---------------------------------------------------------------------

LoadedDll::LoadedDll() {
    m_module = LoadLibraryA(DllPath().c_str());
    if (!m_module) m_error = GetLastError();
}

LoadedDll::~LoadedDll() { Free(); }

bool LoadedDll::Free() {
    if (!m_module) return false;
    const bool ok = FreeLibrary(m_module) != FALSE;
    m_module = nullptr;
    return ok;
}

}  // namespace wintest
