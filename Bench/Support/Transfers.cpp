#include "Bench/Support/Transfers.h"

#include "Bench/Support/Files.h"
#include "Bench/Support/Rig.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_firmware.h"

namespace bench {
namespace {

constexpr uint32_t kSeed = 0x5EED1234u;

const VWCHAR* W(const std::u16string& s) { return reinterpret_cast<const VWCHAR*>(s.c_str()); }

}  // namespace

Transfer::Transfer(Rig& rig, Op op, uint64_t size) : m_op(op), m_size(size) {
    m_pcSource = rig.PcDir() + "/source.bin";
    m_pcTarget = rig.PcDir() + "/target.bin";
    switch (op) {
        case Op::Get:
            m_deviceName = u"\\bench-get.bin";
            m_deviceHostPath = rig.DeviceRoot() + "/bench-get.bin";
            m_ready = WritePattern(m_deviceHostPath, size, kSeed);
            break;
        case Op::Put:
            m_deviceName = u"\\bench-put.bin";
            m_deviceHostPath = rig.DeviceRoot() + "/bench-put.bin";
            m_ready = WritePattern(m_pcSource, size, kSeed);
            break;
        case Op::Vup:
            m_deviceName = u"\\bench-vup.bin";
            m_ready = WritePattern(m_pcSource, size, kSeed);
            break;
    }
}

bool Transfer::ByLibrary() {
    switch (m_op) {
        case Op::Get: return KovGetFile(W(m_deviceName), m_pcTarget.c_str()) == 1;
        case Op::Put: return KovPutFile(m_pcSource.c_str(), W(m_deviceName)) == 1;
        case Op::Vup: return KovVupPutFile(m_pcSource.c_str(), W(m_deviceName), 0) == 0;
    }
    return false;
}

bool Transfer::ByFloor(floorc::Commands& floor) {
    switch (m_op) {
        case Op::Get: return floor.GetFile(m_deviceName, m_pcTarget);
        case Op::Put: return floor.PutFile(m_pcSource, m_deviceName);
        case Op::Vup: return floor.VupPutFile(m_pcSource, m_deviceName, 0);
    }
    return false;
}

bool Transfer::Arrived() const {
    switch (m_op) {
        case Op::Get: return HasPattern(m_pcTarget, m_size, kSeed);
        case Op::Put: return HasPattern(m_deviceHostPath, m_size, kSeed);
        case Op::Vup: return true;  // the device compared the checksum
    }
    return false;
}

uint64_t Transfer::Exchanges() const {
    const uint64_t chunks = (m_size + floorc::kChunk - 1) / floorc::kChunk;
    switch (m_op) {
        case Op::Get: return chunks + 3;  // open, chunks, the empty read, close
        case Op::Put: return chunks + 2;  // create, chunks, close
        case Op::Vup: return chunks + 3;  // create, chunks, file info, write
    }
    return 0;
}

}  // namespace bench
