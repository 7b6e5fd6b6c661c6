/*
 * The device link: which link the library talks over, and releasing it.
 */
#ifndef VANTRO_LINK_H
#define VANTRO_LINK_H

#include "vantro/vantro_types.h"

/* CommDevice values. */
#define VANTRO_COMM_NONE   0u
#define VANTRO_COMM_USB    1u
#define VANTRO_COMM_SERIAL 2u

/* Does nothing and returns 0 (the library picks the link itself). */
VANTRO_API uint32_t VANTRO_STDCALL KovSelectCommDevice(uint32_t device);
/* Closes the link and releases the library's device objects; the next call
 * builds them again. Returns 0. */
VANTRO_API uint32_t VANTRO_STDCALL KovDisconnect(void);
/* Writes the link in use (0 none, 1 USB, 2 serial). 0xa00d0025 for a null
 * pointer. */
VANTRO_API uint32_t VANTRO_STDCALL KovGetCommDevice(uint32_t* device);

#endif /* VANTRO_LINK_H */
