// The simulated USB bus backend: one TCP connection to the bus server on the
// loopback address (protocol in SimBusProtocol.h). A reader thread connects
// (and connects again a quarter second after a failure or a lost
// connection), turns ATTACH and DETACH into arrivals and departures, and
// files IN packets and OUT completions for the transfers waiting on them.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Lib/WdUtils/SimBusProtocol.h"
#include "Lib/WdUtils/WdUtils.h"
#include "Lib/WdUtils/WduBackend.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsSocket.h"
#include "Pc/Os/OsThread.h"

namespace wdu {
namespace {

using namespace simbus;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kReconnectMs = 250;  // library clock
constexpr uint32_t kConnectMs = 1000;

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Packet {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    bool ends = false;
};

struct SimDevice {
    uint32_t busId = 0;
    bool gone = false;
    std::deque<Packet> inbox;
    bool readHalted = false;
    bool writeHalted = false;
    uint32_t writeTag = 0;
    bool writeDone = false;
    uint32_t writeResult = 0;
    uint32_t writeCount = 0;
    uint32_t inWanted = 0;  // bytes a reader waits for (0: no reader waits)
};

class SimBusBackend : public Backend {
public:
    explicit SimBusBackend(uint16_t port) : m_port(port) {}
    ~SimBusBackend() override { Stop(); }

    uint32_t Start(BackendListener* listener) override {
        m_listener = listener;
        // A platform-layer thread: its end can be awaited under the Windows
        // loader lock, where process detach of the DLL stops it.
        m_thread = vos::ThreadCreate(&SimBusBackend::ThreadMain, this);
        return m_thread ? WD_STATUS_SUCCESS : WD_INSUFFICIENT_RESOURCES;
    }

    void Stop() override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stop && !m_thread) return;
            m_stop = true;
            if (m_socket != vos::kInvalidSocket) vos::SocketShutdown(m_socket);
        }
        m_cv.notify_all();
        NotifyTransfers();
        if (m_thread) {
            vos::ThreadWait(m_thread, vos::kOsInfinite);
            vos::ThreadClose(m_thread);
            m_thread = nullptr;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& d : m_devices) d.second.gone = true;
    }

    uint32_t Transfer(uint64_t key, uint32_t pipe, bool read, uint8_t* buffer, uint32_t size,
                      uint32_t* transferred, uint32_t timeoutMs) override {
        (void)pipe;  // one OUT and one IN endpoint: the direction says which
        *transferred = 0;
        bool limited = timeoutMs != 0;
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(vos::OsRealMs(limited ? timeoutMs : 0));
        std::unique_lock<std::mutex> lock(m_lock);
        SimDevice* dev = Find(key);
        if (!dev || dev->gone || m_stop) return WD_DEVICE_NOT_FOUND;
        uint32_t busId = dev->busId;
        return read ? Read(lock, key, busId, buffer, size, transferred, limited, deadline)
                    : Write(lock, key, busId, buffer, size, transferred, limited, deadline);
    }

    uint32_t Halt(uint64_t key, uint32_t pipe) override {
        uint32_t busId;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            SimDevice* dev = Find(key);
            if (!dev || dev->gone) return WD_DEVICE_NOT_FOUND;
            (pipe & 0x80 ? dev->readHalted : dev->writeHalted) = true;
            busId = dev->busId;
        }
        NotifyTransfers();
        Send(kHalt, static_cast<uint8_t>(pipe), busId, nullptr, 0);
        return WD_STATUS_SUCCESS;
    }

    void Release(uint64_t key) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_devices.erase(key);
    }

private:
    SimDevice* Find(uint64_t key) {
        auto it = m_devices.find(key);
        return it == m_devices.end() ? nullptr : &it->second;
    }
    SimDevice* FindBus(uint32_t busId, uint64_t* key) {
        for (auto& d : m_devices)
            if (d.second.busId == busId && !d.second.gone) {
                if (key) *key = d.first;
                return &d.second;
            }
        return nullptr;
    }

    // Moves inbox packets into the buffer; true when the transfer ended on a
    // short packet.
    static bool Take(SimDevice& dev, uint8_t* buffer, uint32_t size, uint32_t* count) {
        while (*count < size && !dev.inbox.empty()) {
            Packet& p = dev.inbox.front();
            size_t n = std::min<size_t>(p.bytes.size() - p.offset, size - *count);
            if (n) std::memcpy(buffer + *count, p.bytes.data() + p.offset, n);
            p.offset += n;
            *count += static_cast<uint32_t>(n);
            if (p.offset == p.bytes.size()) {
                bool ends = p.ends;
                dev.inbox.pop_front();
                if (ends) return true;
            }
        }
        return false;
    }

    uint32_t Read(std::unique_lock<std::mutex>& lock, uint64_t key, uint32_t busId, uint8_t* buffer, uint32_t size,
                  uint32_t* count, bool limited, Clock::time_point deadline) {
        SimDevice* dev = Find(key);
        dev->readHalted = false;
        if (Take(*dev, buffer, size, count) || *count == size) return WD_STATUS_SUCCESS;
        uint8_t want[4];
        Put32(want, size - *count);
        lock.unlock();
        bool sent = Send(kInRequest, 0x82, busId, want, 4);
        lock.lock();
        for (;;) {
            dev = Find(key);
            if (!dev || dev->gone || m_stop || !sent) return WD_DEVICE_NOT_FOUND;
            if (Take(*dev, buffer, size, count) || *count == size) return WD_STATUS_SUCCESS;
            if (dev->readHalted) {
                dev->readHalted = false;
                return WD_IRP_CANCELED;
            }
            if (limited && Clock::now() >= deadline) {
                lock.unlock();
                Send(kHalt, 0x82, busId, nullptr, 0);
                lock.lock();
                return WD_TIME_OUT_EXPIRED;
            }
            // The reader thread wakes this thread only when the bytes it
            // waits for, or the end of the transfer, have come.
            dev->inWanted = size - *count;
            if (limited)
                m_cvIn.wait_until(lock, deadline);
            else
                m_cvIn.wait(lock);
            dev = Find(key);
            if (dev) dev->inWanted = 0;
        }
    }

    uint32_t Write(std::unique_lock<std::mutex>& lock, uint64_t key, uint32_t busId, const uint8_t* buffer,
                   uint32_t size, uint32_t* count, bool limited, Clock::time_point deadline) {
        if (size > kMaxPayload - 4) return WD_INVALID_PARAMETER;
        SimDevice* dev = Find(key);
        uint32_t tag = ++m_nextTag;
        dev->writeHalted = false;
        dev->writeDone = false;
        dev->writeTag = tag;
        std::vector<uint8_t> payload(4 + size);
        Put32(payload.data(), tag);
        if (size) std::memcpy(payload.data() + 4, buffer, size);
        lock.unlock();
        bool sent = Send(kOutData, 0x01, busId, payload.data(), static_cast<uint32_t>(payload.size()));
        lock.lock();
        for (;;) {
            dev = Find(key);
            if (!dev || dev->gone || m_stop || !sent) return WD_DEVICE_NOT_FOUND;
            if (dev->writeDone) {
                if (dev->writeResult == kOutNoDevice) return WD_DEVICE_NOT_FOUND;
                if (dev->writeResult == kOutStalled) return WD_USBD_STATUS_STALL_PID;
                *count = std::min(dev->writeCount, size);
                return WD_STATUS_SUCCESS;
            }
            if (dev->writeHalted) {
                dev->writeHalted = false;
                return WD_IRP_CANCELED;
            }
            if (limited && Clock::now() >= deadline) {
                lock.unlock();
                Send(kHalt, 0x01, busId, nullptr, 0);
                lock.lock();
                return WD_TIME_OUT_EXPIRED;
            }
            if (limited)
                m_cvOut.wait_until(lock, deadline);
            else
                m_cvOut.wait(lock);
        }
    }

    // Wakes every transfer: the device or the connection changed.
    void NotifyTransfers() {
        m_cvIn.notify_all();
        m_cvOut.notify_all();
    }

    bool Send(uint8_t type, uint8_t endpoint, uint32_t busId, const uint8_t* payload, uint32_t size) {
        std::vector<uint8_t> msg(kHeaderSize + size);
        msg[0] = type;
        msg[1] = endpoint;
        Put32(&msg[4], busId);
        Put32(&msg[8], size);
        if (size) std::memcpy(&msg[kHeaderSize], payload, size);
        std::lock_guard<std::mutex> sendLock(m_sendLock);
        vos::OsSocket s;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            s = m_socket;
        }
        return s != vos::kInvalidSocket && vos::SocketSendAll(s, msg.data(), msg.size());
    }

    bool Stopping() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stop;
    }

    // Reads exactly size bytes through the reader thread's buffer, which
    // takes whatever the socket holds in one receive (often several
    // messages). It waits without a time limit: Stop shuts the socket down,
    // which ends the wait, so an idle connection costs no wake-ups.
    bool ReadExact(vos::OsSocket s, uint8_t* out, size_t size) {
        while (size > 0) {
            if (m_readAt == m_readEnd) {
                m_readAt = m_readEnd = 0;
                int n = vos::SocketRecv(s, m_readBuffer, sizeof m_readBuffer, vos::kOsInfinite);
                if (n == vos::kSocketTimeout) {
                    if (Stopping()) return false;
                    continue;
                }
                if (n <= 0) return false;
                m_readEnd = static_cast<size_t>(n);
            }
            const size_t take = std::min(size, m_readEnd - m_readAt);
            std::memcpy(out, m_readBuffer + m_readAt, take);
            m_readAt += take;
            out += take;
            size -= take;
        }
        return true;
    }

    static uint32_t ThreadMain(void* arg) {
        static_cast<SimBusBackend*>(arg)->Run();
        return 0;
    }

    void Run() {
        while (!Stopping()) {
            vos::OsSocket s = vos::SocketConnect(m_port, kConnectMs);
            if (s == vos::kInvalidSocket) {
                std::unique_lock<std::mutex> lock(m_lock);
                m_cv.wait_for(lock, std::chrono::milliseconds(vos::OsRealMs(kReconnectMs)), [this] { return m_stop; });
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_stop) {
                    vos::SocketClose(s);
                    break;
                }
                m_socket = s;
            }
            Serve(s);
            // The connection is gone: so is every device on it.
            DepartAll();
            {
                std::lock_guard<std::mutex> sendLock(m_sendLock);
                std::lock_guard<std::mutex> lock(m_lock);
                m_socket = vos::kInvalidSocket;
            }
            vos::SocketClose(s);
            if (!Stopping()) {
                std::unique_lock<std::mutex> lock(m_lock);
                m_cv.wait_for(lock, std::chrono::milliseconds(vos::OsRealMs(kReconnectMs)), [this] { return m_stop; });
            }
        }
    }

    void Serve(vos::OsSocket s) {
        bool greeted = false;
        m_readAt = m_readEnd = 0;  // a new connection
        for (;;) {
            uint8_t header[kHeaderSize];
            if (!ReadExact(s, header, sizeof header)) return;
            uint32_t busId = Get32(&header[4]);
            uint32_t length = Get32(&header[8]);
            if (length > kMaxPayload) return;
            std::vector<uint8_t> payload(length);
            if (length && !ReadExact(s, payload.data(), length)) return;
            if (!greeted) {
                // Anything but our server's greeting: not a bus to talk to.
                if (header[0] != kHello || length < 8 || std::memcmp(payload.data(), "VUSB", 4) != 0 ||
                    Get32(&payload[4]) != kVersion)
                    return;
                greeted = true;
                continue;
            }
            switch (header[0]) {
                case kAttach: OnAttach(busId, payload); break;
                case kDetach: OnDetach(busId); break;
                case kInData: OnInData(busId, header[2], payload); break;
                case kOutDone: OnOutDone(busId, payload); break;
                default: break;  // unknown messages are skipped
            }
        }
    }

    void OnAttach(uint32_t busId, const std::vector<uint8_t>& p) {
        if (p.size() < 15) return;
        DeviceDescription d;
        d.vendorId = Get16(&p[0]);
        d.productId = Get16(&p[2]);
        d.bcdDevice = Get16(&p[4]);
        d.deviceClass = p[6];
        d.deviceSubClass = p[7];
        d.deviceProtocol = p[8];
        d.interfaceNumber = p[9];
        d.alternateSetting = p[10];
        d.interfaceClass = p[11];
        d.interfaceSubClass = p[12];
        d.interfaceProtocol = p[13];
        size_t count = p[14];
        if (p.size() < 15 + 4 * count) return;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* e = &p[15 + 4 * i];
            d.endpoints.push_back(EndpointDescription{e[0], e[1], Get16(&e[2]), 0});
        }
        if (!m_listener->Wants(d)) return;
        uint64_t key;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (FindBus(busId, nullptr)) return;  // already known
            key = ++m_nextKey;
            m_devices[key].busId = busId;
        }
        m_listener->OnArrival(key, d);
    }

    void OnDetach(uint32_t busId) {
        uint64_t key = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            SimDevice* dev = FindBus(busId, &key);
            if (!dev) return;
            dev->gone = true;
            dev->inbox.clear();
        }
        NotifyTransfers();
        m_listener->OnDeparture(key);
    }

    void DepartAll() {
        std::vector<uint64_t> keys;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto& d : m_devices)
                if (!d.second.gone) {
                    d.second.gone = true;
                    keys.push_back(d.first);
                }
        }
        NotifyTransfers();
        for (uint64_t key : keys) m_listener->OnDeparture(key);
    }

    void OnInData(uint32_t busId, uint8_t flags, std::vector<uint8_t>& p) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            SimDevice* dev = FindBus(busId, nullptr);
            if (!dev) return;
            Packet packet;
            packet.bytes.swap(p);
            packet.ends = (flags & kFlagEndsTransfer) != 0;
            const bool ends = packet.ends;
            dev->inbox.push_back(std::move(packet));
            if (dev->inWanted == 0) return;  // no reader waits
            size_t have = 0;
            for (const Packet& q : dev->inbox) have += q.bytes.size() - q.offset;
            if (!ends && have < dev->inWanted) return;  // more packets of this transfer come
        }
        m_cvIn.notify_all();
    }

    void OnOutDone(uint32_t busId, const std::vector<uint8_t>& p) {
        if (p.size() < 12) return;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            SimDevice* dev = FindBus(busId, nullptr);
            if (!dev || dev->writeTag != Get32(&p[0])) return;  // a write that was given up
            dev->writeDone = true;
            dev->writeResult = Get32(&p[4]);
            dev->writeCount = Get32(&p[8]);
        }
        m_cvOut.notify_all();
    }

    const uint16_t m_port;
    BackendListener* m_listener = nullptr;
    vos::OsHandle m_thread = nullptr;
    std::mutex m_sendLock;  // taken before m_lock
    std::mutex m_lock;
    std::condition_variable m_cv;     // the reader thread's reconnection pauses
    std::condition_variable m_cvIn;   // IN transfers
    std::condition_variable m_cvOut;  // OUT transfers
    // The reader thread's receive buffer.
    uint8_t m_readBuffer[16384];
    size_t m_readAt = 0;
    size_t m_readEnd = 0;
    bool m_stop = false;
    vos::OsSocket m_socket = vos::kInvalidSocket;
    std::map<uint64_t, SimDevice> m_devices;
    uint64_t m_nextKey = 0;
    uint32_t m_nextTag = 0;
};

class NoDeviceBackend : public Backend {
public:
    uint32_t Start(BackendListener*) override { return WD_STATUS_SUCCESS; }
    void Stop() override {}
    uint32_t Transfer(uint64_t, uint32_t, bool, uint8_t*, uint32_t, uint32_t* transferred, uint32_t) override {
        *transferred = 0;
        return WD_DEVICE_NOT_FOUND;
    }
    uint32_t Halt(uint64_t, uint32_t) override { return WD_DEVICE_NOT_FOUND; }
    void Release(uint64_t) override {}
};

}  // namespace

std::unique_ptr<Backend> CreateSimBusBackend(uint16_t port) { return std::make_unique<SimBusBackend>(port); }
std::unique_ptr<Backend> CreateNoDeviceBackend() { return std::make_unique<NoDeviceBackend>(); }

#if defined(_WIN32) || !defined(VANTRO_HAVE_LIBUSB)
std::unique_ptr<Backend> CreateLibusbBackend() { return nullptr; }
#endif

}  // namespace wdu
