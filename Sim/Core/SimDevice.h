// The simulated device: its message layer (frames, Replies, Polls, response
// frames, resends after a NAK), the command dispatcher with every service
// family, and fault injection. Transports (pty, simulated USB bus, in-process)
// move bytes between it and the PC; it is transport-agnostic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "Sim/Core/DeviceState.h"

namespace sim {

class FaultPlan;

class SimDevice {
public:
    explicit SimDevice(SimConfig config);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Where the device's bytes go (the transport). Called on the device's own
    // thread; must not block for long.
    void SetSink(std::function<void(const uint8_t* data, size_t size)> toPc);
    // Bytes from the PC, in any split; may be called from any thread.
    void OnBytesFromPc(const uint8_t* data, size_t size);

    // Starts and stops the device's worker thread.
    void Start();
    void Stop();

    DeviceState& State();
    FaultPlan& Faults();

    // Frame trace: every frame in both directions ("PC>" / "DEV>" and hex).
    void SetTrace(std::function<void(const char* line)> trace);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
