// The diagnostic services of a simulated ECU, independent of the transport
// that carries them (ISO 15765 on CAN, or the K-line): OBD-II services 01,
// 03, 04, 07, 09 and 0A, and UDS DiagnosticSessionControl (0x10),
// ECUReset (0x11), ClearDiagnosticInformation (0x14), ReadDTCInformation
// (0x19), ReadDataByIdentifier (0x22) and TesterPresent (0x3E).
#pragma once

#include <cstdint>
#include <vector>

#include "Sim/Vehicle/VehicleData.h"

namespace sim {

enum class EcuRole {
    Engine,        // engine control: every PID, the VIN, the trouble codes
    Transmission,  // transmission control: a few PIDs, no VIN over OBD
};

class EcuServices {
public:
    explicit EcuServices(EcuRole role) : m_role(role) {}

    // Answers one request. False when the ECU stays silent (a functional
    // request it does not support, a suppressed positive response, nothing
    // supported among the PIDs asked).
    bool Handle(VehicleData& data, const std::vector<uint8_t>& request, bool functional,
                std::vector<uint8_t>* response);

    uint8_t Session() const { return m_session; }
    EcuRole Role() const { return m_role; }

    // The PIDs of service 01 and service 09 this ECU supports.
    bool SupportsPid(uint8_t pid) const;
    bool SupportsInfoType(uint8_t infoType) const;

private:
    bool Obd01(const VehicleData& data, const std::vector<uint8_t>& req, std::vector<uint8_t>* out) const;
    bool Obd09(const VehicleData& data, const std::vector<uint8_t>& req, std::vector<uint8_t>* out) const;
    bool Uds22(const VehicleData& data, const std::vector<uint8_t>& req, bool functional,
               std::vector<uint8_t>* out) const;
    void PidValue(const VehicleData& data, uint8_t pid, std::vector<uint8_t>* out) const;

    EcuRole m_role;
    uint8_t m_session = 1;
};

}  // namespace sim
