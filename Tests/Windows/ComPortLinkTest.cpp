// The serial link of the Windows build on a real COM port of wine: the
// simulator runs as a Linux process on a pty, and wine's
// $WINEPREFIX/dosdevices/comN links that pty as COMn. scripts/wine-com-sim.sh
// (run by scripts/test-all.sh) sets this up and names the port in
// VANTRO_WINE_COM ("COM5"); without it the tests are skipped.
//
// The library lists the COM ports through the print spooler (EnumPortsA). The
// spooler of a wine prefix lists COM1: to COM4: only, so the fixture adds the
// port to the spooler's list (the registry value of the port, removed again at
// the end) when it is missing. The USB candidate and every other listed port
// are links whose device never answers, so each new frame controller fails
// over from USB through the ports to this one, whose link is the library's
// real CSerialIf on the Win32 serial functions.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/FrameCtrl/SerialIf.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsComPorts.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/j2534.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace {

const char kSpoolerPorts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
// Silent candidates before the port time out on this clock rate: 2 s of
// library time in 400 ms.
constexpr uint32_t kFailoverRate = 5;

std::string g_port;  // "COM5"

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!s.empty() && s.back() == ':') s.pop_back();
    return s;
}

CCommIf* OnlyTheWinePort(uint32_t commDevice, CMessage* message, const char* portName) {
    if (commDevice == kCommSerial && portName && Upper(portName) == g_port) return new CSerialIf(message, portName);
    return new vtest::CInProcessLink(message, nullptr, commDevice);
}

std::string Pattern(size_t n) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * 31) ^ (i >> 7));
    return out;
}

class WinComPort : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* port = std::getenv("VANTRO_WINE_COM");
        if (!port || !*port) return;
        g_port = Upper(port);
        bool listed = false;
        for (const std::string& p : vos::EnumPorts()) listed = listed || Upper(p) == g_port;
        if (!listed) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSpoolerPorts, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                s_addedValue = g_port + ":";
                if (RegSetValueExA(key, s_addedValue.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1) !=
                    ERROR_SUCCESS)
                    s_addedValue.clear();
                RegCloseKey(key);
            }
        }
        s_oldFactory = SetLinkFactory(&OnlyTheWinePort);
        ReleaseDeviceLink();
    }
    static void TearDownTestSuite() {
        if (g_port.empty()) return;
        ReleaseDeviceLink();
        SetLinkFactory(s_oldFactory);
        vos::OsSetClockRate(1);
        if (!s_addedValue.empty()) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSpoolerPorts, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, s_addedValue.c_str());
                RegCloseKey(key);
            }
        }
        g_port.clear();
    }
    void SetUp() override {
        if (g_port.empty())
            GTEST_SKIP() << "VANTRO_WINE_COM is not set: run scripts/wine-com-sim.sh (scripts/test-all.sh "
                            "does) to serve the simulator on a pty linked into wine's dosdevices";
        bool listed = false;
        for (const std::string& p : vos::EnumPorts()) listed = listed || Upper(p) == g_port;
        ASSERT_TRUE(listed) << g_port << " is not in the spooler's port list";
    }
    void TearDown() override { vos::OsSetClockRate(1); }

    // The first exchange of a new frame controller: fails over to the port.
    void ReachThePort() {
        vos::OsSetClockRate(kFailoverRate);
        uint16_t mv = 0;
        ASSERT_EQ(KovGetVoltage(0, &mv), 0u);
        vos::OsSetClockRate(1);
        uint32_t device = 0;
        ASSERT_EQ(KovGetCommDevice(&device), 0u);
        ASSERT_EQ(device, 2u);
    }

    static LinkFactory s_oldFactory;
    static std::string s_addedValue;
};

LinkFactory WinComPort::s_oldFactory = nullptr;
std::string WinComPort::s_addedValue;

TEST_F(WinComPort, ExchangesFailOverToTheWinePortAndStayThere) {
    ReleaseDeviceLink();
    ReachThePort();
    // Later exchanges go straight to the port.
    uint16_t mv = 0;
    EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
    EXPECT_EQ(mv, 12600);  // the simulator's supply voltage
    EXPECT_EQ(KovGetMode(), 1u);
    uint32_t device = 0;
    EXPECT_EQ(KovGetCommDevice(&device), 0u);
    EXPECT_EQ(device, 2u);
}

TEST_F(WinComPort, WholeFilesTravelOverThePort) {
    ReleaseDeviceLink();
    ReachThePort();
    const std::string dir = vtest::MakeTempDir("vantro-wincom-");
    ASSERT_FALSE(dir.empty());
    const std::string out = dir + "\\out.bin", back = dir + "\\back.bin";
    // Chunks of 2538 bytes: every request spans several 511-byte frames.
    const std::string data = Pattern(2 * 2538 + 333);
    ASSERT_TRUE(wintest::WriteWholeFile(out, data));
    EXPECT_EQ(KovPutFile(out.c_str(), L"\\wincom.bin"), 1u);
    EXPECT_EQ(KovGetFile(L"\\wincom.bin", back.c_str()), 1u);
    EXPECT_EQ(wintest::ReadWholeFile(back), data);
    EXPECT_EQ(KovDeleteFile(L"\\wincom.bin"), 1u);
    vtest::RemoveTree(dir);
}

TEST_F(WinComPort, J2534SessionOverThePort) {
    ReleaseDeviceLink();
    ReachThePort();
    uint32_t device = 0;
    ASSERT_EQ(PassThruOpen(nullptr, &device), 0u);
    char fw[80], dll[80], api[80];
    ASSERT_EQ(PassThruReadVersion(device, fw, dll, api), 0u);
    EXPECT_STREQ(api, "04.04");
    uint32_t channel = 0;
    ASSERT_EQ(PassThruConnect(device, CAN, 0, 500000, &channel), 0u);
    uint32_t mv = 0;
    EXPECT_EQ(PassThruIoctl(device, READ_VBATT, nullptr, &mv), 0u);
    EXPECT_EQ(mv, 12600u);
    EXPECT_EQ(PassThruDisconnect(channel), 0u);
    // Close releases the link; the port is free for the next frame controller.
    EXPECT_EQ(PassThruClose(device), 0u);
    ReachThePort();
}

}  // namespace
