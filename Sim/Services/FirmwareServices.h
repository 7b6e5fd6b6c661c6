// The simulated device's firmware reception (commands 16 to 20): one received
// file at a time, announced with a name and a size, filled chunk by chunk,
// described with its received size and 8-bit checksum, written below the
// device's root folder under its name, and released.
//
// Results: 0 is success; the failures carry the codes below.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Sim/Core/Services.h"

namespace sim {

constexpr uint32_t kVupNoFile = 0xE101;         // nothing announced (or already released)
constexpr uint32_t kVupBadName = 0xE102;        // empty name, or one that leaves the root
constexpr uint32_t kVupOverflow = 0xE103;       // more data than the announced size
constexpr uint32_t kVupIncomplete = 0xE104;     // write asked before all data arrived
constexpr uint32_t kVupStoreFailed = 0xE105;    // the image could not be stored
constexpr uint32_t kVupChunkLost = 0xE106;      // an injected chunk failure
constexpr uint32_t kVupBadLength = 0xE107;      // Length field and data disagree
constexpr uint32_t kVupTooLarge = 0xE108;       // announced size beyond the device's room

// Info2 of GetFileInfo: where the received file stands.
constexpr uint8_t kVupStateNone = 0;
constexpr uint8_t kVupStateReceiving = 1;
constexpr uint8_t kVupStateComplete = 2;
constexpr uint8_t kVupStateWritten = 3;

class FirmwareFamily {
public:
    explicit FirmwareFamily(DeviceState& device);
    ~FirmwareFamily();
    FirmwareFamily(const FirmwareFamily&) = delete;
    FirmwareFamily& operator=(const FirmwareFamily&) = delete;

    // Faults, each counting down by one per command it hits:
    // the next N TransmitData commands keep only the first half of their
    // chunk and answer kVupChunkLost (the PC must resume from ReceivedSize);
    std::atomic<uint32_t> failTransmits{0};
    // the next N GetFileInfo commands report a checksum one higher than the
    // data's.
    std::atomic<uint32_t> corruptChecksum{0};

    // Replaces the handler of one firmware command until cleared (null
    // clears).
    void Script(uint32_t code, Handler handler);

    // Commands of this family received, per code.
    uint32_t CommandCount(uint32_t code) const;

    // The received file as it stands.
    struct Snapshot {
        bool active = false;
        std::u16string name;
        uint32_t announcedSize = 0;
        std::vector<uint8_t> data;
        uint8_t state = kVupStateNone;
        std::string storedPath;  // host path of the last image written
        uint32_t lastParam1 = 0;
        uint32_t lastParam2 = 0;
    };
    Snapshot Current() const;

private:
    friend struct FirmwareServiceAccess;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
