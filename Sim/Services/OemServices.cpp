// The device's own pass-thru extensions (codes 80 to 83 and 86): its version
// texts and its event log.
//
// The event log keeps the last kOemLogCapacity events of the pass-thru
// channels (the device's power-up, connects, disconnects, messages sent and
// received) and a read position. An entry is seven u32 and the event's data:
//     Value1 sequence number (from 1), Value2 device time in ms,
//     Value3 event kind (kOemEvent*), Value4 channel, Value5 protocol,
//     Value6 data length, and a seventh u32 that is always 0.
// Only log 0 exists; any other LogArg is answered with ERR_NOT_SUPPORTED and
// empty values.
//   ReadLog      the entry at the read position, which then advances; at the
//                end ERR_BUFFER_EMPTY with an empty entry
//   ClearLog     empties the log and the overflow mark
//   GetLogStatus entry count, read position, capacity; ERR_BUFFER_OVERFLOW
//                (with the values) once events were dropped since the last
//                clear
//   SeekLog      SeekArg1 is the origin (0 start, 1 read position, 2 end),
//                SeekArg2 a signed offset; a position outside the log gives
//                ERR_EXCEEDED_LIMIT and leaves it unchanged
// A hostile device answers with texts of 300 units and entry data of 10000
// bytes.
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Sim/Core/Services.h"

namespace sim {

// Event kinds of the log (also used by the pass-thru services).
constexpr uint32_t kOemEventPowerUp = 1;
[[maybe_unused]] constexpr uint32_t kOemEventConnect = 2;
[[maybe_unused]] constexpr uint32_t kOemEventDisconnect = 3;
[[maybe_unused]] constexpr uint32_t kOemEventSent = 4;
[[maybe_unused]] constexpr uint32_t kOemEventReceived = 5;

void OemLogAppend(DeviceState& device, uint32_t kind, uint32_t channel, uint32_t protocol,
                  const std::vector<uint8_t>& data);
void RegisterOemServices(ServiceTable& table);

namespace {

constexpr uint32_t kCodeReadLog = 80;
constexpr uint32_t kCodeClearLog = 81;
constexpr uint32_t kCodeGetLogStatus = 82;
constexpr uint32_t kCodeSeekLog = 83;
constexpr uint32_t kCodeReadVersion = 86;

constexpr uint32_t kStatusNoError = 0x00;
constexpr uint32_t kErrNotSupported = 0x01;
constexpr uint32_t kErrExceededLimit = 0x0C;
constexpr uint32_t kErrBufferEmpty = 0x10;
constexpr uint32_t kErrBufferOverflow = 0x12;

constexpr size_t kOemLogCapacity = 64;
constexpr size_t kMaxEventData = 4096;

const char16_t kVersionText1[] = u"VANTRO VCI 1.4.2";
const char16_t kVersionText2[] = u"PASSTHRU 02.02";
const char16_t kVersionText3[] = u"EVENTLOG 1.0";

struct OemEntry {
    uint32_t values[7] = {};
    std::vector<uint8_t> data;
};

class OemLogFamily {
public:
    explicit OemLogFamily(DeviceState&) : m_start(std::chrono::steady_clock::now()) {
        Append(kOemEventPowerUp, 0, 0, {});
    }

    void Append(uint32_t kind, uint32_t channel, uint32_t protocol, const std::vector<uint8_t>& data) {
        std::lock_guard<std::mutex> lock(m_lock);
        OemEntry entry;
        entry.values[0] = ++m_sequence;
        entry.values[1] = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now() - m_start)
                                                    .count());
        entry.values[2] = kind;
        entry.values[3] = channel;
        entry.values[4] = protocol;
        entry.data.assign(data.begin(), data.begin() + std::min(data.size(), kMaxEventData));
        entry.values[5] = static_cast<uint32_t>(entry.data.size());
        m_entries.push_back(std::move(entry));
        if (m_entries.size() > kOemLogCapacity) {
            m_entries.pop_front();
            m_overflow = true;
            if (m_position > 0) --m_position;
        }
    }

    // The entry at the read position; false at the end.
    bool Read(OemEntry* out) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_position >= m_entries.size()) return false;
        *out = m_entries[m_position++];
        return true;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_entries.clear();
        m_position = 0;
        m_overflow = false;
    }

    uint32_t Status(uint32_t values[3]) {
        std::lock_guard<std::mutex> lock(m_lock);
        values[0] = static_cast<uint32_t>(m_entries.size());
        values[1] = static_cast<uint32_t>(m_position);
        values[2] = static_cast<uint32_t>(kOemLogCapacity);
        return m_overflow ? kErrBufferOverflow : kStatusNoError;
    }

    uint32_t Seek(uint32_t origin, int32_t offset) {
        std::lock_guard<std::mutex> lock(m_lock);
        int64_t base;
        switch (origin) {
            case 0: base = 0; break;
            case 1: base = static_cast<int64_t>(m_position); break;
            case 2: base = static_cast<int64_t>(m_entries.size()); break;
            default: return kErrNotSupported;
        }
        const int64_t target = base + offset;
        if (target < 0 || target > static_cast<int64_t>(m_entries.size())) return kErrExceededLimit;
        m_position = static_cast<size_t>(target);
        return kStatusNoError;
    }

private:
    std::mutex m_lock;
    std::chrono::steady_clock::time_point m_start;
    std::deque<OemEntry> m_entries;
    size_t m_position = 0;
    uint32_t m_sequence = 0;
    bool m_overflow = false;
};

std::u16string LongText(size_t units) {
    std::u16string text(units, u'L');
    for (size_t i = 0; i < units; i += 10) text[i] = u'|';
    return text;
}

void ReadVersion(CommandContext& ctx) {
    if (ctx.Hostile()) {
        ctx.response.u32(kStatusNoError).wstr(LongText(300)).wstr(LongText(300)).wstr(LongText(300));
        return;
    }
    ctx.response.u32(kStatusNoError).wstr(kVersionText1).wstr(kVersionText2).wstr(kVersionText3);
}

void ReadLog(CommandContext& ctx) {
    const uint32_t log = ctx.request.u32();
    if (!ctx.request.ok()) return;
    OemEntry entry;
    uint32_t result = kStatusNoError;
    if (log != 0) {
        result = kErrNotSupported;
    } else if (!ctx.Family<OemLogFamily>().Read(&entry)) {
        result = kErrBufferEmpty;
    }
    if (ctx.Hostile()) {
        entry.data.assign(10000, 0xD7);
        entry.values[5] = 10000;
    }
    ctx.response.u32(result);
    for (uint32_t v : entry.values) ctx.response.u32(v);
    ctx.response.buf(entry.data);
}

void ClearLog(CommandContext& ctx) {
    const uint32_t log = ctx.request.u32();
    if (!ctx.request.ok()) return;
    if (log != 0) {
        ctx.response.u32(kErrNotSupported);
        return;
    }
    ctx.Family<OemLogFamily>().Clear();
    ctx.response.u32(kStatusNoError);
}

void GetLogStatus(CommandContext& ctx) {
    const uint32_t log = ctx.request.u32();
    if (!ctx.request.ok()) return;
    uint32_t values[3] = {};
    const uint32_t result = log != 0 ? kErrNotSupported : ctx.Family<OemLogFamily>().Status(values);
    ctx.response.u32(result).u32(values[0]).u32(values[1]).u32(values[2]);
}

void SeekLog(CommandContext& ctx) {
    const uint32_t log = ctx.request.u32();
    const uint32_t origin = ctx.request.u32();
    const int32_t offset = ctx.request.i32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(log != 0 ? kErrNotSupported : ctx.Family<OemLogFamily>().Seek(origin, offset));
}

}  // namespace

void OemLogAppend(DeviceState& device, uint32_t kind, uint32_t channel, uint32_t protocol,
                  const std::vector<uint8_t>& data) {
    device.Family<OemLogFamily>().Append(kind, channel, protocol, data);
}

void RegisterOemServices(ServiceTable& table) {
    table.Register(kCodeReadLog, ReadLog);
    table.Register(kCodeClearLog, ClearLog);
    table.Register(kCodeGetLogStatus, GetLogStatus);
    table.Register(kCodeSeekLog, SeekLog);
    table.Register(kCodeReadVersion, ReadVersion);
}

}  // namespace sim
