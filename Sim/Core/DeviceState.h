// The simulated device's state: its configuration and one state object per
// service family, created on first use. Commands are handled one at a time
// (the device runs one exchange at a time); a family whose state is also
// touched by a background thread (the vehicle bus, a reprogramming run) guards
// it with a lock of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

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
        auto& slot = m_families[std::type_index(typeid(T))];
        if (!slot) slot = std::shared_ptr<void>(new T(*this), [](void* p) { delete static_cast<T*>(p); });
        return *static_cast<T*>(slot.get());
    }

    // The device's status values (status commands).
    uint32_t mode = 1;
    uint16_t voltage = 12600;   // millivolts
    uint32_t acStatus = 1;
    uint32_t lastError = 0;

private:
    SimConfig m_config;
    std::mutex m_lock;
    std::map<std::type_index, std::shared_ptr<void>> m_families;
};

}  // namespace sim
