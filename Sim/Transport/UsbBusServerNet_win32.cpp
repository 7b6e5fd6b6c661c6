#include "Sim/Transport/UsbBusServerNet.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>

namespace sim {
namespace net {
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

SOCKET S(Socket s) { return static_cast<SOCKET>(s); }

int WaitReadable(SOCKET s, uint32_t timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int r = ::select(0, &set, nullptr, nullptr, timeoutMs == kForever ? nullptr : &tv);
    return r == SOCKET_ERROR ? -1 : r;
}

}  // namespace

Socket Listen(uint16_t port, uint16_t* boundPort) {
    if (!Startup()) return kNoSocket;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    if (boundPort) *boundPort = ntohs(a.sin_port);
    return static_cast<Socket>(s);
}

Socket Accept(Socket listener, uint32_t timeoutMs) {
    if (WaitReadable(S(listener), timeoutMs) <= 0) return kNoSocket;
    SOCKET s = ::accept(S(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSocket;
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<Socket>(s);
}

bool SendAll(Socket s, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int n = ::send(S(s), p, size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size), 0);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int Recv(Socket s, void* buffer, size_t size, uint32_t timeoutMs) {
    int r = WaitReadable(S(s), timeoutMs);
    if (r == 0) return kTimedOut;
    if (r < 0) return -1;
    int n = ::recv(S(s), static_cast<char*>(buffer), size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void Shutdown(Socket s) {
    if (s != kNoSocket) ::shutdown(S(s), SD_BOTH);
}

void Close(Socket s) {
    if (s != kNoSocket) ::closesocket(S(s));
}

}  // namespace net
}  // namespace sim
