#include "Sim/Transport/UsbBusServerNet.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {
namespace net {
namespace {

int WaitReadable(int fd, uint32_t timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int t = timeoutMs == kForever ? -1 : (timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs));
    for (;;) {
        int r = ::poll(&p, 1, t);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

}  // namespace

Socket Listen(uint16_t port, uint16_t* boundPort) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    if (boundPort) *boundPort = ntohs(a.sin_port);
    return fd;
}

Socket Accept(Socket listener, uint32_t timeoutMs) {
    if (WaitReadable(static_cast<int>(listener), timeoutMs) <= 0) return kNoSocket;
    int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return kNoSocket;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool SendAll(Socket s, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(static_cast<int>(s), p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int Recv(Socket s, void* buffer, size_t size, uint32_t timeoutMs) {
    int r = WaitReadable(static_cast<int>(s), timeoutMs);
    if (r == 0) return kTimedOut;
    if (r < 0) return -1;
    for (;;) {
        ssize_t n = ::recv(static_cast<int>(s), buffer, size > static_cast<size_t>(INT_MAX) ? INT_MAX : size, 0);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : static_cast<int>(n);
    }
}

void Shutdown(Socket s) {
    if (s != kNoSocket) ::shutdown(static_cast<int>(s), SHUT_RDWR);
}

void Close(Socket s) {
    if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace net
}  // namespace sim
