#include "Bench/Floor/FloorClient.h"

namespace floorc {

bool Client::Fail(const std::string& why) {
    m_error = why;
    return false;
}

bool Client::Exchange(const Bytes& request, Bytes* response) {
    const std::vector<Bytes> frames = Cut(request);
    for (const Bytes& f : frames) {
        if (!m_wire->Send(f, true)) return Fail("request frame not written");
        if (!m_wire->ReadFrame(&m_frame)) return Fail("no Reply");
        m_frames += 2;
        m_bytes += f.size() + m_frame.size();
        if (!Parse(m_frame.data(), m_frame.size(), &m_rx) || m_rx.type != kReply) return Fail("bad Reply");
        if (m_rx.payload.size() != 2 || m_rx.payload[0] != 0x06) return Fail("request NAKed");
    }
    response->clear();
    const Bytes ack = Ack();
    for (;;) {
        if (!m_wire->ReadFrame(&m_frame)) return Fail("no response frame");
        if (!Parse(m_frame.data(), m_frame.size(), &m_rx)) return Fail("bad response frame");
        const uint8_t t = m_rx.type;
        if (t == kReply || t == kPoll || (t > kLast && t < kMiddle)) return Fail("unexpected frame");
        response->insert(response->end(), m_rx.payload.begin(), m_rx.payload.end());
        const bool last = t == kSingle || t == kLast;
        if (!m_wire->Send(ack, !last)) return Fail("ACK not written");
        m_frames += 2;
        m_bytes += m_frame.size() + ack.size();
        if (last) break;
    }
    return m_wire->Flush() || Fail("ACK not taken");
}

}  // namespace floorc
