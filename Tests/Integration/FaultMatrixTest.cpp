// The fault matrix: every fault the simulated device can show, in every phase
// of an exchange, over both real links:
//
//   links   serial (CSerialIf on a pty, after the USB candidate failed to
//           answer) and USB (CUsbIf on the simulated USB bus);
//   phases  sending the request frames (a 1213-byte request: First, Middle,
//           Last), waiting while the device works (Polls), receiving the
//           response frames (a 1214-byte response: First, Middle, Last), and
//           the last response frame with the PC's final ACK;
//   faults  corrupt checksum, length and delimiters, a dropped Reply, a
//           dropped response frame, a repeated Middle frame, a NAK, a refusal,
//           a late answer, silence, Poll state 0 and 1, line noise, the USB
//           device unplugged (USB) and the port closed (serial).
//
// Each case runs the device's echo control (command 11, KernelIoControl
// 0xA0000020) through ExecuteCommand and checks: the result is the code the
// library's rules give for that fault (0 where the library recovers, as for
// a NAKed response frame that the device sends again); the call ends within
// the protocol's time-outs (measured on the library clock, with a real-time
// watchdog against hangs); a successful call carries its own request's echo;
// and once the fault is gone the next call succeeds, again with its own echo.
//
// Both the library clock and the devices run kRate times faster than real
// time, so 2 s and 10 s pass in 100 ms and 500 ms.
//
// The echo data never holds a byte below 4 and no response frame has the
// checksum 2: a receiver that looks for the next start byte 0x02 after a
// broken header then finds only real frame starts, which makes each case's
// result follow from the rules alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsSettings.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/FrameCodec.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/PtyTransport.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tessra/CmdCore.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/RawRecords.h"
#include "Tests/Support/Wait.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_link.h"

namespace {

using vtest::WaitUntil;

using Bytes = std::vector<uint8_t>;
using RealClock = std::chrono::steady_clock;

constexpr uint32_t kNoReply = 0x900d0017;     // QXR_ERROR_SEND_TIMEOUT
constexpr uint32_t kNoProgress = 0x900d0018;  // QXR_ERROR_RECV_TIMEOUT
constexpr uint32_t kNakCode = 0x00004321;
constexpr uint32_t kRefusalCode = 0x00001234;

constexpr uint32_t kRate = 20;
// The exchanges around the faulted one run slower: after a pause the first
// frame of a request has about 1 s of the library clock for its Reply (the
// time-outs count from the last exchange's progress), which at kRate would be
// only 50 ms of real time for a simulator slowed down by a sanitizer.
constexpr uint32_t kCalmRate = 4;
constexpr uint32_t kEchoCode = 11;            // KernelIoControl
constexpr uint32_t kIoctlEcho = 0xA0000020;
constexpr size_t kEchoSize = 1200;            // 3 request frames, 3 response frames
constexpr uint16_t kVendor = 0x1D50;
constexpr uint16_t kProduct = 13;
const char kPortName[] = "COM5";

enum class Link { Serial, Usb };
enum class Phase { Sending, Waiting, Receiving, FinalAck };

const char* LinkName(Link link) { return link == Link::Serial ? "Serial" : "Usb"; }
const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Sending: return "Sending";
        case Phase::Waiting: return "Waiting";
        case Phase::Receiving: return "Receiving";
        case Phase::FinalAck: return "FinalAck";
    }
    return "?";
}

struct MatrixCase {
    Link link;
    Phase phase;
    std::string fault;               // short name for the test name
    std::vector<std::string> rules;  // the fault first, then rules that set the scene
    uint32_t expected;
};

void PrintTo(const MatrixCase& c, std::ostream* os) {
    *os << LinkName(c.link) << "/" << PhaseName(c.phase) << "/" << c.rules.front();
}

// One row: a fault in a phase, with its rule and result per link (a null
// rule: the fault does not exist on that link).
struct Row {
    Phase phase;
    const char* fault;
    const char* serialRule;
    uint32_t serialResult;
    const char* usbRule;
    uint32_t usbResult;
    const char* scene;  // an extra rule, or null
};

// A row whose rule and result are the same on both links.
constexpr Row Both(Phase phase, const char* fault, const char* rule, uint32_t result, const char* scene = nullptr) {
    return Row{phase, fault, rule, result, rule, result, scene};
}

// Every rule is limited to the echo command, so that nothing else is hit.
// Request frames are numbered 1 to 3 (Replies: on=reply,frame=K); response
// frames 1 (First), 2 (Middle), 3 (Last); Poll answers from 1.
const Row kRows[] = {
    // ---- sending the request frames: the Reply to the Middle frame ------------------------------
    // A Reply the PC cannot take is no Reply: after 2000 ms the frame
    // controller tries the other candidates, none answers, the link is
    // dropped and the time-out is returned.
    Both(Phase::Sending, "checksum", "checksum@code=11,on=reply,frame=2", kNoReply),
    Both(Phase::Sending, "length", "length@code=11,on=reply,frame=2", kNoReply),
    Both(Phase::Sending, "delimiter_end", "delimiter=end@code=11,on=reply,frame=2", kNoReply),
    Both(Phase::Sending, "delimiter_start", "delimiter=start@code=11,on=reply,frame=2", kNoReply),
    Both(Phase::Sending, "dropreply", "dropreply@code=11,frame=2", kNoReply),
    // (3 s after the 2 s limit has passed for certain: the time-out checks
    // come once a second.)
    Both(Phase::Sending, "late", "late=6000@code=11,on=reply,frame=2", kNoReply),
    Both(Phase::Sending, "silent", "silent@code=11,on=reply,frame=2", kNoReply),
    // The device's NAK ends the send phase with its code.
    Both(Phase::Sending, "nak", "nak=0x4321@code=11,frame=2", kNakCode),
    // Noise before the Reply. Serial: 8 bytes are two whole 4-byte headers
    // that do not begin with 0x02, dropped, and the Reply follows. USB: the
    // 2 noise bytes and the Reply's start give a header of more than 517
    // bytes, so the bytes up to the next 0x02 (the Reply) are dropped.
    {Phase::Sending, "noise", "noise=8@code=11,on=reply,frame=2", 0, "noise=2@code=11,on=reply,frame=2", 0,
     nullptr},
    // The port closes (serial) or the device leaves the bus (USB) when the
    // request's first frame arrives: no Reply.
    {Phase::Sending, "close", "close=500@code=11", kNoReply, nullptr, 0, nullptr},
    {Phase::Sending, "unplug", nullptr, 0, "detach=500@code=11", kNoReply, nullptr},

    // ---- waiting while the device works: Poll answers --------------------------------------------
    // Poll answers that fail the frame check are no progress: with every one
    // spoilt and the device working 12 s, the 10 s limit ends the wait.
    Both(Phase::Waiting, "checksum", "checksum@code=11,on=poll,times=0", kNoProgress, "late=12000@code=11"),
    Both(Phase::Waiting, "delimiter_end", "delimiter=end@code=11,on=poll,times=0", kNoProgress, "late=12000@code=11"),
    // One lengthened Poll answer is lost (serial: its rest never comes; USB:
    // the link resynchronises on the next start byte); the next ones and the
    // response come through. The device works 5 s: several Polls.
    Both(Phase::Waiting, "length", "length@code=11,on=poll,frame=1", 0, "late=5000@code=11"),
    {Phase::Waiting, "noise", "noise=8@code=11,on=poll,frame=1", 0, "noise=2@code=11,on=poll,frame=1", 0,
     "late=5000@code=11"},
    // State 0 or 1 (idle) in a Poll answer ends the wait at the next check.
    Both(Phase::Waiting, "pollstate0", "pollstate=0@code=11", kNoProgress),
    Both(Phase::Waiting, "pollstate1", "pollstate=1@code=11", kNoProgress),
    // No Poll answer at all: 10 s without progress.
    Both(Phase::Waiting, "silent", "silent@code=11", kNoProgress),
    // A device that works 15 s but answers every Poll keeps the PC waiting.
    Both(Phase::Waiting, "late", "late=15000@code=11", 0),

    // ---- receiving the response: the Middle frame ------------------------------------------------
    // A spoilt Middle frame is NAKed (or, when it cannot be cut out of the
    // stream, left unanswered) and the device sends it again.
    Both(Phase::Receiving, "checksum", "checksum@code=11,frame=2", 0),
    Both(Phase::Receiving, "length", "length@code=11,frame=2", 0),
    Both(Phase::Receiving, "delimiter_end", "delimiter=end@code=11,frame=2", 0),
    Both(Phase::Receiving, "delimiter_start", "delimiter=start@code=11,frame=2", 0),
    Both(Phase::Receiving, "dropframe", "dropframe@code=11,frame=2", 0),
    // The repeated Middle is NAKed as out of sequence; the device goes on.
    Both(Phase::Receiving, "repeat", "repeat@code=11,frame=2", 0),
    {Phase::Receiving, "noise", "noise=8@code=11,frame=2", 0, "noise=2@code=11,frame=2", 0, nullptr},
    // The response is a refusal: its code is the result.
    Both(Phase::Receiving, "refuse", "refuse=0x1234@code=11", kRefusalCode),

    // ---- the Last frame and the PC's final ACK ----------------------------------------------------
    // Instead of the final ACK the PC NAKs the Last frame, or waits for it;
    // the device sends it again and the final ACK ends the exchange.
    Both(Phase::FinalAck, "checksum", "checksum@code=11,frame=3", 0),
    Both(Phase::FinalAck, "length", "length@code=11,frame=3", 0),
    Both(Phase::FinalAck, "delimiter_end", "delimiter=end@code=11,frame=3", 0),
    Both(Phase::FinalAck, "delimiter_start", "delimiter=start@code=11,frame=3", 0),
    Both(Phase::FinalAck, "dropframe", "dropframe@code=11,frame=3", 0),
    {Phase::FinalAck, "noise", "noise=8@code=11,frame=3", 0, "noise=2@code=11,frame=3", 0, nullptr},
};

std::vector<MatrixCase> BuildMatrix() {
    std::vector<MatrixCase> cases;
    for (Link link : {Link::Serial, Link::Usb}) {
        for (const Row& row : kRows) {
            const char* rule = link == Link::Serial ? row.serialRule : row.usbRule;
            if (!rule) continue;
            MatrixCase c{link, row.phase, row.fault, {rule}, link == Link::Serial ? row.serialResult : row.usbResult};
            if (row.scene) c.rules.push_back(row.scene);
            cases.push_back(c);
        }
    }
    return cases;
}

// The longest a call may take on the library clock: the protocol's limits
// with room for the link's opening (1 s attach wait) and the 1 s pacing of
// the time-out checks.
uint32_t CallLimitMs(const MatrixCase& c) {
    uint32_t work = 0;
    for (const std::string& r : c.rules)
        if (r.compare(0, 5, "late=") == 0 && r.find("on=reply") == std::string::npos)
            work = static_cast<uint32_t>(std::strtoul(r.c_str() + 5, nullptr, 10));
    if (c.expected == 0) return work + 3 * 2000 + 4000;     // up to three resends of a frame
    if (c.expected == kNoReply) return 2 * (1000 + 3000) + 3000;  // each candidate: open, 2 s + 1 s check
    if (c.expected == kNoProgress) return 10000 + 1000 + 3000;
    return 3000;  // a NAK or a refusal comes at once
}

// ---- the echo -----------------------------------------------------------------------------------

using vtest::RawRequest;
using vtest::RawResponse;

void Put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The device's echo response message for data (code, status, result 1, the
// buffer, the count).
Bytes EchoResponseMessage(const Bytes& data) {
    Bytes m = {static_cast<uint8_t>(kEchoCode), 0x06};
    Put32(m, 1);
    Put32(m, static_cast<uint32_t>(data.size()));
    m.insert(m.end(), data.begin(), data.end());
    Put32(m, static_cast<uint32_t>(data.size()));
    return m;
}

// Echo data of a seed: no byte below 4, and no response frame whose
// checksum is 0x02 (see the top of the file).
Bytes EchoData(uint32_t seed) {
    Bytes data(kEchoSize);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(4 + (seed * 37 + i * 11 + (i >> 7)) % 252);
    for (int round = 0; round < 64; ++round) {
        const std::vector<Bytes> frames = sim::CutMessage(EchoResponseMessage(data));
        bool clean = true;
        size_t offset = 0;  // of the frame's payload in the message
        for (const Bytes& f : frames) {
            const size_t payload = f.size() - 6;
            if (f[f.size() - 2] == 0x02) {
                // Move the checksum: change one data byte of this frame.
                const size_t at = std::min(data.size() - 1, offset + payload / 2 - 10);
                data[at] = static_cast<uint8_t>(data[at] == 0xFF ? 4 : data[at] + 1);
                clean = false;
            }
            offset += payload;
        }
        if (clean) break;
    }
    return data;
}

bool EchoDataIsClean(const Bytes& data) {
    for (uint8_t b : data)
        if (b < 4) return false;
    for (const Bytes& f : sim::CutMessage(EchoResponseMessage(data)))
        if (f[f.size() - 2] == 0x02) return false;
    return true;
}

struct EchoResult {
    uint32_t result = 0;
    Bytes echoed;
    uint32_t libraryMs = 0;
};

// Runs one echo exchange; an exchange that does not end within realLimitMs of
// real time is a hang: the test binary stops with a message rather than wait
// for the suite's time-out. The time counts from the moment the calling
// thread holds the communication mutex: other test processes may keep it
// busy for long.
EchoResult Echo(const Bytes& data, uint32_t realLimitMs) {
    Bytes body;
    Put32(body, kIoctlEcho);
    Put32(body, static_cast<uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    Put32(body, static_cast<uint32_t>(data.size()));

    struct Shared {
        std::mutex lock;
        std::condition_variable cv;
        bool locked = false;
        bool done = false;
        EchoResult out;
    };
    auto shared = std::make_shared<Shared>();
    std::thread caller([shared, body] {
        RawRequest request(body);
        RawResponse response;
        // The exchange's own time: this thread takes the communication mutex
        // (recursive) before it starts the clock, so that waiting for an
        // exchange of another process is not counted. A mutex found abandoned
        // is given back by the library: take it again.
        uint32_t locked = QXR_ERROR_MUTEX_WAIT;
        for (int i = 0; i < 3 && locked == QXR_ERROR_MUTEX_WAIT; ++i) locked = LockCommunication(0xFFFFFFFFu);
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->locked = true;
            shared->cv.notify_all();
        }
        const uint32_t start = vos::OsGetTickCount();
        const uint32_t result = locked ? locked : ExecuteCommand(kEchoCode, &request, &response, 0, 0);
        const uint32_t elapsed = vos::OsGetTickCount() - start;
        if (!locked) UnlockCommunication();
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->out.result = result;
        shared->out.libraryMs = elapsed;
        // result 1, the buffer's length, the bytes, the count.
        if (result == 0 && response.bytes.size() >= 12)
            shared->out.echoed.assign(response.bytes.begin() + 8, response.bytes.end() - 4);
        shared->done = true;
        shared->cv.notify_all();
    });
    std::unique_lock<std::mutex> guard(shared->lock);
    shared->cv.wait(guard, [&] { return shared->locked; });
    if (!shared->cv.wait_for(guard, std::chrono::milliseconds(realLimitMs), [&] { return shared->done; })) {
        std::fprintf(stderr, "FaultMatrix: an exchange did not end within %u ms of real time: hang\n", realLimitMs);
        std::fflush(stderr);
        std::abort();
    }
    guard.unlock();
    caller.join();
    return shared->out;
}

// ---- the devices ----------------------------------------------------------------------------------

// A simulated device with its own root folder.
struct Device {
    explicit Device(const std::string& root) {
        sim::SimConfig config;
        config.rootDir = root;
        sim.reset(new sim::SimDevice(config));
        const char* trace = std::getenv("VANTRO_SIM_TRACE");
        if (trace && *trace == '1') sim->SetTrace([](const char* line) { std::fprintf(stderr, "%s\n", line); });
    }
    std::unique_ptr<sim::SimDevice> sim;
};

// Everything the matrix runs against, built once for the suite:
//   serial column: the echo device behind a pty listed as COM5, and a USB
//     device that never answers (so that the frame controller fails over
//     from USB, its first candidate, to the port);
//   USB column: the echo device on a bus of its own, no COM port.
struct Bench {
    std::string temp, portsDir, emptyPortsDir, oldPorts, oldBus;
    bool hadPorts = false, hadBus = false;
    std::unique_ptr<Device> comDevice, muteDevice, usbDevice;
    std::unique_ptr<sim::PtyTransport> pty;
    std::unique_ptr<sim::UsbBusServer> muteBus, usbBus;
    std::atomic<uint32_t> usbReplugs{0};
    bool ok = false;         // the USB column can run
    bool serialOk = false;   // the serial column can run (a pty exists)
    std::string why, serialWhy;

    Bench() {
        temp = vtest::MakeTempDir("vantro-faultmatrix-");
        if (temp.empty()) {
            why = "no temporary folder";
            return;
        }
        portsDir = temp + "/ports";
        emptyPortsDir = temp + "/noports";
        std::filesystem::create_directories(portsDir);
        std::filesystem::create_directories(emptyPortsDir);
        std::filesystem::create_directories(temp + "/com");
        std::filesystem::create_directories(temp + "/mute");
        std::filesystem::create_directories(temp + "/usb");
        if (const char* v = std::getenv("VANTRO_PORTS_DIR")) hadPorts = true, oldPorts = v;
        if (const char* v = std::getenv("VANTRO_USB_BUS")) hadBus = true, oldBus = v;
        vos::SetSettingsPathOverride(temp + "/none.SETTING");  // default vendor and product

        comDevice.reset(new Device(temp + "/com"));
        pty.reset(new sim::PtyTransport(*comDevice->sim));
        sim::PtyTransport::Options options;
        options.portsDir = portsDir;
        options.portName = kPortName;
        if (pty->Start(options, &serialWhy)) {
            comDevice->sim->Start();
            serialOk = true;
        } else {
            pty.reset();  // no pty here (Windows): the USB column alone
        }

        muteDevice.reset(new Device(temp + "/mute"));
        muteDevice->sim->Faults().Add("silent@on=reply,times=0");
        muteBus.reset(new sim::UsbBusServer(*muteDevice->sim, kVendor, kProduct));
        muteDevice->sim->Start();
        if (!muteBus->Start()) {
            why = "no simulated USB bus";
            return;
        }

        usbDevice.reset(new Device(temp + "/usb"));
        usbBus.reset(new sim::UsbBusServer(*usbDevice->sim, kVendor, kProduct));
        usbDevice->sim->Start();
        if (!usbBus->Start()) {
            why = "no simulated USB bus";
            return;
        }
        // Counts the device's return to the bus after the unplug fault.
        sim::FaultPlan::TransportAction busAction = usbDevice->sim->Faults().GetTransportAction();
        usbDevice->sim->Faults().SetTransportAction([this, busAction](sim::FaultKind kind, bool down) {
            if (busAction) busAction(kind, down);
            if (kind == sim::FaultKind::DetachUsb && !down) ++usbReplugs;
        });
        ok = true;
    }

    ~Bench() {
        ReleaseDeviceLink();
        SetRate(1);
        for (Device* d : {comDevice.get(), muteDevice.get(), usbDevice.get()})
            if (d) d->sim->Stop();
        if (usbBus) usbBus->Stop();
        if (muteBus) muteBus->Stop();
        if (pty) pty->Stop();
        vos::SetSettingsPathOverride("");
        vtest::SetEnv("VANTRO_PORTS_DIR", hadPorts ? oldPorts.c_str() : nullptr);
        vtest::SetEnv("VANTRO_USB_BUS", hadBus ? oldBus.c_str() : nullptr);
        if (!temp.empty()) vtest::RemoveTree(temp);
    }

    void SetRate(uint32_t rate) {
        vos::OsSetClockRate(rate);
        for (Device* d : {comDevice.get(), muteDevice.get(), usbDevice.get()})
            if (d) d->sim->SetClockRate(rate);
    }

    // Points the library at one column's devices; a new column starts with a
    // new frame controller, which lists the candidates again.
    void Use(Link link) {
        ReleaseDeviceLink();
        if (link == Link::Serial) {
            vtest::SetEnv("VANTRO_PORTS_DIR", portsDir.c_str());
            vtest::SetEnv("VANTRO_USB_BUS", std::to_string(muteBus->Port()).c_str());
        } else {
            vtest::SetEnv("VANTRO_PORTS_DIR", emptyPortsDir.c_str());
            vtest::SetEnv("VANTRO_USB_BUS", std::to_string(usbBus->Port()).c_str());
        }
    }

    sim::SimDevice& EchoDevice(Link link) { return link == Link::Serial ? *comDevice->sim : *usbDevice->sim; }
};

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {
protected:
    static void SetUpTestSuite() {
        s_bench = new Bench();
        SetLinkFactory(nullptr);  // the real links
        std::printf("[ matrix   ] fault matrix: %zu cases (links x phases x faults)\n", BuildMatrix().size());
        std::fflush(stdout);
    }
    static void TearDownTestSuite() {
        delete s_bench;
        s_bench = nullptr;
        s_linkInUse = -1;
    }

    void SetUp() override {
        if (!s_bench->ok) GTEST_SKIP() << "no simulated devices here: " << s_bench->why;
        const MatrixCase& c = GetParam();
        if (c.link == Link::Serial && !s_bench->serialOk) GTEST_SKIP() << "no pty here: " << s_bench->serialWhy;
        if (s_linkInUse != static_cast<int>(c.link)) {
            s_bench->Use(c.link);
            s_linkInUse = static_cast<int>(c.link);
        }
        s_bench->EchoDevice(c.link).Faults().Clear();
        s_bench->SetRate(kCalmRate);
    }
    void TearDown() override {
        if (!s_bench->ok || (GetParam().link == Link::Serial && !s_bench->serialOk)) return;
        s_bench->EchoDevice(GetParam().link).Faults().Clear();
        s_bench->SetRate(1);
    }

    static Bench* s_bench;
    static int s_linkInUse;
};

Bench* FaultMatrix::s_bench = nullptr;
int FaultMatrix::s_linkInUse = -1;

// Real milliseconds a call may take before it counts as a hang: its limit
// on the library clock at the rate it runs, and generous room for a loaded
// machine.
uint32_t HangLimitMs(uint32_t libraryMs, uint32_t rate) { return libraryMs / rate + 20000; }

TEST_P(FaultMatrix, CallEndsWithTheRulesCodeInTimeAndTheNextCallWorks) {
    const MatrixCase& c = GetParam();
    sim::SimDevice& device = s_bench->EchoDevice(c.link);
    static uint32_t seed = 1;

    // The link is up and answering before the fault.
    const Bytes before = EchoData(seed++);
    ASSERT_TRUE(EchoDataIsClean(before));
    EchoResult r = Echo(before, HangLimitMs(4 * 4000, kCalmRate));
    ASSERT_EQ(0u, r.result) << "the exchange before the fault";
    ASSERT_EQ(before, r.echoed);
    uint32_t commDevice = 0;
    ASSERT_EQ(0u, KovGetCommDevice(&commDevice));
    ASSERT_EQ(c.link == Link::Serial ? VANTRO_COMM_SERIAL : VANTRO_COMM_USB, commDevice);

    const uint32_t generation = s_bench->pty ? s_bench->pty->Generation() : 0;
    const uint32_t replugs = s_bench->usbReplugs;
    std::string error;
    for (const std::string& rule : c.rules) ASSERT_TRUE(device.Faults().Add(rule, &error)) << error;
    sim::FaultRule fault;
    ASSERT_TRUE(sim::FaultPlan::Parse(c.rules.front(), &fault, &error));

    const Bytes data = EchoData(seed++);
    ASSERT_TRUE(EchoDataIsClean(data));
    const uint32_t limit = CallLimitMs(c);
    s_bench->SetRate(kRate);
    r = Echo(data, HangLimitMs(limit, kRate));
    s_bench->SetRate(kCalmRate);
    EXPECT_EQ(c.expected, r.result) << std::hex << "got 0x" << r.result << ", expected 0x" << c.expected;
    EXPECT_LE(r.libraryMs, limit) << "the call outlasted the protocol's time-outs";
    EXPECT_GE(device.Faults().Fired(fault.kind), 1u) << "the fault fired";
    if (c.expected == 0 && r.result == 0) {
        EXPECT_TRUE(r.echoed == data) << "the caller got another request's echo";
    }

    // The fault is gone: the next call succeeds with its own echo.
    device.Faults().Clear();
    if (fault.kind == sim::FaultKind::Late && fault.on == sim::FaultTarget::Reply) {
        // A late Reply is still part of the fault after the call gave up: it
        // goes out when its time comes and, on USB, waits there until the
        // PC reads again, so the first call after it takes it for its own
        // first Reply (as with a real device this late). One call clears
        // the line; its result is the fault's, not checked here.
        ASSERT_TRUE(WaitUntil([&] { return !device.HoldsOutput(); }, 10000)) << "the late Reply goes out";
        Echo(EchoData(seed++), HangLimitMs(4 * 4000, kCalmRate));
    }
    if (fault.kind == sim::FaultKind::ClosePort) {
        ASSERT_TRUE(WaitUntil([&] { return s_bench->pty->Generation() > generation && s_bench->pty->IsOpen(); }, 10000))
            << "the port comes back";
    }
    if (fault.kind == sim::FaultKind::DetachUsb) {
        ASSERT_TRUE(WaitUntil([&] { return s_bench->usbReplugs > replugs; }, 10000)) << "the device comes back";
    }
    const Bytes after = EchoData(seed++);
    r = Echo(after, HangLimitMs(4 * 4000, kCalmRate));
    EXPECT_EQ(0u, r.result) << std::hex << "the call after the fault: 0x" << r.result;
    EXPECT_TRUE(r.echoed == after) << "the call after the fault got another request's echo";
}

std::string CaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
    return std::string(LinkName(info.param.link)) + "_" + PhaseName(info.param.phase) + "_" + info.param.fault;
}

INSTANTIATE_TEST_SUITE_P(EveryFaultInEveryPhase, FaultMatrix, ::testing::ValuesIn(BuildMatrix()), CaseName);

}  // namespace
