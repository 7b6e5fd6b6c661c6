#ifndef VANTRO_DEVICE_H
#define VANTRO_DEVICE_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_DEVICE_H */
