/*
 * Vantro: the PC-side driver library of the vehicle-interface device.
 * This header declares every export of the library.
 */
#ifndef VANTRO_H
#define VANTRO_H

#include "vantro/vantro_types.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_device.h"
#include "vantro/j2534.h"
#include "vantro/vantro_passthru0202.h"
#include "vantro/vantro_repro.h"
#include "vantro/vantro_monitor.h"

#endif /* VANTRO_H */
