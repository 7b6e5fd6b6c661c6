// DllMain of Vantro64.dll under the Windows loader: process attach leaves
// the library without device objects; process detach through FreeLibrary
// ends the link's threads and closes the communication mutex's handle, so a
// later LoadLibrary starts afresh; a process that ends with a live link exits
// cleanly. Each case runs in a child process of its own (this executable
// again), where nothing else has loaded the library or opened the mutex.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Pc/Log/Lifecycle.h"
#include "Tests/Support/ChildProcess.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace {

const char kCommMutex[] = "DiZedoI/F-CommunicationMutex";

bool MutexExists() {
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, kCommMutex);
    if (!h) return false;
    CloseHandle(h);
    return true;
}

using GetVoltageFn = decltype(&KovGetVoltage);
using GetCommDeviceFn = decltype(&KovGetCommDevice);

// Fails the child role with a message and an exit code.
#define CHILD_CHECK(cond, code)                                                   \
    do {                                                                          \
        if (!(cond)) {                                                            \
            std::fprintf(stderr, "child: %s failed (line %d)\n", #cond, __LINE__); \
            return code;                                                          \
        }                                                                         \
    } while (0)

// One load: the attach state, an exchange over the bus, the objects it made.
int LoadAndExchange(wintest::LoadedDll& dll, uint16_t volts, uint32_t* threadsWithLink) {
    CHILD_CHECK(dll.ok(), 10);
    auto getVoltage = dll.Get<GetVoltageFn>("_KovGetVoltage@8");
    auto getCommDevice = dll.Get<GetCommDeviceFn>("_KovGetCommDevice@4");
    CHILD_CHECK(getVoltage && getCommDevice, 11);
    uint32_t device = 77;
    CHILD_CHECK(getCommDevice(&device) == 0 && device == 0, 12);  // attach: no frame controller
    uint16_t mv = 0;
    CHILD_CHECK(getVoltage(0, &mv) == 0, 13);
    CHILD_CHECK(mv == volts, 14);
    CHILD_CHECK(getCommDevice(&device) == 0 && device == 1, 15);
    CHILD_CHECK(MutexExists(), 16);
    *threadsWithLink = wintest::ThreadCount();
    return 0;
}

// args: the bus port, the device's voltage.
VTEST_CHILD_ROLE(dllLoadFreeReload) {
    if (args.size() != 2) return 2;
    wintest::UseUsbBus(args[0]);
    const uint16_t volts = static_cast<uint16_t>(std::stoul(args[1]));
    CHILD_CHECK(!MutexExists(), 3);

    // Loaded and freed once without a call: the threads of a bare load.
    {
        wintest::LoadedDll bare;
        CHILD_CHECK(bare.ok(), 4);
        CHILD_CHECK(!MutexExists(), 5);  // attach opens nothing
        CHILD_CHECK(bare.Free(), 6);
    }
    const uint32_t baseline = wintest::ThreadCount();

    for (int round = 0; round < 2; ++round) {
        wintest::LoadedDll dll;
        uint32_t withLink = 0;
        const int rc = LoadAndExchange(dll, volts, &withLink);
        if (rc) return rc + round * 100;
        CHILD_CHECK(withLink > baseline, 20 + round * 100);  // the link's threads run

        const auto t0 = std::chrono::steady_clock::now();
        CHILD_CHECK(dll.Free(), 21 + round * 100);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        // Bounded: the link's threads are stopped under the loader lock
        // without waiting for their handles.
        CHILD_CHECK(ms < 5000, 24 + round * 100);
        // Detach closed the mutex handle, and the link's threads are gone.
        CHILD_CHECK(!MutexExists(), 22 + round * 100);
        CHILD_CHECK(wintest::WaitUntil([&] { return wintest::ThreadCount() <= baseline; }, 10000), 23 + round * 100);
    }
    return 0;
}

// args: the bus port, the device's voltage. Ends the process with the link
// open and the DLL loaded.
VTEST_CHILD_ROLE(dllExitWithLiveLink) {
    if (args.size() != 2) return 2;
    wintest::UseUsbBus(args[0]);
    static wintest::LoadedDll* dll = new wintest::LoadedDll();  // never freed
    uint32_t threads = 0;
    const int rc = LoadAndExchange(*dll, static_cast<uint16_t>(std::stoul(args[1])), &threads);
    return rc ? rc : 42;
}

class WinDllLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        // This process's own copy of the library lets go of the mutex as an
        // unloaded DLL would, so that only the child's DLL can hold it.
        ProcessDetach();
        ProcessAttach();
        ASSERT_TRUE(usb.ok());
        usb.Device().State().voltage = 12345;
    }
    wintest::UsbBusDevice usb;
};

TEST_F(WinDllLifecycle, FreeLibraryReleasesTheLinkAndTheMutexAndReloadStartsAfresh) {
    const uint32_t before = usb.Device().Stats().commands;
    vtest::Child child = vtest::SpawnChild("dllLoadFreeReload", {usb.PortText(), "12345"});
    ASSERT_TRUE(child.valid());
    int code = -1;
    if (!vtest::WaitChild(child, 60000, &code)) {
        vtest::KillChild(child);
        FAIL() << "the child did not end within 60 s";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(usb.Device().Stats().commands, before + 2);  // one exchange per load
}

TEST_F(WinDllLifecycle, ProcessEndingWithALiveLinkExitsCleanly) {
    vtest::Child child = vtest::SpawnChild("dllExitWithLiveLink", {usb.PortText(), "12345"});
    ASSERT_TRUE(child.valid());
    int code = -1;
    if (!vtest::WaitChild(child, 30000, &code)) {
        vtest::KillChild(child);
        FAIL() << "the child did not end within 30 s";
    }
    EXPECT_EQ(code, 42);
}

}  // namespace
