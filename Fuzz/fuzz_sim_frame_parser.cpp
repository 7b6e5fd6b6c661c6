// Fuzzes the simulator's side of the wire: FrameParser cutting the PC's byte
// stream into frames (with resynchronisation after noise and dropped partial
// frames), fed in pieces of any size, and the frame builders on what it
// found.
//
// Input: a sequence of pieces, each a length byte (bit 7 set: drop the
// partial frame first) and that many bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Sim/Core/FrameCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::FrameParser parser;
    sim::RxFrame frame;
    size_t pos = 0;
    volatile size_t sink = 0;
    while (pos < size) {
        const uint8_t head = data[pos++];
        if (head & 0x80) parser.DropPartial();
        size_t n = head & 0x7F;
        if (n > size - pos) n = size - pos;
        // An exact heap copy of the piece: a read past it is seen.
        std::vector<uint8_t> piece(data + pos, data + pos + n);
        pos += n;
        parser.Feed(piece.data(), piece.size());
        while (parser.Next(&frame)) {
            // What the device does with a frame it took: a Reply, and the
            // frame cut again as a message.
            sink = sink + frame.raw.size() + frame.payload.size() + frame.checksumOk;
            if (frame.raw.size() < 6 || frame.raw.front() != sim::kFrameStx || frame.raw.back() != sim::kFrameEtx ||
                frame.payload.size() > sim::kFramePayloadMax || frame.raw.size() != frame.payload.size() + 6)
                __builtin_trap();  // the parser promised a well-delimited frame
            for (const auto& f : sim::CutMessage(frame.payload)) sink = sink + f.size();
            sink = sink + sim::BuildAck(frame.type).size();
        }
        sink = sink + parser.HasPartial() + parser.Discarded();
    }
    (void)sink;
    return 0;
}
