// The USB link with the real message layer, over our USB library's simulated
// bus backend against a scripted bus end: opening, the settings, reassembly
// of frames across bulk transfers, time-outs, closing from the watch thread,
// the failures of opening with their reports, and the trace texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Lib/WdUtils/WduBackend.h"
#include "Pc/FrameCtrl/UsbIf.h"
#include "Pc/Log/TraceLog.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsMemory.h"
#include "Pc/Os/OsSettings.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Unit/ScriptedUsbBus.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bus = vtest::ScriptedUsbBus;
using RealClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char kUsbIf[] = "Pc/FrameCtrl/UsbIf";
// Clock rates: tests whose device must attach within the one-second wait
// leave it 200 ms of real time (wine and a busy machine are slow to connect);
// tests without a device run faster.
constexpr uint32_t kOpenRate = 5;
const intptr_t kNone = -1;
const WDU_DRIVER_HANDLE kNoDriver = reinterpret_cast<WDU_DRIVER_HANDLE>(~uintptr_t(0));

// Frames of the exchange of the one-byte request 3B (the test's own bytes).
const Bytes kRequestFrame = {0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03};
const Bytes kDeviceAck = {0x02, 0x03, 0x02, 0x00, 0x06, 0x02, 0x0D, 0x03};
const Bytes kResponseFrame = {0x02, 0x00, 0x06, 0x00, 0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x47, 0x03};
const Bytes kPcAckEnding = {0x02, 0x03, 0x02, 0x00, 0x06, 0x03, 0x0E, 0x03};
const Bytes kPcPoll = {0x02, 0x7F, 0x00, 0x00, 0x7F, 0x03};

class UsbIfTest : public ::testing::Test {
protected:
    void SetUp() override {
        uint16_t port = bus.Port();
        ASSERT_NE(port, 0);
        wdu::SetBackendFactoryForTests([port] { return wdu::CreateSimBusBackend(port); });
        dir = fs::temp_directory_path() / ("vantro-usbif-" + std::to_string(RealClock::now().time_since_epoch().count()));
        fs::create_directories(dir);
        vos::SetSettingsPathOverride((dir / "none.SETTING").string());  // no settings file
    }
    void TearDown() override {
        link.reset();
        wdu::SetBackendFactoryForTests(nullptr);
        wdu::SetOsCreateFailureForTests(nullptr);
        vos::SetSettingsPathOverride("");
        TraceLogResetForTest();
        vos::OsSetClockRate(1);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void WriteSettings(const std::string& text) {
        fs::path file = dir / "test.SETTING";
        std::ofstream(file) << text;
        vos::SetSettingsPathOverride(file.string());
    }

    void OpenLink() {
        link.reset(new CUsbIf(&message));
        message.SetLink(link.get());
    }

    // The next frame the PC wrote, Polls skipped.
    Bytes NextFrame() {
        for (;;) {
            Bytes f = bus.NextOut();
            if (f != kPcPoll) return f;
        }
    }

    // The link's Send: the request frame goes out, the device acknowledges it.
    void SendAcknowledged() {
        auto send = std::async(std::launch::async, [this] { return link->Send(); });
        EXPECT_EQ(NextFrame(), kRequestFrame);
        bus.SendTransfer(1, kDeviceAck);
        ASSERT_EQ(send.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(send.get(), 0u);
    }

    // Request 3B sent and acknowledged: the message layer waits for the
    // response.
    void SendAcknowledgedRequest() {
        ASSERT_EQ(message.SendRequest(request, 1, nullptr), 0u);
        bus.SetPresent(1, 0x1D50, 13);
        OpenLink();
        ASSERT_NE(link->GetDeviceHandle(), kNone);
        SendAcknowledged();
        EXPECT_EQ(message.GetExchangeError(), 0u);
        EXPECT_EQ(message.GetState(), kStateWaiting);
    }

    Bytes Response() {
        EXPECT_EQ(vos::EventWait(message.GetResponseEvent(), 5000), vos::kWaitObject0);
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        if (message.GetResponse(&bytes, &length) != 0) return {};
        return Bytes(bytes, bytes + length);
    }

    Bus bus;
    fs::path dir;
    vtest::ReportCapture reports;
    CMessage message;  // declared before the link: it outlives it
    std::unique_ptr<CUsbIf> link;
    const uint8_t request[1] = {0x3B};
};

// ---------------------------------------------------------------------------
// Opening and the settings

TEST_F(UsbIfTest, WithoutSettingsFileItRegistersTheDefaultVendorAndProduct13) {
    bus.SetPresent(1, 0x1D50, 13);
    OpenLink();
    EXPECT_NE(link->GetDeviceHandle(), kNone);
    EXPECT_NE(link->GetDriverHandle(), kNoDriver);
    EXPECT_EQ(link->GetCommDevice(), 1u);
    EXPECT_EQ(message.GetState(), kStateIdle);  // OnLinkOpened with no request
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(UsbIfTest, TheSettingsFileChoosesVendorAndProductByTheirLow16Bits) {
    vos::OsSetClockRate(kOpenRate);
    WriteSettings("[DEVICEINFO]\nVENDORID=0x1234\nPRODUCTID=0x10014\n");
    bus.SetPresent(1, 0x1D50, 13);  // the default device is not taken
    OpenLink();
    EXPECT_EQ(link->GetDeviceHandle(), kNone);
    EXPECT_EQ(reports.Count(0xa00d0010u, kUsbIf, 448), 1u);

    bus.SetPresent(2, 0x1234, 0x0014);
    EXPECT_EQ(link->Open(nullptr), 0u);
    EXPECT_NE(link->GetDeviceHandle(), kNone);
}

TEST_F(UsbIfTest, NoDeviceFailsAfterTheAttachWaitAndTheNextSendTriesOnceMore) {
    vos::OsSetClockRate(50);
    auto start = RealClock::now();
    OpenLink();
    EXPECT_EQ(link->GetDeviceHandle(), kNone);
    EXPECT_EQ(link->GetDriverHandle(), kNoDriver);  // the library is uninitialised again
    ASSERT_EQ(reports.Count(0xa00d0010u, kUsbIf, 448), 1u);
    EXPECT_EQ(reports.Reports()[0].text, "[PC]Pc/FrameCtrl/UsbIf(448): OsEventWait() return = 20000015");

    ASSERT_EQ(message.SendRequest(request, 1, nullptr), 0u);
    EXPECT_EQ(link->Send(), 0x900d000du);
    EXPECT_EQ(reports.Count(0xa00d0010u, kUsbIf, 448), 2u);
    EXPECT_EQ(reports.Count(0x900d000du), 0u);  // the failed reopening is not reported
    EXPECT_EQ(reports.Reports().size(), 2u);
    EXPECT_EQ(link->GetDeviceHandle(), kNone);
    // Two attach waits of 1 s on the fast clock.
    EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(UsbIfTest, SendReopensALinkThatHadNoDevice) {
    vos::OsSetClockRate(kOpenRate);
    OpenLink();
    ASSERT_EQ(link->GetDeviceHandle(), kNone);
    ASSERT_EQ(message.SendRequest(request, 1, nullptr), 0u);
    bus.SetPresent(1, 0x1D50, 13);
    SendAcknowledged();
    EXPECT_NE(link->GetDeviceHandle(), kNone);
}

TEST_F(UsbIfTest, OpeningFailuresAreReportedWithTheirLinesAndStatus) {
    struct Case {
        const char* function;
        int failOnCall;  // 1-based call of that function
        int line;
        const char* text;
    } cases[] = {
        {"OsEventCreate", 1, 376, "[PC]Pc/FrameCtrl/UsbIf(376): OsEventCreate() return = 20000005"},
        {"OsMutexCreate", 1, 388, "[PC]Pc/FrameCtrl/UsbIf(388): OsMutexCreate() return = 20000005"},
        {"OsEventCreate", 2, 400, "[PC]Pc/FrameCtrl/UsbIf(400): OsEventCreate() return = 20000005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::atomic<int> calls{0};
        wdu::SetOsCreateFailureForTests([&](const char* fn) -> uint32_t {
            if (std::string(fn) != c.function) return 0;
            return ++calls == c.failOnCall ? WD_INSUFFICIENT_RESOURCES : 0;
        });
        reports.Clear();
        CUsbIf failing(&message);
        wdu::SetOsCreateFailureForTests(nullptr);
        EXPECT_EQ(failing.GetDeviceHandle(), kNone);
        EXPECT_EQ(failing.GetDriverHandle(), kNoDriver);
        ASSERT_EQ(reports.Count(0xa00d0010u, kUsbIf, c.line), 1u);
        EXPECT_EQ(reports.Reports()[0].text, c.text);
    }

    // The library cannot start.
    wdu::SetBackendFactoryForTests([] { return std::unique_ptr<wdu::Backend>(); });
    reports.Clear();
    CUsbIf failing(&message);
    ASSERT_EQ(reports.Count(0xa00d0010u, kUsbIf, 425), 1u);
    EXPECT_EQ(reports.Reports()[0].text, "[PC]Pc/FrameCtrl/UsbIf(425): WDU_Init() return = 20000005");
    EXPECT_EQ(failing.GetDriverHandle(), kNoDriver);
}

// ---------------------------------------------------------------------------
// Frames across transfers

TEST_F(UsbIfTest, AResponseFrameArrivingInSeveralTransfersIsPutTogether) {
    SendAcknowledgedRequest();
    bus.SendTransfer(1, Bytes(kResponseFrame.begin(), kResponseFrame.begin() + 3));      // header not complete
    bus.SendTransfer(1, Bytes(kResponseFrame.begin() + 3, kResponseFrame.begin() + 7));
    bus.SendTransfer(1, Bytes(kResponseFrame.begin() + 7, kResponseFrame.end()));
    EXPECT_EQ(NextFrame(), kPcAckEnding);
    EXPECT_EQ(Response(), (Bytes{0x3B, 0x06, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(message.GetExchangeError(), 0u);
}

TEST_F(UsbIfTest, ASixByteFrameInOneTransferIsDeliveredAtOnce) {
    SendAcknowledgedRequest();
    bus.SendTransfer(1, {0x02, 0x00, 0x00, 0x00, 0x00, 0x03});  // an empty Single frame
    // Delivered without waiting for more bytes: the message layer answers it
    // with the ACK that ends the exchange.
    EXPECT_EQ(NextFrame(), kPcAckEnding);
}

TEST_F(UsbIfTest, ATimeOutInMidFrameKeepsTheBytesAlreadyReceived) {
    vos::OsSetClockRate(kOpenRate);
    SendAcknowledgedRequest();
    Bytes payload = {0x3B, 0x06};
    for (int i = 0; i < 92; ++i) payload.push_back(static_cast<uint8_t>(i));
    Bytes frame = vtest::MakeFrame(0x00, payload);  // 100 bytes
    bus.Forget();
    bus.SendIn(1, Bytes(frame.begin(), frame.begin() + 64), false);  // a full packet, then silence
    Bus::Message halt;
    ASSERT_TRUE(bus.Next(Bus::kHalt, &halt));  // the 2000 ms read ended by its time-out
    EXPECT_EQ(halt.endpoint, 0x82);
    bus.SendIn(1, Bytes(frame.begin() + 64, frame.end()), true);
    EXPECT_EQ(NextFrame(), kPcAckEnding);
    EXPECT_EQ(Response(), payload);
}

TEST_F(UsbIfTest, AHeaderAnnouncingMoreThan517BytesIsDroppedUpToTheNext0x02) {
    ASSERT_EQ(message.SendRequest(request, 1, nullptr), 0u);
    bus.SetPresent(1, 0x1D50, 13);
    OpenLink();
    auto send = std::async(std::launch::async, [this] { return link->Send(); });
    EXPECT_EQ(NextFrame(), kRequestFrame);
    Bytes junk = {0x02, 0x00, 0xFF, 0xFF, 0x55};  // length 0xFFFF: no frame
    junk.insert(junk.end(), kDeviceAck.begin(), kDeviceAck.end());
    bus.SendTransfer(1, junk);
    ASSERT_EQ(send.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(send.get(), 0u);
    EXPECT_EQ(message.GetExchangeError(), 0u);
    EXPECT_EQ(message.GetState(), kStateWaiting);
}

// ---------------------------------------------------------------------------
// Closing

// A link whose watch thread's wait fails when the test says so.
class WatchFailingUsbIf : public CUsbIf {
public:
    explicit WatchFailingUsbIf(CMessage* message) : CUsbIf(message) {}
    ~WatchFailingUsbIf() override { vos::EventClose(m_go); }
    void FailWatchWait() { vos::EventSet(m_go); }
    vos::OsHandle WatchStoppedEvent() const { return m_hEventWatchStopped; }
    bool ThreadsGone() const { return !m_hRecvThread && !m_hSendThread && !m_hWatchThread; }

protected:
    uint32_t WaitWatchStop() override {
        vos::EventWait(m_go, vos::kOsInfinite);
        return vos::kWaitFailed;
    }

private:
    vos::OsHandle m_go = vos::EventCreate(true, false);
};

TEST_F(UsbIfTest, CloseFromTheWatchThreadDoesNotWaitForItself) {
    vos::OsSetClockRate(kOpenRate);
    // No device while the base class opens, so that the watch thread starts
    // only once the test class is complete.
    auto watched = std::make_unique<WatchFailingUsbIf>(&message);
    message.SetLink(watched.get());
    ASSERT_EQ(watched->GetDeviceHandle(), kNone);
    bus.SetPresent(1, 0x1D50, 13);
    ASSERT_EQ(watched->Open(nullptr), 0u);
    ASSERT_NE(watched->GetDriverHandle(), kNoDriver);

    watched->FailWatchWait();
    // Had Close(1) waited for the watch thread, that thread would have ended
    // itself after 5 s without signalling.
    ASSERT_EQ(vos::EventWait(watched->WatchStoppedEvent(), 20000), vos::kWaitObject0);
    EXPECT_TRUE(watched->ThreadsGone());
    EXPECT_EQ(watched->GetDriverHandle(), kNoDriver);
    EXPECT_EQ(watched->GetDeviceHandle(), kNone);
    EXPECT_EQ(message.GetState(), kStateClosed);
    watched.reset();
}

TEST_F(UsbIfTest, CloseStopsTheThreadsAndUninitialisesTheLibrary) {
    bus.SetPresent(1, 0x1D50, 13);
    OpenLink();
    ASSERT_NE(link->GetDeviceHandle(), kNone);
    ASSERT_TRUE(bus.WaitHosts(1));
    link->Close(0);
    EXPECT_EQ(link->GetDeviceHandle(), kNone);
    EXPECT_EQ(link->GetDriverHandle(), kNoDriver);
    EXPECT_EQ(message.GetState(), kStateClosed);
    EXPECT_EQ(message.GetExchangeError(), 0x900d0007u);
    // Opening again brings a new host onto the bus.
    EXPECT_EQ(link->Open(nullptr), 0u);
    EXPECT_TRUE(bus.WaitHosts(2));
}

// ---------------------------------------------------------------------------
// The library's callbacks and the device list

WDU_DEVICE FakeDevice(uint16_t vendor, uint16_t product, WDU_INTERFACE* iface, WDU_ALTERNATE_SETTING* alt) {
    WDU_DEVICE d{};
    d.Descriptor.idVendor = vendor;
    d.Descriptor.idProduct = product;
    alt->Descriptor.bInterfaceNumber = 2;
    alt->Descriptor.bAlternateSetting = 1;
    iface->pActiveAltSetting = alt;
    d.pActiveInterface[0] = iface;
    return d;
}

TEST(UsbIfCallbacks, AttachAppendsRecordsAndDetachRemovesThem) {
    UsbDriverContext ctx{};
    ASSERT_EQ(OsEventCreate(&ctx.hAttachEvent), WD_STATUS_SUCCESS);
    ASSERT_EQ(OsMutexCreate(&ctx.hListMutex), WD_STATUS_SUCCESS);
    ASSERT_EQ(OsEventCreate(&ctx.hDeviceFreeEvent), WD_STATUS_SUCCESS);
    WDU_INTERFACE iface{};
    WDU_ALTERNATE_SETTING alt{};
    WDU_DEVICE info = FakeDevice(0x1D50, 13, &iface, &alt);
    WDU_DEVICE_HANDLE a = reinterpret_cast<WDU_DEVICE_HANDLE>(0x100);
    WDU_DEVICE_HANDLE b = reinterpret_cast<WDU_DEVICE_HANDLE>(0x200);

    EXPECT_EQ(CUsbIf::DeviceAttach(a, &info, &ctx), TRUE);
    EXPECT_EQ(OsEventWait(ctx.hAttachEvent, 0), WD_STATUS_SUCCESS);  // signalled
    info.Descriptor.idProduct = 14;
    EXPECT_EQ(CUsbIf::DeviceAttach(b, &info, &ctx), TRUE);
    ASSERT_EQ(ctx.deviceCount, 2u);
    ASSERT_NE(ctx.deviceContextList, nullptr);
    EXPECT_EQ(ctx.deviceContextList->hDevice, a);
    EXPECT_EQ(ctx.deviceContextList->vendorId, 0x1D50u);
    EXPECT_EQ(ctx.deviceContextList->productId, 13u);
    EXPECT_EQ(ctx.deviceContextList->interfaceNumber, 2u);
    EXPECT_EQ(ctx.deviceContextList->alternateSetting, 1u);
    ASSERT_NE(ctx.deviceContextList->next, nullptr);
    EXPECT_EQ(ctx.deviceContextList->next->hDevice, b);
    EXPECT_EQ(ctx.deviceContextList->next->productId, 14u);

    // A record that cannot be allocated: the device is refused.
    vos::SetAllocFailHook([](size_t size) { return size == sizeof(UsbDeviceContext); });
    EXPECT_EQ(CUsbIf::DeviceAttach(reinterpret_cast<WDU_DEVICE_HANDLE>(0x300), &info, &ctx), FALSE);
    vos::SetAllocFailHook(nullptr);
    EXPECT_EQ(ctx.deviceCount, 2u);

    CUsbIf::DeviceDetach(reinterpret_cast<WDU_DEVICE_HANDLE>(0x999), &ctx);  // unknown: nothing changes
    EXPECT_EQ(ctx.deviceCount, 2u);
    CUsbIf::DeviceDetach(a, &ctx);
    ASSERT_EQ(ctx.deviceCount, 1u);
    EXPECT_EQ(ctx.deviceContextList->hDevice, b);
    CUsbIf::DeviceDetach(b, &ctx);
    EXPECT_EQ(ctx.deviceCount, 0u);
    EXPECT_EQ(ctx.deviceContextList, nullptr);

    OsEventClose(ctx.hAttachEvent);
    OsMutexClose(ctx.hListMutex);
    OsEventClose(ctx.hDeviceFreeEvent);
}

// ---------------------------------------------------------------------------
// Trace texts

class TraceCapture : public vtest::DebugLines {
public:
    // The lines' texts (the part after the time and thread prefix).
    std::vector<std::string> Texts() {
        std::vector<std::string> out;
        for (const std::string& l : Lines()) {
            std::string t = l.size() > 23 ? l.substr(23) : l;
            while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
            out.push_back(t);
        }
        return out;
    }
    bool Has(const std::string& prefix) {
        for (const std::string& t : Texts())
            if (t.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
};

TEST_F(UsbIfTest, TraceTextsOfAFailedAndASuccessfulOpening) {
    vos::OsSetClockRate(kOpenRate);
    WriteSettings("[LOGSETTING]\nLOGLEVEL=0xFFFF\n");
    TraceLogResetForTest();
    TraceLog(0x10000, "reads the level");
    TraceCapture trace;

    OpenLink();  // no device
    ASSERT_EQ(message.SendRequest(request, 1, nullptr), 0u);
    EXPECT_EQ(link->Send(), 0x900d000du);
    std::vector<std::string> texts = trace.Texts();
    std::vector<std::string> expected = {
        "CUsbIf::CUsbIf-In",
        "CUsbIf::Open(VOID)",
        "WDU_Init Success Handle:0x",
        "Timeout expired for connection with the device.",
        "Check that the device is connected and try again.",
        "Call WDU_Uninit(0x",
        "CUsbIf::Open-Out(QXR_ERROR_PCIF_CONNECT)",
        "CUsbIf::CUsbIf-Out",
        "CUsbIf::Send() Recovery Open",
        "CUsbIf::Open(VOID)",
        "WDU_Init Success Handle:0x",
        "Timeout expired for connection with the device.",
        "Check that the device is connected and try again.",
        "Call WDU_Uninit(0x",
        "CUsbIf::Open-Out(QXR_ERROR_PCIF_CONNECT)",
        "CUsbIf::Send() Open ErrCode:0xA00D0010",
        "CUsbIf::Send-Out(QXR_ERROR_PCIF_TRANSMIT)",
    };
    ASSERT_EQ(texts.size(), expected.size());
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i].compare(0, expected[i].size(), expected[i]), 0) << texts[i];

    bus.SetPresent(1, 0x1D50, 13);
    SendAcknowledged();
    EXPECT_TRUE(trace.Has("DeviceAttach-In( 0x"));
    EXPECT_TRUE(trace.Has("DeviceAttach-Out( TRUE )"));
    EXPECT_TRUE(trace.Has("DrvCtx.deviceContextList->hDevice:0x"));
    EXPECT_TRUE(trace.Has("CUsbIf::Open-Out(QXR_ERROR_NONE)"));
    EXPECT_TRUE(trace.Has("CUsbIf::Send() Now Open"));
    EXPECT_TRUE(trace.Has("ResetEvent(m_hEventSendRequest)"));
    EXPECT_TRUE(trace.Has("CUsbIf::TransmitThread(?, OUT_BULK, FALSE, 0, ?FrameData, 7, OutSize, Timeout)"));
    EXPECT_TRUE(trace.Has("CUsbIf::TransmitThread [7] 02 00 01 00 3B"));

    bus.Detach(1);
    link.reset();
    EXPECT_TRUE(trace.Has("DeviceDetach-In( 0x") || trace.Has("Call WDU_Uninit(0x"));
    TraceLogResetForTest();
}

}  // namespace
