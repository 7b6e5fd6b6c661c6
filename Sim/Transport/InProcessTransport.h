// The in-process transport: a test (or any program in the same process)
// plays the PC. Bytes it sends go to the device as from a wire; the device's
// bytes are collected and can be waited for.
//
//   sim::SimDevice device(config);
//   sim::InProcessTransport wire(device);
//   device.Start();
//   wire.Send({0x02, 0x00, 0x01, 0x00, 0x3B, 0x3C, 0x03});
//   std::vector<uint8_t> frame;
//   ASSERT_TRUE(wire.NextFrame(&frame, 2000));   // the device's Reply
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace sim {

class SimDevice;

class InProcessTransport {
public:
    explicit InProcessTransport(SimDevice& device);  // becomes the device's sink
    ~InProcessTransport();                           // removes the sink
    InProcessTransport(const InProcessTransport&) = delete;
    InProcessTransport& operator=(const InProcessTransport&) = delete;

    void Send(const std::vector<uint8_t>& bytes);
    void Send(const uint8_t* data, size_t size);

    // Waits up to timeoutMs (real time) until at least n bytes of the device
    // are waiting.
    bool WaitBytes(size_t n, uint32_t timeoutMs);
    // Takes up to n waiting bytes.
    std::vector<uint8_t> Take(size_t n);
    std::vector<uint8_t> TakeAll();
    // Takes the next frame: bytes before a start byte are skipped; the frame
    // is the start byte, type, length and length + 2 more bytes, whatever
    // they hold. False when none is complete within timeoutMs.
    bool NextFrame(std::vector<uint8_t>* frame, uint32_t timeoutMs);
    size_t Pending() const;

private:
    void OnDeviceBytes(const uint8_t* data, size_t size);

    SimDevice& m_device;
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<uint8_t> m_fromDevice;
};

}  // namespace sim
