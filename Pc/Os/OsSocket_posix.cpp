#include "Pc/Os/OsSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsTypes.h"

namespace vos {
namespace {

int PollTimeout(uint32_t timeoutMs) {
    if (timeoutMs == kOsInfinite) return -1;
    uint32_t real = OsRealMs(timeoutMs);
    return real > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(real);
}

// Waits until the socket is ready for the events; 1 ready, 0 time-out,
// -1 failure.
int WaitReady(int fd, short events, uint32_t timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, PollTimeout(timeoutMs));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        return r > 0 ? 1 : 0;
    }
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

OsSocket SocketListen(uint16_t port, uint16_t* boundPort) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidSocket;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    if (boundPort) {
        socklen_t len = sizeof a;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(fd);
            return kInvalidSocket;
        }
        *boundPort = ntohs(a.sin_port);
    }
    return fd;
}

OsSocket SocketAccept(OsSocket listener, uint32_t timeoutMs) {
    int lfd = static_cast<int>(listener);
    if (WaitReady(lfd, POLLIN, timeoutMs) != 1) return kInvalidSocket;
    int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return kInvalidSocket;
    NoDelay(fd);
    return fd;
}

OsSocket SocketConnect(uint16_t port, uint32_t timeoutMs) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return kInvalidSocket;
    sockaddr_in a = Loopback(port);
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && errno == EINPROGRESS) {
        int err = 0;
        socklen_t len = sizeof err;
        if (WaitReady(fd, POLLOUT, timeoutMs) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
            r = 0;
    }
    if (r != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    NoDelay(fd);
    return fd;
}

bool SocketSendAll(OsSocket socket, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(static_cast<int>(socket), p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int SocketRecv(OsSocket socket, void* buffer, size_t size, uint32_t timeoutMs) {
    int fd = static_cast<int>(socket);
    int ready = WaitReady(fd, POLLIN, timeoutMs);
    if (ready == 0) return kSocketTimeout;
    if (ready < 0) return kSocketError;
    if (size > static_cast<size_t>(INT_MAX)) size = INT_MAX;
    for (;;) {
        ssize_t n = ::recv(fd, buffer, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return kSocketError;
        return static_cast<int>(n);
    }
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
    if (socket != kInvalidSocket) ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void SocketClose(OsSocket socket) {
    if (socket != kInvalidSocket) ::close(static_cast<int>(socket));
}

}  // namespace vos
