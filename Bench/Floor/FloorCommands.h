// The commands the benchmarks compare, encoded and decoded by the floor's own
// code, and the chunked copies built from them exactly as the library builds
// its composite calls (same commands, same 2538-byte chunks, same order), so
// that the two sides move the same frames.
//
// Wire forms (integers little-endian; wstring = u32 byte length with the
// terminator, then UTF-16; buffer = u32 length, then the bytes):
//   1    GetMode          -> u32 mode
//   0x21 CreateFile       u32 name length, wstring name, u32 access, share,
//                         disposition, flags, template -> u32 handle
//   0x22 CloseHandle      u32 handle -> u8 result
//   0x23 ReadFile         u32 handle, u32 size -> u8 result, u32 count, buffer
//   0x24 WriteFile        u32 handle, u32 size, buffer -> u8 result, u32 count
//   0x10 VupCreateFile    u16 name length, wstring name, u32 size -> u32
//   0x11 VupTransmitData  u32 size, buffer -> u32
//   0x12 VupGetFileInfo   -> u32, u16, wstring, u32 info1, u32 received,
//                         u8 checksum, u8 info2
//   0x13 VupWriteFile     u32 param1, u32 param2 -> u32
//   0x70 CommandExecute   the caller's record -> the device's answer
#pragma once

#include <cstdint>
#include <string>

#include "Bench/Floor/FloorClient.h"

namespace floorc {

constexpr uint32_t kChunk = 2538;

class Commands {
public:
    explicit Commands(Client& client) : m_client(client) {}

    bool GetMode(uint32_t* mode);
    uint32_t CreateFile(const std::u16string& name, uint32_t access, uint32_t share, uint32_t disposition);
    bool CloseHandle(uint32_t handle);
    // Appends what the device read to *data; false on a failed exchange or a
    // device failure.
    bool ReadFile(uint32_t handle, uint32_t size, Bytes* data);
    bool WriteFile(uint32_t handle, const uint8_t* data, uint32_t size);
    bool VupCreateFile(const std::u16string& name, uint32_t size);
    bool VupTransmitData(const uint8_t* data, uint32_t size);
    bool VupGetFileInfo(uint32_t* received, uint8_t* checksum);
    bool VupWriteFile(uint32_t param1, uint32_t param2);
    // Sends a record under code 0x70 and hands back the record part of the
    // answer.
    bool CommandExecute(const Bytes& record, Bytes* answer);

    // The library's KovGetFile, KovPutFile and KovVupPutFile, on the floor.
    bool GetFile(const std::u16string& deviceFile, const std::string& pcFile);
    bool PutFile(const std::string& pcFile, const std::u16string& deviceFile);
    bool VupPutFile(const std::string& pcFile, const std::u16string& deviceName, uint32_t writeParam);

    uint32_t Exchanges() const { return m_exchanges; }
    const std::string& Error() const { return m_error; }

private:
    // Runs the exchange and leaves a reader on the record part of an
    // accepted answer.
    bool Run(const Bytes& request, In* record);
    bool Fail(const std::string& why);

    Client& m_client;
    Bytes m_response;
    uint32_t m_exchanges = 0;
    std::string m_error;
};

}  // namespace floorc
