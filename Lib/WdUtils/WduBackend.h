// The inside of the USB library: one interface for the places devices come
// from (the simulated USB bus, libusb-1.0, none). The library's core
// (WdUtils.cpp) keeps the handles, matches devices against the tables and runs
// the callbacks on its own thread; a backend only finds devices, reports their
// arrival and departure, and moves bulk data.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wdu {

// What a backend knows of a device: its descriptor fields, the interface
// the library uses (the first interface of the active configuration) and its
// endpoints.
struct EndpointDescription {
    uint8_t address = 0;        // 0x01 OUT, 0x82 IN, ...
    uint8_t attributes = 2;     // transfer type in bits 0-1 (2 = bulk)
    uint16_t maxPacketSize = 64;
    uint8_t interval = 0;
};

struct DeviceDescription {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdUsb = 0x0200;
    uint16_t bcdDevice = 0x0100;
    uint8_t deviceClass = 0;
    uint8_t deviceSubClass = 0;
    uint8_t deviceProtocol = 0;
    uint8_t maxPacketSize0 = 64;
    uint8_t configurationValue = 1;
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint8_t interfaceClass = 0xFF;
    uint8_t interfaceSubClass = 0;
    uint8_t interfaceProtocol = 0;
    std::vector<EndpointDescription> endpoints;
};

// Told by a backend, from any of its threads. A backend never calls it
// after Stop() returned.
class BackendListener {
public:
    virtual ~BackendListener() = default;
    // Whether the library wants the device (a backend asks before claiming
    // it, so that devices nobody registered for are left alone).
    virtual bool Wants(const DeviceDescription& device) = 0;
    // key names the device in later calls; a key is never used twice by one
    // backend. A second arrival of a known key is ignored by the core.
    virtual void OnArrival(uint64_t key, const DeviceDescription& device) = 0;
    // The device left; its transfers have been failed. A departure of an
    // unknown key is ignored.
    virtual void OnDeparture(uint64_t key) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    // Starts finding devices (devices already present arrive too, on any
    // thread, possibly before Start returns). A status code of WdUtils.h.
    virtual uint32_t Start(BackendListener* listener) = 0;
    // Stops: no listener call after it returns; transfers in progress fail
    // with WD_DEVICE_NOT_FOUND.
    virtual void Stop() = 0;
    // One bulk transfer (the core has checked the pipe and the direction).
    // timeoutMs is on the library clock, 0 = no limit.
    virtual uint32_t Transfer(uint64_t key, uint32_t pipe, bool read, uint8_t* buffer, uint32_t size,
                              uint32_t* transferred, uint32_t timeoutMs) = 0;
    // Cancels the transfer in progress on the pipe (it returns
    // WD_IRP_CANCELED); nothing pending is fine.
    virtual uint32_t Halt(uint64_t key, uint32_t pipe) = 0;
    // The core no longer uses the device (not accepted, detached, or the
    // driver is closing).
    virtual void Release(uint64_t key) = 0;
};

// The backends.
std::unique_ptr<Backend> CreateSimBusBackend(uint16_t port);
std::unique_ptr<Backend> CreateLibusbBackend();  // null when not built with libusb
std::unique_ptr<Backend> CreateNoDeviceBackend();

// Parses VANTRO_USB_BUS ("PORT", "127.0.0.1:PORT" or "localhost:PORT");
// false when it is malformed.
bool ParseBusAddress(const std::string& text, uint16_t* port);

// Test hook: WDU_Init takes its backend from this factory while it is set
// (null restores the choice by the environment).
using BackendFactory = std::function<std::unique_ptr<Backend>()>;
void SetBackendFactoryForTests(BackendFactory factory);

// Test hook: OsEventCreate and OsMutexCreate ask it first (with their own
// name); a nonzero status makes the call fail with it. Null removes it.
using OsCreateFailure = std::function<uint32_t(const char* function)>;
void SetOsCreateFailureForTests(OsCreateFailure hook);

}  // namespace wdu
