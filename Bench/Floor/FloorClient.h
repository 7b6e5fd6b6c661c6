// The floor: a minimal single-threaded client that runs one exchange with
// blocking reads and nothing else. Each request frame waits for the device's
// Reply; each response frame is acknowledged (ACK 06 03) at once; the
// exchange ends when the ACK of the last frame has been taken by the device.
// It keeps no time-outs of the protocol and sends no Polls: it measures what
// the transport and the device cost, so the library can be compared with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Bench/Floor/FloorFrames.h"
#include "Bench/Floor/FloorWire.h"

namespace floorc {

class Client {
public:
    explicit Client(std::unique_ptr<Wire> wire) : m_wire(std::move(wire)) {}

    // One exchange; the response message (code, status, record) in *response.
    bool Exchange(const Bytes& request, Bytes* response);
    // Frames and bytes moved so far, both directions.
    uint64_t FramesMoved() const { return m_frames; }
    uint64_t BytesMoved() const { return m_bytes; }
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const std::string& why);
    std::unique_ptr<Wire> m_wire;
    Bytes m_frame;
    RxFrame m_rx;
    uint64_t m_frames = 0;
    uint64_t m_bytes = 0;
    std::string m_error;
};

}  // namespace floorc
