#ifndef VANTRO_PASSTHRU0202_H
#define VANTRO_PASSTHRU0202_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_PASSTHRU0202_H */
