#ifndef VANTRO_DEVLOG_H
#define VANTRO_DEVLOG_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_DEVLOG_H */
