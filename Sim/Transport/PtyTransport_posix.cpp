#include "Sim/Transport/PtyTransport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kPacedBytesPerSecond = 3840.0;  // 38400 baud, 10 bits a byte
constexpr double kPaceBurst = 16.0;              // bytes a paced line may send at once
constexpr size_t kMaxQueued = 8u << 20;          // device bytes the PC has not read yet
constexpr int kIdlePollMs = 200;

// A token bucket: bytes may pass at the line's speed.
struct Pace {
    double tokens = kPaceBurst;
    Clock::time_point last = Clock::now();

    size_t Allowed(Clock::time_point now) {
        const double seconds = std::chrono::duration<double>(now - last).count();
        last = now;
        tokens = std::min(kPaceBurst, tokens + seconds * kPacedBytesPerSecond);
        return static_cast<size_t>(tokens);
    }
    void Use(size_t n) { tokens -= static_cast<double>(n); }
    // Milliseconds until one byte may pass.
    int WaitMs() const {
        if (tokens >= 1.0) return 0;
        return std::max(1, static_cast<int>((1.0 - tokens) * 1000.0 / kPacedBytesPerSecond) + 1);
    }
};

bool MakeRaw(int fd) {
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

struct PtyTransport::Impl {
    explicit Impl(SimDevice& d) : device(d) {}

    SimDevice& device;
    Options options;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<uint8_t> toPc;
    std::string slavePath;
    std::string linkPath;
    bool open = false;
    bool stopping = false;
    uint32_t generation = 0;
    // Close and reopen requests, carried out by the I/O thread.
    enum class Request { None, Close, Reopen };
    Request request = Request::None;
    uint64_t requested = 0;
    uint64_t served = 0;
    bool lastReopenOk = false;

    // Owned by the I/O thread once it runs.
    int master = -1;
    int slave = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread io;
    FaultPlan::TransportAction previousAction;
    Pace paceIn;
    Pace paceOut;

    void Wake() {
        const char c = 1;
        if (wakeWrite >= 0) {
            ssize_t r = write(wakeWrite, &c, 1);
            (void)r;  // a full pipe is already a wake-up
        }
    }

    bool OpenPty(std::string* error) {
        int m = -1, s = -1;
        if (openpty(&m, &s, nullptr, nullptr, nullptr) != 0) {
            if (error) *error = std::string("openpty: ") + std::strerror(errno);
            return false;
        }
        // The device's side never echoes or translates: a raw line. The
        // slave stays open here as well, so the master sees no hang-up
        // while no PC has the port open.
        MakeRaw(s);
        fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
        fcntl(m, F_SETFD, FD_CLOEXEC);
        fcntl(s, F_SETFD, FD_CLOEXEC);
        const char* name = ttyname(s);
        if (!name) {
            if (error) *error = std::string("ttyname: ") + std::strerror(errno);
            close(m);
            close(s);
            return false;
        }
        std::string path = name;
        if (!linkPath.empty()) {
            const std::string tmp = linkPath + ".new" + std::to_string(getpid());
            unlink(tmp.c_str());
            if (symlink(path.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), linkPath.c_str()) != 0) {
                if (error) *error = "cannot link " + linkPath + ": " + std::strerror(errno);
                unlink(tmp.c_str());
                close(m);
                close(s);
                return false;
            }
        }
        master = m;
        slave = s;
        std::lock_guard<std::mutex> guard(lock);
        slavePath = path;
        open = true;
        ++generation;
        toPc.clear();
        return true;
    }

    void ClosePty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
        master = slave = -1;
        std::lock_guard<std::mutex> guard(lock);
        open = false;
        toPc.clear();
    }

    void Queue(const uint8_t* data, size_t size) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!open) return;  // the port is closed: the bytes are lost
            toPc.insert(toPc.end(), data, data + size);
            if (toPc.size() > kMaxQueued) toPc.erase(toPc.begin(), toPc.begin() + (toPc.size() - kMaxQueued));
        }
        Wake();
    }

    void Serve(Request r, uint64_t seq) {
        bool ok = true;
        if (r == Request::Close) {
            ClosePty();
        } else if (r == Request::Reopen) {
            ClosePty();
            ok = OpenPty(nullptr);
        }
        std::lock_guard<std::mutex> guard(lock);
        served = seq;
        lastReopenOk = ok;
        changed.notify_all();
    }

    void Run() {
        std::vector<uint8_t> buffer(4096);
        for (;;) {
            Request r;
            uint64_t seq;
            bool wantWrite;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (stopping) return;
                r = request;
                seq = requested;
                request = Request::None;
                wantWrite = !toPc.empty();
            }
            if (r != Request::None) {
                Serve(r, seq);
                continue;
            }
            const Clock::time_point now = Clock::now();
            size_t mayRead = buffer.size(), mayWrite = buffer.size();
            int timeout = kIdlePollMs;
            if (options.pace) {
                mayRead = std::min(mayRead, paceIn.Allowed(now));
                mayWrite = std::min(mayWrite, paceOut.Allowed(now));
                if (mayRead == 0) timeout = std::min(timeout, paceIn.WaitMs());
                if (wantWrite && mayWrite == 0) timeout = std::min(timeout, paceOut.WaitMs());
            }
            struct pollfd fds[2];
            fds[0] = {wakeRead, POLLIN, 0};
            fds[1] = {master, 0, 0};
            if (master >= 0) {
                if (mayRead) fds[1].events |= POLLIN;
                if (wantWrite && mayWrite) fds[1].events |= POLLOUT;
            }
            const int n = poll(fds, master >= 0 ? 2 : 1, timeout);
            if (n < 0 && errno != EINTR) return;
            if (n <= 0) continue;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(wakeRead, drain, sizeof drain) > 0) {
                }
            }
            if (master < 0) continue;
            if (fds[1].revents & POLLIN) {
                const ssize_t got = read(master, buffer.data(), mayRead);
                if (got > 0) {
                    if (options.pace) paceIn.Use(static_cast<size_t>(got));
                    device.OnBytesFromPc(buffer.data(), static_cast<size_t>(got));
                }
            }
            if (fds[1].revents & POLLOUT) {
                size_t count;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    count = std::min(mayWrite, toPc.size());
                    std::copy(toPc.begin(), toPc.begin() + static_cast<std::ptrdiff_t>(count), buffer.begin());
                }
                const ssize_t put = count ? write(master, buffer.data(), count) : 0;
                if (put > 0) {
                    if (options.pace) paceOut.Use(static_cast<size_t>(put));
                    std::lock_guard<std::mutex> guard(lock);
                    const size_t drop = std::min(toPc.size(), static_cast<size_t>(put));
                    toPc.erase(toPc.begin(), toPc.begin() + static_cast<std::ptrdiff_t>(drop));
                }
            }
            if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) {
                // No reader on the other side right now; do not spin.
                poll(fds, 1, 10);
            }
        }
    }

    // Asks the I/O thread to close or reopen and waits until it has.
    bool Ask(Request r) {
        std::unique_lock<std::mutex> guard(lock);
        if (!io.joinable() || stopping) return false;
        request = r;
        const uint64_t seq = ++requested;
        guard.unlock();
        Wake();
        guard.lock();
        changed.wait_for(guard, std::chrono::seconds(5), [&] { return served >= seq || stopping; });
        return served >= seq && lastReopenOk;
    }
};

PtyTransport::PtyTransport(SimDevice& device) : m_impl(new Impl(device)) {}

PtyTransport::~PtyTransport() { Stop(); }

bool PtyTransport::Start(const Options& options, std::string* error) {
    Impl& d = *m_impl;
    if (d.io.joinable()) {
        if (error) *error = "already started";
        return false;
    }
    d.options = options;
    d.linkPath.clear();
    if (!options.portsDir.empty() && !options.portName.empty()) {
        mkdir(options.portsDir.c_str(), 0755);  // may exist
        d.linkPath = options.portsDir + "/" + options.portName;
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        if (error) *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    d.wakeRead = pipeFds[0];
    d.wakeWrite = pipeFds[1];
    fcntl(d.wakeRead, F_SETFL, O_NONBLOCK);
    fcntl(d.wakeWrite, F_SETFL, O_NONBLOCK);
    if (!d.OpenPty(error)) {
        close(d.wakeRead);
        close(d.wakeWrite);
        d.wakeRead = d.wakeWrite = -1;
        return false;
    }
    d.stopping = false;
    Impl* impl = m_impl.get();
    d.device.SetSink([impl](const uint8_t* data, size_t size) { impl->Queue(data, size); });
    FaultPlan& faults = d.device.Faults();
    d.previousAction = faults.GetTransportAction();
    FaultPlan::TransportAction previous = d.previousAction;
    faults.SetTransportAction([impl, previous](FaultKind kind, bool down) {
        if (kind != FaultKind::ClosePort) {
            if (previous) previous(kind, down);
        } else if (down) {
            impl->Ask(Impl::Request::Close);
        } else if (impl->Ask(Impl::Request::Reopen) && impl->options.onReopened) {
            std::string path;
            {
                std::lock_guard<std::mutex> guard(impl->lock);
                path = impl->slavePath;
            }
            impl->options.onReopened(path);
        }
    });
    d.io = std::thread([impl = m_impl.get()] { impl->Run(); });
    return true;
}

void PtyTransport::Stop() {
    Impl& d = *m_impl;
    if (!d.io.joinable()) return;
    d.device.SetSink(nullptr);
    d.device.Faults().SetTransportAction(d.previousAction);
    d.previousAction = nullptr;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.stopping = true;
        d.changed.notify_all();
    }
    d.Wake();
    d.io.join();
    const std::string slave = d.slavePath;
    d.ClosePty();
    if (!d.linkPath.empty()) {
        // Remove the link only while it still names this transport's pty.
        char target[512];
        const ssize_t n = readlink(d.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = 0;
            if (slave == target) unlink(d.linkPath.c_str());
        }
    }
    close(d.wakeRead);
    close(d.wakeWrite);
    d.wakeRead = d.wakeWrite = -1;
}

std::string PtyTransport::SlavePath() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->slavePath;
}

std::string PtyTransport::LinkPath() const { return m_impl->linkPath; }

void PtyTransport::Inject(const uint8_t* data, size_t size) { m_impl->Queue(data, size); }

void PtyTransport::ClosePort() { m_impl->Ask(Impl::Request::Close); }

bool PtyTransport::ReopenPort() { return m_impl->Ask(Impl::Request::Reopen); }

bool PtyTransport::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->open;
}

uint32_t PtyTransport::Generation() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->generation;
}

}  // namespace sim
