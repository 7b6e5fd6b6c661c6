// Loopback TCP for the simulated USB bus server. The simulator links none of
// the library's platform layer, so it has these few socket calls of its own.
// Time-outs are real milliseconds; kForever waits without limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {
namespace net {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;
constexpr uint32_t kForever = 0xFFFFFFFFu;
constexpr int kTimedOut = -2;

// Listens on 127.0.0.1:port (0 = a free port); kNoSocket on failure.
Socket Listen(uint16_t port, uint16_t* boundPort);
// kNoSocket on time-out or failure.
Socket Accept(Socket listener, uint32_t timeoutMs);
bool SendAll(Socket s, const void* data, size_t size);
// Bytes received (> 0), 0 when closed, -1 on failure, kTimedOut.
int Recv(Socket s, void* buffer, size_t size, uint32_t timeoutMs);
void Shutdown(Socket s);
void Close(Socket s);

}  // namespace net
}  // namespace sim
