#ifndef VANTRO_REGISTRY_H
#define VANTRO_REGISTRY_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_REGISTRY_H */
