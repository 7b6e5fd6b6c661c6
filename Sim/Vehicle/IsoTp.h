// ISO 15765-2 transport on the simulated CAN bus: a sender that cuts a
// message into a Single frame or a First frame and Consecutive frames paced
// by the receiver's Flow Control, and a receiver that joins them and sends the
// Flow Control. Used by the device's ISO15765 channels and by the ECUs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Sim/Vehicle/CanBus.h"

namespace sim {

// Frame types (high nibble of the first byte).
constexpr uint8_t kIsoTpSingle = 0x0;
constexpr uint8_t kIsoTpFirst = 0x1;
constexpr uint8_t kIsoTpConsecutive = 0x2;
constexpr uint8_t kIsoTpFlowControl = 0x3;
constexpr uint32_t kIsoTpTimeoutMs = 1000;  // N_Bs and N_Cr

inline uint8_t IsoTpType(const CanFrame& f) { return f.dlc ? uint8_t(f.data[0] >> 4) : 0xFF; }

// STmin as milliseconds (0xF1-0xF9, the sub-millisecond values, count as 0;
// reserved values as 127).
uint32_t StMinMs(uint8_t stMin);

using FramePut = std::function<void(const CanFrame&)>;

class IsoTpSender {
public:
    IsoTpSender(Scheduler& scheduler, FramePut put);
    ~IsoTpSender();
    IsoTpSender(const IsoTpSender&) = delete;
    IsoTpSender& operator=(const IsoTpSender&) = delete;

    // Where frames go; pad fills every frame to 8 bytes with padByte.
    void SetAddress(uint32_t id, bool extended) {
        m_dwId = id;
        m_bExtended = extended;
    }
    uint32_t Id() const { return m_dwId; }
    // Block size and STmin to use instead of the receiver's (above 0xFF: the
    // receiver's).
    void SetOverrides(uint32_t blockSize, uint32_t stMin) {
        m_dwBsOverride = blockSize;
        m_dwStMinOverride = stMin;
    }

    bool Busy() const { return m_state != State::Idle; }
    // Starts a message of 1 to 4095 bytes; done(ok) is called when its last
    // frame went out or it failed (no Flow Control in time, overflow).
    bool Send(const std::vector<uint8_t>& payload, bool pad, uint8_t padByte, std::function<void(bool)> done);
    // A Flow Control frame from the receiver.
    void OnFlowControl(const CanFrame& frame);
    void Abort();

private:
    enum class State { Idle, WaitFlowControl, Sending };
    void SendNextConsecutive();
    void Finish(bool ok);
    void Arm(uint32_t ms, std::function<void()> task);
    void Disarm();

    Scheduler& m_scheduler;
    FramePut m_put;
    std::shared_ptr<int> m_alive;
    uint32_t m_dwId = 0;
    bool m_bExtended = false;
    uint32_t m_dwBsOverride = 0xFFFF;
    uint32_t m_dwStMinOverride = 0xFFFF;
    State m_state = State::Idle;
    std::vector<uint8_t> m_payload;
    size_t m_offset = 0;
    uint8_t m_sequence = 0;
    bool m_bPad = false;
    uint8_t m_padByte = 0;
    uint32_t m_dwBlockSize = 0;
    uint32_t m_dwBlockSent = 0;
    uint32_t m_dwStMinMs = 0;
    Scheduler::TaskId m_timer = 0;
    std::function<void(bool)> m_done;
};

class IsoTpReceiver {
public:
    IsoTpReceiver(Scheduler& scheduler, FramePut put);
    ~IsoTpReceiver();
    IsoTpReceiver(const IsoTpReceiver&) = delete;
    IsoTpReceiver& operator=(const IsoTpReceiver&) = delete;

    // Where Flow Control frames go and what they say.
    void SetFlowControl(uint32_t id, bool extended, bool pad, uint8_t padByte) {
        m_dwFcId = id;
        m_bFcExtended = extended;
        m_bPad = pad;
        m_padByte = padByte;
    }
    void SetBlockSize(uint8_t blockSize, uint8_t stMin) {
        m_blockSize = blockSize;
        m_stMin = stMin;
    }
    void SetMaxLength(uint32_t maxLength) { m_dwMaxLength = maxLength; }

    // A First frame arrived (a segmented message has started).
    std::function<void()> onFirstFrame;
    // A whole message arrived.
    std::function<void(std::vector<uint8_t>)> onMessage;

    // A Single, First or Consecutive frame of the sender.
    void OnFrame(const CanFrame& frame);
    bool Receiving() const { return m_bReceiving; }
    void Abort();

private:
    void SendFlowControl(uint8_t status);
    void Arm();

    Scheduler& m_scheduler;
    FramePut m_put;
    std::shared_ptr<int> m_alive;
    uint32_t m_dwFcId = 0;
    bool m_bFcExtended = false;
    bool m_bPad = true;
    uint8_t m_padByte = 0;
    uint8_t m_blockSize = 0;
    uint8_t m_stMin = 0;
    uint32_t m_dwMaxLength = 4095;
    bool m_bReceiving = false;
    std::vector<uint8_t> m_buffer;
    uint32_t m_dwExpected = 0;
    uint8_t m_nextSequence = 1;
    uint32_t m_dwBlockCount = 0;
    Scheduler::TaskId m_timer = 0;
};

}  // namespace sim
