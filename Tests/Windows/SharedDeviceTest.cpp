// Several Windows processes and one device. The communication mutex
// "DiZedoI/F-CommunicationMutex" is a Win32 named mutex: another process that
// holds it (here through CreateMutexA itself, as any program could) holds
// every exchange of this one back until it lets go, and one that dies while
// holding it makes the waiting call fail once with the wait error. Two
// processes that each load Vantro64.dll share the device on the simulated
// USB bus with this one, every exchange answered.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "Tests/Support/ChildProcess.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/vantro_status.h"

namespace {

const char kCommMutex[] = "DiZedoI/F-CommunicationMutex";
constexpr uint32_t kMutexWaitFailed = 0x900d002b;

std::string EventName(const char* what) {
    static int serial = 0;
    return "vantro-wintest-" + std::string(what) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
}

// args: ready event, release event, "release" or "abandon". Owns the mutex
// until the release event (at most 30 s), then releases it or ends without.
VTEST_CHILD_ROLE(holdCommMutex) {
    if (args.size() != 3) return 2;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kCommMutex);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, args[0].c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, args[1].c_str());
    if (!mutex || !ready || !release) return 3;
    if (WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 4;
    SetEvent(ready);
    WaitForSingleObject(release, 30000);
    if (args[2] == "release") ReleaseMutex(mutex);
    return 0;  // "abandon": the process ends as the owner
}

// args: bus port, count, voltage. count exchanges through Vantro64.dll.
VTEST_CHILD_ROLE(shareDevice) {
    if (args.size() != 3) return 2;
    wintest::UseUsbBus(args[0]);
    const int count = std::stoi(args[1]);
    const uint16_t volts = static_cast<uint16_t>(std::stoul(args[2]));
    wintest::LoadedDll dll;
    auto getVoltage = dll.Get<decltype(&KovGetVoltage)>("_KovGetVoltage@8");
    auto getMode = dll.Get<decltype(&KovGetMode)>("_KovGetMode@0");
    if (!getVoltage || !getMode) return 3;
    for (int i = 0; i < count; ++i) {
        uint16_t mv = 0;
        const uint32_t rc = getVoltage(0, &mv);
        if (rc != 0 || mv != volts) {
            std::fprintf(stderr, "child %lu: exchange %d gave 0x%08X, %u mV\n", GetCurrentProcessId(), i, rc, mv);
            return 10;
        }
        const uint32_t mode = getMode();
        if (mode != 1) {
            std::fprintf(stderr, "child %lu: mode exchange %d gave 0x%08X\n", GetCurrentProcessId(), i, mode);
            return 11;
        }
    }
    return 0;
}

// A KovGetVoltage on a thread of its own, whose end can be awaited.
class PendingCall {
public:
    PendingCall() : m_done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = std::thread([this] {
            uint16_t mv = 0;
            m_result = KovGetVoltage(0, &mv);
            SetEvent(m_done);
        });
    }
    ~PendingCall() {
        m_thread.join();
        CloseHandle(m_done);
    }
    bool Done(DWORD ms) { return WaitForSingleObject(m_done, ms) == WAIT_OBJECT_0; }
    uint32_t Result() const { return m_result; }

private:
    HANDLE m_done;
    std::atomic<uint32_t> m_result{0xFFFFFFFFu};
    std::thread m_thread;
};

class WinSharedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(usb.ok());
        uint16_t mv = 0;
        ASSERT_EQ(KovGetVoltage(0, &mv), 0u);  // the link is up before the other process comes
    }
    // Starts a child owning the mutex; true once it does.
    bool StartHolder(const char* mode) {
        m_readyName = EventName("ready");
        m_releaseName = EventName("release");
        m_ready = CreateEventA(nullptr, TRUE, FALSE, m_readyName.c_str());
        m_release = CreateEventA(nullptr, TRUE, FALSE, m_releaseName.c_str());
        m_holder = vtest::SpawnChild("holdCommMutex", {m_readyName, m_releaseName, mode});
        return m_holder.valid() && WaitForSingleObject(m_ready, 20000) == WAIT_OBJECT_0;
    }
    int LetGo() {
        SetEvent(m_release);
        int code = -1;
        if (!vtest::WaitChild(m_holder, 30000, &code)) vtest::KillChild(m_holder);
        return code;
    }
    void TearDown() override {
        if (m_holder.valid()) LetGo();
        if (m_ready) CloseHandle(m_ready);
        if (m_release) CloseHandle(m_release);
    }

    wintest::UsbBusDevice usb;
    std::string m_readyName, m_releaseName;
    HANDLE m_ready = nullptr;
    HANDLE m_release = nullptr;
    vtest::Child m_holder;
};

TEST_F(WinSharedDevice, AnotherProcessHoldingTheMutexHoldsTheExchangeBack) {
    ASSERT_TRUE(StartHolder("release"));
    const uint32_t before = usb.Device().Stats().commands;
    {
        PendingCall call;
        EXPECT_FALSE(call.Done(500));  // waits for the mutex, sends nothing
        EXPECT_EQ(usb.Device().Stats().commands, before);
        EXPECT_EQ(LetGo(), 0);
        ASSERT_TRUE(call.Done(20000));
        EXPECT_EQ(call.Result(), 0u);
    }
    EXPECT_EQ(usb.Device().Stats().commands, before + 1);
}

TEST_F(WinSharedDevice, OwnerProcessEndingAbandonsTheMutexOnce) {
    ASSERT_TRUE(StartHolder("abandon"));
    const uint32_t before = usb.Device().Stats().commands;
    {
        PendingCall call;
        EXPECT_FALSE(call.Done(500));
        EXPECT_EQ(LetGo(), 0);
        ASSERT_TRUE(call.Done(20000));
        EXPECT_EQ(call.Result(), kMutexWaitFailed);  // nothing sent
    }
    EXPECT_EQ(usb.Device().Stats().commands, before);
    // The abandoned mutex was released again: the next call goes through,
    // and another process can take it.
    uint16_t mv = 0;
    EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
    ASSERT_TRUE(StartHolder("release"));
    EXPECT_EQ(LetGo(), 0);
}

TEST_F(WinSharedDevice, TwoProcessesWithTheDllAndThisOneShareTheDevice) {
    constexpr int kCount = 15;
    usb.Device().State().voltage = 11900;
    usb.Device().State().mode = 1;
    const uint32_t before = usb.Device().Stats().commands;
    vtest::Child a = vtest::SpawnChild("shareDevice", {usb.PortText(), std::to_string(kCount), "11900"});
    vtest::Child b = vtest::SpawnChild("shareDevice", {usb.PortText(), std::to_string(kCount), "11900"});
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(b.valid());
    int mine = 0;
    for (int i = 0; i < kCount; ++i) {
        uint16_t mv = 0;
        if (KovGetVoltage(0, &mv) == 0 && mv == 11900) ++mine;
    }
    EXPECT_EQ(mine, kCount);
    int codeA = -1, codeB = -1;
    const bool endedA = vtest::WaitChild(a, 120000, &codeA);
    const bool endedB = vtest::WaitChild(b, 120000, &codeB);
    if (!endedA) vtest::KillChild(a);
    if (!endedB) vtest::KillChild(b);
    ASSERT_TRUE(endedA && endedB);
    EXPECT_EQ(codeA, 0);
    EXPECT_EQ(codeB, 0);
    EXPECT_EQ(usb.Device().Stats().commands, before + 5u * kCount);
}

}  // namespace
