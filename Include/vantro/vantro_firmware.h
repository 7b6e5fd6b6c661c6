#ifndef VANTRO_FIRMWARE_H
#define VANTRO_FIRMWARE_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_FIRMWARE_H */
