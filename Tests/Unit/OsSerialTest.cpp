// Serial ports. POSIX: a pty stands for the device, reached as "COM7" through
// a ports directory of the test. Windows: a port given by $VTEST_ECHO_PORT
// whose far end echoes every byte (under wine, a pty behind dosdevices).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsSerial.h"
#include "Pc/Os/OsThread.h"
#include "Tests/Support/OsTestSupport.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using vtest::ClockRate;
using vtest::WaitUntil;

using RealClock = std::chrono::steady_clock;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

vos::OsCommTimeouts Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant, uint32_t writeConstant = 0) {
    vos::OsCommTimeouts t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    t.WriteTotalTimeoutConstant = writeConstant;
    return t;
}

std::string Read(vos::OsHandle port, uint32_t size, bool* ok = nullptr) {
    std::string buffer(size, '\0');
    uint32_t got = 0;
    bool result = vos::SerialRead(port, &buffer[0], size, &got);
    if (ok) *ok = result;
    buffer.resize(got);
    return buffer;
}

// Sets the link's settings (38400 baud, 8N1, no handshake on input, DTR on,
// RTS handshake) and reads the port's settings back.
vos::OsDcb SetLinkSettings(vos::OsHandle port) {
    vos::OsDcb dcb;
    EXPECT_TRUE(vos::SerialGetState(port, &dcb));
    dcb.BaudRate = 38400;
    dcb.ByteSize = 8;
    dcb.Parity = 0;
    dcb.StopBits = 0;
    dcb.fOutxCtsFlow = false;
    dcb.fOutxDsrFlow = false;
    dcb.fDtrControl = 1;
    dcb.fRtsControl = 2;
    EXPECT_TRUE(vos::SerialSetState(port, &dcb));
    vos::OsDcb back;
    EXPECT_TRUE(vos::SerialGetState(port, &back));
    return back;
}

uint32_t Queued(vos::OsHandle port) {
    uint32_t errors = 0, queued = 0;
    return vos::SerialClearError(port, &errors, &queued) ? queued : kMaxDword;
}

// Runs a blocking call on another thread and tells when it has returned.
struct Background {
    template <class F>
    explicit Background(F f) : thread([this, f] {
        result = f();
        done = true;
    }) {}
    ~Background() {
        if (thread.joinable()) thread.join();
    }
    std::atomic<bool> done{false};
    std::atomic<bool> result{false};
    std::thread thread;
};

TEST(OsSerial, BadNamesAndHandlesFail) {
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen(nullptr)));
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("")));
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("COM250")));
    vos::OsDcb dcb;
    EXPECT_FALSE(vos::SerialGetState(vos::InvalidHandle(), &dcb));
    EXPECT_FALSE(vos::SerialClearError(vos::InvalidHandle(), nullptr, nullptr));
    uint32_t n = 3;
    char c;
    EXPECT_FALSE(vos::SerialRead(vos::InvalidHandle(), &c, 1, &n));
    EXPECT_EQ(0u, n);
}

#if !defined(_WIN32)

class OsSerialPty : public ::testing::Test {
protected:
    void SetUp() override {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(0, grantpt(m_master));
        ASSERT_EQ(0, unlockpt(m_master));
        char name[128];
        ASSERT_EQ(0, ptsname_r(m_master, name, sizeof name));
        m_slavePath = name;
        m_slave = open(name, O_RDWR | O_NOCTTY);  // keeps the pty connected
        ASSERT_GE(m_slave, 0);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

        m_dir = fs::temp_directory_path() /
                ("vantro-serial-" + std::to_string(RealClock::now().time_since_epoch().count()));
        fs::create_directories(m_dir);
        fs::create_symlink(m_slavePath, m_dir / "COM7");
        std::ofstream(m_dir / "plain") << "not a device";
        fs::create_symlink(m_dir / "plain", m_dir / "COM9");
        const char* saved = std::getenv("VANTRO_PORTS_DIR");
        m_hadDir = saved != nullptr;
        if (saved) m_savedDir = saved;
        setenv("VANTRO_PORTS_DIR", m_dir.c_str(), 1);

        m_port = vos::SerialOpen("COM7");
        ASSERT_TRUE(vos::IsValidHandle(m_port));
    }
    void TearDown() override {
        vos::OsSetClockRate(1);
        if (vos::IsValidHandle(m_port)) vos::SerialClose(m_port);
        if (m_master >= 0) close(m_master);
        if (m_slave >= 0) close(m_slave);
        if (m_hadDir) setenv("VANTRO_PORTS_DIR", m_savedDir.c_str(), 1);
        else unsetenv("VANTRO_PORTS_DIR");
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void DeviceSends(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(m_master, bytes.data(), bytes.size()));
    }
    std::string DeviceReceives(size_t size, int realMs = 5000) {
        std::string got;
        auto end = RealClock::now() + std::chrono::milliseconds(realMs);
        while (got.size() < size && RealClock::now() < end) {
            struct pollfd pfd = {m_master, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0) continue;
            char buffer[256];
            ssize_t n = read(m_master, buffer, std::min(sizeof buffer, size - got.size()));
            if (n > 0) got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    bool WaitQueued(uint32_t count) {
        return WaitUntil([&] { return Queued(m_port) == count; });
    }
    void SetTimeouts(const vos::OsCommTimeouts& t) { ASSERT_TRUE(vos::SerialSetTimeouts(m_port, &t)); }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    fs::path m_dir;
    bool m_hadDir = false;
    std::string m_savedDir;
    vos::OsHandle m_port = vos::InvalidHandle();
};

TEST_F(OsSerialPty, OpensOnlyCharacterDevicesOfThePortsDirectoryOnce) {
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("COM7")));  // busy: open already
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("COM8")));  // not listed
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("COM9")));  // a regular file
    EXPECT_FALSE(vos::IsValidHandle(vos::SerialOpen("../COM7")));
    vos::SerialClose(m_port);
    m_port = vos::SerialOpen("COM7");
    EXPECT_TRUE(vos::IsValidHandle(m_port));
}

TEST_F(OsSerialPty, AppliesTheLinkSettingsAndKeepsTheRest) {
    vos::OsDcb back = SetLinkSettings(m_port);
    EXPECT_EQ(38400u, back.BaudRate);
    EXPECT_EQ(8, back.ByteSize);
    EXPECT_EQ(0, back.Parity);
    EXPECT_EQ(0, back.StopBits);
    EXPECT_FALSE(back.fOutxCtsFlow);
    EXPECT_EQ(1, back.fDtrControl);
    EXPECT_EQ(2, back.fRtsControl);

    struct termios tio;
    ASSERT_EQ(0, tcgetattr(m_slave, &tio));
    EXPECT_EQ(static_cast<speed_t>(B38400), cfgetospeed(&tio));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), tio.c_cflag & CSIZE);
    EXPECT_EQ(0u, tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG));  // raw: no echo back to the device

    back.BaudRate = 12345;  // not a speed of the port
    EXPECT_FALSE(vos::SerialSetState(m_port, &back));
    back.BaudRate = 9600;
    back.ByteSize = 9;
    EXPECT_FALSE(vos::SerialSetState(m_port, &back));
}

TEST_F(OsSerialPty, ReadEndsWhenTheIntervalPassesAfterData) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(100, 0, 1000));
    DeviceSends("abc");
    ASSERT_TRUE(WaitQueued(3));
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ("abc", Read(m_port, 10));
    uint32_t ticks = vos::OsGetTickCount() - t0;
    EXPECT_GE(ticks, 99u);
    EXPECT_LT(ticks, 1000u);  // the interval, not the total, ended it
}

TEST_F(OsSerialPty, ReadEndsAtTheTotalTimeOutWithoutData) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(100, 0, 1000));
    uint32_t t0 = vos::OsGetTickCount();
    auto start = RealClock::now();
    bool ok = false;
    EXPECT_EQ("", Read(m_port, 4, &ok));
    EXPECT_TRUE(ok);  // a time-out is not an error
    EXPECT_GE(vos::OsGetTickCount() - t0, 999u);
    EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(1000));
}

TEST_F(OsSerialPty, IntervalStartsWithTheFirstByte) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(100, 0, 0));
    uint32_t t0 = vos::OsGetTickCount();
    std::thread device([&] {
        vos::OsSleep(400);  // longer than the interval: the read must wait on
        DeviceSends("xy");
    });
    EXPECT_EQ("xy", Read(m_port, 10));
    EXPECT_GE(vos::OsGetTickCount() - t0, 399u);
    device.join();
}

TEST_F(OsSerialPty, TotalTimeOutCountsTheMultiplierPerByte) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(0, 10, 0));
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ("", Read(m_port, 40));
    uint32_t ticks = vos::OsGetTickCount() - t0;
    EXPECT_GE(ticks, 399u);
    EXPECT_LT(ticks, 20000u);
}

TEST_F(OsSerialPty, MaxdwordIntervalReturnsAtOnceWithWhatIsQueued) {
    SetTimeouts(Timeouts(kMaxDword, 0, 0));
    auto start = RealClock::now();
    EXPECT_EQ("", Read(m_port, 10));
    DeviceSends("12345");
    ASSERT_TRUE(WaitQueued(5));
    EXPECT_EQ("123", Read(m_port, 3));
    EXPECT_EQ("45", Read(m_port, 10));
    EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(OsSerialPty, MaxdwordBothWaitsForTheFirstByteOnly) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(kMaxDword, kMaxDword, 500));
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ("", Read(m_port, 10));
    EXPECT_GE(vos::OsGetTickCount() - t0, 499u);
    DeviceSends("q");
    EXPECT_EQ("q", Read(m_port, 10));
}

TEST_F(OsSerialPty, PurgeDropsQueuedInput) {
    DeviceSends("12345");
    ASSERT_TRUE(WaitQueued(5));
    EXPECT_TRUE(vos::SerialPurge(m_port, vos::kPurgeTxAbort | vos::kPurgeRxAbort | vos::kPurgeTxClear |
                                             vos::kPurgeRxClear));
    EXPECT_EQ(0u, Queued(m_port));
    SetTimeouts(Timeouts(kMaxDword, 0, 0));
    EXPECT_EQ("", Read(m_port, 10));
}

TEST_F(OsSerialPty, WritesReachTheDevice) {
    uint32_t written = 0;
    ASSERT_TRUE(vos::SerialWrite(m_port, "\x02\x01\x00\x00\x03", 5, &written));
    EXPECT_EQ(5u, written);
    EXPECT_EQ(std::string("\x02\x01\x00\x00\x03", 5), DeviceReceives(5));
}

TEST_F(OsSerialPty, WriteEndsAtItsTimeOutWhenTheDeviceDoesNotRead) {
    ClockRate rate(50);
    SetTimeouts(Timeouts(0, 0, 0, 1000));
    std::string big(4 << 20, 'x');
    uint32_t written = 0;
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_TRUE(vos::SerialWrite(m_port, big.data(), static_cast<uint32_t>(big.size()), &written));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(vos::OsGetTickCount() - t0, 999u);
}

TEST_F(OsSerialPty, WaitInputWakesForDataStopOrTimeOut) {
    ClockRate rate(50);
    vos::OsHandle stop = vos::EventCreate(false, false);
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_FALSE(vos::SerialWaitInput(m_port, stop, 1000));
    EXPECT_GE(vos::OsGetTickCount() - t0, 999u);

    {
        Background wait([&] { return vos::SerialWaitInput(m_port, stop, vos::kOsInfinite); });
        auto start = RealClock::now();
        vos::EventSet(stop);
        ASSERT_TRUE(WaitUntil([&] { return wait.done.load(); }));
        EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(100));
        EXPECT_FALSE(wait.result.load());
    }
    // The stop event was only looked at: it is still there for its owner.
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(stop, 0));

    {
        Background wait([&] { return vos::SerialWaitInput(m_port, stop, vos::kOsInfinite); });
        DeviceSends("z");
        ASSERT_TRUE(WaitUntil([&] { return wait.done.load(); }));
        EXPECT_TRUE(wait.result.load());
    }
    EXPECT_TRUE(vos::SerialWaitInput(m_port, nullptr, 0));  // bytes still queued
    vos::EventClose(stop);
}

struct BlockedRead {
    vos::OsHandle port;
    vos::OsHandle entered = vos::EventCreate(true, false);
    ~BlockedRead() { vos::EventClose(entered); }
};

uint32_t ReadForever(void* arg) {
    BlockedRead* b = static_cast<BlockedRead*>(arg);
    vos::EventSet(b->entered);
    char buffer[8];
    uint32_t got = 0;
    vos::SerialRead(b->port, buffer, sizeof buffer, &got);  // no time-outs set
    return 1;
}

uint32_t WaitInputForever(void* arg) {
    BlockedRead* b = static_cast<BlockedRead*>(arg);
    vos::EventSet(b->entered);
    vos::SerialWaitInput(b->port, nullptr, vos::kOsInfinite);
    return 1;
}

TEST_F(OsSerialPty, TerminateStopsThreadsBlockedOnThePort) {
    SKIP_CANCELLATION_UNDER_SANITIZERS();
    for (vos::OsThreadProc proc : {ReadForever, WaitInputForever}) {
        BlockedRead b;
        b.port = m_port;
        vos::OsHandle t = vos::ThreadCreate(proc, &b);
        ASSERT_EQ(vos::kWaitObject0, vos::EventWait(b.entered, 10000));
        auto start = RealClock::now();
        EXPECT_TRUE(vos::ThreadTerminate(t, 0xFFFFFFFFu));
        EXPECT_EQ(vos::kWaitObject0, vos::ThreadWait(t, 10000));
        EXPECT_LT(RealClock::now() - start, std::chrono::milliseconds(900));
        uint32_t code = 0;
        vos::ThreadGetExitCode(t, &code);
        EXPECT_EQ(0xFFFFFFFFu, code);
        vos::ThreadClose(t);
    }
}

TEST_F(OsSerialPty, HangUpFailsReadsAndDoesNotSpinWaits) {
    ClockRate rate(50);
    close(m_master);
    m_master = -1;
    SetTimeouts(Timeouts(100, 0, 1000));
    bool ok = true;
    EXPECT_EQ("", Read(m_port, 4, &ok));
    EXPECT_FALSE(ok);
    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_FALSE(vos::SerialWaitInput(m_port, nullptr, 500));
    EXPECT_GE(vos::OsGetTickCount() - t0, 499u);
}

#else  // _WIN32

// Needs a port whose far end echoes what it receives; the wine run sets it up
// with a pty behind $WINEPREFIX/dosdevices.
TEST(OsSerialWin32, EchoPortKeepsWin32Semantics) {
    const char* name = std::getenv("VTEST_ECHO_PORT");
    if (!name || !*name) GTEST_SKIP() << "VTEST_ECHO_PORT not set";
    ClockRate rate(10);
    vos::OsHandle port = vos::SerialOpen(name);
    ASSERT_TRUE(vos::IsValidHandle(port)) << name;

    const vos::OsDcb back = SetLinkSettings(port);
    EXPECT_EQ(38400u, back.BaudRate);
    EXPECT_EQ(8, back.ByteSize);

    vos::OsCommTimeouts t = Timeouts(100, 0, 1000, 1000);
    ASSERT_TRUE(vos::SerialSetTimeouts(port, &t));
    EXPECT_TRUE(vos::SerialPurge(port, 0x0F));

    uint32_t written = 0;
    ASSERT_TRUE(vos::SerialWrite(port, "ping", 4, &written));
    EXPECT_EQ(4u, written);
    EXPECT_TRUE(vos::SerialWaitInput(port, nullptr, 5000));
    ASSERT_TRUE(WaitUntil([&] { return Queued(port) == 4; }));
    EXPECT_EQ("ping", Read(port, 10));

    uint32_t t0 = vos::OsGetTickCount();
    EXPECT_EQ("", Read(port, 4));  // nothing comes: the total time-out ends it
    EXPECT_GE(vos::OsGetTickCount() - t0, 900u);

    vos::OsHandle stop = vos::EventCreate(false, true);
    EXPECT_FALSE(vos::SerialWaitInput(port, stop, vos::kOsInfinite));
    EXPECT_EQ(vos::kWaitObject0, vos::EventWait(stop, 0));  // still set for its owner
    vos::EventClose(stop);
    vos::SerialClose(port);
}

#endif

}  // namespace
