#include "Bench/Support/Rig.h"

#include <stdlib.h>

#include <filesystem>
#include <new>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/FrameCtrl/SerialIf.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace bench {
namespace {

constexpr char kPortName[] = "COM7";

CCommIf* SerialOnly(uint32_t, CMessage* message, const char*) {
    return new (std::nothrow) CSerialIf(message, kPortName);
}

// The library answers KovGetMode with the mode, or with its own error code
// (0x900dxxxx, 0xa00dxxxx).
bool LibraryAnswers() {
    const uint32_t r = KovGetMode();
    return r < 0x90000000u;
}

}  // namespace

void RouteLibrary(Link link) { SetLinkFactory(link == Link::Pty ? &SerialOnly : nullptr); }

void ReleaseLibrary() {
    KovDisconnect();
    SetLinkFactory(nullptr);
}

Rig::~Rig() { Stop(); }

bool Rig::Start(Link link, bool pace, std::string* error) { return Start(link, pace, {}, error); }

bool Rig::Start(Link link, bool pace, const std::vector<std::string>& simOptions, std::string* error) {
    Stop();
    m_link = link;
    m_pace = pace;
    char base[] = "/tmp/vantro-bench-XXXXXX";
    if (!mkdtemp(base)) {
        *error = "no temporary folder";
        return false;
    }
    m_base = base;
    m_root = m_base + "/device";
    m_portsDir = m_base + "/ports";
    m_pcDir = m_base + "/pc";
    std::error_code ec;
    std::filesystem::create_directories(m_root, ec);
    std::filesystem::create_directories(m_portsDir, ec);
    std::filesystem::create_directories(m_pcDir, ec);

    SimProcess::Options options;
    options.usb = link == Link::Usb;
    options.pace = pace;
    options.rootDir = m_root;
    options.extra = simOptions;
    if (link == Link::Pty) {
        options.portsDir = m_portsDir;
        options.portName = kPortName;
    }
    if (!m_sim.Start(options, error)) return false;

    KovDisconnect();
    if (link == Link::Pty) {
        setenv("VANTRO_PORTS_DIR", m_portsDir.c_str(), 1);
        unsetenv("VANTRO_USB_BUS");
    } else {
        setenv("VANTRO_USB_BUS", std::to_string(m_sim.UsbPort()).c_str(), 1);
    }
    RouteLibrary(link);
    if (!LibraryAnswers()) {
        *error = std::string("the library gets no answer over the ") + LinkName(link);
        return false;
    }
    return true;
}

void Rig::Stop() {
    m_commands.reset();
    m_client.reset();
    ReleaseLibrary();
    m_sim.Stop();
    m_floorSim.Stop();
    if (!m_base.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_base, ec);
        m_base.clear();
    }
}

floorc::Commands* Rig::UseFloor(std::string* error) {
    if (m_commands) return m_commands.get();
    if (m_floorSim.Pid() < 0) {
        SimProcess::Options options;
        options.usb = m_link == Link::Usb;
        options.pace = m_pace;
        options.rootDir = m_root;
        if (!m_floorSim.Start(options, error)) return nullptr;
    }
    std::unique_ptr<floorc::Wire> wire = m_link == Link::Pty ? floorc::OpenPtyWire(m_floorSim.PtyPath(), error)
                                                             : floorc::OpenBusWire(m_floorSim.UsbPort(), error);
    if (!wire) return nullptr;
    m_client.reset(new floorc::Client(std::move(wire)));
    m_commands.reset(new floorc::Commands(*m_client));
    return m_commands.get();
}

}  // namespace bench
