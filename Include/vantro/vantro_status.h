#ifndef VANTRO_STATUS_H
#define VANTRO_STATUS_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_STATUS_H */
