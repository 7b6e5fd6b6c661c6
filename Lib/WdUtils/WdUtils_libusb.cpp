// The libusb-1.0 backend (Linux builds with libusb installed).
//
// Threads: an event thread runs libusb's event handling (transfer
// completions, hotplug notices); the hotplug callback only queues the device
// for the dispatcher thread, which reads its descriptors, asks the core
// whether it is wanted, opens it, lets libusb detach a kernel driver from the
// interface, claims the interface and reports the arrival. Bulk transfers are
// asynchronous so that a halt can cancel them; the caller's thread waits for
// the completion. IN transfers are submitted in whole packets: bytes beyond
// the caller's buffer are kept for its next read.
#if defined(VANTRO_HAVE_LIBUSB) && !defined(_WIN32)

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Lib/WdUtils/WdUtils.h"
#include "Lib/WdUtils/WduBackend.h"
#include "Pc/Os/OsClock.h"

namespace wdu {
namespace {

struct Pending {
    std::mutex* lock;
    std::condition_variable* cv;
    bool done = false;
};

void LIBUSB_CALL TransferDone(libusb_transfer* t) {
    Pending* p = static_cast<Pending*>(t->user_data);
    std::lock_guard<std::mutex> lock(*p->lock);
    p->done = true;
    p->cv->notify_all();
}

struct UsbDevice {
    libusb_device* device = nullptr;
    libusb_device_handle* handle = nullptr;
    int interfaceNumber = 0;
    uint16_t inPacketSize = 64;
    bool gone = false;
    int active = 0;                              // transfers in progress
    libusb_transfer* current[2] = {nullptr, nullptr};  // [0] OUT, [1] IN
    bool halted[2] = {false, false};
    std::vector<uint8_t> leftover;               // IN bytes beyond a read
    bool leftoverEnds = false;
};

class LibusbBackend : public Backend {
public:
    ~LibusbBackend() override { Stop(); }

    uint32_t Start(BackendListener* listener) override {
        m_listener = listener;
        if (libusb_init(&m_ctx) != 0) {
            m_ctx = nullptr;
            return WD_SYSTEM_INTERNAL_ERROR;
        }
        m_running = true;
        try {
            m_events = std::thread([this] { EventLoop(); });
            m_dispatcher = std::thread([this] { DispatchLoop(); });
        } catch (...) {
            return WD_INSUFFICIENT_RESOURCES;
        }
        if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
            int r = libusb_hotplug_register_callback(
                m_ctx,
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, &LibusbBackend::Hotplug, this, &m_hotplug);
            if (r == 0) {
                m_hasHotplug = true;
                return WD_STATUS_SUCCESS;
            }
        }
        // No hotplug: the devices present now are all we will see.
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(m_ctx, &list);
        for (ssize_t i = 0; i < n; ++i) Queue(list[i], true);
        if (list) libusb_free_device_list(list, 1);
        return WD_STATUS_SUCCESS;
    }

    void Stop() override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopped || !m_ctx) return;
            m_stopping = true;
            m_cv.notify_all();
        }
        if (m_hasHotplug) {
            libusb_hotplug_deregister_callback(m_ctx, m_hotplug);
            m_hasHotplug = false;
        }
        if (m_dispatcher.joinable()) m_dispatcher.join();
        // Fail every transfer in progress and wait until their callers left.
        {
            std::unique_lock<std::mutex> lock(m_lock);
            for (auto& d : m_devices) {
                d.second.gone = true;
                CancelAll(d.second);
            }
            m_cv.wait_for(lock, std::chrono::seconds(5), [this] {
                for (auto& d : m_devices)
                    if (d.second.active) return false;
                return true;
            });
        }
        m_running = false;
        if (m_events.joinable()) m_events.join();
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& d : m_devices) Close(d.second);
        m_devices.clear();
        for (auto& w : m_work) libusb_unref_device(w.device);
        m_work.clear();
        libusb_exit(m_ctx);
        m_ctx = nullptr;
        m_stopped = true;
    }

    uint32_t Transfer(uint64_t key, uint32_t pipe, bool read, uint8_t* buffer, uint32_t size,
                      uint32_t* transferred, uint32_t timeoutMs) override {
        *transferred = 0;
        std::unique_lock<std::mutex> lock(m_lock);
        UsbDevice* dev = Find(key);
        if (!dev || dev->gone || m_stopping) return WD_DEVICE_NOT_FOUND;
        int slot = read ? 1 : 0;
        dev->halted[slot] = false;

        uint32_t count = 0;
        uint32_t submitSize = size;
        if (read) {
            size_t n = std::min<size_t>(dev->leftover.size(), size);
            if (n) {
                std::memcpy(buffer, dev->leftover.data(), n);
                dev->leftover.erase(dev->leftover.begin(), dev->leftover.begin() + static_cast<long>(n));
                count = static_cast<uint32_t>(n);
                if (dev->leftover.empty() && dev->leftoverEnds) {
                    dev->leftoverEnds = false;
                    *transferred = count;
                    return WD_STATUS_SUCCESS;
                }
                if (count == size) {
                    *transferred = count;
                    return WD_STATUS_SUCCESS;
                }
            }
            uint32_t packet = dev->inPacketSize ? dev->inPacketSize : 64;
            submitSize = (size - count + packet - 1) / packet * packet;
        }
        std::vector<uint8_t> bounce(read ? submitSize : 0);
        libusb_transfer* t = libusb_alloc_transfer(0);
        if (!t) {
            *transferred = count;
            return WD_INSUFFICIENT_RESOURCES;
        }
        Pending pending{&m_lock, &m_cv};
        unsigned int realTimeout = timeoutMs ? std::max<uint32_t>(1, vos::OsRealMs(timeoutMs)) : 0;
        libusb_fill_bulk_transfer(t, dev->handle, static_cast<unsigned char>(pipe),
                                  read ? bounce.data() : buffer, static_cast<int>(submitSize), &TransferDone,
                                  &pending, realTimeout);
        int r = libusb_submit_transfer(t);
        if (r != 0) {
            libusb_free_transfer(t);
            *transferred = count;
            return r == LIBUSB_ERROR_NO_DEVICE ? WD_DEVICE_NOT_FOUND : WD_OPERATION_FAILED;
        }
        dev->active++;
        dev->current[slot] = t;
        m_cv.wait(lock, [&] { return pending.done; });
        dev = Find(key);  // the map does not drop a device with active transfers
        dev->current[slot] = nullptr;
        dev->active--;
        bool halted = dev->halted[slot];
        dev->halted[slot] = false;
        m_cv.notify_all();

        uint32_t got = static_cast<uint32_t>(std::max(0, t->actual_length));
        if (read) {
            uint32_t room = size - count;
            uint32_t n = std::min(got, room);
            if (n) std::memcpy(buffer + count, bounce.data(), n);
            if (got > room) {
                dev->leftover.assign(bounce.begin() + room, bounce.begin() + got);
                // The transfer ended where the device ended it, unless it
                // filled the whole submission.
                dev->leftoverEnds = got < submitSize;
            }
            count += n;
        } else {
            count = got;
        }
        *transferred = count;
        uint32_t status;
        switch (t->status) {
            case LIBUSB_TRANSFER_COMPLETED: status = WD_STATUS_SUCCESS; break;
            case LIBUSB_TRANSFER_TIMED_OUT: status = WD_TIME_OUT_EXPIRED; break;
            case LIBUSB_TRANSFER_CANCELLED: status = halted ? WD_IRP_CANCELED : WD_DEVICE_NOT_FOUND; break;
            case LIBUSB_TRANSFER_STALL: status = WD_USBD_STATUS_STALL_PID; break;
            case LIBUSB_TRANSFER_NO_DEVICE: status = WD_DEVICE_NOT_FOUND; break;
            default: status = WD_OPERATION_FAILED; break;
        }
        libusb_free_transfer(t);
        return status;
    }

    uint32_t Halt(uint64_t key, uint32_t pipe) override {
        std::lock_guard<std::mutex> lock(m_lock);
        UsbDevice* dev = Find(key);
        if (!dev || dev->gone) return WD_DEVICE_NOT_FOUND;
        int slot = (pipe & 0x80) ? 1 : 0;
        if (dev->current[slot]) {
            dev->halted[slot] = true;
            libusb_cancel_transfer(dev->current[slot]);
        }
        return WD_STATUS_SUCCESS;
    }

    void Release(uint64_t key) override {
        std::unique_lock<std::mutex> lock(m_lock);
        UsbDevice* dev = Find(key);
        if (!dev) return;
        dev->gone = true;
        CancelAll(*dev);
        m_cv.wait(lock, [&] { return Find(key)->active == 0; });
        Close(*Find(key));
        m_devices.erase(key);
    }

private:
    struct Work {
        libusb_device* device;
        bool arrived;
    };

    static int LIBUSB_CALL Hotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* self) {
        // No transfer may run here: queue the work for the dispatcher.
        static_cast<LibusbBackend*>(self)->Queue(device, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
        return 0;
    }

    void Queue(libusb_device* device, bool arrived) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping) return;
        m_work.push_back(Work{libusb_ref_device(device), arrived});
        m_cv.notify_all();
    }

    void EventLoop() {
        while (m_running) {
            timeval tv{0, 100000};
            libusb_handle_events_timeout_completed(m_ctx, &tv, nullptr);
        }
    }

    void DispatchLoop() {
        for (;;) {
            Work work;
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_cv.wait(lock, [this] { return m_stopping || !m_work.empty(); });
                if (m_stopping) return;
                work = m_work.front();
                m_work.pop_front();
            }
            if (work.arrived)
                Arrive(work.device);
            else
                Leave(work.device);
            libusb_unref_device(work.device);
        }
    }

    static bool Describe(libusb_device* device, DeviceDescription* d) {
        libusb_device_descriptor dd;
        if (libusb_get_device_descriptor(device, &dd) != 0) return false;
        d->vendorId = dd.idVendor;
        d->productId = dd.idProduct;
        d->bcdUsb = dd.bcdUSB;
        d->bcdDevice = dd.bcdDevice;
        d->deviceClass = dd.bDeviceClass;
        d->deviceSubClass = dd.bDeviceSubClass;
        d->deviceProtocol = dd.bDeviceProtocol;
        d->maxPacketSize0 = dd.bMaxPacketSize0;
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(device, &config) != 0 &&
            libusb_get_config_descriptor(device, 0, &config) != 0)
            return false;
        bool ok = config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0;
        if (ok) {
            const libusb_interface_descriptor& id = config->interface[0].altsetting[0];
            d->configurationValue = config->bConfigurationValue;
            d->interfaceNumber = id.bInterfaceNumber;
            d->alternateSetting = id.bAlternateSetting;
            d->interfaceClass = id.bInterfaceClass;
            d->interfaceSubClass = id.bInterfaceSubClass;
            d->interfaceProtocol = id.bInterfaceProtocol;
            for (int i = 0; i < id.bNumEndpoints; ++i) {
                const libusb_endpoint_descriptor& e = id.endpoint[i];
                d->endpoints.push_back(EndpointDescription{e.bEndpointAddress, e.bmAttributes, e.wMaxPacketSize,
                                                           e.bInterval});
            }
        }
        libusb_free_config_descriptor(config);
        return ok;
    }

    void Arrive(libusb_device* device) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto& d : m_devices)
                if (d.second.device == device && !d.second.gone) return;  // reported twice
        }
        DeviceDescription description;
        if (!Describe(device, &description) || !m_listener->Wants(description)) return;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(device, &handle) != 0) return;  // no access: see the udev rule
        libusb_set_auto_detach_kernel_driver(handle, 1);
        if (libusb_claim_interface(handle, description.interfaceNumber) != 0) {
            libusb_close(handle);
            return;
        }
        uint64_t key;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            key = ++m_nextKey;
            UsbDevice& dev = m_devices[key];
            dev.device = libusb_ref_device(device);
            dev.handle = handle;
            dev.interfaceNumber = description.interfaceNumber;
            for (const EndpointDescription& e : description.endpoints)
                if (e.address & 0x80) dev.inPacketSize = e.maxPacketSize & 0x7FF;
        }
        m_listener->OnArrival(key, description);
    }

    void Leave(libusb_device* device) {
        uint64_t key = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto& d : m_devices)
                if (d.second.device == device && !d.second.gone) {
                    d.second.gone = true;
                    CancelAll(d.second);
                    key = d.first;
                }
        }
        if (key) m_listener->OnDeparture(key);  // a departure without arrival is dropped
    }

    UsbDevice* Find(uint64_t key) {
        auto it = m_devices.find(key);
        return it == m_devices.end() ? nullptr : &it->second;
    }

    static void CancelAll(UsbDevice& dev) {
        for (libusb_transfer* t : dev.current)
            if (t) libusb_cancel_transfer(t);
    }

    static void Close(UsbDevice& dev) {
        if (dev.handle) {
            libusb_release_interface(dev.handle, dev.interfaceNumber);
            libusb_close(dev.handle);
            dev.handle = nullptr;
        }
        if (dev.device) {
            libusb_unref_device(dev.device);
            dev.device = nullptr;
        }
    }

    BackendListener* m_listener = nullptr;
    libusb_context* m_ctx = nullptr;
    libusb_hotplug_callback_handle m_hotplug = 0;
    bool m_hasHotplug = false;
    std::atomic<bool> m_running{false};
    std::thread m_events;
    std::thread m_dispatcher;

    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_stopping = false;
    bool m_stopped = false;
    std::deque<Work> m_work;
    std::map<uint64_t, UsbDevice> m_devices;
    uint64_t m_nextKey = 0;
};

}  // namespace

std::unique_ptr<Backend> CreateLibusbBackend() { return std::make_unique<LibusbBackend>(); }

}  // namespace wdu

#endif
