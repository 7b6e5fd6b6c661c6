// Families that have no services yet register nothing. Each line goes when
// its family arrives.
#include "Sim/Core/Services.h"

namespace sim {
}  // namespace sim
