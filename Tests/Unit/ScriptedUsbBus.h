// A scripted far end of the simulated USB bus for the USB library's and the
// USB link's tests: the test decides every message the "device" sends, and
// sees every message the hosts send. It encodes the bus messages with its own
// code (not the library's nor the simulator's), so a mistake in either shows.
//
//   vtest::ScriptedUsbBus bus;                       // listens on a free port
//   bus.SetPresent(1, 0x1D50, 13);                   // announced on connect
//   ... WDU_Init with the bus's port ...
//   bus.SendIn(1, {0x02, 0x03}, true);               // one IN packet, ends the transfer
//   auto out = bus.Next(kOutData, 1000);             // what the host wrote
//
// OUT transfers are answered with OUT_DONE (all bytes taken) unless
// SetAnswerOut(false).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Pc/Os/OsSocket.h"
#include "Pc/Os/OsTypes.h"

namespace vtest {

class ScriptedUsbBus {
public:
    using Bytes = std::vector<uint8_t>;

    // Message types of the bus.
    static constexpr uint8_t kHello = 0x00, kAttach = 0x01, kDetach = 0x02, kInData = 0x03, kOutDone = 0x04,
                             kOutData = 0x10, kInRequest = 0x11, kHalt = 0x12;

    struct Message {
        uint8_t type = 0;
        uint8_t endpoint = 0;
        uint8_t flags = 0;
        uint32_t device = 0;
        Bytes payload;
        size_t host = 0;  // index of the connection, in the order of connecting
    };

    ScriptedUsbBus() {
        m_listener = vos::SocketListen(0, &m_port);
        if (m_listener != vos::kInvalidSocket) m_acceptor = std::thread([this] { AcceptLoop(); });
    }

    ~ScriptedUsbBus() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
            for (auto& h : m_hosts) vos::SocketShutdown(h->socket);
            vos::SocketShutdown(m_listener);
        }
        m_cv.notify_all();
        // Wakes the acceptor where shutting the listener down does not.
        vos::SocketClose(vos::SocketConnect(m_port, 1000));
        if (m_acceptor.joinable()) m_acceptor.join();
        for (auto& h : m_hosts) {
            if (h->reader.joinable()) h->reader.join();
            vos::SocketClose(h->socket);
        }
        vos::SocketClose(m_listener);
    }

    uint16_t Port() const { return m_port; }

    // The device every new connection is told about (device 0: none).
    void SetPresent(uint32_t device, uint16_t vendor, uint16_t product) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_present = device;
        m_vendor = vendor;
        m_product = product;
    }
    void SetAnswerOut(bool answer) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_answerOut = answer;
    }

    // Waits (real time) until at least n hosts are connected.
    bool WaitHosts(size_t n, uint32_t ms = 5000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_hosts.size() >= n; });
    }
    size_t Hosts() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_hosts.size();
    }

    // To every connected host (host = -1) or one.
    void Attach(uint32_t device, uint16_t vendor, uint16_t product, int host = -1) {
        SendTo(host, AttachMessage(device, vendor, product));
    }
    void Detach(uint32_t device, int host = -1) { SendTo(host, Encode(kDetach, 0, 0, device, {})); }
    // One IN packet on endpoint 0x82.
    void SendIn(uint32_t device, const Bytes& data, bool endsTransfer, int host = -1) {
        SendTo(host, Encode(kInData, 0x82, endsTransfer ? 1 : 0, device, data));
    }
    // A device transfer as a full-speed device sends it: 64-byte packets,
    // the last one short (or a zero-length packet after a multiple of 64).
    void SendTransfer(uint32_t device, const Bytes& data, int host = -1) {
        size_t off = 0;
        for (;;) {
            size_t n = std::min<size_t>(64, data.size() - off);
            SendIn(device, Bytes(data.begin() + off, data.begin() + off + n), n < 64, host);
            off += n;
            if (n < 64) break;
        }
    }

    // The next message of this type from any host, in arrival order (real
    // time limit); false when none came.
    bool Next(uint8_t type, Message* out, uint32_t ms = 5000) {
        std::unique_lock<std::mutex> lock(m_lock);
        bool found = m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (auto& m : m_messages)
                if (m.type == type) return true;
            return false;
        });
        if (!found) return false;
        for (auto it = m_messages.begin(); it != m_messages.end(); ++it)
            if (it->type == type) {
                if (out) *out = *it;
                m_messages.erase(it);
                return true;
            }
        return false;
    }
    // The bytes of the next OUT transfer.
    Bytes NextOut(uint32_t ms = 5000) {
        Message m;
        if (!Next(kOutData, &m, ms) || m.payload.size() < 4) return {};
        return Bytes(m.payload.begin() + 4, m.payload.end());
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.clear();
    }

    static uint32_t U32(const Bytes& b, size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
    }

private:
    struct Host {
        vos::OsSocket socket = vos::kInvalidSocket;
        std::thread reader;
        std::mutex sendLock;
    };

    static Bytes Encode(uint8_t type, uint8_t endpoint, uint8_t flags, uint32_t device, const Bytes& payload) {
        Bytes m = {type, endpoint, flags, 0};
        for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(device >> (8 * i)));
        uint32_t n = static_cast<uint32_t>(payload.size());
        for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(n >> (8 * i)));
        m.insert(m.end(), payload.begin(), payload.end());
        return m;
    }

    static Bytes AttachMessage(uint32_t device, uint16_t vendor, uint16_t product) {
        Bytes p = {static_cast<uint8_t>(vendor), static_cast<uint8_t>(vendor >> 8), static_cast<uint8_t>(product),
                   static_cast<uint8_t>(product >> 8), 0x00, 0x01,  // bcdDevice 1.00
                   0, 0, 0,                                          // device class, subclass, protocol
                   0, 0,                                             // interface 0, alternate setting 0
                   0xFF, 0, 0,                                       // vendor-specific interface
                   2, 0x01, 0x02, 64, 0, 0x82, 0x02, 64, 0};         // bulk OUT 1, bulk IN 0x82
        return Encode(kAttach, 0, 0, device, p);
    }

    void SendTo(int host, const Bytes& message) {
        std::vector<std::shared_ptr<Host>> targets;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (size_t i = 0; i < m_hosts.size(); ++i)
                if (host < 0 || static_cast<size_t>(host) == i) targets.push_back(m_hosts[i]);
        }
        for (auto& h : targets) {
            std::lock_guard<std::mutex> lock(h->sendLock);
            vos::SocketSendAll(h->socket, message.data(), message.size());
        }
    }

    void AcceptLoop() {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_stop) return;
            }
            vos::OsSocket s = vos::SocketAccept(m_listener, 500);
            if (s == vos::kInvalidSocket) continue;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_stop) {
                    vos::SocketClose(s);
                    return;
                }
            }
            auto host = std::make_shared<Host>();
            host->socket = s;
            Bytes hello = Encode(kHello, 0, 0, 0, {'V', 'U', 'S', 'B', 1, 0, 0, 0});
            vos::SocketSendAll(s, hello.data(), hello.size());
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_present) {
                Bytes attach = AttachMessage(m_present, m_vendor, m_product);
                vos::SocketSendAll(s, attach.data(), attach.size());
            }
            size_t index = m_hosts.size();
            m_hosts.push_back(host);
            host->reader = std::thread([this, host, index] { ReadLoop(host, index); });
            m_cv.notify_all();
        }
    }

    void ReadLoop(std::shared_ptr<Host> host, size_t index) {
        for (;;) {
            uint8_t header[12];
            if (!vos::SocketRecvAll(host->socket, header, sizeof header, vos::kOsInfinite)) return;
            Message m;
            m.type = header[0];
            m.endpoint = header[1];
            m.flags = header[2];
            m.device = header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<uint32_t>(header[7]) << 24);
            uint32_t n = header[8] | (header[9] << 8) | (header[10] << 16) | (static_cast<uint32_t>(header[11]) << 24);
            m.payload.resize(n);
            if (n && !vos::SocketRecvAll(host->socket, m.payload.data(), n, vos::kOsInfinite)) return;
            m.host = index;
            bool answer;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                answer = m_answerOut;
                m_messages.push_back(m);
            }
            m_cv.notify_all();
            if (m.type == kOutData && answer && m.payload.size() >= 4) {
                Bytes done(m.payload.begin(), m.payload.begin() + 4);
                uint32_t count = n - 4;
                for (int i = 0; i < 4; ++i) done.push_back(0);
                for (int i = 0; i < 4; ++i) done.push_back(static_cast<uint8_t>(count >> (8 * i)));
                Bytes msg = Encode(kOutDone, 0x01, 0, m.device, done);
                std::lock_guard<std::mutex> lock(host->sendLock);
                vos::SocketSendAll(host->socket, msg.data(), msg.size());
            }
        }
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_stop = false;
    vos::OsSocket m_listener = vos::kInvalidSocket;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::vector<std::shared_ptr<Host>> m_hosts;
    std::deque<Message> m_messages;
    uint32_t m_present = 0;
    uint16_t m_vendor = 0;
    uint16_t m_product = 0;
    bool m_answerOut = true;
};

}  // namespace vtest
