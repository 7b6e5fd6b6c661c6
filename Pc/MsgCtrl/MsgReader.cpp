#include "Pc/MsgCtrl/MsgReader.h"

#include "Lib/Omnel/Omnel.h"
#include "Pc/MsgCtrl/ResultCodes.h"
#include "Tessra/CmdIo.h"

MsgReader::MsgReader() : CommandCode(0), ResponseStatus(0), RefusalCode(0) {}
MsgReader::~MsgReader() = default;

void MsgReader::ReadCommand(CCmdCore* response) {
    if (!response) {
        m_dwLastError = QXR_ERROR_INVALID_PARAMETER;
        ErrReportf(m_dwLastError, "[PC]%s(%d):", "Pc/MsgCtrl/MsgReader", 52);
        return;
    }
    // The code, one byte at a time, by the same rule the writer uses.
    uint8_t byte = 0;
    if (Read(&byte, 1) != 0) return;
    uint32_t code = byte;
    bool more = (byte & 0x7F) == 0x7F;
    for (int shift = 8; more && shift <= 24; shift += 8) {
        if (Read(&byte, 1) != 0) return;
        code |= static_cast<uint32_t>(byte) << shift;
        more = shift < 24 && byte == 0xFF;
    }
    CommandCode = code;
    if (Read(&ResponseStatus, 1) != 0) return;
    if (ResponseStatus == kStatusAccepted) {
        Read(response);
    } else {
        Xfer(*this, RefusalCode);
    }
}
