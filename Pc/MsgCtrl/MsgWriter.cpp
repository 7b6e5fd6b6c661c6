#include "Pc/MsgCtrl/MsgWriter.h"

#include <cstring>

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Pc/Os/OsMemory.h"

namespace {
const char kSource[] = "Pc/MsgCtrl/MsgWriter";
}

uint32_t EncodeCommandCode(uint32_t code, uint8_t out[4]) {
    uint32_t n = 0;
    out[n++] = static_cast<uint8_t>(code & 0xFF);
    if ((out[0] & 0x7F) != 0x7F) return n;
    out[n++] = static_cast<uint8_t>((code >> 8) & 0xFF);
    if (out[1] != 0xFF) return n;
    out[n++] = static_cast<uint8_t>((code >> 16) & 0xFF);
    if (out[2] != 0xFF) return n;
    out[n++] = static_cast<uint8_t>((code >> 24) & 0xFF);
    return n;
}

MsgWriter::MsgWriter() = default;

MsgWriter::~MsgWriter() {
    vos::MemFree(m_pStart);
    m_pStart = m_pPosition = nullptr;
}

uint32_t MsgWriter::Write(const void* data, int32_t size) {
    if (!data || size < 1) {
        m_dwLastError = QXR_ERROR_INVALID_PARAMETER;
        ErrReportf(m_dwLastError, "[PC]%s(%d):", kSource, 61);
        return m_dwLastError;
    }
    uint32_t used = static_cast<uint32_t>(m_pPosition - m_pStart);
    uint64_t needed = static_cast<uint64_t>(used) + static_cast<uint32_t>(size);
    if (needed > m_dwCapacity) {
        uint64_t capacity = ((needed - 1) / 1024 + 1) * 1024;
        uint8_t* block = capacity > 0xFFFFFFFFull
                             ? nullptr
                             : static_cast<uint8_t*>(vos::MemAlloc(static_cast<size_t>(capacity)));
        if (!block) {
            m_dwLastError = QXR_ERROR_OUT_OF_MEMORY;
            ErrReportf(m_dwLastError, "[PC]%s(%d):", kSource, 74);
            return m_dwLastError;
        }
        if (used) std::memcpy(block, m_pStart, used);
        vos::MemFree(m_pStart);
        m_pStart = block;
        m_dwCapacity = static_cast<uint32_t>(capacity);
        m_pPosition = m_pStart + used;
    }
    std::memcpy(m_pPosition, data, static_cast<size_t>(size));
    m_pPosition += size;
    return 0;
}

void MsgWriter::WriteCommand(uint32_t code, CCmdCore* record) {
    if (!record) {
        m_dwLastError = QXR_ERROR_INVALID_PARAMETER;
        ErrReportf(m_dwLastError, "[PC]%s(%d):", kSource, 97);
        return;
    }
    uint8_t bytes[4];
    uint32_t n = EncodeCommandCode(code, bytes);
    for (uint32_t i = 0; i < n; ++i) Write(&bytes[i], 1);
    record->Write(*this);
}

uint32_t MsgWriter::GetSize() const { return static_cast<uint32_t>(m_pPosition - m_pStart); }
const uint8_t* MsgWriter::GetBuffer() const { return m_pStart; }
