// J2534 throughput: CAN frames per second through PassThruWriteMsgs and
// PassThruReadMsgs in batches of 1, 10 and 100 messages on the simulated
// vehicle with LOOPBACK on (every frame written comes back as a message to
// read), and the latency of one ISO15765 request and answer (OBD-II 01 0C
// to the engine ECU, a single-frame answer). No target: the figures are
// reported, each with the floor of its exchanges beside it: one batch costs
// two exchanges (write, read), one request three or more (write, reads), and
// the floor client's exchange median is measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "Bench/Support/Report.h"
#include "Bench/Support/Rig.h"
#include "Bench/Support/Stats.h"
#include "Tests/Support/PassThruMsg.h"
#include "vantro/j2534.h"

namespace bench {
namespace {

using vtest::Msg;

// The floor client's median exchange time (GetMode), in microseconds.
bool FloorExchange(Rig& rig, double* median, std::string* error) {
    floorc::Commands* floor = rig.UseFloor(error);
    if (!floor) return false;
    std::vector<double> samples;
    uint32_t mode = 0;
    for (int i = 0; i < 101; ++i) {
        const Clock::time_point t0 = Clock::now();
        if (!floor->GetMode(&mode)) return false;
        if (i) samples.push_back(Micros(Clock::now() - t0));
    }
    *median = Median(samples);
    return true;
}

struct Session {
    uint32_t device = 0, channel = 0;
    bool Open(uint32_t protocol) {
        if (PassThruOpen(nullptr, &device) != 0) return false;
        return PassThruConnect(device, protocol, 0, 500000, &channel) == 0;
    }
    ~Session() {
        if (channel) PassThruDisconnect(channel);
        if (device) PassThruClose(device);
    }
};

void CanThroughput(benchmark::State& state, Link link, uint32_t batch) {
    const std::string name = std::string("j2534/can_batch") + std::to_string(batch) + "/" + LinkName(link);
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    double floorUs = 0;
    if (!FloorExchange(rig, &floorUs, &error)) return RecordFailure(state, name, "floor: " + error);
    double rate = 0, batchUs = 0;
    {
        Session s;
        if (!s.Open(CAN)) return RecordFailure(state, name, "PassThruOpen/Connect failed");
        SCONFIG loop = {LOOPBACK, 1};
        SCONFIG_LIST list = {1, &loop};
        PASSTHRU_MSG mask = Msg(CAN, {0xFF, 0xFF, 0xFF, 0xFF});
        PASSTHRU_MSG pattern = Msg(CAN, {0, 0, 0x01, 0x23});
        uint32_t filter = 0;
        if (PassThruIoctl(s.channel, SET_CONFIG, &list, nullptr) != 0 ||
            PassThruStartMsgFilter(s.channel, PASS_FILTER, &mask, &pattern, nullptr, &filter) != 0)
            return RecordFailure(state, name, "channel set-up failed");
        std::vector<PASSTHRU_MSG> out(batch), in(batch);
        for (uint32_t i = 0; i < batch; ++i)
            out[i] = Msg(CAN, {0, 0, 0x01, 0x23, uint8_t(i), 1, 2, 3, 4, 5, 6, 7});
        const uint32_t total = Full() ? 5000 : 1000;
        const uint32_t batches = std::max<uint32_t>(total / batch, 10);
        uint64_t frames = 0;
        std::vector<double> perBatch;
        for (auto _ : state) {
            const Clock::time_point start = Clock::now();
            for (uint32_t b = 0; b < batches; ++b) {
                const Clock::time_point t0 = Clock::now();
                uint32_t n = batch;
                if (PassThruWriteMsgs(s.channel, out.data(), &n, 0) != 0 || n != batch)
                    return RecordFailure(state, name, "PassThruWriteMsgs failed");
                uint32_t got = 0;
                for (int tries = 0; got < batch; ++tries) {
                    n = batch - got;
                    const uint32_t r = PassThruReadMsgs(s.channel, in.data() + got, &n, 1000);
                    if ((r != 0 && r != ERR_TIMEOUT) || tries > 20)
                        return RecordFailure(state, name, "the frames did not come back");
                    got += n;
                }
                perBatch.push_back(Micros(Clock::now() - t0));
                frames += batch;
            }
            const double seconds = Seconds(Clock::now() - start);
            state.SetIterationTime(seconds);
            rate = frames / seconds;
        }
        batchUs = Median(perBatch);
    }
    rig.Stop();
    state.counters["frames_per_s"] = rate;
    state.counters["batch_median_us"] = batchUs;
    state.counters["floor_exchange_us"] = floorUs;
    char figure[200];
    std::snprintf(figure, sizeof figure, "%.0f frames/s; a batch %.0f us = %.2f x two floor exchanges (%.0f us each)",
                  rate, batchUs, batchUs / (2 * floorUs), floorUs);
    Record(state, Verdict{name, figure, batchUs / (2 * floorUs), 0, Goal::Report});
}

bool IsRpmAnswer(const PASSTHRU_MSG& m) {
    return m.DataSize >= 6 && m.Data[2] == 0x07 && m.Data[3] == 0xE8 && m.Data[4] == 0x41 && m.Data[5] == 0x0C;
}

void IsoLatency(benchmark::State& state, Link link) {
    const std::string name = std::string("j2534/iso15765_request/") + LinkName(link);
    Rig rig;
    std::string error;
    if (!rig.Start(link, false, &error)) return RecordFailure(state, name, error);
    double floorUs = 0;
    if (!FloorExchange(rig, &floorUs, &error)) return RecordFailure(state, name, "floor: " + error);
    std::vector<double> samples;
    uint64_t reads = 0;
    const int count = Full() ? 300 : 60;
    {
        Session s;
        if (!s.Open(ISO15765)) return RecordFailure(state, name, "PassThruOpen/Connect failed");
        PASSTHRU_MSG mask = Msg(ISO15765, {0xFF, 0xFF, 0xFF, 0xFF});
        PASSTHRU_MSG pattern = Msg(ISO15765, {0, 0, 0x07, 0xE8});
        PASSTHRU_MSG flow = Msg(ISO15765, {0, 0, 0x07, 0xE0}, ISO15765_FRAME_PAD);
        uint32_t filter = 0;
        if (PassThruStartMsgFilter(s.channel, FLOW_CONTROL_FILTER, &mask, &pattern, &flow, &filter) != 0)
            return RecordFailure(state, name, "flow control filter failed");
        PASSTHRU_MSG request = Msg(ISO15765, {0, 0, 0x07, 0xE0, 0x01, 0x0C}, ISO15765_FRAME_PAD);
        for (auto _ : state) {
            for (int i = 0; i <= count; ++i) {
                const Clock::time_point t0 = Clock::now();
                uint32_t n = 1;
                if (PassThruWriteMsgs(s.channel, &request, &n, 500) != 0)
                    return RecordFailure(state, name, "PassThruWriteMsgs failed");
                PASSTHRU_MSG answer;
                bool got = false;
                for (int tries = 0; !got && tries < 20; ++tries) {
                    n = 1;
                    const uint32_t r = PassThruReadMsgs(s.channel, &answer, &n, 1000);
                    ++reads;
                    if (r == 0 && n == 1 && IsRpmAnswer(answer)) got = true;
                    else if (r != 0 && r != ERR_TIMEOUT) break;
                }
                if (!got) return RecordFailure(state, name, "no answer from the engine ECU");
                if (i) samples.push_back(Micros(Clock::now() - t0));  // the first one warms up
            }
            state.SetIterationTime(Median(samples) * 1e-6);
        }
    }
    rig.Stop();
    const double median = Median(samples);
    state.counters["median_us"] = median;
    state.counters["p90_us"] = Quantile(samples, 0.9);
    state.counters["floor_exchange_us"] = floorUs;
    char figure[200];
    std::snprintf(figure, sizeof figure, "median %.0f us (p90 %.0f), %.1f reads a request; floor exchange %.0f us",
                  median, Quantile(samples, 0.9), static_cast<double>(reads) / (count + 1), floorUs);
    Record(state, Verdict{name, figure, median / floorUs, 0, Goal::Report});
}

#define CAN_BATCH(label, name, link, n) \
    BENCHMARK_CAPTURE(CanThroughput, label, link, n)->Name(name)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)

CAN_BATCH(batch1_pty, "j2534/can_batch1/pty", Link::Pty, 1);
CAN_BATCH(batch10_pty, "j2534/can_batch10/pty", Link::Pty, 10);
CAN_BATCH(batch100_pty, "j2534/can_batch100/pty", Link::Pty, 100);
CAN_BATCH(batch1_usb, "j2534/can_batch1/usb", Link::Usb, 1);
CAN_BATCH(batch10_usb, "j2534/can_batch10/usb", Link::Usb, 10);
CAN_BATCH(batch100_usb, "j2534/can_batch100/usb", Link::Usb, 100);
BENCHMARK_CAPTURE(IsoLatency, pty, Link::Pty)->Name("j2534/iso15765_request/pty")->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(IsoLatency, usb, Link::Usb)->Name("j2534/iso15765_request/usb")->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
