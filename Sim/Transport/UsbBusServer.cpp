// The simulated USB bus server. It plays the device's side of the bus: it
// announces the device to every connected host, hands the PC's bulk OUT
// transfers to the SimDevice, and turns what the device sends into bulk IN
// packets of at most 64 bytes, served only against a host's read request.
//
// Messages: a 12-byte header (u8 type, u8 endpoint, u8 flags, u8 0,
// u32 device, u32 payload length; little-endian) and the payload.
//   to the host:  HELLO 0x00 ("VUSB", u32 1), ATTACH 0x01 (descriptors),
//                 DETACH 0x02, IN_DATA 0x03 (flags bit 0: ends the transfer),
//                 OUT_DONE 0x04 (u32 tag, u32 result, u32 count)
//   from a host:  OUT_DATA 0x10 (u32 tag, bytes), IN_REQUEST 0x11 (u32 size),
//                 HALT 0x12
// "device" numbers the plug-in; it changes at every Plug().
//
// Packets: every block the device hands to its sink is one device transfer,
// cut into 64-byte packets; its last packet is short, or a zero-length packet
// follows when the block is a multiple of 64. While no host asks for data the
// packets wait (the device NAKs); with several hosts, the packets go to the
// host whose request came first.
#include "Sim/Transport/UsbBusServer.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "Sim/Core/FaultPlan.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServerNet.h"

namespace sim {
namespace {

constexpr uint32_t kHeader = 12;
constexpr uint32_t kMaxPayload = 1u << 20;
constexpr size_t kPacket = 64;
constexpr uint32_t kPollMs = 50;  // how often blocked reads look at the stop flag

enum : uint8_t {
    kHello = 0x00,
    kAttach = 0x01,
    kDetach = 0x02,
    kInData = 0x03,
    kOutDone = 0x04,
    kOutData = 0x10,
    kInRequest = 0x11,
    kHalt = 0x12,
};
constexpr uint8_t kEndsTransfer = 0x01;
constexpr uint8_t kEndpointOut = 0x01;
constexpr uint8_t kEndpointIn = 0x82;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

std::vector<uint8_t> Message(uint8_t type, uint8_t endpoint, uint8_t flags, uint32_t device, const uint8_t* payload,
                             size_t size) {
    std::vector<uint8_t> out;
    out.reserve(kHeader + size);
    out.push_back(type);
    out.push_back(endpoint);
    out.push_back(flags);
    out.push_back(0);
    Put32(out, device);
    Put32(out, static_cast<uint32_t>(size));
    if (size) out.insert(out.end(), payload, payload + size);
    return out;
}

struct Packet {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    bool ends = false;
};

struct Host {
    net::Socket socket = net::kNoSocket;
    std::thread reader;
    std::mutex sendLock;
    bool alive = true;      // under the server lock
    bool done = false;      // its reader has finished (under the server lock)
    uint32_t pending = 0;   // bytes of its IN request still open

    bool Send(const std::vector<uint8_t>& message) {
        std::lock_guard<std::mutex> lock(sendLock);
        return net::SendAll(socket, message.data(), message.size());
    }
};

}  // namespace

struct UsbBusServer::Impl {
    SimDevice& device;
    const uint16_t vendorId;
    const uint16_t productId;

    std::mutex lock;
    net::Socket listener = net::kNoSocket;
    uint16_t port = 0;
    bool running = false;
    bool stopping = false;
    std::thread acceptor;
    std::list<std::shared_ptr<Host>> hosts;
    std::deque<std::shared_ptr<Host>> requests;  // hosts with an open IN request, oldest first
    std::deque<Packet> packets;                  // device to PC, waiting for a request
    bool plugged = true;
    uint32_t deviceNumber = 1;
    FaultPlan::TransportAction previousAction;

    Impl(SimDevice& d, uint16_t v, uint16_t p) : device(d), vendorId(v), productId(p) {}

    std::vector<uint8_t> AttachMessage() const {
        std::vector<uint8_t> p;
        Put16(p, vendorId);
        Put16(p, productId);
        Put16(p, 0x0100);  // bcdDevice
        p.insert(p.end(), {0, 0, 0});        // device class, subclass, protocol
        p.insert(p.end(), {0, 0});           // interface number, alternate setting
        p.insert(p.end(), {0xFF, 0, 0});     // vendor-specific interface
        p.push_back(2);                      // endpoints
        p.insert(p.end(), {kEndpointOut, 0x02});
        Put16(p, kPacket);
        p.insert(p.end(), {kEndpointIn, 0x02});
        Put16(p, kPacket);
        return Message(kAttach, 0, 0, deviceNumber, p.data(), p.size());
    }

    // The device's bytes: one device transfer.
    void FromDevice(const uint8_t* data, size_t size) {
        std::lock_guard<std::mutex> guard(lock);
        if (!plugged || size == 0) return;
        for (size_t off = 0; off < size; off += kPacket) {
            size_t n = std::min(kPacket, size - off);
            Packet p;
            p.bytes.assign(data + off, data + off + n);
            p.ends = n < kPacket;
            packets.push_back(std::move(p));
        }
        if (size % kPacket == 0) {
            Packet zlp;
            zlp.ends = true;
            packets.push_back(std::move(zlp));
        }
        Pump();
    }

    // Serves waiting packets to the open requests. Under the lock.
    void Pump() {
        while (!packets.empty() && !requests.empty()) {
            std::shared_ptr<Host> host = requests.front();
            if (!host->alive || host->pending == 0) {
                requests.pop_front();
                continue;
            }
            Packet& p = packets.front();
            size_t n = std::min<size_t>(p.bytes.size() - p.offset, host->pending);
            bool whole = p.offset + n == p.bytes.size();
            bool ends = whole && p.ends;
            std::vector<uint8_t> msg = Message(kInData, kEndpointIn, ends ? kEndsTransfer : 0, deviceNumber,
                                               p.bytes.data() + p.offset, n);
            p.offset += n;
            if (whole) packets.pop_front();
            host->pending -= static_cast<uint32_t>(n);
            if (ends || host->pending == 0) {
                host->pending = 0;
                requests.pop_front();
            }
            if (!host->Send(msg)) host->alive = false;
        }
    }

    void DropRequest(const std::shared_ptr<Host>& host) {
        host->pending = 0;
        requests.erase(std::remove(requests.begin(), requests.end(), host), requests.end());
    }

    bool Stopping() {
        std::lock_guard<std::mutex> guard(lock);
        return stopping;
    }

    bool ReadExact(const std::shared_ptr<Host>& host, uint8_t* out, size_t size) {
        while (size > 0) {
            int n = net::Recv(host->socket, out, size, kPollMs);
            if (n == net::kTimedOut) {
                if (Stopping()) return false;
                continue;
            }
            if (n <= 0) return false;
            out += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    void Serve(std::shared_ptr<Host> host) {
        for (;;) {
            uint8_t header[kHeader];
            if (!ReadExact(host, header, kHeader)) break;
            uint32_t number = Get32(&header[4]);
            uint32_t length = Get32(&header[8]);
            if (length > kMaxPayload) break;
            std::vector<uint8_t> payload(length);
            if (length && !ReadExact(host, payload.data(), length)) break;

            if (header[0] == kOutData && length >= 4) {
                bool present;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    present = plugged && number == deviceNumber;
                }
                uint32_t count = present ? length - 4 : 0;
                if (count) device.OnBytesFromPc(payload.data() + 4, count);
                std::vector<uint8_t> done;
                done.insert(done.end(), payload.begin(), payload.begin() + 4);  // the tag
                Put32(done, present ? 0u : 1u);
                Put32(done, count);
                if (!host->Send(Message(kOutDone, kEndpointOut, 0, number, done.data(), done.size()))) break;
            } else if (header[0] == kInRequest && length >= 4) {
                std::lock_guard<std::mutex> guard(lock);
                if (!plugged || number != deviceNumber) continue;
                DropRequest(host);
                host->pending = Get32(payload.data());
                if (host->pending) requests.push_back(host);
                Pump();
            } else if (header[0] == kHalt) {
                std::lock_guard<std::mutex> guard(lock);
                if (header[1] & 0x80) DropRequest(host);
            }
        }
        std::lock_guard<std::mutex> guard(lock);
        host->alive = false;
        DropRequest(host);
        host->done = true;
    }

    void Accept() {
        for (;;) {
            net::Socket s;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (stopping) return;
                s = listener;
            }
            net::Socket client = net::Accept(s, kPollMs);
            if (client == net::kNoSocket) continue;
            auto host = std::make_shared<Host>();
            host->socket = client;
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) {
                net::Close(client);
                return;
            }
            ReapFinished();
            static const uint8_t hello[8] = {'V', 'U', 'S', 'B', 1, 0, 0, 0};
            host->Send(Message(kHello, 0, 0, 0, hello, sizeof hello));
            if (plugged) host->Send(AttachMessage());
            host->reader = std::thread([this, host] { Serve(host); });
            hosts.push_back(host);
        }
    }

    void Unplug() {
        std::lock_guard<std::mutex> guard(lock);
        if (!plugged) return;
        plugged = false;
        packets.clear();
        for (auto& h : hosts) h->pending = 0;
        requests.clear();
        std::vector<uint8_t> msg = Message(kDetach, 0, 0, deviceNumber, nullptr, 0);
        for (auto& h : hosts)
            if (h->alive && !h->Send(msg)) h->alive = false;
    }

    void Plug() {
        std::lock_guard<std::mutex> guard(lock);
        if (plugged) return;
        ++deviceNumber;
        plugged = true;
        std::vector<uint8_t> msg = AttachMessage();
        for (auto& h : hosts)
            if (h->alive && !h->Send(msg)) h->alive = false;
    }

    // Forgets hosts whose reader has ended, and makes the readers of hosts
    // found dead end. Under the lock: a reader sets `done` as the last thing
    // it does under the lock, so joining it here waits for nothing.
    void ReapFinished() {
        for (auto it = hosts.begin(); it != hosts.end();) {
            std::shared_ptr<Host> h = *it;
            if (h->done) {
                if (h->reader.joinable()) h->reader.join();
                net::Close(h->socket);
                it = hosts.erase(it);
                continue;
            }
            if (!h->alive) net::Shutdown(h->socket);
            ++it;
        }
    }
};

UsbBusServer::UsbBusServer(SimDevice& device, uint16_t vendorId, uint16_t productId)
    : m_impl(new Impl(device, vendorId, productId)) {}

UsbBusServer::~UsbBusServer() { Stop(); }

bool UsbBusServer::Start(uint16_t port) {
    Impl& im = *m_impl;
    {
        std::lock_guard<std::mutex> guard(im.lock);
        if (im.running) return false;
        uint16_t bound = 0;
        im.listener = net::Listen(port, &bound);
        if (im.listener == net::kNoSocket) return false;
        im.port = bound;
        im.running = true;
        im.stopping = false;
    }
    // Outside the server's lock: the device calls the sink holding its own
    // lock, and the sink takes the server's.
    Impl* p = m_impl.get();
    im.device.SetSink([p](const uint8_t* data, size_t size) { p->FromDevice(data, size); });
    // The device's "detach" fault unplugs and plugs the device on this bus;
    // other transport faults go to whoever handled them before.
    FaultPlan& faults = im.device.Faults();
    FaultPlan::TransportAction previous = faults.GetTransportAction();
    faults.SetTransportAction([p, previous](FaultKind kind, bool down) {
        if (kind == FaultKind::DetachUsb) {
            if (down)
                p->Unplug();
            else
                p->Plug();
        } else if (previous) {
            previous(kind, down);
        }
    });
    std::lock_guard<std::mutex> guard(im.lock);
    im.previousAction = previous;
    im.acceptor = std::thread([p] { p->Accept(); });
    return true;
}

uint16_t UsbBusServer::Port() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->port;
}

void UsbBusServer::Unplug() { m_impl->Unplug(); }

void UsbBusServer::Plug() { m_impl->Plug(); }

void UsbBusServer::Stop() {
    Impl& im = *m_impl;
    std::list<std::shared_ptr<Host>> hosts;
    {
        std::lock_guard<std::mutex> guard(im.lock);
        if (!im.running) return;
        im.stopping = true;
        hosts.swap(im.hosts);
        im.requests.clear();
        for (auto& h : hosts) net::Shutdown(h->socket);
        net::Shutdown(im.listener);  // wakes the acceptor where the system allows
    }
    if (im.acceptor.joinable()) im.acceptor.join();
    for (auto& h : hosts) {
        if (h->reader.joinable()) h->reader.join();
        net::Close(h->socket);
    }
    im.device.SetSink([](const uint8_t*, size_t) {});
    im.device.Faults().SetTransportAction(im.previousAction);
    std::lock_guard<std::mutex> guard(im.lock);
    net::Close(im.listener);
    im.listener = net::kNoSocket;
    im.packets.clear();
    im.running = false;
}

}  // namespace sim
