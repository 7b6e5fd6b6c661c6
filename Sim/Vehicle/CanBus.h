// The simulated vehicle's CAN bus and the clock its nodes schedule work on.
//
// Everything on the vehicle (bus, nodes, timers) runs under the vehicle's one
// lock, either on the vehicle's own thread (timers, frames sent by ECUs) or on
// the device's worker thread (J2534 commands). Frames are delivered in the
// order they were sent: a frame sent while another is being delivered waits
// its turn, so no node ever sees a frame inside its own OnFrame.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace sim {

struct CanFrame {
    uint32_t id = 0;
    bool extended = false;  // 29-bit identifier
    uint8_t dlc = 0;
    uint8_t data[8] = {0};
};

// Clock and timers of the vehicle (milliseconds of the library clock, so
// that tests that accelerate it accelerate the vehicle too).
class Scheduler {
public:
    using TaskId = uint64_t;
    // A task runs only while its owner token is alive.
    using Token = std::weak_ptr<void>;

    virtual ~Scheduler() = default;
    virtual uint64_t Now() = 0;
    virtual TaskId After(uint32_t ms, Token owner, std::function<void()> task) = 0;
    virtual void Cancel(TaskId id) = 0;
};

class CanNode {
public:
    virtual ~CanNode() = default;
    // A frame another node sent.
    virtual void OnFrame(const CanFrame& frame) = 0;
    // The bit rate the node's controller runs at; a node whose rate differs
    // from the bus's neither sends nor receives.
    virtual uint32_t BitRate() const = 0;
};

class CanBus {
public:
    explicit CanBus(uint32_t bitRate) : m_dwBitRate(bitRate) {}
    uint32_t BitRate() const { return m_dwBitRate; }
    void SetBitRate(uint32_t bitRate) { m_dwBitRate = bitRate; }

    void Attach(CanNode* node);
    void Detach(CanNode* node);

    // Puts a frame on the bus for every other node. False (frame lost) when
    // the sender's rate is not the bus's.
    bool Transmit(CanNode* sender, const CanFrame& frame);

    // Sees every frame that made it onto the bus (tests, tracing).
    void SetTrace(std::function<void(const CanFrame&)> trace) { m_trace = std::move(trace); }
    uint64_t FramesCarried() const { return m_qwCarried; }

private:
    uint32_t m_dwBitRate;
    std::vector<CanNode*> m_nodes;
    std::deque<std::pair<CanNode*, CanFrame>> m_queue;
    bool m_bDelivering = false;
    uint64_t m_qwCarried = 0;
    std::function<void(const CanFrame&)> m_trace;
};

// Frames of 29-bit identifiers travel with the flag set; the 4 ID bytes of a
// J2534 message are big-endian.
inline uint32_t ReadBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void WriteBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace sim
