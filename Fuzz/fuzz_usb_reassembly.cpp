// Fuzzes the USB link's receive side: the real CUsbIf receive thread putting
// frames together from bulk IN transfers of any split, with read time-outs
// and errors in between, and handing them to the message layer.
//
// The USB library's backend is replaced (wdu::SetBackendFactoryForTests) by
// one that reports a device at once and answers each IN transfer with the next
// piece of the input. Each input gets a new message layer and a new link, so
// that every run starts with an empty receive buffer.
//
// Input: a sequence of pieces: a flags byte (bits 0-1: 0 success, 1 the
// read's time-out, 2 a failed transfer, 3 success with no data), a u16 size
// (mod 700), then that many bytes.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "Lib/WdUtils/WdUtils.h"
#include "Lib/WdUtils/WduBackend.h"
#include "Pc/FrameCtrl/UsbIf.h"
#include "Pc/Message/Message.h"
#include "Pc/Os/OsEvent.h"
#include "Pc/Os/OsSettings.h"

namespace {

struct Piece {
    uint32_t status;
    std::vector<uint8_t> bytes;
};

// The pieces of the current input, shared with the backend.
struct Script {
    std::mutex lock;
    std::condition_variable cv;
    std::deque<Piece> pieces;
    bool drained = false;  // a read found no piece left
    bool halted = false;   // the link halted its read (it is closing)
};

Script g_script;

class ScriptBackend : public wdu::Backend {
public:
    uint32_t Start(wdu::BackendListener* listener) override {
        wdu::DeviceDescription d;
        d.vendorId = kUsbDefaultVendorId;
        d.productId = kUsbDefaultProductId;
        d.endpoints = {{0x01, 2, 64, 0}, {0x82, 2, 64, 0}};
        if (listener->Wants(d)) listener->OnArrival(1, d);
        return WD_STATUS_SUCCESS;
    }
    void Stop() override { Halt(1, 0x82); }
    uint32_t Transfer(uint64_t, uint32_t pipe, bool read, uint8_t* buffer, uint32_t size, uint32_t* transferred,
                      uint32_t) override {
        *transferred = 0;
        if (!read) {
            *transferred = size;  // the device takes every frame the PC writes
            return WD_STATUS_SUCCESS;
        }
        (void)pipe;
        std::unique_lock<std::mutex> guard(g_script.lock);
        if (g_script.pieces.empty()) {
            g_script.drained = true;
            g_script.cv.notify_all();
            g_script.cv.wait(guard, [] { return g_script.halted || !g_script.pieces.empty(); });
            if (g_script.halted) {
                g_script.halted = false;
                return WD_IRP_CANCELED;
            }
        }
        Piece& p = g_script.pieces.front();
        const uint32_t n = static_cast<uint32_t>(p.bytes.size() < size ? p.bytes.size() : size);
        if (n) std::memcpy(buffer, p.bytes.data(), n);
        *transferred = n;
        const uint32_t status = p.status;
        p.bytes.erase(p.bytes.begin(), p.bytes.begin() + n);
        if (p.bytes.empty()) g_script.pieces.pop_front();
        return status;
    }
    uint32_t Halt(uint64_t, uint32_t pipe) override {
        if (pipe & 0x80) {
            std::lock_guard<std::mutex> guard(g_script.lock);
            g_script.halted = true;
            g_script.cv.notify_all();
        }
        return WD_STATUS_SUCCESS;
    }
    void Release(uint64_t) override {}
};

// The link with its receive side switched on, as Send does.
class FuzzUsbIf : public CUsbIf {
public:
    explicit FuzzUsbIf(CMessage* message) : CUsbIf(message) {}
    void EnableReceive() { vos::EventSet(m_hEventRecvEnable); }
};

bool Setup() {
    vos::SetSettingsPathOverride("/nonexistent/vantro-fuzz.SETTING");  // default vendor and product
    wdu::SetBackendFactoryForTests([] { return std::unique_ptr<wdu::Backend>(new ScriptBackend()); });
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = Setup();
    (void)ready;

    std::deque<Piece> pieces;
    size_t pos = 0;
    while (pos + 3 <= size) {
        static const uint32_t kStatus[4] = {WD_STATUS_SUCCESS, WD_TIME_OUT_EXPIRED, WD_SYSTEM_INTERNAL_ERROR,
                                            WD_STATUS_SUCCESS};
        const uint8_t flags = data[pos];
        size_t n = (data[pos + 1] | (data[pos + 2] << 8)) % 700;
        pos += 3;
        if ((flags & 3) == 3) n = 0;
        if (n > size - pos) n = size - pos;
        Piece p{kStatus[flags & 3], std::vector<uint8_t>(data + pos, data + pos + n)};
        pos += n;
        if (p.bytes.empty() && p.status == WD_STATUS_SUCCESS && (flags & 3) != 3) continue;
        pieces.push_back(std::move(p));
    }
    {
        std::lock_guard<std::mutex> guard(g_script.lock);
        g_script.pieces = std::move(pieces);
        g_script.drained = false;
        g_script.halted = false;
    }

    CMessage message;
    {
        FuzzUsbIf link(&message);
        message.SetLink(&link);
        // Until every piece has been read (the receive thread may be told to
        // stop reading by the message layer: switch it on again).
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::unique_lock<std::mutex> guard(g_script.lock);
        while (!g_script.drained && std::chrono::steady_clock::now() < end) {
            guard.unlock();
            link.EnableReceive();
            guard.lock();
            g_script.cv.wait_for(guard, std::chrono::milliseconds(5), [] { return g_script.drained; });
        }
        guard.unlock();
        message.SetLink(nullptr);
    }  // Close halts the read and stops the threads
    return 0;
}
