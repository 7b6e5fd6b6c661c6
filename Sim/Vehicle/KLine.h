// The K-line side of the simulated vehicle: one engine ECU (address 0x10)
// that speaks ISO 9141-2 and ISO 14230-4 once woken by a 5-baud or fast
// initialisation, and falls asleep again after P3max (5 s) without traffic;
// and the device's ISO9141 / ISO14230 channels. Messages carry their header
// bytes; the device adds the checksum on transmission (unless the channel
// was connected with ISO9141_NO_CHECKSUM) and hands received messages over
// with their checksum, ExtraDataIndex pointing at it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Sim/Vehicle/Channel.h"
#include "Sim/Vehicle/EcuServices.h"
#include "Sim/Vehicle/VehicleData.h"

namespace sim {

class KLineEcu {
public:
    static constexpr uint8_t kAddress = 0x10;
    static constexpr uint8_t kObdAddress = 0x33;   // the 5-baud address of OBD
    static constexpr uint32_t kBitRate = 10400;
    static constexpr uint32_t kP2Ms = 25;
    static constexpr uint32_t kP3MaxMs = 5000;

    KLineEcu(Scheduler& scheduler, VehicleData& data);

    // 5-baud initialisation at an address: the two key bytes of the protocol.
    bool FiveBaudInit(uint32_t protocolId, uint8_t address, std::vector<uint8_t>* keyBytes);
    // Fast initialisation (ISO 14230): the StartCommunication request in,
    // its answer (without checksum) out.
    bool FastInit(const std::vector<uint8_t>& request, std::vector<uint8_t>* answer);
    // A request (header and data, no checksum); the answer (header and data,
    // no checksum) comes through reply after P2, if any.
    void OnRequest(uint32_t protocolId, const std::vector<uint8_t>& request,
                   std::function<void(std::vector<uint8_t>)> reply);
    bool Awake();

private:
    Scheduler& m_scheduler;
    VehicleData& m_data;
    EcuServices m_services;
    std::shared_ptr<int> m_alive;
    bool m_bAwake = false;
    uint64_t m_qwLastActivity = 0;
};

uint8_t KLineChecksum(const std::vector<uint8_t>& bytes);

class KLineChannel : public Channel {
public:
    KLineChannel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler, KLineEcu& ecu,
                 std::function<void()> received);
    ~KLineChannel() override;

    uint32_t FiveBaudInit(const std::vector<uint8_t>& in, std::vector<uint8_t>* keyBytes,
                          std::string* error) override;
    uint32_t FastInit(const PtMessage& in, PtMessage* out, std::string* error) override;

protected:
    uint32_t CheckTx(const PtMessage& message, std::string* error) override;
    void Transmit(const PtMessage& message, std::function<void(bool)> done) override;
    uint32_t CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const override;

private:
    bool OnLine() const { return Config(pt::kDataRate) == KLineEcu::kBitRate; }
    PtMessage Received(std::vector<uint8_t> bytes) const;

    KLineEcu& m_ecu;
};

// J1850 VPW and PWM channels: no J1850 node answers on this vehicle, but
// messages go out (and loop back), and filters, periodic messages and the
// functional lookup table (PWM) work.
class J1850Channel : public Channel {
public:
    J1850Channel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler,
                 std::function<void()> received);
    uint32_t FunctLookup(uint32_t ioctlId, const std::vector<uint8_t>& addresses, std::string* error) override;

protected:
    uint32_t CheckTx(const PtMessage& message, std::string* error) override;
    void Transmit(const PtMessage& message, std::function<void(bool)> done) override;
    uint32_t CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const override;

private:
    std::vector<uint8_t> m_lookup;  // functional addresses (PWM)
};

}  // namespace sim
