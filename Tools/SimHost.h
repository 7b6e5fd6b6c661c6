// --sim: the simulated device inside the tool's own process, on the
// simulated USB bus, so that every command works on a machine without a
// device.
//
// Start() makes a temporary folder (the device's file system, seeded with
// sample files, and an empty COM port folder), starts a sim::SimDevice behind
// a sim::UsbBusServer on a free loopback port and points the library at it
// (VANTRO_USB_BUS=127.0.0.1:PORT, VANTRO_PORTS_DIR=the empty folder) before
// the first library call. Stop() releases the library's link, stops the
// device, puts the environment back and removes the folder.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace sim {
class SimDevice;
}

namespace cli {

struct SimOptions {
    std::vector<std::string> faults;   // fault rules (vantro-sim --fault syntax)
    std::ostream* trace = nullptr;     // every frame, "PC> ..." / "DEV> ..."
    bool liveEngine = true;            // engine values move as on an idling engine
};

class SimHost {
public:
    SimHost();
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    bool Start(const SimOptions& options, std::string* error);
    void Stop();

    sim::SimDevice& Device();
    const std::string& RootDir() const;
    uint16_t Port() const;

    // Writes the sample files into a device root folder.
    static bool SeedSampleFiles(const std::string& root, std::string* error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace cli
