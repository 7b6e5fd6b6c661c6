// The floor's USB link: one TCP connection to the simulated bus, spoken with
// the floor's own code. A frame goes out as one bulk OUT transfer; a frame
// comes in as one bulk IN transfer of at most 517 bytes, asked for with an
// IN request and delivered in packets of 64 bytes, the last one short (or
// empty). Messages: 12-byte header (u8 type, u8 endpoint, u8 flags, u8 0,
// u32 device, u32 payload length) and the payload.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Bench/Floor/FloorWire.h"

namespace floorc {
namespace {

enum : uint8_t {
    kHello = 0x00,
    kAttach = 0x01,
    kDetach = 0x02,
    kInData = 0x03,
    kOutDone = 0x04,
    kOutData = 0x10,
    kInRequest = 0x11,
};
constexpr uint8_t kEndsTransfer = 0x01;
constexpr size_t kHeader = 12;

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void AppendHeader(Bytes& out, uint8_t type, uint8_t endpoint, uint32_t device, uint32_t length) {
    uint8_t h[kHeader] = {type, endpoint, 0, 0};
    Put32(h + 4, device);
    Put32(h + 8, length);
    out.insert(out.end(), h, h + kHeader);
}

class BusWire : public Wire {
public:
    explicit BusWire(int fd) : m_fd(fd), m_buf(1 << 16) {}
    ~BusWire() override { close(m_fd); }

    // Reads until the device has arrived.
    bool WaitAttach() {
        while (m_device == 0) {
            uint8_t type, flags;
            uint32_t device;
            const uint8_t* payload;
            uint32_t length;
            if (!Next(&type, &flags, &device, &payload, &length)) return false;
            if (type == kAttach) m_device = device;
        }
        return true;
    }

    bool Send(const Bytes& frame, bool answerFollows) override {
        m_out.clear();
        AppendHeader(m_out, kOutData, 0x01, m_device, static_cast<uint32_t>(frame.size() + 4));
        uint8_t tag[4];
        Put32(tag, ++m_tag);
        m_out.insert(m_out.end(), tag, tag + 4);
        m_out.insert(m_out.end(), frame.begin(), frame.end());
        ++m_outstanding;
        if (answerFollows) AppendInRequest();
        return SendAll(m_out);
    }

    bool ReadFrame(Bytes* frame) override {
        if (!m_inRequested) {
            m_out.clear();
            AppendInRequest();
            if (!SendAll(m_out)) return false;
        }
        frame->clear();
        for (;;) {
            uint8_t type, flags;
            uint32_t device;
            const uint8_t* payload;
            uint32_t length;
            if (!Next(&type, &flags, &device, &payload, &length)) return false;
            if (type == kOutDone) {
                if (length < 12 || Get32(payload + 4) != 0) return false;
                --m_outstanding;
            } else if (type == kInData) {
                frame->insert(frame->end(), payload, payload + length);
                if ((flags & kEndsTransfer) || frame->size() >= kMaxFrame) {
                    m_inRequested = false;
                    return true;
                }
            } else if (type == kDetach) {
                return false;
            }
        }
    }

    bool Flush() override {
        while (m_outstanding > 0) {
            uint8_t type, flags;
            uint32_t device;
            const uint8_t* payload;
            uint32_t length;
            if (!Next(&type, &flags, &device, &payload, &length)) return false;
            if (type == kOutDone) {
                if (length < 12 || Get32(payload + 4) != 0) return false;
                --m_outstanding;
            } else if (type == kDetach || type == kInData) {
                return false;  // nothing was asked for
            }
        }
        return true;
    }

private:
    void AppendInRequest() {
        AppendHeader(m_out, kInRequest, 0x82, m_device, 4);
        uint8_t size[4];
        Put32(size, static_cast<uint32_t>(kMaxFrame));
        m_out.insert(m_out.end(), size, size + 4);
        m_inRequested = true;
    }

    bool SendAll(const Bytes& data) {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // The next message; the payload points into the read buffer and stays
    // valid until the next call.
    bool Next(uint8_t* type, uint8_t* flags, uint32_t* device, const uint8_t** payload, uint32_t* length) {
        if (!Fill(kHeader)) return false;
        const uint8_t* h = m_buf.data() + m_at;
        const uint32_t size = Get32(h + 8);
        if (size > (1u << 20)) return false;
        if (!Fill(kHeader + size)) return false;
        h = m_buf.data() + m_at;
        *type = h[0];
        *flags = h[2];
        *device = Get32(h + 4);
        *length = size;
        *payload = h + kHeader;
        m_at += kHeader + size;
        return true;
    }

    bool Fill(size_t n) {
        if (m_end - m_at >= n) return true;
        if (m_at) {
            std::memmove(m_buf.data(), m_buf.data() + m_at, m_end - m_at);
            m_end -= m_at;
            m_at = 0;
        }
        if (m_buf.size() < n) m_buf.resize(n);
        while (m_end < n) {
            const ssize_t got = recv(m_fd, m_buf.data() + m_end, m_buf.size() - m_end, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // closed, or five seconds of silence
            m_end += static_cast<size_t>(got);
        }
        return true;
    }

    int m_fd;
    std::vector<uint8_t> m_buf;
    size_t m_at = 0;
    size_t m_end = 0;
    Bytes m_out;
    uint32_t m_device = 0;
    uint32_t m_tag = 0;
    uint32_t m_outstanding = 0;
    bool m_inRequested = false;
};

}  // namespace

std::unique_ptr<Wire> OpenBusWire(uint16_t port, std::string* error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (error) *error = std::string("connect: ") + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::unique_ptr<BusWire> wire(new BusWire(fd));
    if (!wire->WaitAttach()) {
        if (error) *error = "the bus announced no device";
        return nullptr;
    }
    return std::unique_ptr<Wire>(wire.release());
}

}  // namespace floorc
