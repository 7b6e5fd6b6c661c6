// Placeholder until the bus server lands: it serves nothing.
#include "Sim/Transport/UsbBusServer.h"

namespace sim {
struct UsbBusServer::Impl {};
UsbBusServer::UsbBusServer(SimDevice&, uint16_t, uint16_t) : m_impl(new Impl) {}
UsbBusServer::~UsbBusServer() = default;
bool UsbBusServer::Start(uint16_t) { return false; }
uint16_t UsbBusServer::Port() const { return 0; }
void UsbBusServer::Unplug() {}
void UsbBusServer::Plug() {}
void UsbBusServer::Stop() {}
}  // namespace sim
