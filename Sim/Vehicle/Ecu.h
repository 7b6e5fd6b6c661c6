// A simulated ECU on the CAN bus: answers diagnostic requests (EcuServices)
// over ISO 15765-2, with 11-bit identifiers (functional 0x7DF, physical
// 0x7E0 + index, answers on 0x7E8 + index) and 29-bit identifiers
// (functional 0x18DB33F1, physical 0x18DAxxF1, answers on 0x18DAF1xx with
// xx = 0x10 + 8 x index). Multi-frame answers wait for the tester's Flow
// Control, so on a raw CAN channel the tester must send it itself.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "Sim/Vehicle/CanBus.h"
#include "Sim/Vehicle/EcuServices.h"
#include "Sim/Vehicle/IsoTp.h"
#include "Sim/Vehicle/VehicleData.h"

namespace sim {

constexpr uint32_t kObdFunctionalId = 0x7DF;
constexpr uint32_t kObdFunctionalId29 = 0x18DB33F1;
constexpr uint8_t kEcuPadByte = 0xAA;

class Ecu : public CanNode {
public:
    Ecu(Scheduler& scheduler, CanBus& bus, VehicleData& data, uint8_t index, EcuRole role);
    ~Ecu() override;
    Ecu(const Ecu&) = delete;
    Ecu& operator=(const Ecu&) = delete;

    void OnFrame(const CanFrame& frame) override;
    uint32_t BitRate() const override { return m_bus.BitRate(); }

    uint8_t Index() const { return m_index; }
    uint32_t RequestId(bool extended) const;
    uint32_t ResponseId(bool extended) const;
    // Time between a request and its answer (P2), in milliseconds.
    void SetResponseDelay(uint32_t ms) { m_dwDelayMs = ms; }
    uint8_t Session() const { return m_services.Session(); }

private:
    struct Answer {
        std::vector<uint8_t> payload;
        bool extended;
    };
    void OnRequest(std::vector<uint8_t> request, bool functional, bool extended);
    void SendNext();

    Scheduler& m_scheduler;
    CanBus& m_bus;
    VehicleData& m_data;
    uint8_t m_index;
    EcuServices m_services;
    std::shared_ptr<int> m_alive;
    IsoTpSender m_sender;
    IsoTpReceiver m_physical;
    IsoTpReceiver m_functional;
    IsoTpReceiver m_physical29;
    IsoTpReceiver m_functional29;
    std::deque<Answer> m_answers;
    bool m_bSenderExtended = false;
    uint32_t m_dwDelayMs = 5;
};

}  // namespace sim
