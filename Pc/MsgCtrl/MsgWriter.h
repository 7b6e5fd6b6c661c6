// Encodes a command: the CommandCode in 1 to 4 bytes, then the request
// record's fields, into one heap block that grows in steps of 1024 bytes.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"

// The CommandCode encoding: writes 1 to 4 bytes into out, returns the count.
uint32_t EncodeCommandCode(uint32_t code, uint8_t out[4]);

class MsgWriter : public CCmdWriter {
public:
    MsgWriter();
    ~MsgWriter() override;
    MsgWriter(const MsgWriter&) = delete;
    MsgWriter& operator=(const MsgWriter&) = delete;

    uint32_t Write(const void* data, int32_t size) override;
    using CCmdWriter::Write;
    virtual void WriteCommand(uint32_t code, CCmdCore* record);
    virtual uint32_t GetSize() const;
    virtual const uint8_t* GetBuffer() const;
    uint32_t GetCapacity() const { return m_dwCapacity; }
};
