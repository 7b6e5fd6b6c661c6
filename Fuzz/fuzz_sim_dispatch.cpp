// Fuzzes the simulator's request decoding: Dispatch with the services of
// every family, on a device whose file system is a fresh temporary folder for
// each input. The requests of one input run on one device in turn, so that
// a request can use what an earlier one opened or created.
//
// Input: a sequence of requests, each a u16 size (mod 5000) and that many
// bytes (command code and request record).
//
// The file services keep every path below the root (fuzz_sim_paths checks
// that on its own; scripts/fuzz.sh runs it first).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Sim/Core/DeviceState.h"
#include "Sim/Core/Dispatcher.h"
#include "Sim/Vehicle/Vehicle.h"

namespace {

const std::string& TempBase() {
    static const std::string base = [] {
        char dir[] = "/tmp/vantro-fuzz-dispatch-XXXXXX";
        const char* made = mkdtemp(dir);
        return std::string(made ? made : "");
    }();
    return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static sim::ServiceTable table = [] {
        sim::ServiceTable t;
        sim::RegisterAllServices(t);
        return t;
    }();
    if (TempBase().empty()) return 0;
    const std::string root = TempBase() + "/root";
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(root + "/Temp", ec);

    sim::SimConfig config;
    config.rootDir = root;
    config.hostile = size > 0 && (data[0] & 0x80) != 0;
    sim::DeviceState device(config);
    // The vehicle's time-outs (ReadMsgs, WriteMsgs) pass a million times
    // faster than real time.
    bool vehicleFast = false;

    size_t pos = size > 0 ? 1 : 0;
    volatile size_t sink = 0;
    for (int i = 0; i < 16 && pos + 2 <= size; ++i) {
        size_t n = (data[pos] | (data[pos + 1] << 8)) % 5000;
        pos += 2;
        if (n > size - pos) n = size - pos;
        // An exact heap copy: a read past the request is seen.
        std::vector<uint8_t> request(data + pos, data + pos + n);
        pos += n;
        if (!vehicleFast && n > 0 && (request[0] & 0x7F) == 0x7F) {
            device.Family<sim::Vehicle>().SetClockRate(1000000);
            vehicleFast = true;
        }
        const sim::DispatchResult r = sim::Dispatch(table, device, request.empty() ? nullptr : request.data(), n);
        sink = sink + r.response.size() + r.workMs + r.refused;
    }
    (void)sink;
    return 0;
}
