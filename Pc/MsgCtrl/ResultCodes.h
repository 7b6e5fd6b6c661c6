// The library's result codes (public) and helpers for them.
#pragma once

#include <cstdint>

#include "vantro/vantro_errors.h"

// The symbolic name of a result code ("QXR_ERROR_SEND_TIMEOUT"), or null.
const char* ResultCodeName(uint32_t code);
