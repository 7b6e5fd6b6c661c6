// The simulated USB bus, as the library's backend speaks it (the simulator
// has its own copy of these rules in Sim/Transport/UsbBusServer.cpp).
//
// A TCP stream on 127.0.0.1 between one bus server (the device) and any
// number of hosts (each WDU_Init is one host). Every message is a 12-byte
// header and a payload, integers little-endian:
//
//   u8 type | u8 endpoint | u8 flags | u8 0 | u32 device | u32 payload length
//
// "device" numbers the device's current plug-in (a new number after every
// unplug/plug), so that a message about an earlier plug-in is recognised.
//
// Server to host:
//   HELLO    0x00  payload "VUSB", u32 version (1); first message on connect
//   ATTACH   0x01  the device arrived: u16 vendor, u16 product, u16 bcdDevice,
//                  u8 device class, subclass, protocol, u8 interface number,
//                  alternate setting, interface class, subclass, protocol,
//                  u8 endpoint count, then per endpoint u8 address,
//                  u8 attributes, u16 max packet size
//   DETACH   0x02  the device left
//   IN_DATA  0x03  endpoint 0x82: one packet (at most 64 bytes, possibly 0);
//                  flags bit 0 set when the packet ends the device's transfer
//                  (a short or zero-length packet)
//   OUT_DONE 0x04  endpoint 1: u32 tag, u32 result (0 done, 1 no device,
//                  2 stalled), u32 bytes taken
// Host to server:
//   OUT_DATA   0x10  endpoint 1: u32 tag, then the bytes of one bulk OUT
//                    transfer; answered by OUT_DONE with the same tag
//   IN_REQUEST 0x11  endpoint 0x82: u32 size; the host reads up to size
//                    bytes. The server sends IN_DATA only against a request,
//                    until the size is filled or a packet ends the transfer;
//                    with several hosts, the data goes to the host whose
//                    request came first
//   HALT       0x12  endpoint: cancels the host's request on that endpoint
//
// IN_DATA can still arrive after the host cancelled (it was on its way): the
// host keeps it for its next read, so no byte is lost.
#pragma once

#include <cstdint>

namespace wdu {
namespace simbus {

constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kMaxPayload = 1u << 20;
constexpr uint32_t kVersion = 1;
constexpr uint32_t kPacketSize = 64;

enum : uint8_t {
    kHello = 0x00,
    kAttach = 0x01,
    kDetach = 0x02,
    kInData = 0x03,
    kOutDone = 0x04,
    kOutData = 0x10,
    kInRequest = 0x11,
    kHalt = 0x12,
};

constexpr uint8_t kFlagEndsTransfer = 0x01;

enum : uint32_t {
    kOutOk = 0,
    kOutNoDevice = 1,
    kOutStalled = 2,
};

}  // namespace simbus
}  // namespace wdu
