// The USB link of the Windows build end to end: the library's own USB library
// finds the simulated device on the simulated USB bus over winsock, the link
// threads run on Win32 threads and events, and whole files travel between a
// PC file (CreateFileA paths) and the device in 64-byte bulk packets. The
// settings file next to the executable chooses the device the link looks for.
#include <gtest/gtest.h>

#include <string>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace {

constexpr uint32_t kTransmitFailed = 0x900d000d;

std::string Pattern(size_t n) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * 7) ^ (i >> 8));
    return out;
}

// The settings file beside the test executable, removed again at the end.
class SettingsBesideExe {
public:
    explicit SettingsBesideExe(const std::string& text) : m_path(SettingsPath()) {
        m_written = wintest::WriteWholeFile(m_path, text);
    }
    ~SettingsBesideExe() { DeleteFileA(m_path.c_str()); }
    bool ok() const { return m_written; }
    static std::string SettingsPath() {
        char exe[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
        std::string path(exe, n);
        return path.substr(0, path.find_last_of('.')) + ".SETTING";
    }

private:
    std::string m_path;
    bool m_written = false;
};

TEST(WinUsbBusLink, ExchangesReachTheDeviceOverTheBus) {
    wintest::UsbBusDevice usb;
    ASSERT_TRUE(usb.ok());
    usb.Device().State().voltage = 13750;

    uint32_t device = 99;
    EXPECT_EQ(KovGetCommDevice(&device), 0u);
    EXPECT_EQ(device, 0u);  // no exchange yet

    uint16_t mv = 0;
    ASSERT_EQ(KovGetVoltage(0, &mv), 0u);
    EXPECT_EQ(mv, 13750);
    EXPECT_EQ(KovGetCommDevice(&device), 0u);
    EXPECT_EQ(device, 1u);
    EXPECT_GE(usb.Device().Stats().commands, 1u);

    // The device's mode comes back as sent; the link survives KovDisconnect.
    usb.Device().State().mode = 3;
    EXPECT_EQ(KovGetMode(), 3u);
    EXPECT_EQ(KovDisconnect(), 0u);
    EXPECT_EQ(KovGetCommDevice(&device), 0u);
    EXPECT_EQ(device, 0u);
    mv = 0;
    EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
    EXPECT_EQ(mv, 13750);
}

TEST(WinUsbBusLink, WholeFilesTravelBothWays) {
    wintest::UsbBusDevice usb;
    ASSERT_TRUE(usb.ok());
    const std::string dir = vtest::MakeTempDir("vantro-winfiles-");
    ASSERT_FALSE(dir.empty());
    const std::string out = dir + "\\out.bin";
    const std::string back = dir + "\\back.bin";
    // Several 2538-byte chunks and a short last one; every chunk is more
    // than 39 bulk packets of 64 bytes.
    const std::string data = Pattern(3 * 2538 + 1001);
    ASSERT_TRUE(wintest::WriteWholeFile(out, data));

    EXPECT_EQ(KovPutFile(out.c_str(), L"\\win.bin"), 1u);
    EXPECT_EQ(KovGetFile(L"\\win.bin", back.c_str()), 1u);
    EXPECT_EQ(wintest::ReadWholeFile(back), data);
    EXPECT_EQ(wintest::ReadWholeFile(usb.Device().State().Config().rootDir + "\\win.bin"), data);

    // A PC file that does not exist sends nothing.
    const uint32_t before = usb.Device().Stats().commands;
    EXPECT_EQ(KovPutFile((dir + "\\missing.bin").c_str(), L"\\none.bin"), 0u);
    EXPECT_EQ(usb.Device().Stats().commands, before);
    vtest::RemoveTree(dir);
}

TEST(WinUsbBusLink, UnpluggedDeviceFailsUntilPluggedAgain) {
    wintest::UsbBusDevice usb;
    ASSERT_TRUE(usb.ok());
    uint16_t mv = 0;
    ASSERT_EQ(KovGetVoltage(0, &mv), 0u);

    // While the device is away the link cannot be opened again: the call
    // fails at once with the transmit error, and no COM port is tried.
    vos::OsSetClockRate(20);
    usb.Bus().Unplug();
    EXPECT_EQ(KovDisconnect(), 0u);
    EXPECT_EQ(KovGetVoltage(0, &mv), kTransmitFailed);
    usb.Bus().Plug();
    vos::OsSetClockRate(1);
    EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
    uint32_t device = 0;
    EXPECT_EQ(KovGetCommDevice(&device), 0u);
    EXPECT_EQ(device, 1u);
}

TEST(WinUsbBusLink, SettingsBesideTheExecutableChooseTheDevice) {
    // A device with other identifiers than the library's defaults.
    sim::SimConfig config;
    config.vendorId = 0x1234;
    config.productId = 0x0042;
    wintest::UsbBusDevice usb(config);
    ASSERT_TRUE(usb.ok());
    uint16_t mv = 0;
    {
        vos::OsSetClockRate(20);
        EXPECT_EQ(KovGetVoltage(0, &mv), kTransmitFailed);  // not the device we look for
        vos::OsSetClockRate(1);
    }
    {
        SettingsBesideExe settings(
            "; the device this program talks to\r\n"
            "[DeviceInfo]\r\n"
            "VendorId = 0x1234\r\n"
            "ProductId=66\r\n");
        ASSERT_TRUE(settings.ok());
        EXPECT_EQ(KovDisconnect(), 0u);
        EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
        EXPECT_EQ(mv, usb.Device().State().voltage);
    }
    EXPECT_EQ(GetFileAttributesA(SettingsBesideExe::SettingsPath().c_str()), INVALID_FILE_ATTRIBUTES);
    ReleaseDeviceLink();
}

}  // namespace
