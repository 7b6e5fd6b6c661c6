// The device's command dispatcher: decodes the command code of a joined
// request, runs the handler of that code and encodes the response message:
// code, status 6 and the response record, or code, status 21 and a u32
// refusal code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Sim/Core/Services.h"

namespace sim {

constexpr uint8_t kStatusAccepted = 6;
constexpr uint8_t kStatusRefused = 21;

// Refusal code for a handler that failed inside (the device's own fault).
constexpr uint32_t kRefuseDeviceFault = 0x0000E003;

struct DispatchResult {
    uint32_t code = 0;
    std::vector<uint8_t> response;  // the whole response message
    uint32_t workMs = 0;            // how long the device works before answering
    bool refused = false;
    uint32_t refusalCode = 0;
};

// The response message of a refusal.
std::vector<uint8_t> EncodeRefusal(uint32_t code, uint32_t refusalCode);

// Dispatches one request message. The device's last error becomes the
// refusal code when the command is refused.
DispatchResult Dispatch(const ServiceTable& table, DeviceState& device, const uint8_t* request,
                        size_t size);

// A table with the services of every family.
void RegisterAllServices(ServiceTable& table);

}  // namespace sim
