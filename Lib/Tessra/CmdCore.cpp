#include "Tessra/CmdCore.h"

#include <cstring>
#include <new>

#include "Tessra/CmdIo.h"

// ---- CCmdCore -------------------------------------------------------------

CCmdCore::CCmdCore(uint16_t kind, uint16_t flags) : m_wKind(kind), m_wFlags(flags) {}
CCmdCore::~CCmdCore() = default;
void CCmdCore::Read(CCmdReader& reader) { ReadBasePart(reader); }
void CCmdCore::Write(CCmdWriter& writer) { WriteBasePart(writer); }
void CCmdCore::WriteBasePart(CCmdWriter&) {}
void CCmdCore::ReadBasePart(CCmdReader&) {}

// ---- CCmdBase -------------------------------------------------------------

CCmdBase::CCmdBase(uint32_t value) : CCmdCore(0, 0), m_dwValue(value) {}
CCmdBase::~CCmdBase() = default;

void CCmdBase::Read(CCmdReader& reader) {
    // The plain base record takes the optional u32 that may follow.
    if (reader.GetLastError() == 0 && reader.Remaining() >= 4) Xfer(reader, m_dwValue);
}

void CCmdBase::Write(CCmdWriter&) {}
void CCmdBase::Clear() {}

// ---- shared member wire form -----------------------------------------------

namespace {

void WriteBytes(CCmdWriter& writer, const std::vector<uint8_t>& bytes) {
    uint32_t length = static_cast<uint32_t>(bytes.size());
    Xfer(writer, length);
    if (length != 0) writer.Write(bytes.data(), static_cast<int32_t>(length));
}

void ReadBytes(CCmdReader& reader, std::vector<uint8_t>& bytes) {
    bytes.clear();
    uint32_t length = 0;
    Xfer(reader, length);
    if (reader.GetLastError() != 0 || length == 0) return;
    // Never allocate more than what actually arrived.
    if (length > reader.Remaining() || length > 0x7FFFFFFFu) {
        reader.SetLastError(kTessraShortRead);
        return;
    }
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc&) {
        reader.SetLastError(kTessraOutOfMemory);
        return;
    }
    if (reader.Read(bytes.data(), static_cast<int32_t>(length)) != 0) bytes.clear();
}

}  // namespace

// ---- CCmdString -------------------------------------------------------------

CCmdString::CCmdString() = default;
CCmdString::CCmdString(const CCmdString& other) : m_bytes(other.m_bytes) {}
CCmdString::~CCmdString() = default;
void CCmdString::Read(CCmdReader& reader) { ReadBytes(reader, m_bytes); }
void CCmdString::Write(CCmdWriter& writer) { WriteBytes(writer, m_bytes); }
void CCmdString::RemoveAll() {
    m_bytes.clear();
    m_text.clear();
}

CCmdString& CCmdString::operator=(const VWCHAR* text) {
    m_bytes.clear();
    if (!text) return *this;
    size_t units = 0;
    while (text[units] != 0) ++units;
    ++units;  // the terminator is part of the string
    try {
        m_bytes.resize(units * 2);
    } catch (const std::bad_alloc&) {
        m_bytes.clear();
        return *this;
    }
    for (size_t i = 0; i < units; ++i) {
        uint16_t u = static_cast<uint16_t>(text[i]);
        m_bytes[2 * i] = static_cast<uint8_t>(u & 0xFF);
        m_bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    return *this;
}

CCmdString& CCmdString::operator=(const CCmdString& other) {
    if (this != &other) m_bytes = other.m_bytes;
    return *this;
}

bool CCmdString::SetBytes(const void* data, uint32_t length) {
    m_bytes.clear();
    if (!data || length == 0) return true;
    try {
        m_bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const VWCHAR* CCmdString::GetData() const {
    if (m_bytes.empty()) return nullptr;
    size_t units = m_bytes.size() / 2;
    m_text.assign(units + 1, 0);
    for (size_t i = 0; i < units; ++i)
        m_text[i] = static_cast<VWCHAR>(m_bytes[2 * i] | (m_bytes[2 * i + 1] << 8));
    return m_text.data();
}

// ---- CCmdBuffer --------------------------------------------------------------

CCmdBuffer::CCmdBuffer() = default;
CCmdBuffer::CCmdBuffer(const CCmdBuffer& other) : m_bytes(other.m_bytes) {}
CCmdBuffer::~CCmdBuffer() = default;
void CCmdBuffer::Read(CCmdReader& reader) { ReadBytes(reader, m_bytes); }
void CCmdBuffer::Write(CCmdWriter& writer) { WriteBytes(writer, m_bytes); }
void CCmdBuffer::RemoveAll() { m_bytes.clear(); }

uint32_t CCmdBuffer::SetAt(const uint8_t* data, uint32_t length) {
    m_bytes.clear();
    if (!data || length == 0) return 0;
    try {
        m_bytes.assign(data, data + length);
    } catch (const std::bad_alloc&) {
        m_bytes.clear();
        return kTessraOutOfMemory;
    }
    return 0;
}

CCmdBuffer& CCmdBuffer::operator=(const CCmdBuffer& other) {
    if (this != &other) m_bytes = other.m_bytes;
    return *this;
}

// ---- CCmdWriter --------------------------------------------------------------

CCmdWriter::CCmdWriter() : m_dwLastError(0), m_pPosition(nullptr), m_pStart(nullptr), m_dwCapacity(0) {}
CCmdWriter::~CCmdWriter() = default;

void CCmdWriter::Write(CCmdCore* record) {
    if (!record) {
        m_dwLastError = kTessraInvalidParameter;
        return;
    }
    record->Write(*this);
}

// ---- CCmdReader --------------------------------------------------------------

CCmdReader::CCmdReader() : m_dwLastError(0), m_pPosition(nullptr), m_pStart(nullptr), m_dwLength(0) {}
CCmdReader::~CCmdReader() = default;

void CCmdReader::SetBuffer(const uint8_t* data, uint32_t length) {
    m_pStart = data;
    m_pPosition = data;
    m_dwLength = data ? length : 0;
    m_dwLastError = 0;
}

uint32_t CCmdReader::Remaining() const {
    if (!m_pStart) return 0;
    return m_dwLength - static_cast<uint32_t>(m_pPosition - m_pStart);
}

uint32_t CCmdReader::Read(void* data, int32_t size) {
    if (m_dwLastError != 0) return m_dwLastError;
    if (!data || size < 0) {
        m_dwLastError = kTessraInvalidParameter;
        return m_dwLastError;
    }
    if (static_cast<uint32_t>(size) > Remaining()) {
        m_dwLastError = kTessraShortRead;
        return m_dwLastError;
    }
    if (size > 0) std::memcpy(data, m_pPosition, static_cast<size_t>(size));
    m_pPosition += size;
    return 0;
}

void CCmdReader::Read(CCmdCore* record) {
    if (!record) {
        m_dwLastError = kTessraInvalidParameter;
        return;
    }
    if (m_dwLastError != 0) return;
    record->Read(*this);
}
