/*
 * Device services: the Kov exports that run the device's own services.
 */
#ifndef VANTRO_DEVICE_H
#define VANTRO_DEVICE_H

#include "vantro/vantro_status.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_registry.h"
#include "vantro/vantro_clock.h"
#include "vantro/vantro_devlog.h"
#include "vantro/vantro_firmware.h"

#endif /* VANTRO_DEVICE_H */
