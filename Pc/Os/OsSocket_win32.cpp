#include "Pc/Os/OsSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>
#include <set>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsTypes.h"

namespace vos {
namespace {

bool Startup() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA data;
        ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ok;
}

SOCKET S(OsSocket s) { return static_cast<SOCKET>(s); }

// Sockets that SocketShutdown ended. Winsock does not wake a select()
// blocked in another thread when the socket is shut down, so waits look at
// this list between slices of at most kSliceMs.
constexpr DWORD kSliceMs = 50;
std::mutex g_shutLock;
std::set<SOCKET> g_shut;

bool IsShut(SOCKET s) {
    std::lock_guard<std::mutex> lock(g_shutLock);
    return g_shut.count(s) != 0;
}

// 1 ready, 0 time-out, -1 failure or shut down. forWrite also watches for a
// failed connect.
int WaitReady(SOCKET s, bool forWrite, uint32_t timeoutMs) {
    const bool infinite = timeoutMs == kOsInfinite;
    const uint32_t real = infinite ? 0 : OsRealMs(timeoutMs);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (IsShut(s)) return -1;
        DWORD slice = kSliceMs;
        if (!infinite) {
            const ULONGLONG passed = GetTickCount64() - start;
            if (passed >= real) slice = 0;
            else if (real - passed < slice) slice = static_cast<DWORD>(real - passed);
        }
        fd_set set, except;
        FD_ZERO(&set);
        FD_ZERO(&except);
        FD_SET(s, &set);
        FD_SET(s, &except);
        timeval tv{};
        tv.tv_sec = static_cast<long>(slice / 1000);
        tv.tv_usec = static_cast<long>((slice % 1000) * 1000);
        int r = forWrite ? ::select(0, nullptr, &set, &except, &tv) : ::select(0, &set, nullptr, &except, &tv);
        if (r == SOCKET_ERROR) return -1;
        if (r > 0) {
            if (forWrite && FD_ISSET(s, &except)) return -1;
            return IsShut(s) ? -1 : 1;
        }
        if (!infinite && GetTickCount64() - start >= real) return 0;
    }
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void NoDelay(SOCKET s) {
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

OsSocket SocketListen(uint16_t port, uint16_t* boundPort) {
    if (!Startup()) return kInvalidSocket;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    BOOL one = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in a = Loopback(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0) {
        ::closesocket(s);
        return kInvalidSocket;
    }
    if (boundPort) {
        int len = sizeof a;
        if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::closesocket(s);
            return kInvalidSocket;
        }
        *boundPort = ntohs(a.sin_port);
    }
    return static_cast<OsSocket>(s);
}

OsSocket SocketAccept(OsSocket listener, uint32_t timeoutMs) {
    if (WaitReady(S(listener), false, timeoutMs) != 1) return kInvalidSocket;
    SOCKET s = ::accept(S(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    NoDelay(s);
    return static_cast<OsSocket>(s);
}

OsSocket SocketConnect(uint16_t port, uint32_t timeoutMs) {
    if (!Startup()) return kInvalidSocket;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in a = Loopback(port);
    int r = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        int err = 0;
        int len = sizeof err;
        if (WaitReady(s, true, timeoutMs) == 1 &&
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err == 0)
            r = 0;
    }
    if (r != 0) {
        ::closesocket(s);
        return kInvalidSocket;
    }
    nonBlocking = 0;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    NoDelay(s);
    return static_cast<OsSocket>(s);
}

bool SocketSendAll(OsSocket socket, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int chunk = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        int n = ::send(S(socket), p, chunk, 0);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int SocketRecv(OsSocket socket, void* buffer, size_t size, uint32_t timeoutMs) {
    int ready = WaitReady(S(socket), false, timeoutMs);
    if (ready == 0) return kSocketTimeout;
    if (ready < 0) return kSocketError;
    int chunk = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    int n = ::recv(S(socket), static_cast<char*>(buffer), chunk, 0);
    if (n == SOCKET_ERROR) return kSocketError;
    return n;
}

bool SocketRecvAll(OsSocket socket, void* buffer, size_t size, uint32_t timeoutMs) {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        int n = SocketRecv(socket, p, size, timeoutMs);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SocketShutdown(OsSocket socket) {
    if (socket == kInvalidSocket) return;
    {
        std::lock_guard<std::mutex> lock(g_shutLock);
        g_shut.insert(S(socket));
    }
    ::shutdown(S(socket), SD_BOTH);
}

void SocketClose(OsSocket socket) {
    if (socket == kInvalidSocket) return;
    ::closesocket(S(socket));
    // The number may name a new socket from now on.
    std::lock_guard<std::mutex> lock(g_shutLock);
    g_shut.erase(S(socket));
}

}  // namespace vos
