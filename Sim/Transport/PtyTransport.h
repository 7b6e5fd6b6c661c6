// The pseudo-terminal transport: the device sits behind the master side of a
// pty; the PC opens the slave side as its COM port. With a ports folder and a
// port name the slave is also reachable as the symbolic link DIR/COMn, which
// is how the library's POSIX serial layer (and wine's dosdevices) finds COM
// ports.
//
// Pacing (optional) limits both directions to 3840 bytes per second, the
// speed of a 38400 baud line with 8N1 framing, so that timing behaves as on
// the real cable. Without pacing bytes pass as fast as the pty moves them.
//
// One I/O thread reads the PC's bytes into the device and writes the
// device's bytes to the pty; the device's sink only queues them. Closing and
// reopening (the close-port fault) run on that thread too.
//
// Windows has no pty: Start fails there with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sim {

class SimDevice;

class PtyTransport {
public:
    struct Options {
        std::string portsDir;  // with portName: the symbolic link DIR/portName -> slave
        std::string portName;  // "COM3"
        bool pace = false;     // 38400 baud 8N1 in both directions
        // Called (on the device's thread) with the new slave path after the
        // close-port fault has brought the port back.
        std::function<void(const std::string& slavePath)> onReopened;
    };

    // Start makes the transport the device's sink and the handler of its
    // close-port fault (other faults go to the handler installed before);
    // Stop undoes both. Stop the device before the transport.
    explicit PtyTransport(SimDevice& device);
    ~PtyTransport();                           // Stop
    PtyTransport(const PtyTransport&) = delete;
    PtyTransport& operator=(const PtyTransport&) = delete;

    bool Start(const Options& options, std::string* error = nullptr);
    void Stop();

    // The slave's device path ("/dev/pts/7"), and the link to it ("" without
    // a ports folder).
    std::string SlavePath() const;
    std::string LinkPath() const;

    // Puts bytes on the line toward the PC as if the device had sent them
    // (tests of the PC's receiver use it for noise and broken frames).
    void Inject(const uint8_t* data, size_t size);

    // The close-port fault: ClosePort closes the pty (the PC's port reports
    // errors from then on); ReopenPort opens a new one and points the link at
    // it. Both return when done.
    void ClosePort();
    bool ReopenPort();
    bool IsOpen() const;
    // How many times the pty has been opened (1 after Start).
    uint32_t Generation() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
