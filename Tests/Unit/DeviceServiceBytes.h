// Helpers of the device-service tests: literal wire bytes built field by
// field (independently of the record classes), records run through the
// library's writer and reader, and a scripted device that answers each
// request with the next prepared response.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/MsgReader.h"
#include "Pc/MsgCtrl/MsgWriter.h"
#include "Tests/Support/LinkDouble.h"
#include "vantro/vantro_types.h"

namespace svctest {

using vtest::Bytes;

// Where the device-service exports report their failures.
constexpr char kApi[] = "Pc/MsgCtrl/PcMsgCtrlAPI";
// The refusal code the scripted device answers with.
constexpr uint32_t kRefusal = 0x0000E001;

// A UTF-16 literal as the exports take it (VWCHAR is wchar_t on Windows).
inline const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }

// Little-endian fields appended in order.
class Wire {
public:
    Wire& u8(uint8_t v) { return Put(v, 1); }
    Wire& u16(uint16_t v) { return Put(v, 2); }
    Wire& u32(uint32_t v) { return Put(v, 4); }
    Wire& u64(uint64_t v) { return Put(v, 8); }
    Wire& raw(const Bytes& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // A wstring as the record library sends it: u32 byte length (counting
    // the terminator), the UTF-16 units, the terminator.
    Wire& wstr(const std::u16string& text) {
        u32(static_cast<uint32_t>((text.size() + 1) * 2));
        for (char16_t c : text) u16(static_cast<uint16_t>(c));
        return u16(0);
    }
    // A buffer: u32 byte length, the bytes.
    Wire& buf(const Bytes& bytes) {
        u32(static_cast<uint32_t>(bytes.size()));
        return raw(bytes);
    }
    const Bytes& bytes() const { return m_bytes; }
    operator Bytes() const { return m_bytes; }

private:
    Wire& Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes m_bytes;
};

// The response message of an accepted command: code, status 6, fields.
inline Bytes Accepted(uint8_t code, const Bytes& fields) {
    Bytes out{code, 0x06};
    out.insert(out.end(), fields.begin(), fields.end());
    return out;
}

// The response message of a refused command: code, status 21, refusal code.
inline Bytes Refused(uint8_t code, uint32_t refusal) {
    return Wire().u8(code).u8(0x15).u32(refusal);
}

// A request message as the library encodes it: the code and the record.
inline Bytes Encode(uint32_t code, CCmdCore& record, uint32_t* error = nullptr) {
    MsgWriter writer;
    writer.WriteCommand(code, &record);
    if (error) *error = writer.GetLastError();
    if (!writer.GetBuffer()) return Bytes();
    return Bytes(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// Reads a response message into the record; the reader's error, and how many
// bytes were left unread.
inline uint32_t Decode(const Bytes& message, CCmdCore& record, uint32_t* unread = nullptr) {
    MsgReader reader;
    reader.SetBuffer(message.data(), static_cast<uint32_t>(message.size()));
    reader.ReadCommand(&record);
    if (unread) *unread = reader.Remaining();
    return reader.GetLastError();
}

// Reads a record from raw field bytes (no command header); the reader's
// error, and how many bytes were left unread.
inline uint32_t ReadFields(const Bytes& fields, CCmdCore& record, uint32_t* unread = nullptr) {
    CCmdReader reader;
    reader.SetBuffer(fields.data(), static_cast<uint32_t>(fields.size()));
    reader.Read(&record);
    if (unread) *unread = reader.Remaining();
    return reader.GetLastError();
}

// A device behind the link doubles that answers each request with the next
// response of a queue (the last one again when the queue runs dry) and
// records the requests.
class QueueDevice {
public:
    QueueDevice() {
        m_bench.Usb().Device().SetHandler([this](const Bytes& request) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request);
            if (m_responses.empty()) return Bytes();
            Bytes response = m_responses.front();
            if (m_responses.size() > 1) m_responses.pop_front();
            return response;
        });
    }
    void Answer(const Bytes& response) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_responses.push_back(response);
    }
    std::vector<Bytes> Requests() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_requests;
    }
    vtest::LinkBench& Bench() { return m_bench; }

private:
    mutable std::mutex m_lock;
    std::deque<Bytes> m_responses;
    std::vector<Bytes> m_requests;
    vtest::LinkBench m_bench;  // last, so that its link goes first
};

}  // namespace svctest
