// A J2534 channel of the simulated device: its configuration, filters,
// periodic messages, receive queue and transmit queue. The protocol classes
// (CanChannel for CAN and ISO15765, KLineChannel for ISO9141 and ISO14230,
// J1850Channel) put messages on their network and hand received ones back.
//
// Runs under the vehicle's lock like everything on the vehicle.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Sim/Vehicle/CanBus.h"
#include "Sim/Vehicle/PassThruDefs.h"

namespace sim {

class Channel {
public:
    static constexpr size_t kMaxFilters = 10;
    static constexpr size_t kMaxPeriodic = 10;
    static constexpr size_t kRxCapacity = 4096;  // oldest messages are dropped beyond this
    static constexpr uint32_t kMinInterval = 5;
    static constexpr uint32_t kMaxInterval = 65535;

    Channel(uint32_t id, uint32_t protocolId, uint32_t flags, Scheduler& scheduler,
            std::function<void()> received);
    virtual ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    uint32_t Id() const { return m_dwId; }
    uint32_t ProtocolId() const { return m_dwProtocolId; }
    uint32_t Flags() const { return m_dwFlags; }

    // Queues messages for transmission, in order. Stops at the first message
    // that is not valid: its status is returned, *queued tells how many went
    // in; *lastSeq is the sequence number of the last one queued.
    uint32_t Queue(const std::vector<PtMessage>& messages, uint32_t* queued, uint64_t* lastSeq,
                   std::string* error);
    // Whether the transmission with this sequence number has ended, and how.
    bool TxEnded(uint64_t seq, bool* ok) const;

    size_t RxCount() const { return m_rx.size(); }
    std::vector<PtMessage> TakeRx(size_t count);

    uint32_t StartPeriodic(const PtMessage& message, uint32_t intervalMs, uint32_t* msgId, std::string* error);
    uint32_t StopPeriodic(uint32_t msgId, std::string* error);
    uint32_t StartFilter(uint32_t type, const PtMessage* mask, const PtMessage* pattern,
                         const PtMessage* flowControl, uint32_t* filterId, std::string* error);
    uint32_t StopFilter(uint32_t filterId, std::string* error);
    uint32_t GetConfig(uint32_t parameter, uint32_t* value, std::string* error) const;
    uint32_t SetConfig(uint32_t parameter, uint32_t value, std::string* error);

    void ClearTx();
    void ClearRx() { m_rx.clear(); }
    void ClearPeriodic() { m_periodic.clear(); }
    void ClearFilters();

    // Ioctls only some protocols know (ERR_NOT_SUPPORTED by default).
    virtual uint32_t FiveBaudInit(const std::vector<uint8_t>& in, std::vector<uint8_t>* keyBytes,
                                  std::string* error);
    virtual uint32_t FastInit(const PtMessage& in, PtMessage* out, std::string* error);
    virtual uint32_t FunctLookup(uint32_t ioctlId, const std::vector<uint8_t>& addresses, std::string* error);

protected:
    struct Filter {
        uint32_t type = 0;
        PtMessage mask;
        PtMessage pattern;
        PtMessage flowControl;
    };

    // Protocol hooks.
    virtual uint32_t CheckTx(const PtMessage& message, std::string* error) = 0;
    // Starts sending one message; done(ok) once it is out (or failed). May
    // call done before returning.
    virtual void Transmit(const PtMessage& message, std::function<void(bool)> done) = 0;
    virtual uint32_t CheckFilter(uint32_t type, const PtMessage* mask, const PtMessage* pattern,
                                 const PtMessage* flowControl, std::string* error);
    virtual void OnFilterAdded(uint32_t /*filterId*/, const Filter& /*filter*/) {}
    virtual void OnFilterRemoved(uint32_t /*filterId*/) {}
    virtual uint32_t CheckConfig(uint32_t parameter, uint32_t value, std::string* error) const;
    virtual void OnConfigChanged(uint32_t /*parameter*/) {}
    // A transmitted message ended well: loopback and indications.
    virtual void OnTxDone(const PtMessage& message, bool fromWrite);

    // Puts a message into the receive queue (time-stamped now).
    void Deliver(PtMessage message);
    // Pass filters let a message in unless a block filter matches.
    bool PassesFilters(const std::vector<uint8_t>& data) const;
    static bool Matches(const Filter& filter, const std::vector<uint8_t>& data);
    uint32_t Config(uint32_t parameter) const;
    uint64_t Now() const { return m_scheduler.Now(); }
    const std::map<uint32_t, Filter>& Filters() const { return m_filters; }

    Scheduler& m_scheduler;
    std::shared_ptr<int> m_alive;
    std::map<uint32_t, uint32_t> m_config;  // the parameters this protocol knows

private:
    struct TxItem {
        PtMessage message;
        uint64_t seq;
        bool fromWrite;     // WriteMsgs (else a periodic message)
        uint32_t periodicId;
    };
    struct Periodic {
        PtMessage message;
        uint32_t intervalMs;
        Scheduler::TaskId task;
    };
    void Pump();
    void Fire(uint32_t msgId);

    uint32_t m_dwId;
    uint32_t m_dwProtocolId;
    uint32_t m_dwFlags;
    std::function<void()> m_received;
    std::deque<PtMessage> m_rx;
    std::deque<TxItem> m_tx;
    bool m_bTxActive = false;
    bool m_bPumping = false;
    uint64_t m_qwNextSeq = 1;
    std::map<uint64_t, bool> m_txEnded;  // recent WriteMsgs transmissions and their outcome
    std::map<uint32_t, Filter> m_filters;
    std::map<uint32_t, Periodic> m_periodic;
    uint32_t m_dwNextFilterId = 1;
    uint32_t m_dwNextMsgId = 1;
};

}  // namespace sim
