// The core of the USB library: driver and device handles, matching, the
// callback thread, and the checks of every call before it reaches a backend.
//
// A driver (WDU_Init) owns one backend and one callback thread. The backend
// reports arrivals and departures from its own threads; they are queued and
// the callback thread runs them in order, so the program's callbacks never
// run on a backend's thread and never two at once. Handles are numbers that
// are never used twice in a process, so a stale handle is recognised instead
// of reaching freed memory.
#include "Lib/WdUtils/WdUtils.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "Lib/WdUtils/WduBackend.h"
#include "Pc/Os/OsThread.h"

namespace wdu {
namespace {

class Driver;

struct Device {
    uintptr_t handle = 0;
    uint64_t key = 0;
    DeviceDescription description;
    std::shared_ptr<Backend> backend;
    std::mutex lock;  // guards the fields below
    bool gone = false;
    bool busyIn = false;
    bool busyOut = false;
};

std::mutex g_registryLock;
std::map<uintptr_t, std::shared_ptr<Driver>> g_drivers;
std::map<uintptr_t, std::shared_ptr<Device>> g_devices;
uintptr_t g_nextHandle = 0x00010000;
BackendFactory g_testFactory;

uintptr_t NewHandle() {
    // Called under g_registryLock.
    return g_nextHandle++;
}

std::shared_ptr<Device> FindDevice(WDU_DEVICE_HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    auto it = g_devices.find(reinterpret_cast<uintptr_t>(handle));
    return it == g_devices.end() ? nullptr : it->second;
}

bool Matches(const WDU_MATCH_TABLE& t, const DeviceDescription& d) {
    return (t.wVendorId == 0 || t.wVendorId == d.vendorId) && (t.wProductId == 0 || t.wProductId == d.productId) &&
           (t.bDeviceClass == 0 || t.bDeviceClass == d.deviceClass) &&
           (t.bDeviceSubClass == 0 || t.bDeviceSubClass == d.deviceSubClass) &&
           (t.bInterfaceClass == 0 || t.bInterfaceClass == d.interfaceClass) &&
           (t.bInterfaceSubClass == 0 || t.bInterfaceSubClass == d.interfaceSubClass) &&
           (t.bInterfaceProtocol == 0 || t.bInterfaceProtocol == d.interfaceProtocol);
}

// The device information handed to the attach callback, with everything it
// points to.
struct DeviceInfo {
    WDU_DEVICE device{};
    WDU_CONFIGURATION config{};
    WDU_INTERFACE iface{};
    WDU_ALTERNATE_SETTING alt{};
    std::vector<WDU_ENDPOINT_DESCRIPTOR> endpoints;
    std::vector<WDU_PIPE_INFO> pipes;

    explicit DeviceInfo(const DeviceDescription& d) {
        WDU_DEVICE_DESCRIPTOR& dd = device.Descriptor;
        dd.bLength = 18;
        dd.bDescriptorType = 1;
        dd.bcdUSB = d.bcdUsb;
        dd.bDeviceClass = d.deviceClass;
        dd.bDeviceSubClass = d.deviceSubClass;
        dd.bDeviceProtocol = d.deviceProtocol;
        dd.bMaxPacketSize0 = d.maxPacketSize0;
        dd.idVendor = d.vendorId;
        dd.idProduct = d.productId;
        dd.bcdDevice = d.bcdDevice;
        dd.bNumConfigurations = 1;
        device.Pipe0 = WDU_PIPE_INFO{0, d.maxPacketSize0, WDU_PIPE_CONTROL, WDU_DIR_IN_OUT, 0};

        for (const EndpointDescription& e : d.endpoints) {
            endpoints.push_back(WDU_ENDPOINT_DESCRIPTOR{7, 5, e.address, e.attributes, e.maxPacketSize, e.interval});
            pipes.push_back(WDU_PIPE_INFO{e.address, e.maxPacketSize, static_cast<DWORD>(e.attributes & 3u),
                                          static_cast<DWORD>((e.address & 0x80) ? WDU_DIR_IN : WDU_DIR_OUT),
                                          e.interval});
        }
        WDU_INTERFACE_DESCRIPTOR& id = alt.Descriptor;
        id.bLength = 9;
        id.bDescriptorType = 4;
        id.bInterfaceNumber = d.interfaceNumber;
        id.bAlternateSetting = d.alternateSetting;
        id.bNumEndpoints = static_cast<UCHAR>(endpoints.size());
        id.bInterfaceClass = d.interfaceClass;
        id.bInterfaceSubClass = d.interfaceSubClass;
        id.bInterfaceProtocol = d.interfaceProtocol;
        alt.pEndpointDescriptors = endpoints.empty() ? nullptr : endpoints.data();
        alt.pPipes = pipes.empty() ? nullptr : pipes.data();
        iface.pAlternateSettings = &alt;
        iface.dwNumAltSettings = 1;
        iface.pActiveAltSetting = &alt;

        WDU_CONFIGURATION_DESCRIPTOR& cd = config.Descriptor;
        cd.bLength = 9;
        cd.bDescriptorType = 2;
        cd.wTotalLength = static_cast<USHORT>(9 + 9 + 7 * endpoints.size());
        cd.bNumInterfaces = 1;
        cd.bConfigurationValue = d.configurationValue;
        cd.bmAttributes = 0x80;
        cd.MaxPower = 50;
        config.dwNumInterfaces = 1;
        config.pInterfaces = &iface;
        device.pConfigs = &config;
        device.pActiveConfig = &config;
        device.pActiveInterface[0] = &iface;
    }
};

class Driver : public BackendListener, public std::enable_shared_from_this<Driver> {
public:
    Driver(std::vector<WDU_MATCH_TABLE> tables, WDU_EVENT_TABLE events, DWORD options)
        : m_tables(std::move(tables)), m_events(events), m_options(options) {}

    uint32_t Start(std::shared_ptr<Backend> backend) {
        m_backend = std::move(backend);
        // The thread keeps the driver alive until it has left its loop. It is
        // a platform-layer thread: its end can be awaited under the Windows
        // loader lock, where process detach of the DLL stops it.
        auto* self = new (std::nothrow) std::shared_ptr<Driver>(shared_from_this());
        if (!self) return WD_INSUFFICIENT_RESOURCES;
        m_thread = vos::ThreadCreate(&Driver::ThreadMain, self);
        if (!m_thread) {
            delete self;
            return WD_INSUFFICIENT_RESOURCES;
        }
        uint32_t status = m_backend->Start(this);
        if (status != WD_STATUS_SUCCESS) Stop();
        return status;
    }

    // Ends the callback thread and frees every device, without callbacks.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopped) return;
            m_stopping = true;
        }
        m_cv.notify_all();
        m_backend->Stop();
        if (m_thread) {
            // Misuse from inside a callback: do not wait for ourselves.
            if (m_threadId != vos::ThreadCurrentId()) vos::ThreadWait(m_thread, vos::kOsInfinite);
            vos::ThreadClose(m_thread);
            m_thread = nullptr;
        }
        std::map<uint64_t, std::shared_ptr<Device>> devices;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            devices.swap(m_accepted);
            m_queue.clear();
            m_stopped = true;
        }
        for (auto& entry : devices) Forget(entry.second);
    }

    // BackendListener
    bool Wants(const DeviceDescription& device) override {
        for (const WDU_MATCH_TABLE& t : m_tables)
            if (Matches(t, device)) return true;
        return false;
    }
    void OnArrival(uint64_t key, const DeviceDescription& device) override { Post(Event{true, key, device}); }
    void OnDeparture(uint64_t key) override { Post(Event{false, key, {}}); }

private:
    struct Event {
        bool arrival;
        uint64_t key;
        DeviceDescription description;
    };

    void Post(Event event) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping) return;
            m_queue.push_back(std::move(event));
        }
        m_cv.notify_all();
    }

    static uint32_t ThreadMain(void* arg) {
        auto* handed = static_cast<std::shared_ptr<Driver>*>(arg);
        std::shared_ptr<Driver> self = std::move(*handed);
        delete handed;
        self->m_threadId = vos::ThreadCurrentId();
        self->Run();
        return 0;
    }

    void Run() {
        for (;;) {
            Event event;
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_cv.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_stopping) return;
                event = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (event.arrival)
                Attach(event.key, event.description);
            else
                Detach(event.key);
        }
    }

    void Attach(uint64_t key, const DeviceDescription& description) {
        if (!m_seen.insert(key).second) return;  // reported twice
        if (!Wants(description)) {
            m_backend->Release(key);
            return;
        }
        auto device = std::make_shared<Device>();
        device->key = key;
        device->description = description;
        device->backend = m_backend;
        {
            std::lock_guard<std::mutex> lock(g_registryLock);
            device->handle = NewHandle();
            g_devices[device->handle] = device;
        }
        BOOL taken = TRUE;
        if (m_events.pfDeviceAttach) {
            DeviceInfo info(description);
            taken = m_events.pfDeviceAttach(reinterpret_cast<WDU_DEVICE_HANDLE>(device->handle), &info.device,
                                            m_events.pUserData);
        }
        bool accepted = !(m_options & WD_ACKNOWLEDGE) || taken;
        if (accepted) {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_stopping) {
                m_accepted[key] = device;
                return;
            }
        }
        Forget(device);
    }

    void Detach(uint64_t key) {
        std::shared_ptr<Device> device;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto it = m_accepted.find(key);
            if (it != m_accepted.end()) device = it->second;
        }
        m_seen.erase(key);
        if (!device) return;  // never accepted, or unknown
        {
            std::lock_guard<std::mutex> lock(device->lock);
            device->gone = true;
        }
        if (m_events.pfDeviceDetach)
            m_events.pfDeviceDetach(reinterpret_cast<WDU_DEVICE_HANDLE>(device->handle), m_events.pUserData);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_accepted.erase(key);
        }
        Forget(device);
    }

    // The handle stops working and the backend lets the device go.
    void Forget(const std::shared_ptr<Device>& device) {
        {
            std::lock_guard<std::mutex> lock(device->lock);
            device->gone = true;
        }
        {
            std::lock_guard<std::mutex> lock(g_registryLock);
            g_devices.erase(device->handle);
        }
        m_backend->Release(device->key);
    }

    const std::vector<WDU_MATCH_TABLE> m_tables;
    const WDU_EVENT_TABLE m_events;
    const DWORD m_options;
    std::shared_ptr<Backend> m_backend;
    vos::OsHandle m_thread = nullptr;
    std::atomic<uint32_t> m_threadId{0};

    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<Event> m_queue;
    bool m_stopping = false;
    bool m_stopped = false;
    std::map<uint64_t, std::shared_ptr<Device>> m_accepted;
    std::set<uint64_t> m_seen;  // callback thread only
};

// The backend by the environment.
uint32_t ChooseBackend(std::unique_ptr<Backend>* out) {
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        if (g_testFactory) {
            *out = g_testFactory();
            return *out ? WD_STATUS_SUCCESS : WD_INSUFFICIENT_RESOURCES;
        }
    }
    const char* bus = std::getenv("VANTRO_USB_BUS");
    if (bus && *bus) {
        uint16_t port = 0;
        if (!ParseBusAddress(bus, &port)) return WD_INVALID_PARAMETER;
        *out = CreateSimBusBackend(port);
    } else {
        *out = CreateLibusbBackend();
        if (!*out) *out = CreateNoDeviceBackend();
    }
    return *out ? WD_STATUS_SUCCESS : WD_INSUFFICIENT_RESOURCES;
}

}  // namespace

bool ParseBusAddress(const std::string& text, uint16_t* port) {
    std::string digits = text;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        std::string host = text.substr(0, colon);
        if (host != "127.0.0.1" && host != "localhost") return false;
        digits = text.substr(colon + 1);
    }
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

void SetBackendFactoryForTests(BackendFactory factory) {
    std::lock_guard<std::mutex> lock(g_registryLock);
    g_testFactory = std::move(factory);
}

}  // namespace wdu

using namespace wdu;

DWORD WDU_CALLCONV WDU_Init(WDU_DRIVER_HANDLE* phDriver, WDU_MATCH_TABLE* pMatchTables, DWORD dwNumMatchTables,
                            WDU_EVENT_TABLE* pEventTable, const char* pcLicense, DWORD dwOptions) {
    (void)pcLicense;
    if (!phDriver || !pMatchTables || dwNumMatchTables == 0 || !pEventTable) return WD_INVALID_PARAMETER;
    std::unique_ptr<Backend> backend;
    uint32_t status = ChooseBackend(&backend);
    if (status != WD_STATUS_SUCCESS) return status;

    std::shared_ptr<Driver> driver;
    try {
        driver = std::make_shared<Driver>(
            std::vector<WDU_MATCH_TABLE>(pMatchTables, pMatchTables + dwNumMatchTables), *pEventTable, dwOptions);
    } catch (...) {
        return WD_INSUFFICIENT_RESOURCES;
    }
    uintptr_t handle;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        handle = NewHandle();
        g_drivers[handle] = driver;
    }
    // The handle is known before the first callback can run.
    *phDriver = reinterpret_cast<WDU_DRIVER_HANDLE>(handle);
    status = driver->Start(std::shared_ptr<Backend>(std::move(backend)));
    if (status != WD_STATUS_SUCCESS) {
        *phDriver = nullptr;
        std::lock_guard<std::mutex> lock(g_registryLock);
        g_drivers.erase(handle);
    }
    return status;
}

void WDU_CALLCONV WDU_Uninit(WDU_DRIVER_HANDLE hDriver) {
    std::shared_ptr<Driver> driver;
    {
        std::lock_guard<std::mutex> lock(g_registryLock);
        auto it = g_drivers.find(reinterpret_cast<uintptr_t>(hDriver));
        if (it == g_drivers.end()) return;
        driver = it->second;
        g_drivers.erase(it);
    }
    driver->Stop();
}

namespace {

// Finds the endpoint of a pipe number; 0 when the device has none.
DWORD CheckPipe(const Device& device, DWORD pipe) {
    if (pipe == 0 || pipe > 0xFF) return WD_INVALID_PIPE_NUMBER;
    for (const EndpointDescription& e : device.description.endpoints)
        if (e.address == pipe) return WD_STATUS_SUCCESS;
    return WD_INVALID_PIPE_NUMBER;
}

}  // namespace

DWORD WDU_CALLCONV WDU_TransferBulk(WDU_DEVICE_HANDLE hDevice, DWORD dwPipeNum, DWORD fRead, DWORD dwOptions,
                                    PVOID pBuffer, DWORD dwBufferSize, PDWORD pdwBytesTransferred,
                                    DWORD dwTimeout) {
    (void)dwOptions;
    if (pdwBytesTransferred) *pdwBytesTransferred = 0;
    std::shared_ptr<Device> device = FindDevice(hDevice);
    if (!device) return WD_DEVICE_NOT_FOUND;
    DWORD status = CheckPipe(*device, dwPipeNum);
    if (status != WD_STATUS_SUCCESS) return status;
    bool read = fRead != FALSE;
    if (read != ((dwPipeNum & 0x80) != 0)) return WD_INVALID_PARAMETER;
    if (!pBuffer && dwBufferSize > 0) return WD_INVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(device->lock);
        if (device->gone) return WD_DEVICE_NOT_FOUND;
        bool& busy = read ? device->busyIn : device->busyOut;
        if (busy) return WD_READ_WRITE_CONFLICT;
        busy = true;
    }
    uint32_t transferred = 0;
    status = device->backend->Transfer(device->key, dwPipeNum, read, static_cast<uint8_t*>(pBuffer), dwBufferSize,
                                       &transferred, dwTimeout);
    {
        std::lock_guard<std::mutex> lock(device->lock);
        (read ? device->busyIn : device->busyOut) = false;
        if (device->gone && status == WD_STATUS_SUCCESS && transferred == 0) status = WD_DEVICE_NOT_FOUND;
    }
    if (pdwBytesTransferred) *pdwBytesTransferred = transferred;
    return status;
}

DWORD WDU_CALLCONV WDU_HaltTransfer(WDU_DEVICE_HANDLE hDevice, DWORD dwPipeNum) {
    std::shared_ptr<Device> device = FindDevice(hDevice);
    if (!device) return WD_DEVICE_NOT_FOUND;
    DWORD status = CheckPipe(*device, dwPipeNum);
    if (status != WD_STATUS_SUCCESS) return status;
    {
        std::lock_guard<std::mutex> lock(device->lock);
        if (device->gone) return WD_DEVICE_NOT_FOUND;
    }
    return device->backend->Halt(device->key, dwPipeNum);
}
