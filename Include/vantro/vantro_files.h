#ifndef VANTRO_FILES_H
#define VANTRO_FILES_H

#include "vantro/vantro_types.h"

#endif /* VANTRO_FILES_H */
