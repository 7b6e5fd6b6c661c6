// The device's status and control services: version, operating mode, supply
// voltage, application path, kernel I/O controls (battery charging among
// them), VIM information, last error, file versions and AC status.
//
// Results follow the device's Win32-style services: 0 for success where the
// service returns an error number, TRUE (1) for success where it returns a
// BOOL (KernelIoControl). Error numbers are Win32's.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Sim/Core/DeviceState.h"
#include "Sim/Core/Services.h"
#include "Sim/Core/Wire.h"
#include "Sim/Services/FileServices.h"

namespace sim {

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;

constexpr uint32_t kIoctlBattChargeOff = 0xA0000010;  // KovSetBattChargeMode(0)
constexpr uint32_t kIoctlBattChargeOn = 0xA000000C;   // KovSetBattChargeMode(1)
constexpr uint32_t kIoctlGetBattCharge = 0xA0000014;  // out: u32 charge mode
constexpr uint32_t kIoctlEcho = 0xA0000020;           // out: the input, cut to OutBufSize
constexpr uint32_t kIoctlGetDeviceId = 0x01010054;    // out: the device id text (UTF-16)

// Texts and numbers the device reports about itself.
const char16_t kProductName[] = u"Vantro VCI";
const char16_t kFirmwareText[] = u"1.4.2";
const char16_t kSerialNumber[] = u"VS2024-000142";
const char16_t kBuildDate[] = u"2024-05-01";
const char16_t kAppPath[] = u"\\Windows\\VantroApp.exe";
constexpr uint16_t kFirmwareMajor = 0x0104;  // 1.4
constexpr uint16_t kFirmwareMinor = 0x0002;  // .2
constexpr uint32_t kInternalMillivolts = 3300;

// Highest mode the device knows; mode 0 ends the PC's connection and puts the
// device back into its normal mode (1).
constexpr uint32_t kMaxMode = 15;

// State of the family beyond DeviceState's status values.
struct StatusFamily {
    explicit StatusFamily(DeviceState&) {}
    uint32_t battChargeMode = 1;
};

// A text far beyond every buffer the PC may offer (hostile device).
std::u16string HugeText(size_t units) {
    std::u16string text(units, u'X');
    for (size_t i = 0; i < units; i += 64) text[i] = u'#';
    return text;
}

// A wstring preceded by the u16 byte length the device states for it.
void PutLengthAndText(WireOut& out, const std::u16string& text, bool hostile) {
    const size_t bytes = text.empty() ? 0 : (text.size() + 1) * 2;
    out.u16(hostile ? 0xFFFF : static_cast<uint16_t>(bytes));
    out.wstr(text);
}

void GetVersion(CommandContext& ctx) {
    const std::u16string name = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    const bool hostile = dev.Config().hostile;
    // The device knows its system ("" or "SYSTEM") and its application.
    std::u16string upper;
    for (char16_t c : name) upper.push_back(c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c);
    const bool known = upper.empty() || upper == u"SYSTEM" || upper == u"APP" || upper == kAppPath;
    if (!known && !hostile) {
        ctx.response.u32(kErrorFileNotFound).u16(0).u16(0);
        for (int i = 0; i < 4; ++i) PutLengthAndText(ctx.response, std::u16string(), false);
        return;
    }
    ctx.response.u32(0).u16(kFirmwareMajor).u16(kFirmwareMinor);
    if (hostile) {
        for (int i = 0; i < 4; ++i) PutLengthAndText(ctx.response, HugeText(40000), true);
        return;
    }
    PutLengthAndText(ctx.response, kProductName, false);
    PutLengthAndText(ctx.response, kFirmwareText, false);
    PutLengthAndText(ctx.response, kSerialNumber, false);
    PutLengthAndText(ctx.response, kBuildDate, false);
}

void GetMode(CommandContext& ctx) { ctx.response.u32(ctx.device->mode); }

void ChangeMode(CommandContext& ctx) {
    const uint32_t mode = ctx.request.u32();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    if (mode > kMaxMode) {
        dev.lastError = kErrorInvalidParameter;
        ctx.response.u32(kErrorInvalidParameter);
        return;
    }
    dev.mode = mode == 0 ? 1 : mode;
    ctx.response.u32(0);
}

void GetVoltage(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    switch (selector) {
        case 0:  // the vehicle supply
            ctx.response.u32(0).u16(dev.voltage);
            break;
        case 1:  // the device's own supply
            ctx.response.u32(0).u16(static_cast<uint16_t>(kInternalMillivolts));
            break;
        default:
            dev.lastError = kErrorInvalidParameter;
            ctx.response.u32(kErrorInvalidParameter).u16(0);
            break;
    }
}

void GetAppPath(CommandContext& ctx) {
    // A hostile path is longer than 65535 bytes, beyond the 16-bit length
    // the PC takes.
    ctx.response.u32(0).wstr(ctx.Hostile() ? HugeText(40000) : std::u16string(kAppPath));
}

void KernelIoControl(CommandContext& ctx) {
    const uint32_t ioctl = ctx.request.u32();
    const std::vector<uint8_t> in = ctx.request.buf();
    const uint32_t outSize = ctx.request.u32();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    StatusFamily& family = ctx.Family<StatusFamily>();
    const bool hostile = dev.Config().hostile;
    std::vector<uint8_t> out;
    uint32_t result = 1;
    switch (ioctl) {
        case kIoctlBattChargeOff:
            family.battChargeMode = 0;
            break;
        case kIoctlBattChargeOn:
            family.battChargeMode = 1;
            break;
        case kIoctlGetBattCharge:
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(family.battChargeMode >> (8 * i)));
            break;
        case kIoctlEcho:
            out = in;
            break;
        case kIoctlGetDeviceId:
            for (char16_t c : std::u16string(kSerialNumber)) {
                out.push_back(static_cast<uint8_t>(c));
                out.push_back(static_cast<uint8_t>(c >> 8));
            }
            break;
        default:
            result = 0;
            dev.lastError = kErrorNotSupported;
            break;
    }
    if (hostile) {
        out.assign(HostileSize(outSize, 4096), 0xEE);  // more than the PC asked for
    } else if (out.size() > outSize) {
        out.resize(outSize);
    }
    ctx.response.u32(result).buf(out).u32(static_cast<uint32_t>(out.size()));
}

void GetVimInfomation(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    uint32_t mask = 0;
    uint32_t values[8] = {};
    switch (selector) {
        case 0:  // the whole record
            mask = 0xFF;
            values[0] = 0x00020001;  // hardware revision
            values[1] = 0x00010402;  // firmware version
            values[2] = dev.voltage;
            values[3] = kInternalMillivolts;
            values[4] = dev.mode;
            values[5] = dev.acStatus;
            values[6] = 2;           // CAN channels
            values[7] = 0x0000F00D;  // board id
            break;
        case 1:  // the supply values only
            mask = 0x05;
            values[0] = 0x00020001;
            values[2] = dev.voltage;
            break;
        default:
            dev.lastError = kErrorInvalidParameter;
            ctx.response.u32(kErrorInvalidParameter).u32(0);
            return;
    }
    if (dev.Config().hostile) mask = 0xFFFFFFFF;  // bits beyond the eight values
    ctx.response.u32(0).u32(mask);
    for (int bit = 0; bit < 8; ++bit)
        if (mask & (1u << bit)) ctx.response.u32(values[bit]);
}

void GetLastError(CommandContext& ctx) { ctx.response.u32(ctx.device->lastError); }

// The host file behind a device path below the device's root folder, by the
// file services' own rules (links leading out of the root included); empty
// when the path leaves the root.
std::string HostPath(DeviceState& dev, const std::u16string& devicePath) {
    std::filesystem::path host;
    if (!MapDevicePath(dev.Family<FileFamily>().Root(), devicePath, &host)) return std::string();
    return host.string();
}

// VS_FIXEDFILEINFO: signature, structure version, file version (MS, LS),
// product version (MS, LS), flags mask, flags, OS, type, subtype, date (MS, LS).
void PutFixedFileInfo(WireOut& out, uint32_t versionMs, uint32_t versionLs, uint32_t fileType,
                      uint64_t date) {
    out.u32(0xFEEF04BD).u32(0x00010000);
    out.u32(versionMs).u32(versionLs).u32(versionMs).u32(versionLs);
    out.u32(0x3F).u32(0);
    out.u32(0x00050004);  // VOS_WINCE
    out.u32(fileType).u32(0);
    out.u32(static_cast<uint32_t>(date >> 32)).u32(static_cast<uint32_t>(date));
}

void GetFileVersion(CommandContext& ctx) {
    ctx.request.u16();  // the name's byte length; the wstring carries its own
    const std::u16string name = ctx.request.wstr();
    if (!ctx.request.ok()) return;
    DeviceState& dev = *ctx.device;
    const uint32_t kVftApp = 1;
    if (name == kAppPath) {
        PutFixedFileInfo(ctx.response.u32(0), 0x00010004, 0x00020000, kVftApp, 0);
        return;
    }
    const std::string host = HostPath(dev, name);
    struct stat st {};
    if (host.empty() || stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        dev.lastError = kErrorFileNotFound;
        ctx.response.u32(kErrorFileNotFound);
        for (int i = 0; i < 13; ++i) ctx.response.u32(0);
        return;
    }
    // A plain file carries version 1.0.0.0 and its modification time as a
    // FILETIME (100 ns since 1601).
    const uint64_t filetime = (static_cast<uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull;
    PutFixedFileInfo(ctx.response.u32(0), 0x00010000, 0, kVftApp, filetime);
}

void GetAcStatus(CommandContext& ctx) { ctx.response.u32(ctx.device->acStatus); }

}  // namespace

void RegisterStatusServices(ServiceTable& table) {
    table.Register(0, GetVersion);
    table.Register(1, GetMode);
    table.Register(2, ChangeMode);
    table.Register(3, GetVoltage);
    table.Register(10, GetAppPath);
    table.Register(11, KernelIoControl);
    table.Register(12, GetVimInfomation);
    table.Register(32, GetLastError);
    table.Register(44, GetFileVersion);
    table.Register(59, GetAcStatus);
}

}  // namespace sim
