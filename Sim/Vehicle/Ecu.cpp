#include "Sim/Vehicle/Ecu.h"

namespace sim {

Ecu::Ecu(Scheduler& scheduler, CanBus& bus, VehicleData& data, uint8_t index, EcuRole role)
    : m_scheduler(scheduler),
      m_bus(bus),
      m_data(data),
      m_index(index),
      m_services(role),
      m_alive(std::make_shared<int>(0)),
      m_sender(scheduler, [this](const CanFrame& f) { m_bus.Transmit(this, f); }),
      m_physical(scheduler, [this](const CanFrame& f) { m_bus.Transmit(this, f); }),
      m_functional(scheduler, [this](const CanFrame& f) { m_bus.Transmit(this, f); }),
      m_physical29(scheduler, [this](const CanFrame& f) { m_bus.Transmit(this, f); }),
      m_functional29(scheduler, [this](const CanFrame& f) { m_bus.Transmit(this, f); }) {
    struct Setup {
        IsoTpReceiver* receiver;
        bool functional;
        bool extended;
    };
    const Setup setups[] = {{&m_physical, false, false},
                            {&m_functional, true, false},
                            {&m_physical29, false, true},
                            {&m_functional29, true, true}};
    for (const Setup& s : setups) {
        s.receiver->SetFlowControl(ResponseId(s.extended), s.extended, true, kEcuPadByte);
        s.receiver->SetBlockSize(0, 0);
        const bool functional = s.functional;
        const bool extended = s.extended;
        s.receiver->onMessage = [this, functional, extended](std::vector<uint8_t> request) {
            OnRequest(std::move(request), functional, extended);
        };
    }
    m_bus.Attach(this);
}

Ecu::~Ecu() { m_bus.Detach(this); }

uint32_t Ecu::RequestId(bool extended) const {
    return extended ? 0x18DA00F1u | (uint32_t(0x10 + 8 * m_index) << 8) : 0x7E0u + m_index;
}

uint32_t Ecu::ResponseId(bool extended) const {
    return extended ? 0x18DAF100u | uint32_t(0x10 + 8 * m_index) : 0x7E8u + m_index;
}

void Ecu::OnFrame(const CanFrame& f) {
    const bool extended = f.extended;
    const uint8_t type = IsoTpType(f);
    if (f.id == (extended ? kObdFunctionalId29 : kObdFunctionalId)) {
        // Functional requests are single frames only.
        if (type == kIsoTpSingle) (extended ? m_functional29 : m_functional).OnFrame(f);
        return;
    }
    if (f.id != RequestId(extended)) return;
    if (type == kIsoTpFlowControl) {
        if (m_bSenderExtended == extended) m_sender.OnFlowControl(f);
        return;
    }
    (extended ? m_physical29 : m_physical).OnFrame(f);
}

void Ecu::OnRequest(std::vector<uint8_t> request, bool functional, bool extended) {
    m_scheduler.After(m_dwDelayMs, m_alive, [this, request, functional, extended] {
        std::vector<uint8_t> answer;
        if (!m_services.Handle(m_data, request, functional, &answer)) return;
        m_answers.push_back({std::move(answer), extended});
        SendNext();
    });
}

void Ecu::SendNext() {
    if (m_sender.Busy() || m_answers.empty()) return;
    Answer next = std::move(m_answers.front());
    m_answers.pop_front();
    m_bSenderExtended = next.extended;
    m_sender.SetAddress(ResponseId(next.extended), next.extended);
    m_sender.Send(next.payload, true, kEcuPadByte, [this](bool) {
        // The next answer goes once this call has unwound.
        m_scheduler.After(0, m_alive, [this] { SendNext(); });
    });
}

}  // namespace sim
