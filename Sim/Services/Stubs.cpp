// Families that have no services yet register nothing. Each line goes when
// its family arrives.
#include "Sim/Core/Services.h"

namespace sim {
void RegisterStatusServices(ServiceTable&) {}
void RegisterFileServices(ServiceTable&) {}
void RegisterRegistryServices(ServiceTable&) {}
void RegisterClockServices(ServiceTable&) {}
void RegisterLogServices(ServiceTable&) {}
void RegisterFirmwareServices(ServiceTable&) {}
void RegisterJ2534Services(ServiceTable&) {}
void RegisterPassThru0202Services(ServiceTable&) {}
void RegisterReproServices(ServiceTable&) {}
void RegisterMonitorServices(ServiceTable&) {}
}  // namespace sim
