#include <cerrno>
#include <ctime>

#include "Pc/Os/OsClock.h"

namespace vos {

// nanosleep is a cancellation point, so a cancelled thread stops here.
void OsSleep(uint32_t ms) {
    uint32_t real = OsRealMs(ms);
    struct timespec left;
    left.tv_sec = static_cast<time_t>(real / 1000u);
    left.tv_nsec = static_cast<long>(real % 1000u) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace vos
