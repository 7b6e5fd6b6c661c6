// Diagnostic-monitor services: the DLC12 diagnostic-code commands (0x307F to
// 0x327F) and the caller-record commands (0x70 to 0x73, 0x107F to 0x237F).
//
// DLC12. The simulated vehicle has an ECU on the 12-pin diagnostic link
// with five stored diagnostic codes. Connect opens the link, Disconnect
// closes it (kDlcNotConnected when it was not open). GetDiagCode answers:
//   bySendData 0x01  the stored codes, two bytes each (high, low), code i
//                    only when bit i of wMaskData is set
//   bySendData 0xFF  the ECU's fault-memory dump of 300 bytes (byte i is
//                    i & 0xFF)
//   other            kDlcUnknownRequest with no code
// and kDlcNotConnected with no code while the link is closed. A hostile
// device answers every request with 70000 bytes.
//
// Caller-record commands: the device echoes the request record; the
// response record is the request's bytes as they came, so an application's
// record pair whose response reads what its request writes gets its own
// fields back. A hostile device drops the record's last byte.
#include <cstdint>
#include <vector>

#include "Sim/Core/Services.h"

namespace sim {
namespace {

constexpr uint32_t kCodeGetDiagCode = 0x307F;
constexpr uint32_t kCodeConnect = 0x317F;
constexpr uint32_t kCodeDisconnect = 0x327F;

constexpr uint32_t kDlcNotConnected = 0x0021;
constexpr uint32_t kDlcUnknownRequest = 0x0022;

constexpr uint8_t kRequestStoredCodes = 0x01;
constexpr uint8_t kRequestDump = 0xFF;
constexpr size_t kDumpSize = 300;
constexpr size_t kHostileSize = 70000;

const uint16_t kStoredCodes[] = {0x0112, 0x0121, 0x0131, 0x0244, 0x0351};

struct Dlc12Family {
    explicit Dlc12Family(DeviceState&) {}
    bool connected = false;
};

void Connect(CommandContext& ctx) {
    ctx.Family<Dlc12Family>().connected = true;
    ctx.response.u32(0);
}

void Disconnect(CommandContext& ctx) {
    Dlc12Family& family = ctx.Family<Dlc12Family>();
    ctx.response.u32(family.connected ? 0 : kDlcNotConnected);
    family.connected = false;
}

void GetDiagCode(CommandContext& ctx) {
    const uint8_t send = ctx.request.u8();
    const uint16_t mask = ctx.request.u16();
    if (!ctx.request.ok()) return;
    std::vector<uint8_t> code;
    uint32_t result = 0;
    if (ctx.Hostile()) {
        code.assign(kHostileSize, 0xC3);
    } else if (!ctx.Family<Dlc12Family>().connected) {
        result = kDlcNotConnected;
    } else if (send == kRequestStoredCodes) {
        for (size_t i = 0; i < sizeof kStoredCodes / sizeof kStoredCodes[0]; ++i) {
            if (!(mask & (1u << i))) continue;
            code.push_back(static_cast<uint8_t>(kStoredCodes[i] >> 8));
            code.push_back(static_cast<uint8_t>(kStoredCodes[i] & 0xFF));
        }
    } else if (send == kRequestDump) {
        for (size_t i = 0; i < kDumpSize; ++i) code.push_back(static_cast<uint8_t>(i & 0xFF));
    } else {
        result = kDlcUnknownRequest;
    }
    ctx.response.u32(result).buf(code);
}

void EchoRecord(CommandContext& ctx) {
    std::vector<uint8_t> record = ctx.request.bytes(ctx.request.remaining());
    // A hostile device cuts the record short: its last byte never comes.
    if (ctx.Hostile() && !record.empty()) record.pop_back();
    ctx.response.bytes(record);
}

}  // namespace

void RegisterMonitorServices(ServiceTable& table) {
    table.Register(kCodeGetDiagCode, GetDiagCode);
    table.Register(kCodeConnect, Connect);
    table.Register(kCodeDisconnect, Disconnect);
    for (uint32_t code = 0x70; code <= 0x73; ++code) table.Register(code, EchoRecord);
    for (uint32_t code = 0x107F; code <= 0x237F; code += 0x100) table.Register(code, EchoRecord);
}

}  // namespace sim
