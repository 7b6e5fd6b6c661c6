// The floor client's transports: blocking reads and writes of whole frames
// from a single thread, over the pty's slave side or the simulated USB bus.
// Both keep a read buffer, so one system call can bring several frames (or
// several bus packets) when they are already there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Bench/Floor/FloorFrames.h"

namespace floorc {

class Wire {
public:
    virtual ~Wire() = default;
    // Writes one frame. `answerFollows` tells the wire that the device will
    // answer it, so a bus wire asks for the IN data in the same write.
    virtual bool Send(const Bytes& frame, bool answerFollows) = 0;
    // Reads the next whole frame (header included); false on a time-out,
    // a closed line or a malformed stream.
    virtual bool ReadFrame(Bytes* frame) = 0;
    // Returns when the device has taken every byte written (the bus: its
    // OUT completions have come back).
    virtual bool Flush() = 0;
};

// Opens the pty slave (or its COM port link) in raw mode.
std::unique_ptr<Wire> OpenPtyWire(const std::string& path, std::string* error);
// Connects to the bus server on 127.0.0.1:port and waits for the device.
std::unique_ptr<Wire> OpenBusWire(uint16_t port, std::string* error);

}  // namespace floorc
