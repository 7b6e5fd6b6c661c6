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

// Counters of the device's message layer, for tests and diagnostics.
struct SimStats {
    uint32_t framesFromPc = 0;    // whole frames taken from the PC's stream
    uint32_t framesToPc = 0;      // frames sent (Replies, Poll answers, response frames)
    uint32_t commands = 0;        // requests dispatched
    uint32_t exchangesDone = 0;   // responses whose last frame the PC acknowledged
    uint32_t resends = 0;         // response frames sent again after a NAK or a time-out
    uint32_t abandoned = 0;       // responses given up (resends used up, or a new request)
    uint32_t naksSent = 0;        // request frames answered with a NAK
    uint32_t bytesDiscarded = 0;  // bytes of the PC's stream that formed no frame
};

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

    // The device's time runs `rate` times faster than real time (its working
    // times, late answers, its own time-outs and the vehicle's), to match a
    // library clock that tests accelerate. 1 = real time.
    void SetClockRate(uint32_t rate);
    SimStats Stats() const;
    // Output held back behind a late Reply has not gone out yet.
    bool HoldsOutput() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
