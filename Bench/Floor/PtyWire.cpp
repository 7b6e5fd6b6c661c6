// The floor's serial line: the pty slave in raw mode, blocking reads that
// give up after 5 s without a byte (VMIN 0, VTIME 50).
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Bench/Floor/FloorWire.h"

namespace floorc {
namespace {

class PtyWire : public Wire {
public:
    explicit PtyWire(int fd) : m_fd(fd) {}
    ~PtyWire() override { close(m_fd); }

    bool Send(const Bytes& frame, bool) override {
        size_t done = 0;
        while (done < frame.size()) {
            const ssize_t n = write(m_fd, frame.data() + done, frame.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool ReadFrame(Bytes* frame) override {
        if (!Fill(4)) return false;
        if (m_buf[m_at] != 0x02) return false;  // the line is clean here: no resynchronising
        const size_t total = (m_buf[m_at + 2] | (m_buf[m_at + 3] << 8)) + 6u;
        if (total > kMaxFrame || !Fill(total)) return false;
        frame->assign(m_buf + m_at, m_buf + m_at + total);
        m_at += total;
        return true;
    }

    bool Flush() override { return true; }

private:
    // Makes `n` bytes available at m_at.
    bool Fill(size_t n) {
        if (m_end - m_at >= n) return true;
        if (m_at) {
            std::memmove(m_buf, m_buf + m_at, m_end - m_at);
            m_end -= m_at;
            m_at = 0;
        }
        while (m_end < n) {
            const ssize_t got = read(m_fd, m_buf + m_end, sizeof m_buf - m_end);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // 0: five seconds without a byte
            m_end += static_cast<size_t>(got);
        }
        return true;
    }

    int m_fd;
    uint8_t m_buf[8192];
    size_t m_at = 0;
    size_t m_end = 0;
};

}  // namespace

std::unique_ptr<Wire> OpenPtyWire(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = "open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        if (error) *error = "tcgetattr " + path + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 50;
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    return std::unique_ptr<Wire>(new PtyWire(fd));
}

}  // namespace floorc
