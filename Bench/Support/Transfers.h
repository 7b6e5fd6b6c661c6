// The three chunked transfers of the bulk benchmarks, run through the
// library's exports or through the floor client on the same files.
//   get   KovGetFile: device file -> PC file
//   put   KovPutFile: PC file -> device file
//   vup   KovVupPutFile: PC file -> the device's firmware reception
#pragma once

#include <cstdint>
#include <string>

#include "Bench/Floor/FloorCommands.h"

namespace bench {

class Rig;

enum class Op { Get, Put, Vup };

inline const char* OpName(Op op) { return op == Op::Get ? "get" : op == Op::Put ? "put" : "vup"; }

class Transfer {
public:
    // Prepares the source file of `size` bytes for the operation on the rig.
    Transfer(Rig& rig, Op op, uint64_t size);
    bool Ready() const { return m_ready; }
    bool ByLibrary();
    bool ByFloor(floorc::Commands& floor);
    // Whether the target holds the source's bytes (get and put).
    bool Arrived() const;
    // Commands one transfer runs: opening, the chunks, the final empty read
    // (get), closing; vup: create, chunks, file info, write.
    uint64_t Exchanges() const;
    uint64_t Size() const { return m_size; }

private:
    Op m_op;
    uint64_t m_size;
    bool m_ready = false;
    std::string m_pcSource;
    std::string m_pcTarget;
    std::string m_deviceHostPath;
    std::u16string m_deviceName;
};

}  // namespace bench
