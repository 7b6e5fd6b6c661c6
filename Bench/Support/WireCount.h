// The bytes a transfer must move on the line, counted from the protocol:
// every message travels in frames of at most 511 payload bytes plus 6 bytes
// of frame, and every frame is answered by an 8-byte Reply. Requests are
// built with the floor's encoders; responses have the sizes of their wire
// forms (code, status, record). Polls are not counted: a device that answers
// at once is never polled.
#pragma once

#include <cstdint>

#include "Bench/Support/Transfers.h"

namespace bench {

// Frame and Reply bytes of one message of `length` bytes.
uint64_t MessageWireBytes(uint64_t length);
// Everything one transfer of `size` bytes moves, both directions.
uint64_t TransferWireBytes(Op op, uint64_t size);

}  // namespace bench
