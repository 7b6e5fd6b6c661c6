#ifndef J2534_H
#define J2534_H

#include "vantro/vantro_types.h"

#endif /* J2534_H */
