// The link choice end to end, through the exports: the simulated USB bus
// (found through VANTRO_USB_BUS) with a simulated device behind it, and COM
// ports (ptys in a private ports folder) served by simulated devices of their
// own. Each device has its own supply voltage, so KovGetVoltage tells which
// one answered.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsSettings.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/PtyTransport.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace {

using RealClock = std::chrono::steady_clock;

constexpr uint32_t kTransmitFailed = 0x900d000d;
constexpr uint32_t kNoReply = 0x900d0017;
constexpr uint32_t kNoResponse = 0x900d0018;
constexpr uint16_t kUsbVolts = 12001;
// The clock rate of tests with time-outs: 2 s pass in 400 ms, and a device
// still has 200 ms of real time to attach within the one-second wait.
constexpr uint32_t kRate = 5;

// A simulated device with a transport, and a record of the frames it got.
struct Device {
    explicit Device(const std::string& root, uint16_t volts) {
        sim::SimConfig config;
        config.rootDir = root;
        sim.reset(new sim::SimDevice(config));
        sim->State().voltage = volts;
        sim->SetTrace([this](const char* line) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_lines.emplace_back(line);
            m_cv.notify_all();
        });
    }
    // Waits (real time) for a frame from the PC whose trace contains text.
    bool WaitFromPc(const std::string& text, uint32_t ms = 10000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (const std::string& l : m_lines)
                if (l.compare(0, 3, "PC>") == 0 && l.find(text) != std::string::npos) return true;
            return false;
        });
    }
    size_t FramesFromPc() {
        std::lock_guard<std::mutex> lock(m_lock);
        size_t n = 0;
        for (const std::string& l : m_lines) n += l.compare(0, 3, "PC>") == 0;
        return n;
    }

    std::unique_ptr<sim::SimDevice> sim;

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::string> m_lines;
};

class Failover : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp = vtest::MakeTempDir("vantro-failover-");
        ASSERT_FALSE(m_temp.empty());
        m_ports = m_temp + "/ports";
        std::filesystem::create_directories(m_ports);
        SaveEnv("VANTRO_PORTS_DIR", &m_oldPorts);
        SaveEnv("VANTRO_USB_BUS", &m_oldBus);
        vtest::SetEnv("VANTRO_PORTS_DIR", m_ports.c_str());
        vos::SetSettingsPathOverride(m_temp + "/none.SETTING");  // defaults: vendor 0x1D50, product 13
        m_oldFactory = SetLinkFactory(nullptr);                   // the real links

        usb.reset(new Device(m_temp, kUsbVolts));
        bus.reset(new sim::UsbBusServer(*usb->sim, 0x1D50, 13));
        usb->sim->Start();
        ASSERT_TRUE(bus->Start());
        vtest::SetEnv("VANTRO_USB_BUS", std::to_string(bus->Port()).c_str());
        ReleaseDeviceLink();
    }

    void TearDown() override {
        ReleaseDeviceLink();
        SetRate(1);
        bus->Stop();
        usb->sim->Stop();
        for (auto& p : m_ptys) p->Stop();
        for (auto& d : m_com) d->sim->Stop();
        m_ptys.clear();
        m_com.clear();
        SetLinkFactory(m_oldFactory);
        vos::SetSettingsPathOverride("");
        vtest::SetEnv("VANTRO_PORTS_DIR", m_oldPorts.empty() ? nullptr : m_oldPorts.c_str());
        vtest::SetEnv("VANTRO_USB_BUS", m_oldBus.empty() ? nullptr : m_oldBus.c_str());
        vtest::RemoveTree(m_temp);
    }

    // A COM port served by a device of its own; null where there is no pty.
    Device* AddComPort(const char* name, uint16_t volts) {
        auto device = std::make_unique<Device>(m_temp, volts);
        auto pty = std::make_unique<sim::PtyTransport>(*device->sim);
        sim::PtyTransport::Options options;
        options.portsDir = m_ports;
        options.portName = name;
        if (!pty->Start(options)) return nullptr;
        device->sim->Start();
        device->sim->SetClockRate(m_rate);
        m_ptys.push_back(std::move(pty));
        m_com.push_back(std::move(device));
        return m_com.back().get();
    }

    void SetRate(uint32_t rate) {
        m_rate = rate;
        vos::OsSetClockRate(rate);
        if (usb) usb->sim->SetClockRate(rate);
        for (auto& d : m_com) d->sim->SetClockRate(rate);
    }

    // The voltage of whichever device the library talks to; the call must succeed.
    static uint16_t Volts() {
        uint16_t volts = 0;
        EXPECT_EQ(KovGetVoltage(0, &volts), 0u);
        return volts;
    }
    static uint32_t CommDevice() {
        uint32_t device = 99;
        EXPECT_EQ(KovGetCommDevice(&device), 0u);
        return device;
    }

    static void SaveEnv(const char* name, std::string* out) {
        const char* v = std::getenv(name);
        *out = v ? v : "";
    }

    std::unique_ptr<Device> usb;
    std::unique_ptr<sim::UsbBusServer> bus;

private:
    std::string m_temp, m_ports, m_oldPorts, m_oldBus;
    LinkFactory m_oldFactory = nullptr;
    uint32_t m_rate = 1;
    std::vector<std::unique_ptr<sim::PtyTransport>> m_ptys;
    std::vector<std::unique_ptr<Device>> m_com;
};

TEST_F(Failover, AnAnsweringUsbDeviceIsUsedAndKept) {
    EXPECT_EQ(CommDevice(), 0u);  // no frame controller yet
    EXPECT_EQ(Volts(), kUsbVolts);
    EXPECT_EQ(CommDevice(), 1u);
    EXPECT_EQ(Volts(), kUsbVolts);
    EXPECT_EQ(CommDevice(), 1u);
    EXPECT_EQ(KovDisconnect(), 0u);
    EXPECT_EQ(CommDevice(), 0u);
}

TEST_F(Failover, ASilentUsbDeviceFailsOverToTheComPortsInOrder) {
    SetRate(kRate);
    Device* com1 = AddComPort("COM1", 12002);
    Device* com2 = AddComPort("COM2", 12003);
    if (!com1 || !com2) GTEST_SKIP() << "no pty here";
    ASSERT_TRUE(usb->sim->Faults().Add("silent@on=reply,times=0"));
    ASSERT_TRUE(com1->sim->Faults().Add("silent@on=reply,times=0"));

    EXPECT_EQ(Volts(), 12003);  // COM2 answered
    EXPECT_EQ(CommDevice(), 2u);
    EXPECT_GE(usb->FramesFromPc(), 1u);   // tried first
    EXPECT_GE(com1->FramesFromPc(), 1u);  // then COM1

    // The link that answered stays.
    size_t usbFrames = usb->FramesFromPc();
    EXPECT_EQ(Volts(), 12003);
    EXPECT_EQ(usb->FramesFromPc(), usbFrames);

    // After a release, USB comes first again.
    usb->sim->Faults().Clear();
    ReleaseDeviceLink();
    EXPECT_EQ(Volts(), kUsbVolts);
    EXPECT_EQ(CommDevice(), 1u);
}

TEST_F(Failover, WithoutAUsbDeviceEveryCallFailsAfterTheAttachWaits) {
    SetRate(50);
    Device* com1 = AddComPort("COM1", 12002);  // never tried: USB cannot even send
    bus->Unplug();
    vtest::ReportCapture reports;
    auto start = RealClock::now();
    uint16_t volts = 0;
    EXPECT_EQ(KovGetVoltage(0, &volts), kTransmitFailed);
    // Opening at creation and again in Send: two attach waits.
    EXPECT_EQ(reports.Count(0xa00d0010, "Pc/FrameCtrl/UsbIf", 448), 2u);
    EXPECT_EQ(KovGetVoltage(0, &volts), kTransmitFailed);
    EXPECT_EQ(reports.Count(0xa00d0010, "Pc/FrameCtrl/UsbIf", 448), 3u);
    EXPECT_EQ(CommDevice(), 1u);
    if (com1) {
        EXPECT_EQ(com1->FramesFromPc(), 0u);
    }
    EXPECT_LT(RealClock::now() - start, std::chrono::seconds(3));  // 3 s of attach waits on the fast clock

    // No simulated bus at all: the machine's USB (none here) or nothing.
    ReleaseDeviceLink();
    vtest::SetEnv("VANTRO_USB_BUS", nullptr);
    EXPECT_EQ(KovGetVoltage(0, &volts), kTransmitFailed);
    EXPECT_EQ(CommDevice(), 1u);
    if (com1) {
        EXPECT_EQ(com1->FramesFromPc(), 0u);
    }
}

TEST_F(Failover, AUsbDeviceUnpluggedDuringAnExchangeIsFoundAgainWhenPluggedBack) {
    SetRate(kRate);
    ASSERT_TRUE(usb->sim->Faults().Add("late=30000@code=3"));  // the response takes its time
    auto call = std::async(std::launch::async, [] {
        uint16_t volts = 0;
        return KovGetVoltage(0, &volts);
    });
    // The PC polls: the request was accepted and the response is awaited.
    ASSERT_TRUE(usb->WaitFromPc("02 7F 00 00 7F 03"));
    bus->Unplug();
    ASSERT_EQ(call.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(call.get(), kNoResponse);  // 10 s without a Poll answer
    EXPECT_EQ(CommDevice(), 1u);

    bus->Plug();
    usb->sim->Faults().Clear();
    uint16_t volts = 0;
    // The link still holds the vanished device: no Reply comes, and with no
    // COM port to fail over to, the link is given up.
    EXPECT_EQ(KovGetVoltage(0, &volts), kNoReply);
    EXPECT_EQ(CommDevice(), 0u);
    // A new link finds the device plugged back.
    EXPECT_EQ(Volts(), kUsbVolts);
    EXPECT_EQ(CommDevice(), 1u);
}

TEST_F(Failover, TheDevicesDetachFaultLosesOneExchangeOnly) {
    SetRate(kRate);
    ASSERT_TRUE(usb->sim->Faults().Add("detach=200@code=3"));
    uint16_t volts = 0;
    EXPECT_EQ(KovGetVoltage(0, &volts), kNoReply);
    EXPECT_EQ(Volts(), kUsbVolts);
    EXPECT_EQ(CommDevice(), 1u);
}

}  // namespace
