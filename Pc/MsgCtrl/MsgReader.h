// Decodes a response: the CommandCode, the ResponseStatus byte, then either
// the response record (status 6) or the u32 RefusalCode.
#pragma once

#include <cstdint>

#include "Tessra/CmdCore.h"

constexpr uint8_t kStatusAccepted = 6;
constexpr uint8_t kStatusRefused = 21;

class MsgReader : public CCmdReader {
public:
    MsgReader();
    ~MsgReader() override;
    using CCmdReader::Read;
    virtual void ReadCommand(CCmdCore* response);

    uint32_t CommandCode;
    uint8_t ResponseStatus;
    uint32_t RefusalCode;
};
