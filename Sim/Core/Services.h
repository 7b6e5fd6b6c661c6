// The simulator's command dispatch: each family of services registers a
// handler per command code. A handler decodes the request body (after the
// command code) with WireIn and writes the response record (after the code and
// the status byte) with WireOut, or refuses the command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Sim/Core/Wire.h"

namespace sim {

struct SimConfig;
class DeviceState;

struct CommandContext {
    uint32_t code = 0;
    WireIn request;          // the request record
    WireOut response;        // the response record (status 6)
    bool refused = false;    // answer with status 21 ...
    uint32_t refusalCode = 0;  // ... and this code
    uint32_t workMs = 0;     // time the device "works" before answering (it answers Polls meanwhile)
    DeviceState* device = nullptr;
    // Convenience: the state of a family.
    template <class T>
    T& Family();
    // The device answers with more than the PC asked for (SimConfig::hostile).
    bool Hostile() const;
};

using Handler = std::function<void(CommandContext&)>;

class ServiceTable {
public:
    void Register(uint32_t code, Handler handler) { m_handlers[code] = std::move(handler); }
    const Handler* Find(uint32_t code) const {
        auto it = m_handlers.find(code);
        return it == m_handlers.end() ? nullptr : &it->second;
    }
    size_t Size() const { return m_handlers.size(); }

private:
    std::map<uint32_t, Handler> m_handlers;
};

// A hostile answer sized by the request: what was asked for, but at most
// kHostileAskedMax bytes of it, plus the excess. A size or count in a request
// never makes the device allocate gigabytes (nor wraps around).
constexpr size_t kHostileAskedMax = 1u << 20;
inline size_t HostileSize(uint32_t asked, size_t excess) {
    return (asked < kHostileAskedMax ? asked : kHostileAskedMax) + excess;
}
// The same for a number of messages or records: at most kHostileCountMax of
// what was asked, plus the excess.
constexpr uint32_t kHostileCountMax = 256;
inline uint32_t HostileCount(uint32_t asked, uint32_t excess) {
    return (asked < kHostileCountMax ? asked : kHostileCountMax) + excess;
}

// A handler that a hostile device carries out but whose answer it cuts short:
// only the first half of the record arrives.
Handler CutShortWhenHostile(void (*handler)(CommandContext&));

// Refusal code for a command the device does not know.
constexpr uint32_t kRefuseUnknownCommand = 0x0000E001;
// Refusal code for a request that is too short for its record.
constexpr uint32_t kRefuseBadRequest = 0x0000E002;

// Each family registers its handlers; they keep their state in DeviceState.
void RegisterStatusServices(ServiceTable& table);
void RegisterFileServices(ServiceTable& table);
void RegisterRegistryServices(ServiceTable& table);
void RegisterClockServices(ServiceTable& table);
void RegisterLogServices(ServiceTable& table);
void RegisterFirmwareServices(ServiceTable& table);
void RegisterJ2534Services(ServiceTable& table);
void RegisterPassThru0202Services(ServiceTable& table);
void RegisterReproServices(ServiceTable& table);
void RegisterMonitorServices(ServiceTable& table);

}  // namespace sim

#include "Sim/Core/DeviceState.h"

namespace sim {
template <class T>
T& CommandContext::Family() {
    return device->Family<T>();
}
inline bool CommandContext::Hostile() const { return device && device->Config().hostile; }
}  // namespace sim
