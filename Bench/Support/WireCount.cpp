#include "Bench/Support/WireCount.h"

#include <algorithm>
#include <string>

#include "Bench/Floor/FloorFrames.h"

namespace bench {
namespace {

constexpr uint64_t kFrameOverhead = 6;
constexpr uint64_t kReplySize = 8;

uint64_t Frames(uint64_t length) { return length <= 511 ? 1 : (length + 510) / 511; }

// The device names the transfers use (Transfers.cpp).
const std::u16string kGetName = u"\\bench-get.bin";
const std::u16string kPutName = u"\\bench-put.bin";
const std::u16string kVupName = u"\\bench-vup.bin";

uint64_t CreateFileRequest(const std::u16string& name) {
    floorc::Out o;
    o.code(0x21).u32(0).wstring(name).u32(0).u32(0).u32(0).u32(0).u32(0);
    return o.bytes().size();
}

}  // namespace

uint64_t MessageWireBytes(uint64_t length) { return length + Frames(length) * (kFrameOverhead + kReplySize); }

uint64_t TransferWireBytes(Op op, uint64_t size) {
    const uint64_t chunk = 2538;
    const uint64_t full = size / chunk, rest = size % chunk;
    uint64_t total = 0;
    switch (op) {
        case Op::Get: {
            total += MessageWireBytes(CreateFileRequest(kGetName)) + MessageWireBytes(6);
            const uint64_t readRequest = 9, readAnswer = 2 + 1 + 4 + 4;  // + data
            total += (full + (rest ? 1 : 0) + 1) * MessageWireBytes(readRequest);
            total += full * MessageWireBytes(readAnswer + chunk);
            if (rest) total += MessageWireBytes(readAnswer + rest);
            total += MessageWireBytes(readAnswer);  // the empty read at the end
            total += MessageWireBytes(5) + MessageWireBytes(3);  // close
            break;
        }
        case Op::Put: {
            total += MessageWireBytes(CreateFileRequest(kPutName)) + MessageWireBytes(6);
            const uint64_t writeRequest = 1 + 4 + 4 + 4, writeAnswer = 2 + 1 + 4;  // + data
            total += full * (MessageWireBytes(writeRequest + chunk) + MessageWireBytes(writeAnswer));
            if (rest) total += MessageWireBytes(writeRequest + rest) + MessageWireBytes(writeAnswer);
            total += MessageWireBytes(5) + MessageWireBytes(3);
            break;
        }
        case Op::Vup: {
            floorc::Out create;
            create.code(0x10).u16(0).wstring(kVupName).u32(0);
            total += MessageWireBytes(create.bytes().size()) + MessageWireBytes(6);
            const uint64_t dataRequest = 1 + 4 + 4, dataAnswer = 6;  // + data
            total += full * (MessageWireBytes(dataRequest + chunk) + MessageWireBytes(dataAnswer));
            if (rest) total += MessageWireBytes(dataRequest + rest) + MessageWireBytes(dataAnswer);
            // File info: the device's answer carries the name.
            const uint64_t info = 2 + 4 + 2 + 4 + 2 * (kVupName.size() + 1) + 4 + 4 + 1 + 1;
            total += MessageWireBytes(1) + MessageWireBytes(info);
            total += MessageWireBytes(9) + MessageWireBytes(6);  // write
            break;
        }
    }
    return total;
}

}  // namespace bench
