#include "Sim/Vehicle/IsoTp.h"

#include <algorithm>
#include <cstring>

namespace sim {

uint32_t StMinMs(uint8_t stMin) {
    if (stMin <= 0x7F) return stMin;
    if (stMin >= 0xF1 && stMin <= 0xF9) return 0;
    return 0x7F;
}

namespace {

CanFrame MakeFrame(uint32_t id, bool extended, const uint8_t* bytes, size_t n, bool pad, uint8_t padByte) {
    CanFrame f;
    f.id = id;
    f.extended = extended;
    std::memcpy(f.data, bytes, n);
    if (pad) {
        for (size_t i = n; i < 8; ++i) f.data[i] = padByte;
        f.dlc = 8;
    } else {
        f.dlc = static_cast<uint8_t>(n);
    }
    return f;
}

}  // namespace

// ---- sender -----------------------------------------------------------------

IsoTpSender::IsoTpSender(Scheduler& scheduler, FramePut put)
    : m_scheduler(scheduler), m_put(std::move(put)), m_alive(std::make_shared<int>(0)) {}

IsoTpSender::~IsoTpSender() { Disarm(); }

void IsoTpSender::Arm(uint32_t ms, std::function<void()> task) {
    Disarm();
    m_timer = m_scheduler.After(ms, m_alive, std::move(task));
}

void IsoTpSender::Disarm() {
    if (m_timer) m_scheduler.Cancel(m_timer);
    m_timer = 0;
}

bool IsoTpSender::Send(const std::vector<uint8_t>& payload, bool pad, uint8_t padByte,
                       std::function<void(bool)> done) {
    if (Busy() || payload.empty() || payload.size() > 4095) return false;
    m_bPad = pad;
    m_padByte = padByte;
    m_done = std::move(done);
    uint8_t bytes[8];
    if (payload.size() <= 7) {
        bytes[0] = static_cast<uint8_t>(payload.size());
        std::memcpy(bytes + 1, payload.data(), payload.size());
        m_state = State::Sending;  // until the frame is out
        m_put(MakeFrame(m_dwId, m_bExtended, bytes, payload.size() + 1, pad, padByte));
        Finish(true);
        return true;
    }
    m_payload = payload;
    bytes[0] = static_cast<uint8_t>(0x10 | ((payload.size() >> 8) & 0x0F));
    bytes[1] = static_cast<uint8_t>(payload.size() & 0xFF);
    std::memcpy(bytes + 2, payload.data(), 6);
    m_offset = 6;
    m_sequence = 1;
    // The receiver may answer while the frame is still being delivered.
    m_state = State::WaitFlowControl;
    Arm(kIsoTpTimeoutMs, [this] { Finish(false); });
    m_put(MakeFrame(m_dwId, m_bExtended, bytes, 8, true, padByte));
    return true;
}

void IsoTpSender::OnFlowControl(const CanFrame& frame) {
    if (m_state != State::WaitFlowControl || frame.dlc < 3) return;
    switch (frame.data[0] & 0x0F) {
    case 0: {  // clear to send
        const uint32_t bs = m_dwBsOverride <= 0xFF ? m_dwBsOverride : frame.data[1];
        const uint32_t st = m_dwStMinOverride <= 0xFF ? m_dwStMinOverride : frame.data[2];
        m_dwBlockSize = bs;
        m_dwBlockSent = 0;
        m_dwStMinMs = StMinMs(static_cast<uint8_t>(st));
        m_state = State::Sending;
        Disarm();
        SendNextConsecutive();
        break;
    }
    case 1:  // wait: the receiver grants another N_Bs
        Arm(kIsoTpTimeoutMs, [this] { Finish(false); });
        break;
    default:  // overflow or invalid
        Finish(false);
        break;
    }
}

void IsoTpSender::SendNextConsecutive() {
    if (m_state != State::Sending) return;
    uint8_t bytes[8];
    const size_t n = std::min<size_t>(7, m_payload.size() - m_offset);
    bytes[0] = static_cast<uint8_t>(0x20 | m_sequence);
    std::memcpy(bytes + 1, m_payload.data() + m_offset, n);
    m_sequence = static_cast<uint8_t>((m_sequence + 1) & 0x0F);
    m_offset += n;
    ++m_dwBlockSent;
    const bool last = m_offset >= m_payload.size();
    const CanFrame frame = MakeFrame(m_dwId, m_bExtended, bytes, n + 1, m_bPad, m_padByte);
    if (last) {
        m_put(frame);
        Finish(true);
        return;
    }
    if (m_dwBlockSize != 0 && m_dwBlockSent >= m_dwBlockSize) {
        m_state = State::WaitFlowControl;
        Arm(kIsoTpTimeoutMs, [this] { Finish(false); });
    } else {
        Arm(m_dwStMinMs, [this] { SendNextConsecutive(); });
    }
    m_put(frame);
}

void IsoTpSender::Finish(bool ok) {
    m_state = State::Idle;
    Disarm();
    m_payload.clear();
    std::function<void(bool)> done = std::move(m_done);
    m_done = nullptr;
    if (done) done(ok);
}

void IsoTpSender::Abort() {
    if (Busy()) Finish(false);
}

// ---- receiver -------------------------------------------------------------------

IsoTpReceiver::IsoTpReceiver(Scheduler& scheduler, FramePut put)
    : m_scheduler(scheduler), m_put(std::move(put)), m_alive(std::make_shared<int>(0)) {}

IsoTpReceiver::~IsoTpReceiver() {
    if (m_timer) m_scheduler.Cancel(m_timer);
}

void IsoTpReceiver::Arm() {
    if (m_timer) m_scheduler.Cancel(m_timer);
    m_timer = m_scheduler.After(kIsoTpTimeoutMs, m_alive, [this] {
        m_timer = 0;
        Abort();  // N_Cr: the next Consecutive frame did not come
    });
}

void IsoTpReceiver::Abort() {
    if (m_timer) m_scheduler.Cancel(m_timer);
    m_timer = 0;
    m_bReceiving = false;
    m_buffer.clear();
}

void IsoTpReceiver::SendFlowControl(uint8_t status) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(0x30 | status), m_blockSize, m_stMin};
    m_put(MakeFrame(m_dwFcId, m_bFcExtended, bytes, 3, m_bPad, m_padByte));
}

void IsoTpReceiver::OnFrame(const CanFrame& f) {
    switch (IsoTpType(f)) {
    case kIsoTpSingle: {
        const uint32_t length = f.data[0] & 0x0F;
        if (length == 0 || length > 7 || length + 1u > f.dlc) return;
        if (m_bReceiving) Abort();
        if (onMessage) onMessage(std::vector<uint8_t>(f.data + 1, f.data + 1 + length));
        break;
    }
    case kIsoTpFirst: {
        if (f.dlc < 8) return;
        const uint32_t length = ((f.data[0] & 0x0Fu) << 8) | f.data[1];
        if (length < 8) return;  // not a segmented message (0: the escape form, unsupported)
        if (m_bReceiving) Abort();
        if (length > m_dwMaxLength) {
            SendFlowControl(2);  // overflow
            return;
        }
        m_buffer.assign(f.data + 2, f.data + 8);
        m_dwExpected = length;
        m_nextSequence = 1;
        m_dwBlockCount = 0;
        m_bReceiving = true;
        if (onFirstFrame) onFirstFrame();
        Arm();
        SendFlowControl(0);
        break;
    }
    case kIsoTpConsecutive: {
        if (!m_bReceiving) return;
        if ((f.data[0] & 0x0F) != m_nextSequence) {
            Abort();  // a frame was lost: the message is
            return;
        }
        const size_t want = m_dwExpected - m_buffer.size();
        const size_t n = std::min<size_t>({7, want, static_cast<size_t>(f.dlc ? f.dlc - 1 : 0)});
        m_buffer.insert(m_buffer.end(), f.data + 1, f.data + 1 + n);
        m_nextSequence = static_cast<uint8_t>((m_nextSequence + 1) & 0x0F);
        if (m_buffer.size() >= m_dwExpected) {
            std::vector<uint8_t> message;
            message.swap(m_buffer);
            Abort();
            if (onMessage) onMessage(std::move(message));
            return;
        }
        Arm();
        if (m_blockSize != 0 && ++m_dwBlockCount >= m_blockSize) {
            m_dwBlockCount = 0;
            SendFlowControl(0);
        }
        break;
    }
    default:
        break;
    }
}

}  // namespace sim
