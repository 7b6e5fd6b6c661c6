// Device status, registry, clock and log through the exports, against the
// simulated device in the test process: what the device does with each
// command, what reaches the caller, the bytes on the wire, and a hostile
// device whose answers exceed the caller's buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Tests/Support/HostFiles.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }

constexpr uint32_t kHklm = 0x80000002;
constexpr uint32_t kHkcu = 0x80000001;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorKeyDeleted = 1018;

using vtest::ReadText;

Bytes Utf16Bytes(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

class DeviceServicesTest : public ::testing::Test {
protected:
    explicit DeviceServicesTest(sim::SimConfig config = sim::SimConfig()) : sim(config) {}
    vtest::InProcessSim sim;
};

// ---- status and control ------------------------------------------------------------

TEST_F(DeviceServicesTest, VoltageModeAndAcStatusComeFromTheDevice) {
    vtest::ReportCapture reports;
    sim.Device().State().voltage = 13800;
    uint16_t mv = 0;
    EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
    EXPECT_EQ(mv, 13800);
    // An unknown selector: the device's error comes back, then its last error.
    EXPECT_EQ(KovGetVoltage(0x1234, &mv), kErrorInvalidParameter);
    EXPECT_EQ(KovGetLastError(), kErrorInvalidParameter);
    auto traces = reports.Traces();  // requests and responses in turn
    ASSERT_GE(traces.size(), 4u);
    EXPECT_EQ(traces[0], (Bytes{0x03, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(traces[2], (Bytes{0x03, 0x34, 0x12, 0x00, 0x00}));

    EXPECT_EQ(KovChangeMode(4), 0u);
    EXPECT_EQ(KovGetMode(), 4u);
    EXPECT_EQ(KovGetAcStatus(), sim.Device().State().acStatus);
}

TEST_F(DeviceServicesTest, ChangeModeZeroEndsTheLinkAndTheNextCallBuildsItAgain) {
    EXPECT_EQ(KovGetMode(), 1u);
    ASSERT_NE(g_pFrameCtrl, nullptr);
    EXPECT_EQ(KovChangeMode(0), 0u);
    EXPECT_EQ(g_pFrameCtrl, nullptr);
    EXPECT_EQ(g_pMessage, nullptr);
    EXPECT_EQ(KovGetMode(), 1u);
    EXPECT_NE(g_pFrameCtrl, nullptr);
}

TEST_F(DeviceServicesTest, VersionTextsAndAppPath) {
    uint16_t v1 = 0, v2 = 0;
    uint8_t t[4][VANTRO_VERSION_TEXT_SIZE] = {};
    EXPECT_EQ(KovGetVersion(W(u"SYSTEM"), &v1, &v2, t[0], t[1], t[2], t[3]), 0u);
    EXPECT_EQ(v1, 0x0104);
    EXPECT_EQ(v2, 0x0002);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(t[0])), u"Vantro VCI");

    uint32_t size = 0;
    EXPECT_EQ(KovGetAppPath(nullptr, &size), QXR_ERROR_BUFFER_TOO_SMALL);
    std::vector<uint8_t> path(size + 2, 0xCC);
    EXPECT_EQ(KovGetAppPath(path.data(), &size), 0u);
    EXPECT_EQ(Bytes(path.begin(), path.begin() + size), Utf16Bytes(u"\\Windows\\VantroApp.exe"));
    EXPECT_EQ(path[size], 0xCC);
}

TEST_F(DeviceServicesTest, KernelIoControlAndBatteryChargeMode) {
    const uint8_t in[] = {1, 2, 3, 4, 5};
    uint8_t out[8];
    std::memset(out, 0xCC, sizeof out);
    uint32_t returned = 0;
    // The device's echo control, cut to OutBufSize by the device itself.
    EXPECT_EQ(KovKernelIoControl(0xA0000020, in, 5, out, 3, &returned), 1u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{1, 2, 3, 0xCC}));
    EXPECT_EQ(returned, 3u);
    // An unknown control: FALSE, outputs untouched.
    returned = 0x55;
    EXPECT_EQ(KovKernelIoControl(0x12345678, in, 5, out, 8, &returned), 0u);
    EXPECT_EQ(returned, 0x55u);
    EXPECT_EQ(out[4], 0xCC);

    uint32_t mode = 0xFF;
    EXPECT_EQ(KovSetBattChargeMode(0), 0u);
    EXPECT_EQ(KovKernelIoControl(0xA0000014, nullptr, 0, &mode, 4, &returned), 1u);
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(KovSetBattChargeMode(1), 0u);
    EXPECT_EQ(KovKernelIoControl(0xA0000014, nullptr, 0, &mode, 4, &returned), 1u);
    EXPECT_EQ(mode, 1u);
}

TEST_F(DeviceServicesTest, VimInformationWithMaskFive) {
    sim.Device().State().voltage = 12000;
    uint32_t info[9];
    for (uint32_t& v : info) v = 0xCCCCCCCC;
    EXPECT_EQ(KovGetVimInfomation(1, info), 0u);
    EXPECT_EQ(info[0], 0x05u);
    EXPECT_EQ(info[3], 12000u);
    EXPECT_EQ(info[2], 0u);
    for (int i = 4; i < 9; ++i) EXPECT_EQ(info[i], 0u);
}

TEST_F(DeviceServicesTest, RefusalsAreRetriedAsEachCommandSays) {
    vtest::ReportCapture reports;
    sim.Faults().Add("refuse=0x4321@code=12,times=3");
    uint32_t info[9] = {};
    EXPECT_EQ(KovGetVimInfomation(0, info), 0x4321u);
    EXPECT_EQ(info[0], 0u);
    sim.Faults().Add("refuse=0x4321@code=12,times=2");
    EXPECT_EQ(KovGetVimInfomation(0, info), 0u);  // the third attempt gets through
    EXPECT_EQ(info[0], 0xFFu);
    sim.Faults().Add("refuse=0x77@code=3");
    uint16_t mv = 0;
    EXPECT_EQ(KovGetVoltage(0, &mv), 0x77u);  // one attempt only
}

class HostileDeviceTest : public DeviceServicesTest {
protected:
    static sim::SimConfig Hostile() {
        sim::SimConfig config;
        config.hostile = true;
        return config;
    }
    HostileDeviceTest() : DeviceServicesTest(Hostile()) {}
};

TEST_F(HostileDeviceTest, OversizedAnswersNeverPassTheCallersBuffers) {
    uint16_t v1, v2;
    uint8_t texts[4][VANTRO_VERSION_TEXT_SIZE + 4];
    std::memset(texts, 0xCC, sizeof texts);
    EXPECT_EQ(KovGetVersion(W(u"SYSTEM"), &v1, &v2, texts[0], texts[1], texts[2], texts[3]), 0u);
    for (auto& text : texts) {
        EXPECT_EQ(text[VANTRO_VERSION_TEXT_SIZE - 2], 0);
        EXPECT_EQ(text[VANTRO_VERSION_TEXT_SIZE - 1], 0);
        EXPECT_EQ(text[VANTRO_VERSION_TEXT_SIZE], 0xCC);
    }

    uint8_t out[20];
    std::memset(out, 0xCC, sizeof out);
    uint32_t returned = 0;
    EXPECT_EQ(KovKernelIoControl(0xA0000020, nullptr, 0, out, 16, &returned), 1u);
    EXPECT_EQ(out[15], 0xEE);
    EXPECT_EQ(out[16], 0xCC);

    uint32_t info[10];
    for (uint32_t& v : info) v = 0xCCCCCCCC;
    EXPECT_EQ(KovGetVimInfomation(0, info), 0u);
    EXPECT_EQ(info[9], 0xCCCCCCCCu);

    // A registry value far larger than the buffer, answered as a success.
    uint32_t key = 0, type = 0xCC, size = 8;
    uint8_t data[12];
    std::memset(data, 0xCC, sizeof data);
    ASSERT_EQ(KovRegOpenKeyEx(kHklm, W(u"Ident"), 0, 0, &key), 0u);
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"Name"), nullptr, &type, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 8u + 4096u);
    EXPECT_EQ(type, 0xCCu);
    EXPECT_EQ(data[0], 0xCC);
}

// ---- registry ----------------------------------------------------------------------------

TEST_F(DeviceServicesTest, RegistryKeysAndValuesOfEveryKind) {
    uint32_t key = 0, disposition = 0;
    ASSERT_EQ(KovRegCreateKeyEx(kHklm, W(u"Software\\Vantro\\Test"), 0, W(u""), 0, 0, nullptr, &key,
                                &disposition),
              0u);
    EXPECT_EQ(disposition, VANTRO_REG_CREATED_NEW_KEY);
    uint32_t again = 0;
    ASSERT_EQ(KovRegCreateKeyEx(kHklm, W(u"SOFTWARE\\vantro\\test"), 0, W(u""), 0, 0, nullptr, &again,
                                &disposition),
              0u);
    EXPECT_EQ(disposition, VANTRO_REG_OPENED_EXISTING_KEY);
    EXPECT_NE(again, key);
    EXPECT_EQ(KovRegCloseKey(again), 0u);

    const Bytes text = Utf16Bytes(u"hello");
    const uint8_t dword[] = {0x78, 0x56, 0x34, 0x12};
    const Bytes blob(300, 0xAB);
    EXPECT_EQ(KovRegSetValueEx(key, W(u"Text"), 0, kRegSz, text.data(), static_cast<uint32_t>(text.size())), 0u);
    EXPECT_EQ(KovRegSetValueEx(key, W(u"Number"), 0, kRegDword, dword, 4), 0u);
    EXPECT_EQ(KovRegSetValueEx(key, W(u"Blob"), 0, kRegBinary, blob.data(), 300), 0u);
    EXPECT_EQ(KovRegSetValueEx(key, W(u""), 0, 0x12345, dword, 2), 0u);  // the default value, any type

    uint32_t type = 0, size = 64;
    uint8_t data[64];
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"text"), nullptr, &type, data, &size), 0u);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(Bytes(data, data + size), text);
    size = 4;
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"Number"), nullptr, &type, data, &size), 0u);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(Bytes(data, data + 4), Bytes(dword, dword + 4));
    size = 0;
    EXPECT_EQ(KovRegQueryValueEx(key, W(u""), nullptr, &type, nullptr, &size), kErrorMoreData);
    EXPECT_EQ(size, 2u);
    size = 2;
    EXPECT_EQ(KovRegQueryValueEx(key, W(u""), nullptr, &type, data, &size), 0u);
    EXPECT_EQ(type, 0x12345u);

    // Too small a buffer: 234 with the size needed, and the buffer untouched.
    std::memset(data, 0xCC, sizeof data);
    size = 64;
    type = 0;
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"Blob"), nullptr, &type, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(data[0], 0xCC);
    Bytes big(size);
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"Blob"), nullptr, &type, big.data(), &size), 0u);
    EXPECT_EQ(big, blob);

    EXPECT_EQ(KovRegDeleteValue(key, W(u"Number")), 0u);
    EXPECT_EQ(KovRegDeleteValue(key, W(u"Number")), kErrorFileNotFound);
    size = 4;
    EXPECT_EQ(KovRegQueryValueEx(key, W(u"Number"), nullptr, &type, data, &size), kErrorFileNotFound);
    EXPECT_EQ(KovRegFlushKey(key), 0u);
    EXPECT_EQ(KovRegCloseKey(key), 0u);
    EXPECT_EQ(KovRegCloseKey(key), kErrorInvalidHandle);
    EXPECT_EQ(KovRegCloseKey(kHklm), 0u);  // root keys are always open
}

TEST_F(DeviceServicesTest, RegistryOpenAndDeleteKeys) {
    uint32_t key = 0xCCCC;
    EXPECT_EQ(KovRegOpenKeyEx(kHkcu, W(u"Nowhere"), 0, 0, &key), kErrorFileNotFound);
    EXPECT_EQ(key, 0xCCCCu);
    EXPECT_EQ(KovRegOpenKeyEx(0x4444, W(u"Software"), 0, 0, &key), kErrorInvalidHandle);

    uint32_t parent = 0, child = 0;
    ASSERT_EQ(KovRegCreateKeyEx(kHkcu, W(u"Software\\A"), 0, W(u""), 0, 0, nullptr, &parent, nullptr), 0u);
    ASSERT_EQ(KovRegCreateKeyEx(parent, W(u"B\\C"), 0, W(u""), 0, 0, nullptr, &child, nullptr), 0u);
    uint32_t opened = 0;
    EXPECT_EQ(KovRegOpenKeyEx(kHkcu, W(u"Software\\A\\B\\C"), 0, 0, &opened), 0u);
    EXPECT_EQ(KovRegCloseKey(opened), 0u);

    // Deleting a key takes its subtree; handles to it answer "key deleted".
    EXPECT_EQ(KovRegDeleteKey(kHkcu, W(u"Software\\A")), 0u);
    const uint8_t one = 1;
    EXPECT_EQ(KovRegSetValueEx(child, W(u"X"), 0, kRegBinary, &one, 1), kErrorKeyDeleted);
    EXPECT_EQ(KovRegOpenKeyEx(kHkcu, W(u"Software\\A\\B"), 0, 0, &opened), kErrorFileNotFound);
    EXPECT_EQ(KovRegDeleteKey(kHkcu, W(u"Software\\A")), kErrorFileNotFound);
    EXPECT_EQ(KovRegCloseKey(child), 0u);
    EXPECT_EQ(KovRegCloseKey(parent), 0u);
}

TEST(DeviceRegistryFile, ValuesSurviveTheDevice) {
    std::string dir = vtest::MakeTempDir("vantro-reg");
    ASSERT_FALSE(dir.empty());
    sim::SimConfig config;
    config.registryFile = dir + "/registry.txt";
    const uint8_t data[] = {0, 1, 0x25, 0x20, 0xFF};
    {
        vtest::InProcessSim sim(config);
        uint32_t key = 0;
        ASSERT_EQ(KovRegCreateKeyEx(kHklm, W(u"Software\\Spaced Name %"), 0, W(u"my class"), 0, 0, nullptr, &key,
                                    nullptr),
                  0u);
        ASSERT_EQ(KovRegSetValueEx(key, W(u"Value One"), 0, kRegBinary, data, sizeof data), 0u);
        ASSERT_EQ(KovRegCloseKey(key), 0u);
    }
    EXPECT_NE(ReadText(config.registryFile).find("Spaced%20Name%20%25"), std::string::npos);
    {
        vtest::InProcessSim sim(config);
        uint32_t key = 0, type = 0, size = 16;
        uint8_t back[16];
        ASSERT_EQ(KovRegOpenKeyEx(kHklm, W(u"software\\spaced name %"), 0, 0, &key), 0u);
        EXPECT_EQ(KovRegQueryValueEx(key, W(u"Value One"), nullptr, &type, back, &size), 0u);
        EXPECT_EQ(type, kRegBinary);
        EXPECT_EQ(Bytes(back, back + size), Bytes(data, data + sizeof data));
    }
    vtest::RemoveTree(dir);
}

// ---- clock -------------------------------------------------------------------------------------

// A time with day of week and milliseconds 0.
VSYSTEMTIME Time(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s) {
    return VSYSTEMTIME{y, mo, 0, d, h, mi, s, 0};
}

void SetName(VWCHAR (&field)[32], const char16_t* text) {
    for (int i = 0; i < 32; ++i) field[i] = 0;
    for (int i = 0; text[i] && i < 31; ++i) field[i] = static_cast<VWCHAR>(text[i]);
}

TEST_F(DeviceServicesTest, SystemTimeRunsFromWhereItWasSet) {
    uint32_t ok = 0;
    VSYSTEMTIME set = Time(2030, 6, 15, 10, 20, 30);
    ASSERT_EQ(KovSetSystemTime(&ok, &set), 0u);
    EXPECT_EQ(ok, 1u);
    VSYSTEMTIME now{};
    ASSERT_EQ(KovGetSystemTime(&now), 0u);
    EXPECT_EQ(now.wYear, 2030);
    EXPECT_EQ(now.wMonth, 6);
    EXPECT_EQ(now.wDay, 15);
    EXPECT_EQ(now.wDayOfWeek, 6);  // a Saturday
    EXPECT_EQ(now.wHour, 10);
    EXPECT_EQ(now.wMinute, 20);
    EXPECT_GE(now.wSecond, 30);
    EXPECT_LE(now.wSecond, 40);

    // A day that does not exist is refused and ReturnValue left alone.
    VSYSTEMTIME bad = Time(2031, 2, 29, 0, 0, 0);
    ok = 0xCC;
    EXPECT_EQ(KovSetSystemTime(&ok, &bad), kErrorInvalidParameter);
    EXPECT_EQ(ok, 0xCCu);
    EXPECT_EQ(KovSetLocalTime(&ok, &bad), kErrorInvalidParameter);
}

TEST_F(DeviceServicesTest, TimeZoneMovesLocalTimeWithDaylightSaving) {
    vtest::ReportCapture reports;
    uint32_t id = 0xCC;
    VTIME_ZONE_INFORMATION zone;
    std::memset(&zone, 0xCC, sizeof zone);
    ASSERT_EQ(KovGetTimeZoneInformation(&id, &zone), 0u);
    EXPECT_EQ(id, VANTRO_TIME_ZONE_ID_UNKNOWN);  // a fresh device runs on UTC
    EXPECT_EQ(zone.Bias, 0);
    auto traces = reports.Traces();
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[0], (Bytes{0x08}));
    EXPECT_EQ(traces[1].size(), 2u + 180u);  // code, status, 180 bytes

    // Central European time: daylight from the last Sunday of March, 02:00,
    // to the last Sunday of October, 03:00.
    VTIME_ZONE_INFORMATION cet{};
    cet.Bias = -60;
    SetName(cet.StandardName, u"W. Europe Standard Time");
    SetName(cet.DaylightName, u"W. Europe Daylight Time");
    cet.StandardDate = Time(0, 10, 5, 3, 0, 0);
    cet.DaylightDate = Time(0, 3, 5, 2, 0, 0);
    cet.DaylightBias = -60;
    uint32_t ok = 0;
    ASSERT_EQ(KovSetTimeZoneInformation(&ok, &cet), 0u);
    EXPECT_EQ(ok, 1u);

    VSYSTEMTIME summer = Time(2030, 7, 1, 12, 0, 0);
    ASSERT_EQ(KovSetSystemTime(&ok, &summer), 0u);
    VSYSTEMTIME local{};
    ASSERT_EQ(KovGetLocalTime(&local), 0u);
    EXPECT_EQ(local.wHour, 14);
    ASSERT_EQ(KovGetTimeZoneInformation(&id, &zone), 0u);
    EXPECT_EQ(id, VANTRO_TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(std::memcmp(&zone, &cet, sizeof zone), 0);

    VSYSTEMTIME winter = Time(2030, 1, 15, 12, 0, 0);
    ASSERT_EQ(KovSetSystemTime(&ok, &winter), 0u);
    ASSERT_EQ(KovGetLocalTime(&local), 0u);
    EXPECT_EQ(local.wHour, 13);
    ASSERT_EQ(KovGetTimeZoneInformation(&id, &zone), 0u);
    EXPECT_EQ(id, VANTRO_TIME_ZONE_ID_STANDARD);

    // Setting the local time sets UTC through the zone.
    VSYSTEMTIME localSet = Time(2030, 8, 10, 9, 0, 0);
    ASSERT_EQ(KovSetLocalTime(&ok, &localSet), 0u);
    VSYSTEMTIME utc{};
    ASSERT_EQ(KovGetSystemTime(&utc), 0u);
    EXPECT_EQ(utc.wDay, 10);
    EXPECT_EQ(utc.wHour, 7);
}

// ---- device log ------------------------------------------------------------------------------

TEST_F(DeviceServicesTest, DeviceLogRecordsFlashesAndClears) {
    const fs::path root = fs::u8path(sim.RootDir());
    const uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(KovLogPutMsg(hello, 5), kErrorInvalidHandle);  // not started yet
    EXPECT_EQ(KovLogClose(), kErrorInvalidHandle);
    EXPECT_EQ(KovLogInit(W(u"")), kErrorInvalidParameter);

    ASSERT_EQ(KovLogInit(W(u"diag")), 0u);
    ASSERT_EQ(KovLogPutMsg(hello, 5), 0u);
    const uint8_t second[] = {'w', 'o', 'r', 'l', 'd', 0, 'x'};  // ends at its zero byte
    ASSERT_EQ(KovLogPutMsg(second, sizeof second), 0u);
    std::string log = ReadText(root / "device.log");
    EXPECT_NE(log.find(" diag: hello\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" diag: world\n"), std::string::npos) << log;
    EXPECT_EQ(log.find('x'), std::string::npos);

    EXPECT_EQ(KovLogFlash(W(u"\\saved.log")), 0u);
    EXPECT_EQ(ReadText(root / "saved.log"), log);
    EXPECT_EQ(KovLogFlash(W(u"..\\outside.log")), kErrorInvalidParameter);

    EXPECT_EQ(KovLogClear(), 0u);
    EXPECT_EQ(ReadText(root / "device.log"), "");
    EXPECT_EQ(KovLogClose(), 0u);
    EXPECT_EQ(KovLogPutMsg(hello, 5), kErrorInvalidHandle);
    EXPECT_EQ(KovLogPutMsg(hello, 0), QXR_ERROR_INVALID_PARAMETER);
}

TEST(DeviceLogFile, ConfiguredLogFileIsUsed) {
    std::string dir = vtest::MakeTempDir("vantro-log");
    ASSERT_FALSE(dir.empty());
    sim::SimConfig config;
    config.logFile = dir + "/named.log";
    {
        vtest::InProcessSim sim(config);
        const uint8_t message[] = {'m'};
        ASSERT_EQ(KovLogInit(W(u"n")), 0u);
        ASSERT_EQ(KovLogPutMsg(message, 1), 0u);
    }
    EXPECT_NE(ReadText(config.logFile).find(" n: m\n"), std::string::npos);
    vtest::RemoveTree(dir);
}

}  // namespace
