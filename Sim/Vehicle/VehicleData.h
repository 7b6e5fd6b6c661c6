// What the simulated vehicle's ECUs report: live engine values, stored
// trouble codes and identification. Tests and tools may change any of it
// (Vehicle::UpdateData); the ECUs read it when they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct VehicleData {
    // Live values.
    uint32_t engineRpm = 780;     // rpm
    int32_t coolantC = 88;        // degrees Celsius
    uint32_t speedKmh = 0;
    uint32_t engineLoadPct = 21;
    int32_t intakeAirC = 31;
    uint32_t throttlePct = 14;
    uint32_t fuelLevelPct = 64;
    uint32_t runTimeS = 423;      // since engine start
    uint32_t mafCentiGs = 412;    // air flow, 0.01 g/s
    uint32_t controlModuleMv = 14100;

    // Stored trouble codes as their two bytes (P0301 = 0x0301, P0420 =
    // 0x0420); the MIL is on while any is stored.
    std::vector<uint16_t> storedDtcs = {0x0301, 0x0420};
    std::vector<uint16_t> pendingDtcs = {0x0171};

    // Identification (the VIN is 17 characters).
    std::string vin = "1VNTR5SM7PA000042";
    std::string calibrationId = "VT-ECM-0312-0007";
    std::string engineEcuName = "ECM-EngineControl";
    std::string transmissionEcuName = "TCM-TransControl";
    std::string ecuSerial = "VT0000420815";
    std::string sparePartNumber = "VT-4711-0815";
    std::string softwareVersion = "03.12.07";
};

}  // namespace sim
