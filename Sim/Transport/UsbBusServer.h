// The simulated USB bus: serves a SimDevice on a loopback TCP socket that the
// USB library's simulated backend connects to (the library finds it through
// the environment variable VANTRO_USB_BUS=PORT). The device announces its
// vendor and product, delivers bulk IN data in packets of at most 64 bytes,
// and can be unplugged and plugged again. Any number of hosts may connect:
// all see the device arrive and leave; IN data goes to the host that asked
// for it first.
//
// Start makes the server the device's sink and the handler of its "detach"
// fault; the caller starts and stops the device itself.
#pragma once

#include <cstdint>
#include <memory>

namespace sim {

class SimDevice;

class UsbBusServer {
public:
    UsbBusServer(SimDevice& device, uint16_t vendorId, uint16_t productId);
    ~UsbBusServer();
    UsbBusServer(const UsbBusServer&) = delete;
    UsbBusServer& operator=(const UsbBusServer&) = delete;

    // Listens on 127.0.0.1:port (0 = a free port); false on failure.
    bool Start(uint16_t port = 0);
    uint16_t Port() const;
    // Detaches the device from the bus (connected hosts see it leave) and
    // attaches it again.
    void Unplug();
    void Plug();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
