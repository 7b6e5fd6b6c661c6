// The contention worker: T threads of one process make KovCommandExecute
// exchanges through the library in time slots shared by every worker
// process. Even slots are "alone" slots, in which only thread 0 of process 0
// works; odd slots are "crowd" slots, in which every thread of every process
// works. Each request carries (process, thread, sequence) and the device
// echoes it; an answer that is not the request's own counts as a mismatch.
//
// Arguments: link (pty|usb), process index, threads, start (steady clock, ns
// since its epoch), slot length (ms), slots. Output: "ok ERRORS MISMATCHES"
// and the exchanges completed in each slot.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "Bench/Support/ChildMode.h"
#include "Bench/Support/Rig.h"
#include "Tessra/CmdCore.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_monitor.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMagic = 0xC0DE5EEDu;

// (magic, process, thread, sequence) on the wire, both ways.
class EchoRecord : public CCmdBase {
public:
    EchoRecord() : CCmdBase(0) {}
    void Write(CCmdWriter& writer) override { writer.Write(words, sizeof words); }
    void Read(CCmdReader& reader) override { reader.Read(words, sizeof words); }
    uint32_t words[4] = {};
};

struct Tally {
    explicit Tally(int slots) : perSlot(new std::atomic<uint64_t>[static_cast<size_t>(slots)]) {
        for (int i = 0; i < slots; ++i) perSlot[i] = 0;
    }
    std::unique_ptr<std::atomic<uint64_t>[]> perSlot;
    std::atomic<uint64_t> errors{0};
    std::atomic<uint64_t> mismatches{0};
};

struct Schedule {
    Clock::time_point start;
    std::chrono::milliseconds slot;
    int slots;
    Clock::time_point SlotStart(int i) const { return start + slot * i; }
};

void Worker(int process, int index, const Schedule& plan, Tally* tally) {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    uint32_t seq = 0;
    for (int s = 0; s < plan.slots; ++s) {
        const bool crowd = s % 2 == 1;
        if (!crowd && !(process == 0 && index == 0)) continue;
        std::this_thread::sleep_until(plan.SlotStart(s));
        const Clock::time_point end = plan.SlotStart(s + 1);
        while (Clock::now() < end) {
            EchoRecord request, response;
            request.words[0] = kMagic;
            request.words[1] = pid;
            request.words[2] = static_cast<uint32_t>(index);
            request.words[3] = ++seq;
            const uint32_t r = KovCommandExecute(&request, &response);
            if (r != 0) {
                ++tally->errors;
            } else if (std::memcmp(request.words, response.words, sizeof request.words) != 0) {
                ++tally->mismatches;
            }
            if (Clock::now() <= end) ++tally->perSlot[s];  // completed within its slot
        }
    }
}

}  // namespace

int ContentionChild(int argc, char** argv) {
    if (argc < 6) return 2;
    const Link link = std::strcmp(argv[0], "usb") == 0 ? Link::Usb : Link::Pty;
    const int process = std::atoi(argv[1]);
    const int threads = std::atoi(argv[2]);
    Schedule plan;
    plan.start = Clock::time_point{std::chrono::nanoseconds(std::strtoll(argv[3], nullptr, 10))};
    plan.slot = std::chrono::milliseconds(std::atoi(argv[4]));
    plan.slots = std::atoi(argv[5]);
    RouteLibrary(link);
    // The link opens before the start.
    EchoRecord request, response;
    if (KovCommandExecute(&request, &response) != 0) {
        std::printf("failed first exchange\n");
        return 1;
    }
    Tally tally(plan.slots);
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) pool.emplace_back(Worker, process, i, std::cref(plan), &tally);
    for (std::thread& t : pool) t.join();
    KovDisconnect();
    std::printf("ok %llu %llu", static_cast<unsigned long long>(tally.errors.load()),
                static_cast<unsigned long long>(tally.mismatches.load()));
    for (int i = 0; i < plan.slots; ++i) std::printf(" %llu", static_cast<unsigned long long>(tally.perSlot[i].load()));
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace bench
