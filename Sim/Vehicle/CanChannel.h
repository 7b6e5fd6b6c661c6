// The device's CAN and ISO15765 channels. A CAN channel passes single frames
// through its pass and block filters. An ISO15765 channel runs ISO 15765-2
// itself: each flow-control filter pairs the identifier it receives on (the
// pattern) with the one it sends on and answers with Flow Control (the flow
// control message); segmented messages are joined before they are handed
// over, preceded by a START_OF_MESSAGE indication, and every message written
// ends with a TX_INDICATION.
#pragma once

#include <map>
#include <memory>

#include "Sim/Vehicle/Channel.h"
#include "Sim/Vehicle/IsoTp.h"

namespace sim {

class CanChannel : public Channel, public CanNode {
public:
    CanChannel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler, CanBus& bus,
               std::function<void()> received);
    ~CanChannel() override;

    void OnFrame(const CanFrame& frame) override;
    uint32_t BitRate() const override { return Config(pt::kDataRate); }

protected:
    uint32_t CheckTx(const PtMessage& message, std::string* error) override;
    void Transmit(const PtMessage& message, std::function<void(bool)> done) override;
    uint32_t CheckFilter(uint32_t type, const PtMessage* mask, const PtMessage* pattern,
                         const PtMessage* flowControl, std::string* error) override;
    void OnFilterAdded(uint32_t filterId, const Filter& filter) override;
    void OnFilterRemoved(uint32_t filterId) override;
    uint32_t CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const override;
    void OnConfigChanged(uint32_t parameter) override;
    void OnTxDone(const PtMessage& message, bool fromWrite) override;

private:
    // One flow-control filter's ISO 15765-2 pair.
    struct Link {
        uint32_t rxId = 0;
        uint32_t rxMask = 0;
        uint32_t txId = 0;
        bool extended = false;
        uint32_t lastRxId = 0;  // the frame being received (masks may admit several)
        std::unique_ptr<IsoTpSender> sender;
        std::unique_ptr<IsoTpReceiver> receiver;
    };

    bool Iso() const { return ProtocolId() == pt::kIso15765; }
    bool Accepts(bool extended) const;
    Link* LinkForRx(uint32_t id, bool extended);
    Link* LinkForTx(uint32_t id, bool extended);
    PtMessage Message(uint32_t id, bool extended, const uint8_t* data, size_t size, uint32_t rxStatus) const;

    CanBus& m_bus;
    std::map<uint32_t, Link> m_links;
};

}  // namespace sim
