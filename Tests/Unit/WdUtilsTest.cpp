// Our USB library: callbacks and handles, bulk transfers over the simulated
// bus (against a scripted bus end, so every packet is the test's choice), the
// bus server with a simulated device, the Os helpers and the status texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Lib/WdUtils/WdUtils.h"
#include "Lib/WdUtils/WduBackend.h"
#include "Pc/Os/OsClock.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Unit/ScriptedUsbBus.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Bus = vtest::ScriptedUsbBus;
using RealClock = std::chrono::steady_clock;

// What the callbacks saw.
struct Recorder {
    struct Attach {
        WDU_DEVICE_HANDLE handle;
        uint16_t vendor, product;
        uint8_t interfaceNumber, alternateSetting;
        std::vector<DWORD> pipes;
        std::thread::id thread;
    };
    std::mutex lock;
    std::condition_variable cv;
    std::vector<Attach> attaches;
    std::vector<WDU_DEVICE_HANDLE> detaches;
    std::vector<bool> answers;  // the attach callback's answers, in order (default TRUE)

    bool WaitAttaches(size_t n, uint32_t ms = 5000) {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return attaches.size() >= n; });
    }
    bool WaitDetaches(size_t n, uint32_t ms = 5000) {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return detaches.size() >= n; });
    }
    size_t Detaches() {
        std::lock_guard<std::mutex> l(lock);
        return detaches.size();
    }
    WDU_DEVICE_HANDLE Handle(size_t i) {
        std::lock_guard<std::mutex> l(lock);
        return attaches.at(i).handle;
    }

    static BOOL WDU_CALLCONV OnAttach(WDU_DEVICE_HANDLE h, WDU_DEVICE* info, PVOID user) {
        Recorder* r = static_cast<Recorder*>(user);
        Attach a{h, info->Descriptor.idVendor, info->Descriptor.idProduct, 0, 0, {}, std::this_thread::get_id()};
        WDU_ALTERNATE_SETTING* alt = info->pActiveInterface[0]->pActiveAltSetting;
        a.interfaceNumber = alt->Descriptor.bInterfaceNumber;
        a.alternateSetting = alt->Descriptor.bAlternateSetting;
        for (int i = 0; i < alt->Descriptor.bNumEndpoints; ++i) a.pipes.push_back(alt->pPipes[i].dwNumber);
        std::lock_guard<std::mutex> l(r->lock);
        size_t index = r->attaches.size();
        r->attaches.push_back(a);
        r->cv.notify_all();
        return index < r->answers.size() ? (r->answers[index] ? TRUE : FALSE) : TRUE;
    }
    static void WDU_CALLCONV OnDetach(WDU_DEVICE_HANDLE h, PVOID user) {
        Recorder* r = static_cast<Recorder*>(user);
        std::lock_guard<std::mutex> l(r->lock);
        r->detaches.push_back(h);
        r->cv.notify_all();
    }
};

// A driver on the scripted bus (through the test factory, or through the
// environment when useEnvironment).
class Driver {
public:
    Driver(Recorder& rec, uint16_t vendor, uint16_t product, DWORD options = 0) {
        WDU_MATCH_TABLE match = {vendor, product, 0, 0, 0, 0, 0};
        WDU_EVENT_TABLE events = {&Recorder::OnAttach, &Recorder::OnDetach, nullptr, &rec};
        status = WDU_Init(&handle, &match, 1, &events, "", options);
    }
    ~Driver() {
        if (status == WD_STATUS_SUCCESS) WDU_Uninit(handle);
    }
    WDU_DRIVER_HANDLE handle = nullptr;
    DWORD status = 0;
};

using vtest::SetEnv;

// Every test runs against a bus of its own, reached through the backend
// factory; the clock rate is restored at the end.
class WdUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        uint16_t port = bus.Port();
        ASSERT_NE(port, 0);
        wdu::SetBackendFactoryForTests([port] { return wdu::CreateSimBusBackend(port); });
    }
    void TearDown() override {
        wdu::SetBackendFactoryForTests(nullptr);
        vos::OsSetClockRate(1);
    }

    // A driver (rec, driver) with the device 0x1D50/13 present and attached.
    WDU_DEVICE_HANDLE Attached() {
        bus.SetPresent(1, 0x1D50, 13);
        driver.reset(new Driver(rec, 0x1D50, 13));
        EXPECT_EQ(driver->status, WD_STATUS_SUCCESS);
        EXPECT_TRUE(rec.WaitAttaches(1));
        return rec.attaches.empty() ? nullptr : rec.Handle(0);
    }

    Bus bus;
    Recorder rec;
    std::unique_ptr<Driver> driver;
};

// A bulk read into a buffer of `size`: the status and the bytes that came.
std::pair<DWORD, Bytes> ReadBulk(WDU_DEVICE_HANDLE h, DWORD size, DWORD timeout = 2000) {
    Bytes buffer(size);
    DWORD count = 0;
    DWORD status = WDU_TransferBulk(h, 0x82, TRUE, 0, buffer.data(), size, &count, timeout);
    buffer.resize(count);
    return {status, buffer};
}

// ---------------------------------------------------------------------------
// Attach and detach

TEST_F(WdUtilsTest, DevicePresentBeforeInitAttachesOnTheLibrarysThread) {
    bus.SetPresent(1, 0x1D50, 13);
    Driver driver(rec, 0x1D50, 13);
    ASSERT_EQ(driver.status, WD_STATUS_SUCCESS);
    ASSERT_TRUE(rec.WaitAttaches(1));
    Recorder::Attach a = rec.attaches[0];
    EXPECT_NE(a.thread, std::this_thread::get_id());
    EXPECT_EQ(a.vendor, 0x1D50);
    EXPECT_EQ(a.product, 13);
    EXPECT_EQ(a.interfaceNumber, 0);
    EXPECT_EQ(a.alternateSetting, 0);
    EXPECT_EQ(a.pipes, (std::vector<DWORD>{0x01, 0x82}));
    EXPECT_NE(a.handle, nullptr);
}

TEST_F(WdUtilsTest, InitReturnsAtOnceAndADeviceArrivingLaterAttaches) {
    Driver driver(rec, 0x1D50, 13);
    ASSERT_EQ(driver.status, WD_STATUS_SUCCESS);
    ASSERT_TRUE(bus.WaitHosts(1));
    EXPECT_FALSE(rec.WaitAttaches(1, 50));
    bus.Attach(7, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    EXPECT_EQ(rec.attaches[0].product, 13);
}

TEST_F(WdUtilsTest, OnlyDevicesOfTheMatchTableAttach) {
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(bus.WaitHosts(1));
    bus.Attach(1, 0x1D50, 14);   // other product
    bus.Attach(2, 0x1234, 13);   // other vendor
    bus.Attach(3, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    EXPECT_FALSE(rec.WaitAttaches(2, 100));
    EXPECT_EQ(rec.attaches[0].vendor, 0x1D50);
    EXPECT_EQ(rec.attaches[0].product, 13);

    // Zero fields match anything.
    Recorder any;
    Driver wildcard(any, 0, 0);
    ASSERT_TRUE(bus.WaitHosts(2));
    bus.Attach(4, 0x4321, 99, 1);
    ASSERT_TRUE(any.WaitAttaches(1));
    EXPECT_EQ(any.attaches[0].vendor, 0x4321);
}

TEST_F(WdUtilsTest, DetachComesOnlyForAcceptedDevicesAndEndsTheHandle) {
    rec.answers = {false, true};
    Driver driver(rec, 0, 0, WD_ACKNOWLEDGE);
    ASSERT_TRUE(bus.WaitHosts(1));
    bus.Attach(1, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    bus.Attach(2, 0x1D50, 14);
    ASSERT_TRUE(rec.WaitAttaches(2));
    WDU_DEVICE_HANDLE refused = rec.Handle(0);
    WDU_DEVICE_HANDLE taken = rec.Handle(1);
    EXPECT_NE(refused, taken);

    uint8_t buffer[8] = {};
    DWORD count = 99;
    EXPECT_EQ(WDU_TransferBulk(refused, 1, FALSE, 0, buffer, 1, &count, 100), WD_DEVICE_NOT_FOUND);
    EXPECT_EQ(count, 0u);

    bus.Detach(1);
    bus.Detach(2);
    ASSERT_TRUE(rec.WaitDetaches(1));
    EXPECT_FALSE(rec.WaitDetaches(2, 100));
    EXPECT_EQ(rec.detaches[0], taken);
    EXPECT_EQ(WDU_TransferBulk(taken, 1, FALSE, 0, buffer, 1, &count, 100), WD_DEVICE_NOT_FOUND);
    EXPECT_EQ(WDU_HaltTransfer(taken, 0x82), WD_DEVICE_NOT_FOUND);
}

TEST_F(WdUtilsTest, WithoutAcknowledgeEveryAttachedDeviceIsTaken) {
    rec.answers = {false};
    WDU_DEVICE_HANDLE h = Attached();
    bus.Detach(1);
    ASSERT_TRUE(rec.WaitDetaches(1));
    EXPECT_EQ(rec.detaches[0], h);
}

TEST_F(WdUtilsTest, UninitFreesDevicesWithoutDetachAndFailsAReadInProgress) {
    WDU_DEVICE_HANDLE h = Attached();
    auto read = std::async(std::launch::async, [h] {
        uint8_t buffer[64];
        DWORD count = 0;
        return WDU_TransferBulk(h, 0x82, TRUE, 0, buffer, sizeof buffer, &count, 0);
    });
    ASSERT_TRUE(bus.Next(Bus::kInRequest, nullptr));
    driver.reset();  // WDU_Uninit
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(read.get(), WD_DEVICE_NOT_FOUND);
    EXPECT_EQ(rec.Detaches(), 0u);
    uint8_t b = 0;
    DWORD count = 0;
    EXPECT_EQ(WDU_TransferBulk(h, 1, FALSE, 0, &b, 1, &count, 100), WD_DEVICE_NOT_FOUND);
    // The host left the bus.
    bus.Detach(1);
    EXPECT_FALSE(rec.WaitDetaches(1, 50));
}

TEST_F(WdUtilsTest, ALostBusConnectionDetachesAndTheDeviceReturnsWithANewHandle) {
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(bus.WaitHosts(1));
    bus.Attach(5, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    bus.Detach(5);
    ASSERT_TRUE(rec.WaitDetaches(1));
    bus.Attach(6, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(2));
    EXPECT_NE(rec.Handle(0), rec.Handle(1));
}

TEST_F(WdUtilsTest, InitChecksItsArguments) {
    WDU_MATCH_TABLE match = {0x1D50, 13, 0, 0, 0, 0, 0};
    WDU_EVENT_TABLE events = {&Recorder::OnAttach, &Recorder::OnDetach, nullptr, &rec};
    WDU_DRIVER_HANDLE h = nullptr;
    EXPECT_EQ(WDU_Init(nullptr, &match, 1, &events, "", 0), WD_INVALID_PARAMETER);
    EXPECT_EQ(WDU_Init(&h, &match, 0, &events, "", 0), WD_INVALID_PARAMETER);
    EXPECT_EQ(WDU_Init(&h, &match, 1, nullptr, "", 0), WD_INVALID_PARAMETER);
    WDU_Uninit(reinterpret_cast<WDU_DRIVER_HANDLE>(0x1234));  // unknown: nothing happens
}

// ---------------------------------------------------------------------------
// Bulk transfers

TEST_F(WdUtilsTest, BulkInCollectsPacketsUntilAShortPacket) {
    WDU_DEVICE_HANDLE h = Attached();
    Bytes data(138);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    bus.SendIn(1, Bytes(data.begin(), data.begin() + 64), false);
    bus.SendIn(1, Bytes(data.begin() + 64, data.begin() + 128), false);
    bus.SendIn(1, Bytes(data.begin() + 128, data.end()), true);
    bus.SendIn(1, {0xAA, 0xBB}, true);  // the next transfer
    EXPECT_EQ(ReadBulk(h, 517), std::make_pair(DWORD(WD_STATUS_SUCCESS), data));
    EXPECT_EQ(ReadBulk(h, 517), std::make_pair(DWORD(WD_STATUS_SUCCESS), Bytes{0xAA, 0xBB}));
}

TEST_F(WdUtilsTest, BulkInAsksTheBusForTheRoomLeftAndEndsWhenTheBufferIsFull) {
    WDU_DEVICE_HANDLE h = Attached();
    auto read = std::async(std::launch::async, [h] { return ReadBulk(h, 100); });
    Bus::Message request;
    ASSERT_TRUE(bus.Next(Bus::kInRequest, &request));
    EXPECT_EQ(request.endpoint, 0x82);
    EXPECT_EQ(Bus::U32(request.payload, 0), 100u);
    bus.SendIn(1, Bytes(64, 1), false);
    bus.SendIn(1, Bytes(64, 2), false);
    auto result = read.get();
    EXPECT_EQ(result.first, WD_STATUS_SUCCESS);
    ASSERT_EQ(result.second.size(), 100u);
    EXPECT_EQ(result.second[63], 1);
    EXPECT_EQ(result.second[64], 2);
    // The rest of the second packet is the start of the next read.
    bus.SendIn(1, {3}, true);
    result = ReadBulk(h, 64);
    ASSERT_EQ(result.first, WD_STATUS_SUCCESS);
    ASSERT_EQ(result.second.size(), 29u);
    EXPECT_EQ(result.second[27], 2);
    EXPECT_EQ(result.second[28], 3);
}

TEST_F(WdUtilsTest, AZeroLengthPacketEndsATransferOfWholePackets) {
    WDU_DEVICE_HANDLE h = Attached();
    bus.SendTransfer(1, Bytes(128, 9));  // 64 + 64 + zero-length packet
    EXPECT_EQ(ReadBulk(h, 517), std::make_pair(DWORD(WD_STATUS_SUCCESS), Bytes(128, 9)));
}

TEST_F(WdUtilsTest, ATimedOutReadReportsWhatArrivedAndCancelsItsRequest) {
    vos::OsSetClockRate(5);  // the packet has 400 ms of real time to arrive
    WDU_DEVICE_HANDLE h = Attached();
    bus.SendIn(1, Bytes(64, 0x5A), false);  // a full packet, and then nothing
    uint8_t buffer[517];
    DWORD count = 0;
    auto start = RealClock::now();
    EXPECT_EQ(WDU_TransferBulk(h, 0x82, TRUE, 0, buffer, sizeof buffer, &count, 2000), WD_TIME_OUT_EXPIRED);
    EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(1500));  // 2000 ms on the fast clock
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(buffer[63], 0x5A);
    Bus::Message halt;
    ASSERT_TRUE(bus.Next(Bus::kHalt, &halt));
    EXPECT_EQ(halt.endpoint, 0x82);

    // Nothing at all: a time-out with no byte.
    EXPECT_EQ(WDU_TransferBulk(h, 0x82, TRUE, 0, buffer, sizeof buffer, &count, 1000), WD_TIME_OUT_EXPIRED);
    EXPECT_EQ(count, 0u);
}

TEST_F(WdUtilsTest, HaltCancelsTheTransferInProgress) {
    WDU_DEVICE_HANDLE h = Attached();
    auto read = std::async(std::launch::async, [h] {
        uint8_t buffer[517];
        DWORD count = 0;
        DWORD status = WDU_TransferBulk(h, 0x82, TRUE, 0, buffer, sizeof buffer, &count, 0);  // no limit
        return std::make_pair(status, count);
    });
    ASSERT_TRUE(bus.Next(Bus::kInRequest, nullptr));  // the read is waiting
    uint8_t other[8];
    DWORD n = 0;
    EXPECT_EQ(WDU_TransferBulk(h, 0x82, TRUE, 0, other, sizeof other, &n, 100), WD_READ_WRITE_CONFLICT);
    EXPECT_EQ(WDU_HaltTransfer(h, 0x82), WD_STATUS_SUCCESS);
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto result = read.get();
    EXPECT_EQ(result.first, WD_IRP_CANCELED);
    Bus::Message halt;
    ASSERT_TRUE(bus.Next(Bus::kHalt, &halt));
    EXPECT_EQ(halt.endpoint, 0x82);

    // Halting a write that the device does not take.
    bus.SetAnswerOut(false);
    auto write = std::async(std::launch::async, [h] {
        uint8_t frame[7] = {0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03};
        DWORD count = 0;
        return WDU_TransferBulk(h, 1, FALSE, 0, frame, sizeof frame, &count, 0);
    });
    ASSERT_TRUE(bus.Next(Bus::kOutData, nullptr));
    EXPECT_EQ(WDU_HaltTransfer(h, 1), WD_STATUS_SUCCESS);
    ASSERT_EQ(write.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(write.get(), WD_IRP_CANCELED);
}

TEST_F(WdUtilsTest, BulkOutCarriesTheBytesAndTimesOutWhenTheDeviceDoesNotTakeThem) {
    WDU_DEVICE_HANDLE h = Attached();
    uint8_t frame[7] = {0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03};
    DWORD count = 0;
    ASSERT_EQ(WDU_TransferBulk(h, 1, FALSE, 0, frame, sizeof frame, &count, 2000), WD_STATUS_SUCCESS);
    EXPECT_EQ(count, 7u);
    Bus::Message out;
    ASSERT_TRUE(bus.Next(Bus::kOutData, &out));
    EXPECT_EQ(out.endpoint, 0x01);
    EXPECT_EQ(Bytes(out.payload.begin() + 4, out.payload.end()), Bytes(frame, frame + 7));

    bus.SetAnswerOut(false);
    vos::OsSetClockRate(50);
    EXPECT_EQ(WDU_TransferBulk(h, 1, FALSE, 0, frame, sizeof frame, &count, 2000), WD_TIME_OUT_EXPIRED);
    EXPECT_EQ(count, 0u);
}

TEST_F(WdUtilsTest, TransfersCheckPipeDirectionAndHandle) {
    WDU_DEVICE_HANDLE h = Attached();
    uint8_t b[4];
    DWORD count = 0;
    EXPECT_EQ(WDU_TransferBulk(h, 2, FALSE, 0, b, 1, &count, 10), WD_INVALID_PIPE_NUMBER);
    EXPECT_EQ(WDU_TransferBulk(h, 0, TRUE, 0, b, 1, &count, 10), WD_INVALID_PIPE_NUMBER);
    EXPECT_EQ(WDU_TransferBulk(h, 0x82, FALSE, 0, b, 1, &count, 10), WD_INVALID_PARAMETER);
    EXPECT_EQ(WDU_TransferBulk(h, 1, TRUE, 0, b, 1, &count, 10), WD_INVALID_PARAMETER);
    EXPECT_EQ(WDU_TransferBulk(h, 1, FALSE, 0, nullptr, 1, &count, 10), WD_INVALID_PARAMETER);
    EXPECT_EQ(WDU_HaltTransfer(h, 3), WD_INVALID_PIPE_NUMBER);
    EXPECT_EQ(WDU_TransferBulk(reinterpret_cast<WDU_DEVICE_HANDLE>(0x77), 1, FALSE, 0, b, 1, &count, 10),
              WD_DEVICE_NOT_FOUND);
}

// ---------------------------------------------------------------------------
// Choosing the bus by the environment

TEST(WdUtilsEnvironment, BusAddressForms) {
    uint16_t port = 0;
    EXPECT_TRUE(wdu::ParseBusAddress("5000", &port));
    EXPECT_EQ(port, 5000);
    EXPECT_TRUE(wdu::ParseBusAddress("127.0.0.1:65535", &port));
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(wdu::ParseBusAddress("localhost:1", &port));
    EXPECT_EQ(port, 1);
    for (const char* bad : {"", "0", "65536", "12a", "10.0.0.1:5000", ":5000", "127.0.0.1:", "-1"})
        EXPECT_FALSE(wdu::ParseBusAddress(bad, &port)) << bad;
}

TEST(WdUtilsEnvironment, VantroUsbBusSelectsTheSimulatedBus) {
    Bus bus;
    bus.SetPresent(3, 0x1D50, 13);
    std::string port = std::to_string(bus.Port());
    SetEnv("VANTRO_USB_BUS", port.c_str());
    {
        Recorder rec;
        Driver driver(rec, 0x1D50, 13);
        ASSERT_EQ(driver.status, WD_STATUS_SUCCESS);
        EXPECT_TRUE(rec.WaitAttaches(1));
    }
    SetEnv("VANTRO_USB_BUS", "not-a-port");
    {
        Recorder rec;
        Driver driver(rec, 0x1D50, 13);
        EXPECT_EQ(driver.status, WD_INVALID_PARAMETER);
        EXPECT_EQ(driver.handle, nullptr);
    }
    SetEnv("VANTRO_USB_BUS", nullptr);
}

TEST(WdUtilsEnvironment, ABusStartedAfterInitIsFound) {
    vos::OsSetClockRate(50);
    // Take a free port, then let it go: nothing listens there yet.
    uint16_t port = 0;
    vos::OsSocket probe = vos::SocketListen(0, &port);
    ASSERT_NE(probe, vos::kInvalidSocket);
    vos::SocketClose(probe);
    wdu::SetBackendFactoryForTests([port] { return wdu::CreateSimBusBackend(port); });
    Recorder rec;
    Driver driver(rec, 0x1D50, 13);
    ASSERT_EQ(driver.status, WD_STATUS_SUCCESS);
    vos::OsSocket listener = vos::SocketListen(port, nullptr);
    ASSERT_NE(listener, vos::kInvalidSocket);
    vos::OsSocket host = vos::SocketAccept(listener, 5000);
    EXPECT_NE(host, vos::kInvalidSocket);
    vos::SocketClose(host);
    vos::SocketClose(listener);
    wdu::SetBackendFactoryForTests(nullptr);
    vos::OsSetClockRate(1);
}

// ---------------------------------------------------------------------------
// The bus server with a simulated device

class UsbBusServerTest : public ::testing::Test {
protected:
    UsbBusServerTest() : device(sim::SimConfig{}), server(device, 0x1D50, 13) {}
    void SetUp() override {
        device.Start();
        ASSERT_TRUE(server.Start());
        uint16_t port = server.Port();
        wdu::SetBackendFactoryForTests([port] { return wdu::CreateSimBusBackend(port); });
    }
    void TearDown() override {
        wdu::SetBackendFactoryForTests(nullptr);
        server.Stop();
        device.Stop();
    }

    static DWORD Write(WDU_DEVICE_HANDLE h, const Bytes& bytes) {
        DWORD count = 0;
        DWORD status = WDU_TransferBulk(h, 1, FALSE, 0, const_cast<uint8_t*>(bytes.data()),
                                        static_cast<DWORD>(bytes.size()), &count, 2000);
        return status == WD_STATUS_SUCCESS && count != bytes.size() ? WD_OPERATION_FAILED : status;
    }
    static Bytes Read(WDU_DEVICE_HANDLE h, DWORD size, DWORD* status, DWORD timeout = 2000) {
        auto result = ReadBulk(h, size, timeout);
        *status = result.first;
        return result.second;
    }

    sim::SimDevice device;
    sim::UsbBusServer server;
};

const Bytes kPoll = {0x02, 0x7F, 0x00, 0x00, 0x7F, 0x03};

TEST_F(UsbBusServerTest, TheDeviceAnswersAPollThroughTheBus) {
    Recorder rec;
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    EXPECT_EQ(rec.attaches[0].pipes, (std::vector<DWORD>{0x01, 0x82}));
    WDU_DEVICE_HANDLE h = rec.Handle(0);
    ASSERT_EQ(Write(h, kPoll), WD_STATUS_SUCCESS);
    DWORD status = 0;
    Bytes answer = Read(h, 517, &status);
    ASSERT_EQ(status, WD_STATUS_SUCCESS);
    ASSERT_EQ(answer.size(), 8u);  // 02 7F 02 00 06 state checksum 03
    EXPECT_EQ(answer[0], 0x02);
    EXPECT_EQ(answer[1], 0x7F);
    EXPECT_EQ(answer[4], 0x06);
    EXPECT_EQ(answer[7], 0x03);
}

TEST_F(UsbBusServerTest, ALongFrameComesInPacketsOfSixtyFourAndEndsWithTheFrame) {
    Recorder rec;
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    WDU_DEVICE_HANDLE h = rec.Handle(0);
    // GetVersion (code 0) with an empty name: 00 00000000.
    ASSERT_EQ(Write(h, {0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x03}), WD_STATUS_SUCCESS);
    DWORD status = 0;
    Bytes reply = Read(h, 517, &status);
    ASSERT_EQ(status, WD_STATUS_SUCCESS);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[1], 0x03);  // the Reply

    // The response frame, read a packet at a time.
    Bytes frame;
    for (int i = 0; i < 20; ++i) {
        Bytes part = Read(h, 64, &status, 10000);
        ASSERT_EQ(status, WD_STATUS_SUCCESS);
        frame.insert(frame.end(), part.begin(), part.end());
        if (part.size() < 64) break;
    }
    ASSERT_GE(frame.size(), 6u);
    size_t total = frame[2] + 256u * frame[3] + 6;
    EXPECT_GT(total, 64u);
    EXPECT_EQ(frame.size(), total);
    EXPECT_EQ(frame.back(), 0x03);
}

TEST_F(UsbBusServerTest, UnplugDetachesAndPlugAttachesAgain) {
    Recorder rec;
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    WDU_DEVICE_HANDLE first = rec.Handle(0);
    server.Unplug();
    ASSERT_TRUE(rec.WaitDetaches(1));
    EXPECT_EQ(rec.detaches[0], first);
    EXPECT_EQ(Write(first, kPoll), WD_DEVICE_NOT_FOUND);
    server.Plug();
    ASSERT_TRUE(rec.WaitAttaches(2));
    WDU_DEVICE_HANDLE second = rec.Handle(1);
    EXPECT_NE(first, second);
    ASSERT_EQ(Write(second, kPoll), WD_STATUS_SUCCESS);
    DWORD status = 0;
    EXPECT_EQ(Read(second, 517, &status).size(), 8u);
}

TEST_F(UsbBusServerTest, TheDetachFaultUnplugsAndPlugsTheDevice) {
    vos::OsSetClockRate(50);
    device.SetClockRate(50);
    Recorder rec;
    Driver driver(rec, 0x1D50, 13);
    ASSERT_TRUE(rec.WaitAttaches(1));
    ASSERT_TRUE(device.Faults().Add("detach=1000"));
    // The request frame of the next command fires it (the write may end
    // with the device gone).
    Write(rec.Handle(0), {0x02, 0x00, 0x01, 0x00, 0x03, 0x04, 0x03});
    ASSERT_TRUE(rec.WaitDetaches(1));
    ASSERT_TRUE(rec.WaitAttaches(2));
    device.SetClockRate(1);
    vos::OsSetClockRate(1);
}

TEST_F(UsbBusServerTest, SeveralHostsAllSeeTheDeviceAndOnlyTheReaderGetsTheData) {
    Recorder a, b;
    Driver hostA(a, 0x1D50, 13);
    Driver hostB(b, 0x1D50, 13);
    ASSERT_TRUE(a.WaitAttaches(1));
    ASSERT_TRUE(b.WaitAttaches(1));
    ASSERT_EQ(Write(b.Handle(0), kPoll), WD_STATUS_SUCCESS);
    DWORD status = 0;
    EXPECT_EQ(Read(b.Handle(0), 517, &status).size(), 8u);
    EXPECT_EQ(Read(a.Handle(0), 517, &status, 100).size(), 0u);
    EXPECT_EQ(status, WD_TIME_OUT_EXPIRED);

    // Host A reads while host B talks to the device: A asked first, A gets it.
    auto readA = std::async(std::launch::async, [&] {
        DWORD s = 0;
        return Read(a.Handle(0), 517, &s, 5000);
    });
    ASSERT_EQ(Write(b.Handle(0), kPoll), WD_STATUS_SUCCESS);
    EXPECT_EQ(readA.get().size(), 8u);

    server.Unplug();
    EXPECT_TRUE(a.WaitDetaches(1));
    EXPECT_TRUE(b.WaitDetaches(1));
}

// ---------------------------------------------------------------------------
// Os helpers and texts

TEST(WdUtilsOs, EventsAreAutoResetAndWaitInSeconds) {
    vos::OsSetClockRate(50);
    HANDLE e = nullptr;
    ASSERT_EQ(OsEventCreate(&e), WD_STATUS_SUCCESS);
    auto start = RealClock::now();
    EXPECT_EQ(OsEventWait(e, 1), WD_TIME_OUT_EXPIRED);
    EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(800));  // 1 s on the fast clock
    EXPECT_EQ(OsEventSignal(e), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsEventWait(e, 1), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsEventWait(e, 1), WD_TIME_OUT_EXPIRED);  // the wait reset it
    EXPECT_EQ(OsEventSignal(e), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsEventReset(e), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsEventWait(e, 1), WD_TIME_OUT_EXPIRED);
    // A signal from another thread ends an unlimited wait.
    std::thread signaller([e] { OsEventSignal(e); });
    EXPECT_EQ(OsEventWait(e, INFINITE), WD_STATUS_SUCCESS);
    signaller.join();
    OsEventClose(e);
    EXPECT_EQ(OsEventWait(nullptr, 1), WD_INVALID_HANDLE);
    vos::OsSetClockRate(1);
}

TEST(WdUtilsOs, MutexesAreRecursiveAndExclusive) {
    HANDLE m = nullptr;
    ASSERT_EQ(OsMutexCreate(&m), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsMutexLock(m), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsMutexLock(m), WD_STATUS_SUCCESS);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        OsMutexLock(m);
        entered = true;
        OsMutexUnlock(m);
    });
    EXPECT_EQ(OsMutexUnlock(m), WD_STATUS_SUCCESS);
    EXPECT_FALSE(entered.load());  // still held once
    EXPECT_EQ(OsMutexUnlock(m), WD_STATUS_SUCCESS);
    other.join();
    EXPECT_TRUE(entered.load());
    OsMutexClose(m);
}

TEST(WdUtilsOs, CreationFailuresCanBeInjected) {
    wdu::SetOsCreateFailureForTests([](const char* fn) {
        return std::string(fn) == "OsMutexCreate" ? WD_INSUFFICIENT_RESOURCES : 0u;
    });
    HANDLE e = nullptr, m = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(OsEventCreate(&e), WD_STATUS_SUCCESS);
    EXPECT_EQ(OsMutexCreate(&m), WD_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(m, nullptr);
    wdu::SetOsCreateFailureForTests(nullptr);
    OsEventClose(e);
}

TEST(WdUtilsOs, StatusTexts) {
    EXPECT_STREQ(Stat2Str(WD_STATUS_SUCCESS), "Success");
    EXPECT_STREQ(Stat2Str(WD_TIME_OUT_EXPIRED), "Time-out expired");
    EXPECT_STREQ(Stat2Str(WD_DEVICE_NOT_FOUND), "Device not found");
    EXPECT_STREQ(Stat2Str(WD_IRP_CANCELED), "Transfer canceled");
    EXPECT_STREQ(Stat2Str(WD_INVALID_PARAMETER), "Invalid parameter");
    EXPECT_STREQ(Stat2Str(0x12345678), "Unrecognized error code");
    for (DWORD s : {WD_INVALID_HANDLE, WD_INVALID_PIPE_NUMBER, WD_READ_WRITE_CONFLICT, WD_INSUFFICIENT_RESOURCES,
                    WD_SYSTEM_INTERNAL_ERROR, WD_TRY_AGAIN, WD_OPERATION_FAILED, WD_USBD_STATUS_STALL_PID,
                    WD_USBD_STATUS_CANCELED})
        EXPECT_STRNE(Stat2Str(s), "Unrecognized error code") << std::hex << s;
}

}  // namespace
