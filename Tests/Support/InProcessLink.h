// Runs the library against a simulated device inside the test process, with
// no pty and no USB: every family's integration tests use this.
//
// CInProcessLink is a link (CCommIf) like the serial one: a transmit thread
// writes the message layer's pending frame into the device
// (SimDevice::OnBytesFromPc) and paces CheckTimeouts; a receive thread cuts
// the device's bytes into frames as the serial link does (4-byte header,
// length + 6 bytes, at most 517, the rest of a frame within 100 ms between
// bytes and 1000 ms in all on the library clock) and hands each to
// OnFrameReceived. With no device the bytes go nowhere: a link whose device
// never answers.
//
// InProcessSim is the fixture helper. While it lives:
//   - a SimDevice runs with a fresh temporary root folder (unless the config
//     names one), removed again at the end;
//   - the frame controller's link factory builds a CInProcessLink to that
//     device for commDevice 1 (USB); VANTRO_PORTS_DIR points at an empty
//     folder, so USB is the only candidate;
//   - the device link is released before and after (ReleaseDeviceLink), so
//     each test starts with a new message layer and frame controller;
//   - SetClockRate accelerates the library clock and the device together;
//     the destructor puts both back to rate 1.
// Set VANTRO_SIM_TRACE=1 to see every frame on stderr.
//
//   class KovStatusTest : public ::testing::Test {
//   protected:
//       vtest::InProcessSim sim;
//   };
//   TEST_F(KovStatusTest, VoltageComesFromTheDevice) {
//       sim.Device().State().voltage = 13800;
//       uint16_t mv = 0;
//       EXPECT_EQ(0u, KovGetVoltage(0, &mv));
//       EXPECT_EQ(13800, mv);
//   }
//   TEST_F(KovStatusTest, RefusalReachesTheCaller) {
//       sim.Device().Faults().Add("refuse=0x1234@code=3");
//       uint16_t mv = 0;
//       EXPECT_EQ(0x1234u, KovGetVoltage(0, &mv));
//   }
//   TEST_F(KovStatusTest, SilentDeviceTimesOut) {
//       sim.SetClockRate(50);
//       sim.Device().Faults().Add("silent");   // after the Reply: no answer
//       uint16_t mv = 0;
//       EXPECT_EQ(0x900d0018u, KovGetVoltage(0, &mv));
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "Pc/FrameCtrl/CommIf.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Sim/Core/DeviceState.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"

namespace vtest {

class CInProcessLink : public CCommIf {
public:
    // Opens at once, as the real links do. device may be null.
    CInProcessLink(CMessage* message, sim::SimDevice* device, uint32_t commDevice = kCommUsb);
    ~CInProcessLink() override;

    uint32_t Open(const char* portName) override;
    void Close(uint32_t flags) override;
    uint32_t Send() override;
    uint32_t ReceiveThread() override;
    uint32_t TransmitThread() override;

private:
    void OnDeviceBytes(const uint8_t* data, size_t size);
    // Reads up to n bytes under the serial time-outs; returns how many came.
    uint32_t Read(uint8_t* out, uint32_t n);
    size_t Queued();

    sim::SimDevice* m_pDevice;
    std::mutex m_inLock;
    std::deque<uint8_t> m_in;
    vos::OsHandle m_hInput;  // manual-reset: set while bytes are queued
    bool m_bOpen;
};

class InProcessSim {
public:
    explicit InProcessSim(sim::SimConfig config = sim::SimConfig());
    ~InProcessSim();
    InProcessSim(const InProcessSim&) = delete;
    InProcessSim& operator=(const InProcessSim&) = delete;

    sim::SimDevice& Device() { return *m_device; }
    sim::FaultPlan& Faults() { return m_device->Faults(); }
    const std::string& RootDir() const { return m_rootDir; }
    // The library clock and the device's clock at this rate.
    void SetClockRate(uint32_t rate);

private:
    std::string m_rootDir;
    bool m_ownRoot = false;
    std::string m_portsDir;
    std::string m_oldPortsDir;
    bool m_hadPortsDir = false;
    LinkFactory m_oldFactory = nullptr;
    std::unique_ptr<sim::SimDevice> m_device;
};

// A fresh, empty temporary folder; "" when none can be made.
std::string MakeTempDir(const char* prefix);
// Removes a folder and everything in it.
void RemoveTree(const std::string& path);
// Sets or (value null) removes an environment variable.
void SetEnv(const char* name, const char* value);

}  // namespace vtest
