// A J2534 application as one is written for Windows: it loads Vantro64.dll by
// its path with LoadLibraryA, finds the fourteen 04.04 functions by their
// plain names with GetProcAddress, and runs a raw CAN and an ISO15765
// session against the simulated vehicle behind the simulated device, which
// this process serves on the simulated USB bus. The DLL has its own copy of
// the library; nothing here goes through the statically linked one.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "Tests/Support/PassThruMsg.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/j2534.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char kVin[] = "1VNTR5SM7PA000042";

// The application's function table, filled by GetProcAddress.
struct PassThruApi {
    decltype(&PassThruOpen) Open = nullptr;
    decltype(&PassThruClose) Close = nullptr;
    decltype(&PassThruConnect) Connect = nullptr;
    decltype(&PassThruDisconnect) Disconnect = nullptr;
    decltype(&PassThruReadMsgs) ReadMsgs = nullptr;
    decltype(&PassThruWriteMsgs) WriteMsgs = nullptr;
    decltype(&PassThruStartPeriodicMsg) StartPeriodicMsg = nullptr;
    decltype(&PassThruStopPeriodicMsg) StopPeriodicMsg = nullptr;
    decltype(&PassThruStartMsgFilter) StartMsgFilter = nullptr;
    decltype(&PassThruStopMsgFilter) StopMsgFilter = nullptr;
    decltype(&PassThruSetProgrammingVoltage) SetProgrammingVoltage = nullptr;
    decltype(&PassThruReadVersion) ReadVersion = nullptr;
    decltype(&PassThruGetLastError) GetLastError = nullptr;
    decltype(&PassThruIoctl) Ioctl = nullptr;

    bool Load(const wintest::LoadedDll& dll) {
#define VT_GET(name) name = dll.Get<decltype(name)>("PassThru" #name)
        VT_GET(Open);
        VT_GET(Close);
        VT_GET(Connect);
        VT_GET(Disconnect);
        VT_GET(ReadMsgs);
        VT_GET(WriteMsgs);
        VT_GET(StartPeriodicMsg);
        VT_GET(StopPeriodicMsg);
        VT_GET(StartMsgFilter);
        VT_GET(StopMsgFilter);
        VT_GET(SetProgrammingVoltage);
        VT_GET(ReadVersion);
        VT_GET(GetLastError);
        VT_GET(Ioctl);
#undef VT_GET
        return Open && Close && Connect && Disconnect && ReadMsgs && WriteMsgs && StartPeriodicMsg &&
               StopPeriodicMsg && StartMsgFilter && StopMsgFilter && SetProgrammingVoltage && ReadVersion &&
               GetLastError && Ioctl;
    }
};

using vtest::Msg;
using vtest::DataOf;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class WinJ2534App : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(usb.ok());
        ASSERT_TRUE(dll.ok()) << wintest::DllPath() << " error " << dll.loadError();
        ASSERT_TRUE(api.Load(dll));
    }
    // Reads until want holds, at most `tries` reads of 200 ms.
    bool ReadUntil(uint32_t channel, PASSTHRU_MSG* out, bool (*want)(const PASSTHRU_MSG&), int tries = 25) {
        for (int i = 0; i < tries; ++i) {
            uint32_t n = 1;
            const uint32_t status = api.ReadMsgs(channel, out, &n, 200);
            if (status == 0 && n == 1 && want(*out)) return true;
            if (status != 0 && status != ERR_TIMEOUT && status != ERR_BUFFER_EMPTY) return false;
        }
        return false;
    }

    wintest::UsbBusDevice usb;  // first: the bus must be there before the DLL's first call
    wintest::LoadedDll dll;
    PassThruApi api;
};

bool IsVinAnswer(const PASSTHRU_MSG& m) {
    return m.RxStatus == 0 && m.DataSize > 6 && m.Data[3] == 0xE8 && m.Data[4] == 0x49 && m.Data[5] == 0x02;
}
bool IsUdsVin(const PASSTHRU_MSG& m) { return m.RxStatus == 0 && m.DataSize > 7 && m.Data[4] == 0x62; }

TEST_F(WinJ2534App, Iso15765SessionThroughTheLoadedDll) {
    uint32_t device = 0;
    ASSERT_EQ(api.Open(nullptr, &device), 0u);
    EXPECT_EQ(device, 1u);
    char fw[80], dllVersion[80], apiVersion[80];
    ASSERT_EQ(api.ReadVersion(device, fw, dllVersion, apiVersion), 0u);
    EXPECT_STREQ(apiVersion, "04.04");
    EXPECT_STRNE(fw, "");

    uint32_t channel = 0;
    ASSERT_EQ(api.Connect(device, ISO15765, 0, 500000, &channel), 0u);
    SCONFIG params[1] = {{DATA_RATE, 0}};
    SCONFIG_LIST list = {1, params};
    ASSERT_EQ(api.Ioctl(channel, GET_CONFIG, &list, nullptr), 0u);
    EXPECT_EQ(params[0].Value, 500000u);

    PASSTHRU_MSG mask = Msg(ISO15765, {0xFF, 0xFF, 0xFF, 0xFF});
    PASSTHRU_MSG pattern = Msg(ISO15765, {0, 0, 0x07, 0xE8});
    PASSTHRU_MSG flow = Msg(ISO15765, {0, 0, 0x07, 0xE0}, ISO15765_FRAME_PAD);
    uint32_t filter = 0;
    ASSERT_EQ(api.StartMsgFilter(channel, FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &filter), 0u);
    ASSERT_EQ(api.Ioctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), 0u);

    // OBD-II 09 02: the engine ECU's VIN in a segmented answer the device joins.
    PASSTHRU_MSG request = Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x09, 0x02}, ISO15765_FRAME_PAD);
    uint32_t one = 1;
    ASSERT_EQ(api.WriteMsgs(channel, &request, &one, 500), 0u);
    EXPECT_EQ(one, 1u);
    PASSTHRU_MSG answer;
    ASSERT_TRUE(ReadUntil(channel, &answer, IsVinAnswer));
    EXPECT_EQ(DataOf(answer), Cat({{0, 0, 0x07, 0xE8, 0x49, 0x02, 0x01}, Bytes(kVin, kVin + 17)}));

    // UDS ReadDataByIdentifier F190 in the extended session.
    PASSTHRU_MSG session = Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x10, 0x03}, ISO15765_FRAME_PAD);
    one = 1;
    ASSERT_EQ(api.WriteMsgs(channel, &session, &one, 500), 0u);
    PASSTHRU_MSG did = Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x22, 0xF1, 0x90}, ISO15765_FRAME_PAD);
    one = 1;
    ASSERT_EQ(api.WriteMsgs(channel, &did, &one, 500), 0u);
    ASSERT_TRUE(ReadUntil(channel, &answer, IsUdsVin));
    EXPECT_EQ(DataOf(answer), Cat({{0, 0, 0x07, 0xE8, 0x62, 0xF1, 0x90}, Bytes(kVin, kVin + 17)}));

    // Tester present, periodic, then stopped; a second stop finds nothing.
    PASSTHRU_MSG present = Msg(ISO15765, {0, 0, 0x07, 0xDF, 0x3E, 0x80}, ISO15765_FRAME_PAD);
    uint32_t msgId = 0;
    ASSERT_EQ(api.StartPeriodicMsg(channel, &present, &msgId, 100), 0u);
    EXPECT_EQ(api.StopPeriodicMsg(channel, msgId), 0u);
    EXPECT_EQ(api.StopPeriodicMsg(channel, msgId), ERR_INVALID_MSG_ID);

    EXPECT_EQ(api.StopMsgFilter(channel, filter), 0u);
    EXPECT_EQ(api.Disconnect(channel), 0u);
    EXPECT_EQ(api.Close(device), 0u);
    EXPECT_EQ(api.Connect(device, CAN, 0, 500000, &channel), ERR_DEVICE_NOT_CONNECTED);
}

TEST_F(WinJ2534App, RawCanSessionWithItsOwnFlowControl) {
    uint32_t device = 0;
    ASSERT_EQ(api.Open(nullptr, &device), 0u);
    uint32_t channel = 0;
    ASSERT_EQ(api.Connect(device, CAN, 0, 500000, &channel), 0u);
    PASSTHRU_MSG mask = Msg(CAN, {0xFF, 0xFF, 0xFF, 0xFF});
    PASSTHRU_MSG pattern = Msg(CAN, {0, 0, 0x07, 0xE8});
    uint32_t filter = 0;
    ASSERT_EQ(api.StartMsgFilter(channel, PASS_FILTER, &mask, &pattern, nullptr, &filter), 0u);

    PASSTHRU_MSG request = Msg(CAN, {0, 0, 0x07, 0xE0, 0x02, 0x09, 0x02, 0, 0, 0, 0, 0});
    uint32_t n = 1;
    ASSERT_EQ(api.WriteMsgs(channel, &request, &n, 100), 0u);
    PASSTHRU_MSG first;
    n = 1;
    ASSERT_EQ(api.ReadMsgs(channel, &first, &n, 2000), 0u);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(DataOf(first), Cat({{0, 0, 0x07, 0xE8, 0x10, 0x14, 0x49, 0x02, 0x01}, Bytes(kVin, kVin + 3)}));

    PASSTHRU_MSG flow = Msg(CAN, {0, 0, 0x07, 0xE0, 0x30, 0x00, 0x00, 0, 0, 0, 0, 0});
    n = 1;
    ASSERT_EQ(api.WriteMsgs(channel, &flow, &n, 100), 0u);
    PASSTHRU_MSG in[2];
    n = 2;
    ASSERT_EQ(api.ReadMsgs(channel, in, &n, 2000), 0u);
    ASSERT_EQ(n, 2u);
    std::string vin(reinterpret_cast<const char*>(first.Data) + 9, 3);
    vin.append(reinterpret_cast<const char*>(in[0].Data) + 5, 7);
    vin.append(reinterpret_cast<const char*>(in[1].Data) + 5, 7);
    EXPECT_EQ(vin, kVin);

    // The device's own text of a refusal reaches GetLastError.
    PASSTHRU_MSG any = Msg(CAN, {0, 0, 0, 0});
    uint32_t flowFilter = 0;
    EXPECT_EQ(api.StartMsgFilter(channel, FLOW_CONTROL_FILTER, &any, &any, &any, &flowFilter), ERR_FAILED);
    char text[80] = {};
    ASSERT_EQ(api.GetLastError(text), 0u);
    EXPECT_STREQ(text, "Flow control filters need protocol ISO15765");

    // Battery voltage through the Ioctl: the device's supply.
    uint32_t mv = 0;
    EXPECT_EQ(api.Ioctl(device, READ_VBATT, nullptr, &mv), 0u);
    EXPECT_EQ(mv, usb.Device().State().voltage);

    EXPECT_EQ(api.Disconnect(channel), 0u);
    EXPECT_EQ(api.Close(device), 0u);
}

}  // namespace
