// Minimal TCP on the loopback address (127.0.0.1): enough for the simulated
// USB bus, whose server and clients all run on this machine.
//
// Time-outs are milliseconds of the library clock (OsClock.h), so they follow
// an accelerated test clock like every other wait. Sending never raises
// SIGPIPE; a peer that went away shows as a failed send or a closed receive.
// Windows: winsock, started on first use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vos {

using OsSocket = intptr_t;
constexpr OsSocket kInvalidSocket = -1;

// Results of SocketRecv besides a byte count.
constexpr int kSocketClosed = 0;     // the peer closed its side
constexpr int kSocketError = -1;     // failure, or the socket was shut down
constexpr int kSocketTimeout = -2;   // nothing arrived in time

// Listens on 127.0.0.1:port (0 picks a free port; *boundPort receives the
// port in use when not null). kInvalidSocket on failure.
OsSocket SocketListen(uint16_t port, uint16_t* boundPort);
// Accepts one connection; kInvalidSocket on time-out or failure.
OsSocket SocketAccept(OsSocket listener, uint32_t timeoutMs);
// Connects to 127.0.0.1:port; kInvalidSocket on failure (refused, time-out).
OsSocket SocketConnect(uint16_t port, uint32_t timeoutMs);

// Sends every byte; false when the connection failed.
bool SocketSendAll(OsSocket socket, const void* data, size_t size);
// Receives up to size bytes: the count (> 0), kSocketClosed, kSocketError or
// kSocketTimeout (kOsInfinite waits without limit).
int SocketRecv(OsSocket socket, void* buffer, size_t size, uint32_t timeoutMs);
// Receives exactly size bytes, waiting up to timeoutMs for each part; false
// on time-out, close or failure.
bool SocketRecvAll(OsSocket socket, void* buffer, size_t size, uint32_t timeoutMs);

// Ends both directions: a receive blocked on the socket in another thread
// returns. The socket must still be closed.
void SocketShutdown(OsSocket socket);
void SocketClose(OsSocket socket);

}  // namespace vos
