#ifndef VANTRO_REPRO_H
#define VANTRO_REPRO_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_REPRO_H */
