// One benchmark set-up: a simulator process on one link, the library routed
// to it, and the floor client's wire to the same simulator on demand.
//
// Routing the library:
//   pty  the frame controller's link factory makes every candidate a serial
//        link on the simulator's COM port (VANTRO_PORTS_DIR points at the
//        rig's ports folder). The real USB candidate would need a device that
//        attaches and then stays silent before the controller fails over to
//        a COM port; the factory skips that second of fail-over and leaves
//        the serial link itself (CSerialIf) unchanged.
//   usb  the real links; VANTRO_USB_BUS names the simulator's bus port.
//
// The floor talks to a second simulator process of the same program, started
// on first use with the same device folder (so both see the same files): a
// COM port has one user at a time, and with a line each the library and the
// floor can alternate exchange by exchange, each pair meeting the same
// moment of a shared machine, with no link to close and open in between.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Bench/Floor/FloorCommands.h"
#include "Bench/Support/SimProcess.h"

namespace bench {

enum class Link { Pty, Usb };

inline const char* LinkName(Link link) { return link == Link::Pty ? "pty" : "usb"; }

class Rig {
public:
    Rig() = default;
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // Starts the simulator (a pty paced like 38400 baud when `pace`) with a
    // fresh device root, and routes the library to it. The library's first
    // exchange is made here.
    bool Start(Link link, bool pace, std::string* error);
    // The same with more options for the library's simulator (faults).
    bool Start(Link link, bool pace, const std::vector<std::string>& simOptions, std::string* error);
    void Stop();

    // The floor client on its own simulator (started and connected on the
    // first call); null with *error when that fails.
    floorc::Commands* UseFloor(std::string* error);

    Link GetLink() const { return m_link; }
    // The device's file system as a folder of this machine.
    const std::string& DeviceRoot() const { return m_root; }
    // A scratch folder of the PC side.
    const std::string& PcDir() const { return m_pcDir; }
    SimProcess& Sim() { return m_sim; }
    // Bytes the floor client has moved on its current wire, both directions.
    uint64_t FloorBytesMoved() const { return m_client ? m_client->BytesMoved() : 0; }

private:
    Link m_link = Link::Pty;
    bool m_pace = false;
    SimProcess m_sim;
    SimProcess m_floorSim;
    std::string m_base;
    std::string m_root;
    std::string m_portsDir;
    std::string m_pcDir;
    std::unique_ptr<floorc::Client> m_client;
    std::unique_ptr<floorc::Commands> m_commands;
};

// Closes the library's link (KovDisconnect) and restores the real links.
void ReleaseLibrary();
// Makes the library's next link the rig's kind: the serial-only link factory
// for the pty, the real links for USB. The environment (VANTRO_PORTS_DIR,
// VANTRO_USB_BUS) is set by Rig::Start and inherited by worker processes.
void RouteLibrary(Link link);

}  // namespace bench
