// Many clients on one device: 8 processes with 4 threads each make mixed calls
// against one simulated device on the simulated USB bus, which this test
// serves. In the middle of the run one process is killed while it is inside an
// exchange, holding the communication mutex. Checked, from the reports the
// children write:
//   - the others go on: every call of theirs succeeds, except exactly one,
//     whose wait found the mutex abandoned: 0x900d002b, reported once;
//   - no answer reaches the wrong caller: each echo carries its process,
//     thread and sequence number back, and each thread's registry value holds
//     what that thread last wrote;
//   - no call hangs: every child ends in time, and no call took long.
//
// The children open the communication mutex under a name of this run (a test
// hook), so that no other test process meets the abandoned mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsNamedMutex.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tessra/CmdCore.h"
#include "Tessra/CmdIo.h"
#include "Tests/Support/ChildProcess.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Support/Wait.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_monitor.h"
#include "vantro/vantro_registry.h"
#include "vantro/vantro_status.h"

namespace {

using vtest::WaitUntil;

using RealClock = std::chrono::steady_clock;

constexpr int kProcesses = 8;
constexpr int kThreads = 4;
constexpr uint32_t kRunMs = 5000;
// The victim's KovGetVoltage (command 3, used by no one else) keeps the
// device working this long, so that the victim holds the mutex until killed.
constexpr uint32_t kVictimWorkMs = 3000;
constexpr uint32_t kDeviceMode = 1;

// ---- the child ---------------------------------------------------------------------------

// A caller record that names its caller; the device echoes it back.
class Tagged : public CCmdBase {
public:
    Tagged() : CCmdBase(0) { Clear(); }
    void Clear() override {
        Process = Thread = Sequence = 0;
        std::memset(Noise, 0, sizeof Noise);
    }
    template <class S>
    void Fields(S& s) {
        Xfer(s, Process);
        Xfer(s, Thread);
        Xfer(s, Sequence);
        Xfer(s, Noise);
    }
    TESSRA_FIELD_IO
    uint32_t Process, Thread, Sequence;
    uint8_t Noise[40];
};

// Real time that all processes of the machine share (a monotonic clock), in
// microseconds.
int64_t SharedNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(RealClock::now().time_since_epoch()).count();
}

struct FailedCall {
    uint32_t code;
    int64_t atUs;
};

struct ThreadTally {
    uint32_t calls = 0;
    uint32_t abandoned = 0;  // calls that returned 0x900d002b
    uint32_t wrong = 0;      // an answer that was not this call's
    uint32_t maxMs = 0;
    std::vector<FailedCall> failures;  // every other failure
};

void Failure(ThreadTally& t, uint32_t code) {
    if (code == QXR_ERROR_MUTEX_WAIT) {
        ++t.abandoned;
        return;
    }
    t.failures.push_back(FailedCall{code, SharedNowUs()});
}

void RunClientThread(uint32_t process, uint32_t thread, uint32_t runMs, bool victim, ThreadTally* tally) {
    ThreadTally& t = *tally;
    std::u16string keyName = u"Software\\ManyClients\\P" + std::u16string(1, u'A' + process) + u"T" +
                             std::u16string(1, u'A' + thread);
    uint32_t key = 0;
    const auto start = RealClock::now();
    const auto end = start + std::chrono::milliseconds(runMs);
    uint32_t seq = 0;
    bool victimCalled = false;
    while (RealClock::now() < end) {
        ++seq;
        const auto callStart = RealClock::now();
        if (victim && thread == 0 && !victimCalled && callStart - start > std::chrono::milliseconds(500)) {
            // The exchange this process is killed in.
            victimCalled = true;
            uint16_t mv = 0;
            KovGetVoltage(0, &mv);
            continue;
        }
        switch (seq % 3) {
            case 0: {  // an echo of a record naming this call
                Tagged request, response;
                request.Process = process;
                request.Thread = thread;
                request.Sequence = seq;
                for (size_t i = 0; i < sizeof request.Noise; ++i)
                    request.Noise[i] = static_cast<uint8_t>(seq * 31 + i * 7 + process * 13 + thread);
                const uint32_t r = KovCommandExecute(&request, &response);
                if (r != 0) {
                    Failure(t, r);
                } else if (response.Process != process || response.Thread != thread || response.Sequence != seq ||
                           std::memcmp(response.Noise, request.Noise, sizeof request.Noise) != 0) {
                    ++t.wrong;
                }
                break;
            }
            case 1: {  // this thread's registry value, written and read back
                if (!key) {
                    uint32_t disposition = 0;
                    const uint32_t r = KovRegCreateKeyEx(VANTRO_HKEY_LOCAL_MACHINE,
                                                         reinterpret_cast<const VWCHAR*>(keyName.c_str()), 0,
                                                         reinterpret_cast<const VWCHAR*>(u""), 0, 0, nullptr,
                                                         &key, &disposition);
                    if (r != 0) {
                        Failure(t, r);
                        key = 0;
                        break;
                    }
                }
                const uint32_t value[3] = {process, thread, seq};
                uint32_t r = KovRegSetValueEx(key, reinterpret_cast<const VWCHAR*>(u"Last"), 0, VANTRO_REG_BINARY,
                                              reinterpret_cast<const uint8_t*>(value), sizeof value);
                if (r != 0) {
                    Failure(t, r);
                    break;
                }
                uint32_t back[3] = {}, type = 0, size = sizeof back;
                r = KovRegQueryValueEx(key, reinterpret_cast<const VWCHAR*>(u"Last"), nullptr, &type,
                                       reinterpret_cast<uint8_t*>(back), &size);
                if (r != 0) {
                    Failure(t, r);
                } else if (size != sizeof value || std::memcmp(back, value, sizeof value) != 0) {
                    ++t.wrong;
                }
                break;
            }
            default: {  // a plain status read
                const uint32_t mode = KovGetMode();
                if (mode != kDeviceMode) {
                    if ((mode & 0xFFFF0000u) == 0x900d0000u || (mode & 0xFFFF0000u) == 0xa00d0000u) Failure(t, mode);
                    else ++t.wrong;
                }
                break;
            }
        }
        ++t.calls;
        const uint32_t ms = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - callStart).count());
        if (ms > t.maxMs) t.maxMs = ms;
    }
}

// args: result file, process number, run time (ms), mutex name, victim (1/0).
VTEST_CHILD_ROLE(manyClients) {
    if (args.size() < 5) return 2;
    const std::string resultFile = args[0];
    const uint32_t process = static_cast<uint32_t>(std::stoul(args[1]));
    const uint32_t runMs = static_cast<uint32_t>(std::stoul(args[2]));
    SetCommMutexNameForTests(args[3].c_str());
    const bool victim = args[4] == "1";

    vtest::ReportCapture reports;
    std::vector<ThreadTally> tallies(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(RunClientThread, process, static_cast<uint32_t>(i), runMs, victim, &tallies[i]);
    for (std::thread& th : threads) th.join();
    KovDisconnect();

    // One line of totals, then one line per failed call.
    ThreadTally sum;
    for (const ThreadTally& t : tallies) {
        sum.calls += t.calls;
        sum.abandoned += t.abandoned;
        sum.wrong += t.wrong;
        if (t.maxMs > sum.maxMs) sum.maxMs = t.maxMs;
        sum.failures.insert(sum.failures.end(), t.failures.begin(), t.failures.end());
    }
    std::ofstream out(resultFile);
    out << sum.calls << ' ' << sum.abandoned << ' ' << reports.Count(QXR_ERROR_MUTEX_WAIT) << ' ' << sum.wrong
        << ' ' << sum.maxMs << ' ' << sum.failures.size() << '\n';
    for (const FailedCall& f : sum.failures) out << f.code << ' ' << f.atUs << '\n';
    return out ? 0 : 3;
}

// ---- the soak client ----------------------------------------------------------------------
//
// scripts/soak.sh runs this role against vantro-sim processes for a long time:
//   vantro_integration_tests --vtest-child soakClient SECONDS REPORT [SEED]
// It makes mixed calls at random, some of them on the command codes that the
// soak's fault file spoils every time (the role knows what each of those calls
// must return), and stops at the first result it did not expect or at a call
// that hangs. Once a second it appends "SECONDS CALLS FAULTED RSS_KB" to
// REPORT; its exit code is 0 when every result was right, 1 for a wrong
// result (printed on stderr), 2 for a hang.
// $VANTRO_SOAK_MUTEX names the communication mutex of the soak's processes.

// A record whose fields are a length and that many bytes: the device's echo
// gives the same record back.
class Blob : public CCmdBase {
public:
    Blob() : CCmdBase(0) {}
    void Clear() override { bytes.clear(); }
    void Write(CCmdWriter& writer) override {
        uint32_t n = static_cast<uint32_t>(bytes.size());
        Xfer(writer, n);
        if (n) writer.Write(bytes.data(), static_cast<int32_t>(n));
    }
    void Read(CCmdReader& reader) override {
        uint32_t n = 0;
        Xfer(reader, n);
        if (reader.GetLastError() || n > reader.Remaining()) {
            if (!reader.GetLastError()) reader.SetLastError(QXR_ERROR_SHORT_RESPONSE);
            return;
        }
        bytes.assign(n, 0);
        if (n) reader.Read(bytes.data(), static_cast<int32_t>(n));
    }
    std::vector<uint8_t> bytes;
};

using RecordCall = uint32_t(VANTRO_STDCALL*)(CCmdCore*, CCmdCore*);

// A caller-record command, the size of its record, and what it must return:
// the soak's fault file spoils each of these codes in its own way.
struct SoakCall {
    const char* name;
    RecordCall call;
    uint32_t size;
    uint32_t expected;  // 0: success with the record echoed
    uint32_t weight;    // in a thousand calls
    // Another result that is just as right (0: none). A device whose Reply
    // was lost goes on to send its response, which the PC, still waiting for
    // the Reply, takes as an unexpected frame (0x900d0007); when that frame
    // arrives between the Reply time-out (0x900d0017) and the caller reading
    // the exchange's error, the caller gets 0x900d0007. Both mean "no answer".
    uint32_t alsoRight = 0;
};

// A frame fault with times=0 hits every sending of its frame, the device's
// resends too: such a frame never arrives right, the device gives up and the
// PC's wait ends with 0x900d0018. Faults the library recovers from hit a
// frame once per exchange (a Reply, a Poll answer, a repeated Middle).
const SoakCall kSoakCalls[] = {
    {"echo", KovCommandExecute, 0, 0, 500},                                   // no fault; any size
    {"transport gone", KovPcMonStart, 16, 0x900d0017, 4},                     // close / detach
    {"nak", KovPcMonGetData, 16, 0x4321, 20},                                 // nak=0x4321
    {"repeated middle", KovPcMonStop, 1500, 0, 40},                           // repeat@frame=2
    {"bad poll answer", KovDmciCreateIsoDiagInterface, 100, 0, 20},           // late + checksum@on=poll,frame=1
    {"frame never right", KovDmciCreateCanDiagInterface, 100, 0x900d0018, 2},  // checksum@frame=1,times=0
    {"late", KovDmciDeleteDiagInterface, 100, 0, 10},                         // late=1500
    {"refusal", KovDmciCreateDmInterface, 16, 0x00E0E0E7, 20},                // refuse=0xE0E0E7
    {"poll state", KovDmciDeleteDmInterface, 16, 0x900d0018, 2},              // pollstate=1
    {"dropped reply", KovDmciDataMonitorSetupPack, 16, 0x900d0017, 3, 0x900d0007},  // dropreply@frame=1
    {"noise", KovDmciDataMonitorSetupPair, 100, 0, 40},                       // noise@on=reply,frame=1
    {"long poll answer", KovDmciDataMonitorSetupDtc, 100, 0, 20},             // late + length@on=poll,frame=1
};

long SelfRssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return 0;
}

VTEST_CHILD_ROLE(soakClient) {
    if (args.size() < 2) return 3;
    const uint32_t seconds = static_cast<uint32_t>(std::stoul(args[0]));
    const std::string report = args[1];
    uint32_t seed = args.size() > 2 ? static_cast<uint32_t>(std::stoul(args[2])) : 1;
    if (const char* name = std::getenv("VANTRO_SOAK_MUTEX")) SetCommMutexNameForTests(name);

    // A call that does not end within this long is a hang.
    constexpr uint32_t kHangMs = 60000;
    std::atomic<int64_t> callStartedUs{0};
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const int64_t started = callStartedUs;
            if (started && SharedNowUs() - started > int64_t(kHangMs) * 1000) {
                std::fprintf(stderr, "soak: a call has not ended after %u ms\n", kHangMs);
                std::fflush(stderr);
                std::_Exit(2);
            }
        }
    });

    uint32_t totalWeight = 0;
    for (const SoakCall& c : kSoakCalls) totalWeight += c.weight;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const auto start = RealClock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextReport = start;
    uint64_t calls = 0, faulted = 0;
    int exitCode = 0;
    uint32_t key = 0;
    while (RealClock::now() < end && exitCode == 0) {
        if (RealClock::now() >= nextReport) {
            std::ofstream out(report, std::ios::app);
            out << std::chrono::duration_cast<std::chrono::seconds>(RealClock::now() - start).count() << ' ' << calls
                << ' ' << faulted << ' ' << SelfRssKb() << '\n';
            nextReport += std::chrono::seconds(1);
        }
        const uint32_t pick = next() % (totalWeight + 150);
        callStartedUs = SharedNowUs();
        ++calls;
        if (pick >= totalWeight) {
            // The device's own services: the registry and the status.
            if (pick % 2 == 0) {
                if (!key) {
                    uint32_t disposition = 0;
                    const uint32_t r =
                        KovRegCreateKeyEx(VANTRO_HKEY_CURRENT_USER, reinterpret_cast<const VWCHAR*>(u"Software\\Soak"),
                                          0, reinterpret_cast<const VWCHAR*>(u""), 0, 0, nullptr, &key, &disposition);
                    if (r != 0) {
                        std::fprintf(stderr, "soak: KovRegCreateKeyEx returned 0x%08X\n", r);
                        exitCode = 1;
                    }
                    continue;
                }
                const uint32_t value[2] = {static_cast<uint32_t>(calls), seed};
                uint32_t back[2] = {}, type = 0, size = sizeof back;
                uint32_t r = KovRegSetValueEx(key, reinterpret_cast<const VWCHAR*>(u"V"), 0, VANTRO_REG_BINARY,
                                              reinterpret_cast<const uint8_t*>(value), sizeof value);
                if (r == 0)
                    r = KovRegQueryValueEx(key, reinterpret_cast<const VWCHAR*>(u"V"), nullptr, &type,
                                           reinterpret_cast<uint8_t*>(back), &size);
                if (r != 0 || std::memcmp(back, value, sizeof value) != 0) {
                    std::fprintf(stderr, "soak: registry value written and read back: 0x%08X\n", r);
                    exitCode = 1;
                }
            } else {
                uint16_t mv = 0;
                const uint32_t r = KovGetVoltage(0, &mv);
                if (r != 0 || mv == 0) {
                    std::fprintf(stderr, "soak: KovGetVoltage returned 0x%08X (%u mV)\n", r, mv);
                    exitCode = 1;
                }
            }
            continue;
        }
        const SoakCall* c = kSoakCalls;
        for (uint32_t w = pick; w >= c->weight; ++c) w -= c->weight;
        Blob request, response;
        const uint32_t size = c->size ? c->size : next() % 9000;
        request.bytes.resize(size);
        for (uint32_t i = 0; i < size; ++i) request.bytes[i] = static_cast<uint8_t>(next());
        const uint32_t r = c->call(&request, &response);
        if (c->expected != 0) ++faulted;
        const bool right = r == c->expected || (c->alsoRight != 0 && r == c->alsoRight);
        if (!right || (r == 0 && response.bytes != request.bytes)) {
            std::fprintf(stderr, "soak: %s call returned 0x%08X, expected 0x%08X%s\n", c->name, r, c->expected,
                         r == 0 && c->expected == 0 ? " (another record came back)" : "");
            exitCode = 1;
        }
    }
    callStartedUs = 0;
    {
        std::ofstream out(report, std::ios::app);
        out << std::chrono::duration_cast<std::chrono::seconds>(RealClock::now() - start).count() << ' ' << calls << ' '
            << faulted << ' ' << SelfRssKb() << '\n';
    }
    KovDisconnect();
    done = true;
    watchdog.join();
    return exitCode;
}

// ---- the test ----------------------------------------------------------------------------

struct ChildResult {
    bool present = false;
    uint32_t calls = 0, abandonedCalls = 0, abandonedReports = 0, wrong = 0, maxMs = 0;
    std::vector<FailedCall> failures;
};

ChildResult ReadResult(const std::string& path) {
    ChildResult r;
    std::ifstream in(path);
    size_t failures = 0;
    if (!(in >> r.calls >> r.abandonedCalls >> r.abandonedReports >> r.wrong >> r.maxMs >> failures)) return r;
    for (size_t i = 0; i < failures; ++i) {
        FailedCall f{};
        if (!(in >> f.code >> f.atUs)) return r;
        r.failures.push_back(f);
    }
    r.present = true;
    return r;
}

// The device on the bus, the environment the children inherit, and the
// clean-up, whatever the test's outcome.
class ManyClients : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp = vtest::MakeTempDir("vantro-manyclients-");
        ASSERT_FALSE(m_temp.empty());
        std::filesystem::create_directories(m_temp + "/root");
        std::filesystem::create_directories(m_temp + "/ports");
        Save("VANTRO_USB_BUS", &m_hadBus, &m_oldBus);
        Save("VANTRO_PORTS_DIR", &m_hadPorts, &m_oldPorts);

        sim::SimConfig config;
        config.rootDir = m_temp + "/root";
        device.reset(new sim::SimDevice(config));
        bus.reset(new sim::UsbBusServer(*device, 0x1D50, 13));
        const char* trace = std::getenv("VANTRO_SIM_TRACE");
        if (trace && *trace == '1') device->SetTrace([](const char* line) { std::fprintf(stderr, "%s\n", line); });
        device->Start();
        ASSERT_TRUE(bus->Start());
        // The children find the device on the bus and no COM port.
        vtest::SetEnv("VANTRO_USB_BUS", std::to_string(bus->Port()).c_str());
        vtest::SetEnv("VANTRO_PORTS_DIR", (m_temp + "/ports").c_str());
        mutexName = std::string(kCommMutexName) + "-manyclients-" + std::to_string(SharedNowUs());
    }

    void TearDown() override {
        for (vtest::Child& c : children)
            if (c.valid()) vtest::KillChild(c);
        if (device) device->Stop();
        if (bus) bus->Stop();
        if (!mutexName.empty()) vos::NamedMutexRemove(mutexName.c_str());
        vtest::SetEnv("VANTRO_USB_BUS", m_hadBus ? m_oldBus.c_str() : nullptr);
        vtest::SetEnv("VANTRO_PORTS_DIR", m_hadPorts ? m_oldPorts.c_str() : nullptr);
        if (!m_temp.empty()) vtest::RemoveTree(m_temp);
    }

    std::string ResultFile(int i) const { return m_temp + "/result" + std::to_string(i); }

    std::unique_ptr<sim::SimDevice> device;
    std::unique_ptr<sim::UsbBusServer> bus;
    std::string mutexName;
    std::vector<vtest::Child> children;

private:
    static void Save(const char* name, bool* had, std::string* value) {
        const char* v = std::getenv(name);
        *had = v != nullptr;
        *value = v ? v : "";
    }
    std::string m_temp, m_oldBus, m_oldPorts;
    bool m_hadBus = false, m_hadPorts = false;
};

TEST_F(ManyClients, EightProcessesShareOneDeviceAndSurviveAKilledOne) {
    ASSERT_TRUE(device->Faults().Add("late=" + std::to_string(kVictimWorkMs) + "@code=3"));
    const int victim = 3;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(vtest::SpawnChild(
            "manyClients", {ResultFile(i), std::to_string(i), std::to_string(kRunMs), mutexName, i == victim ? "1" : "0"}));
        ASSERT_TRUE(children.back().valid());
    }

    // The victim is inside its exchange, holding the mutex, once the device
    // works on its command.
    ASSERT_TRUE(WaitUntil([&] { return device->Faults().Fired(sim::FaultKind::Late) >= 1; }, 20000))
        << "the victim's exchange began";
    const int64_t killedAtUs = SharedNowUs();
    vtest::KillChild(children[victim]);

    for (int i = 0; i < kProcesses; ++i) {
        if (i == victim) continue;
        int code = -1;
        EXPECT_TRUE(vtest::WaitChild(children[i], kRunMs + 60000, &code)) << "child " << i << " hangs";
        EXPECT_EQ(code, 0) << "child " << i;
    }

    uint32_t abandonedCalls = 0, abandonedReports = 0, lostReplies = 0;
    for (int i = 0; i < kProcesses; ++i) {
        if (i == victim) continue;
        const ChildResult r = ReadResult(ResultFile(i));
        ASSERT_TRUE(r.present) << "child " << i << " wrote no result";
        EXPECT_GT(r.calls, 0u) << "child " << i << " made progress";
        EXPECT_EQ(r.wrong, 0u) << "child " << i << " got answers meant for another caller";
        // The longest call: the victim's hold of the mutex, a lost Reply's
        // 2 s, and the waits behind the other 27 threads.
        EXPECT_LT(r.maxMs, kVictimWorkMs + 20000u) << "child " << i;
        // A process being killed still has its read of the device open for a
        // moment after the kernel gave its mutex away: the device's Reply to
        // the next exchange can go to that read, and the next exchange then
        // fails with 0x900d0017 (or is retried). Or the victim's late answer
        // reaches the next exchange, which takes it as a frame it did not
        // expect (0x900d0007). Either right after the kill; nothing else may
        // fail.
        for (const FailedCall& f : r.failures) {
            EXPECT_TRUE(f.code == 0x900d0017u || f.code == 0x900d0007u)
                << "child " << i << ": a call failed with 0x" << std::hex << f.code;
            EXPECT_GE(f.atUs, killedAtUs) << "child " << i << ": a call failed before the kill";
            EXPECT_LT(f.atUs, killedAtUs + 10000000) << "child " << i << ": a call failed long after the kill";
            ++lostReplies;
        }
        abandonedCalls += r.abandonedCalls;
        abandonedReports += r.abandonedReports;
        std::printf("[ clients  ] child %d: %u calls, %u abandoned, %zu failed, longest %u ms\n", i, r.calls,
                    r.abandonedCalls, r.failures.size(), r.maxMs);
    }
    EXPECT_EQ(abandonedCalls, 1u) << "exactly one call finds the mutex abandoned";
    EXPECT_EQ(abandonedReports, 1u) << "and it is reported once";
    EXPECT_LE(lostReplies, 1u) << "only the exchange right after the kill may lose its Reply";
}

}  // namespace
