#include "Tools/SimHost.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsSettings.h"
#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Sim/Vehicle/Vehicle.h"
#include "Tools/Platform.h"
#include "vantro/vantro_link.h"

namespace fs = std::filesystem;

namespace cli {

namespace {

// What the library looks for on the bus unless the settings file says
// otherwise (section "DEVICEINFO").
constexpr int32_t kDefaultVendorId = 0x1D50;
constexpr int32_t kDefaultProductId = 13;

struct SavedEnv {
    const char* name;
    bool had = false;
    std::string value;
};

bool WriteFile(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Recorded trip data: deterministic bytes, so copies can be compared.
std::string TripData(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

}  // namespace

struct SimHost::Impl {
    std::string temp;
    std::string root;
    std::unique_ptr<sim::SimDevice> device;
    std::unique_ptr<sim::UsbBusServer> bus;
    std::vector<SavedEnv> saved;
    bool running = false;

    std::mutex traceLock;
    std::ostream* trace = nullptr;

    std::thread engine;
    std::mutex engineLock;
    std::condition_variable engineWake;
    bool engineStop = false;

    void SetEnv(const char* name, const char* value) {
        SavedEnv s;
        s.name = name;
        s.had = GetEnvVar(name, &s.value);
        saved.push_back(s);
        SetEnvVar(name, value);
    }

    void RestoreEnv() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) SetEnvVar(it->name, it->had ? it->value.c_str() : nullptr);
        saved.clear();
    }

    // An idling engine warming up: speed wanders around 780 rpm, the coolant
    // climbs towards 90 degrees, the run time counts.
    void RunEngine() {
        sim::Vehicle& vehicle = device->State().Family<sim::Vehicle>();
        std::mt19937 random(42);
        std::unique_lock<std::mutex> lock(engineLock);
        uint32_t tick = 0;
        while (!engineWake.wait_for(lock, std::chrono::milliseconds(250), [this] { return engineStop; })) {
            ++tick;
            const int wander = static_cast<int>(random() % 41) - 20;
            vehicle.UpdateData([&](sim::VehicleData& d) {
                d.engineRpm = static_cast<uint32_t>(780 + wander);
                if (tick % 8 == 0 && d.coolantC < 90) ++d.coolantC;
                if (tick % 4 == 0) ++d.runTimeS;
            });
        }
    }
};

SimHost::SimHost() : m_impl(new Impl) {}

SimHost::~SimHost() { Stop(); }

sim::SimDevice& SimHost::Device() { return *m_impl->device; }
const std::string& SimHost::RootDir() const { return m_impl->root; }
uint16_t SimHost::Port() const { return m_impl->bus ? m_impl->bus->Port() : 0; }

bool SimHost::SeedSampleFiles(const std::string& rootDir, std::string* error) {
    const fs::path root(rootDir);
    const bool ok =
        WriteFile(root / "readme.txt",
                  "This is the file system of the simulated Vantro device.\r\n"
                  "It lives in a temporary folder of the PC and is removed when the tool ends.\r\n") &&
        WriteFile(root / "Config" / "vantro.ini",
                  "[Device]\r\nName=Vantro VCI (simulated)\r\nCanChannels=2\r\n\r\n[Vehicle]\r\nProtocol=ISO15765\r\n"
                  "Baud=500000\r\n") &&
        WriteFile(root / "Data" / "trip-0001.bin", TripData(256 * 1024, 1)) &&
        WriteFile(root / "Data" / "trip-0002.bin", TripData(48 * 1024, 2)) &&
        WriteFile(root / "Windows" / "VantroApp.exe", TripData(12 * 1024, 3));
    std::error_code ec;
    fs::create_directories(root / "Logs", ec);
    fs::create_directories(root / "Firmware", ec);
    if (!ok && error) *error = "cannot write the sample files into " + rootDir;
    return ok;
}

bool SimHost::Start(const SimOptions& options, std::string* error) {
    Impl& s = *m_impl;
    if (s.running) return true;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) {
        *error = "no temporary folder";
        return false;
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 16 && s.temp.empty(); ++attempt) {
        const fs::path dir = base / ("vantro-cli-" + std::to_string(rd() % 100000000));
        if (fs::create_directory(dir, ec)) s.temp = dir.string();
    }
    if (s.temp.empty()) {
        *error = "cannot create a temporary folder in " + base.string();
        return false;
    }
    s.root = (fs::path(s.temp) / "root").string();
    const std::string ports = (fs::path(s.temp) / "ports").string();
    fs::create_directories(s.root, ec);
    fs::create_directories(ports, ec);
    if (!SeedSampleFiles(s.root, error)) {
        Stop();
        return false;
    }

    const std::string settings = vos::SettingsFilePath();
    sim::SimConfig config;
    config.rootDir = s.root;
    config.logFile = (fs::path(s.temp) / "device.log").string();
    config.vendorId = vos::ProfileGetInt("DEVICEINFO", "VENDORID", kDefaultVendorId, settings.c_str());
    config.productId = vos::ProfileGetInt("DEVICEINFO", "PRODUCTID", kDefaultProductId, settings.c_str());
    s.device.reset(new sim::SimDevice(config));
    for (const std::string& rule : options.faults) {
        std::string why;
        if (!s.device->Faults().Add(rule, &why)) {
            *error = "bad fault rule: " + why;
            Stop();
            return false;
        }
    }
    if (options.trace) {
        s.trace = options.trace;
        s.device->SetTrace([&s](const char* line) {
            std::lock_guard<std::mutex> guard(s.traceLock);
            *s.trace << line << '\n';
            s.trace->flush();
        });
    }
    // A test that runs the library's clock faster runs the device with it.
    const uint32_t rate = vos::OsGetClockRate();
    if (rate > 1) s.device->SetClockRate(rate);

    s.bus.reset(new sim::UsbBusServer(*s.device, static_cast<uint16_t>(config.vendorId),
                                      static_cast<uint16_t>(config.productId)));
    s.device->Start();
    s.running = true;
    if (!s.bus->Start(0)) {
        *error = "cannot serve the simulated USB bus on a loopback port";
        Stop();
        return false;
    }
    const std::string bus = "127.0.0.1:" + std::to_string(s.bus->Port());
    s.SetEnv("VANTRO_USB_BUS", bus.c_str());
    s.SetEnv("VANTRO_PORTS_DIR", ports.c_str());
    // Whatever link an earlier command of this process used is given up, so
    // the next call finds this device.
    KovDisconnect();

    if (options.liveEngine) {
        s.engineStop = false;
        s.engine = std::thread([&s] { s.RunEngine(); });
    }
    return true;
}

void SimHost::Stop() {
    Impl& s = *m_impl;
    if (s.running) {
        KovDisconnect();
        if (s.engine.joinable()) {
            {
                std::lock_guard<std::mutex> guard(s.engineLock);
                s.engineStop = true;
            }
            s.engineWake.notify_all();
            s.engine.join();
        }
        if (s.bus) s.bus->Stop();
        s.device->Stop();
        s.running = false;
    }
    s.bus.reset();
    s.device.reset();
    s.RestoreEnv();
    if (!s.temp.empty()) {
        std::error_code ec;
        fs::remove_all(s.temp, ec);
        s.temp.clear();
        s.root.clear();
    }
}

}  // namespace cli
