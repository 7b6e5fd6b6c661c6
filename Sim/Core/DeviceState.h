// The simulated device's state: its configuration and one state object per
// service family, created on first use. Commands are handled one at a time
// (the device runs one exchange at a time); a family whose state is also
// touched by a background thread (the vehicle bus, a reprogramming run) guards
// it with a lock of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

struct SimConfig {
    std::string rootDir;        // the device's file system ("" = a fresh temporary folder)
    std::string registryFile;   // the registry is kept in this file ("" = in memory)
    std::string logFile;        // the device log ("" = <rootDir>/device.log)
    uint32_t vendorId = 0x1D50; // announced on the simulated USB bus
    uint32_t productId = 13;
    bool hostile = false;       // answer with counts, lengths and texts beyond every capacity
};

class DeviceState {
public:
    explicit DeviceState(SimConfig config) : m_config(std::move(config)) {}
    const SimConfig& Config() const { return m_config; }
    SimConfig& MutableConfig() { return m_config; }

    // The state object of one family: T is constructed from DeviceState& the
    // first time it is asked for.
    template <class T>
    T& Family() {
        std::lock_guard<std::mutex> lock(m_lock);
        auto& slot = m_families[FamilyKey<T>()];
        if (!slot) slot = std::shared_ptr<void>(new T(*this), [](void* p) { delete static_cast<T*>(p); });
        return *static_cast<T*>(slot.get());
    }

    // The device's status values (status commands). Tests and tools change
    // them while the device runs, hence atomic.
    std::atomic<uint32_t> mode{1};
    std::atomic<uint16_t> voltage{12600};  // millivolts
    std::atomic<uint32_t> acStatus{1};
    std::atomic<uint32_t> lastError{0};

private:
    // One address per family type. (Not std::type_index: MinGW's libstdc++
    // orders the type_info of types in unnamed namespaces inconsistently with
    // the others, which breaks a map keyed by it.)
    template <class T>
    static const void* FamilyKey() {
        static char key;
        return &key;
    }

    SimConfig m_config;
    std::mutex m_lock;
    std::map<const void*, std::shared_ptr<void>> m_families;
};

}  // namespace sim
