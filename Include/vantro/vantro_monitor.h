#ifndef VANTRO_MONITOR_H
#define VANTRO_MONITOR_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_MONITOR_H */
