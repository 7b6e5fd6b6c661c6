// Windows has no pseudo-terminals: the simulator reaches Windows programs
// over the simulated USB bus, or runs on Linux with the pty linked into
// wine's dosdevices.
#include "Sim/Transport/PtyTransport.h"

#include "Sim/Core/SimDevice.h"

namespace sim {

struct PtyTransport::Impl {};

PtyTransport::PtyTransport(SimDevice&) : m_impl(new Impl) {}
PtyTransport::~PtyTransport() = default;

bool PtyTransport::Start(const Options&, std::string* error) {
    if (error) *error = "a pty transport is not available on Windows; use --usb";
    return false;
}

void PtyTransport::Stop() {}
std::string PtyTransport::SlavePath() const { return std::string(); }
std::string PtyTransport::LinkPath() const { return std::string(); }
void PtyTransport::Inject(const uint8_t*, size_t) {}
void PtyTransport::ClosePort() {}
bool PtyTransport::ReopenPort() { return false; }
bool PtyTransport::IsOpen() const { return false; }
uint32_t PtyTransport::Generation() const { return 0; }

}  // namespace sim
