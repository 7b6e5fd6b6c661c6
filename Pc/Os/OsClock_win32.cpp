#include <windows.h>

#include "Pc/Os/OsClock.h"

namespace vos {

void OsSleep(uint32_t ms) { Sleep(OsRealMs(ms)); }

}  // namespace vos
