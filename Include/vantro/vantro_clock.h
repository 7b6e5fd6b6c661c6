#ifndef VANTRO_CLOCK_H
#define VANTRO_CLOCK_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_CLOCK_H */
