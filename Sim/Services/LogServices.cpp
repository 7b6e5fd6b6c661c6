// The simulated device's own log (commands 0x15 to 0x19).
//
// The log lives in SimConfig::logFile, or in device.log at the root of the
// device's file system; what a previous run left there is kept. Init starts
// the log under a name (again: under the new name), Close stops it, Clear
// empties it (open or not), Flash copies it to a device file, and PutMsg
// appends one entry while the log is open:
//     2024-05-01 12:00:00.123 <name>: <message bytes>
// The message goes in as sent, up to its first zero byte; a line feed ends
// each entry.
//
// Results (Win32 codes): 0; 6 (ERROR_INVALID_HANDLE) for PutMsg or Close
// while the log is not open; 87 (ERROR_INVALID_PARAMETER) for an empty name
// or message, or a flash path that leaves the device's volume; 29
// (ERROR_WRITE_FAULT) when the host file cannot be written.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "Sim/Core/Services.h"
#include "Sim/Services/FileServices.h"

namespace sim {
namespace {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorInvalidParameter = 87;

namespace fs = std::filesystem;

std::string Timestamp() {
    using namespace std::chrono;
    const system_clock::time_point now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, ms);
    return text;
}

class DeviceLog {
public:
    explicit DeviceLog(DeviceState& device) : m_device(device) {}

    // The host file of the log.
    fs::path File() {
        const std::string& configured = m_device.Config().logFile;
        if (!configured.empty()) return fs::path(configured);
        return m_device.Family<FileFamily>().Root() / "device.log";
    }

    uint32_t Init(const std::u16string& name) {
        if (name.empty()) return kErrorInvalidParameter;
        m_name = ToUtf8(name);
        m_open = true;
        return kErrorSuccess;
    }

    uint32_t Close() {
        if (!m_open) return kErrorInvalidHandle;
        m_open = false;
        return kErrorSuccess;
    }

    uint32_t Clear() {
        std::error_code ec;
        fs::path file = File();
        if (!fs::exists(file, ec)) return kErrorSuccess;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        return out ? kErrorSuccess : kErrorWriteFault;
    }

    uint32_t Put(const std::vector<uint8_t>& message) {
        if (!m_open) return kErrorInvalidHandle;
        size_t length = 0;
        while (length < message.size() && message[length] != 0) ++length;
        if (length == 0) return kErrorInvalidParameter;
        std::ofstream out(File(), std::ios::binary | std::ios::app);
        if (!out) return kErrorWriteFault;
        out << Timestamp() << ' ' << m_name << ": ";
        out.write(reinterpret_cast<const char*>(message.data()), static_cast<std::streamsize>(length));
        out << '\n';
        return out.flush() ? kErrorSuccess : kErrorWriteFault;
    }

    uint32_t Flash(const std::u16string& devicePath) {
        if (devicePath.empty()) return kErrorInvalidParameter;
        fs::path target;
        if (!MapDevicePath(m_device.Family<FileFamily>().Root(), devicePath, &target))
            return kErrorInvalidParameter;
        std::error_code ec;
        fs::path source = File();
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out) return kErrorWriteFault;
        if (fs::exists(source, ec)) {
            std::ifstream in(source, std::ios::binary);
            out << in.rdbuf();
        }
        return out.flush() ? kErrorSuccess : kErrorWriteFault;
    }

private:
    DeviceState& m_device;
    bool m_open = false;
    std::string m_name;
};

void LogInit(CommandContext& ctx) {
    std::u16string name = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<DeviceLog>().Init(name));
}

void LogClose(CommandContext& ctx) { ctx.response.u32(ctx.Family<DeviceLog>().Close()); }

void LogClear(CommandContext& ctx) { ctx.response.u32(ctx.Family<DeviceLog>().Clear()); }

void LogFlash(CommandContext& ctx) {
    std::u16string name = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<DeviceLog>().Flash(name));
}

void LogPutMsg(CommandContext& ctx) {
    std::vector<uint8_t> message = ctx.request.buf();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<DeviceLog>().Put(message));
}

}  // namespace

void RegisterLogServices(ServiceTable& table) {
    table.Register(0x15, CutShortWhenHostile(LogInit));
    table.Register(0x16, CutShortWhenHostile(LogClose));
    table.Register(0x17, CutShortWhenHostile(LogClear));
    table.Register(0x18, CutShortWhenHostile(LogFlash));
    table.Register(0x19, CutShortWhenHostile(LogPutMsg));
}

}  // namespace sim
