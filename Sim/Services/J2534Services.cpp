// The device's J2534 version 04.04 services (command codes 0x007F to
// 0x0B7F): each decodes its request, runs it on the vehicle (Sim/Vehicle) and
// encodes the answer. Every answer starts with the J2534 status; the fields
// after it come only with the statuses that carry them.
//
// Wire forms (little-endian): a message is ProtocolID, RxStatus, TxFlags,
// Timestamp, DataSize, ExtraDataIndex (u32 each) and DataSize bytes; the
// ReadMsgs request carries the six header fields only. A text is u32 Length
// (strlen + 1, at most 80, cut without terminator beyond) and its bytes.
//
// A hostile device (SimConfig::hostile, or the Oversize fault) answers with
// more messages than asked, messages beyond 4128 bytes, texts beyond 80 bytes
// and configuration lists longer than asked, to test that the library never
// writes past its caller's memory.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Sim/Core/Services.h"
#include "Sim/Vehicle/PassThruDefs.h"
#include "Sim/Vehicle/Vehicle.h"

namespace sim {

namespace {

constexpr uint32_t kCodeConnect = 0x007F;
constexpr uint32_t kCodeDisconnect = 0x017F;
constexpr uint32_t kCodeReadMsgs = 0x027F;
constexpr uint32_t kCodeWriteMsgs = 0x037F;
constexpr uint32_t kCodeStartPeriodic = 0x047F;
constexpr uint32_t kCodeStopPeriodic = 0x057F;
constexpr uint32_t kCodeStartFilter = 0x067F;
constexpr uint32_t kCodeStopFilter = 0x077F;
constexpr uint32_t kCodeSetProgVoltage = 0x087F;
constexpr uint32_t kCodeReadVersion = 0x097F;
constexpr uint32_t kCodeGetLastError = 0x0A7F;
constexpr uint32_t kCodeIoctl = 0x0B7F;

constexpr uint32_t kHeaderBytes = 24;
constexpr uint32_t kTextMax = 80;
constexpr uint32_t kHostileDataSize = 4200;
// The device's own answer for the DLL version it is asked about.
const char kDeviceDllVersion[] = "00.00";


// A message with all its fields; false when DataSize is beyond 4128.
bool TakeMessage(WireIn& in, PtMessage* m) {
    m->protocolId = in.u32();
    m->rxStatus = in.u32();
    m->txFlags = in.u32();
    m->timestamp = in.u32();
    const uint32_t size = in.u32();
    m->extraDataIndex = in.u32();
    if (!in.ok() || size > pt::kMaxData) return false;
    m->data = in.bytes(size);
    return in.ok();
}

void PutMessage(WireOut& out, const PtMessage& m) {
    out.u32(m.protocolId).u32(m.rxStatus).u32(m.txFlags).u32(m.timestamp);
    out.u32(static_cast<uint32_t>(m.data.size())).u32(m.extraDataIndex);
    out.bytes(m.data);
}

PtMessage HostileMessage(uint32_t protocolId) {
    PtMessage m;
    m.protocolId = protocolId;
    m.data.assign(kHostileDataSize, 0xA5);
    return m;
}

void PutText(WireOut& out, const std::string& text, bool hostile) {
    if (hostile) {
        const std::string longer = text + std::string(200, '#');
        out.u32(static_cast<uint32_t>(longer.size() + 1)).bytes(longer.c_str(), longer.size() + 1);
        return;
    }
    if (text.size() < kTextMax) {
        out.u32(static_cast<uint32_t>(text.size() + 1)).bytes(text.c_str(), text.size() + 1);
    } else {
        out.u32(kTextMax).bytes(text.data(), kTextMax);
    }
}

Vehicle& TheVehicle(CommandContext& ctx) { return ctx.Family<Vehicle>(); }

// ---- commands --------------------------------------------------------------------

void Connect(CommandContext& ctx) {
    const uint32_t protocolId = ctx.request.u32();
    const uint32_t flags = ctx.request.u32();
    if (!ctx.request.ok()) return;
    uint32_t channelId = 0;
    const uint32_t status = TheVehicle(ctx).Connect(protocolId, flags, &channelId);
    ctx.response.u32(status);
    if (status == pt::kNoError) ctx.response.u32(channelId);
}

void Disconnect(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(TheVehicle(ctx).Disconnect(channelId));
}

// The answer of ReadMsgs and WriteMsgs.
void PutMessages(CommandContext& ctx, uint32_t status, uint32_t asked, const std::vector<PtMessage>& messages) {
    ctx.response.u32(status);
    if (status != pt::kNoError && status != pt::kErrTimeout) return;
    if (ctx.Hostile()) {
        const uint32_t protocolId = messages.empty() ? pt::kCan : messages.front().protocolId;
        const uint32_t count = HostileCount(asked, 2);
        ctx.response.u32(count);
        for (uint32_t i = 0; i < count; ++i) PutMessage(ctx.response, HostileMessage(protocolId));
        return;
    }
    ctx.response.u32(static_cast<uint32_t>(messages.size()));
    for (const PtMessage& m : messages) PutMessage(ctx.response, m);
}

void ReadMsgs(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t numMsgs = ctx.request.u32();
    const uint32_t timeout = ctx.request.u32();
    if (!ctx.request.ok()) return;
    // The caller's message headers say nothing the device needs.
    if (ctx.request.remaining() < static_cast<uint64_t>(numMsgs) * kHeaderBytes) {
        ctx.request.bytes(ctx.request.remaining() + 1);  // a short request: refused
        return;
    }
    ctx.request.bytes(static_cast<size_t>(numMsgs) * kHeaderBytes);
    std::vector<PtMessage> messages;
    const uint32_t status = TheVehicle(ctx).ReadMsgs(channelId, numMsgs, timeout, &messages);
    PutMessages(ctx, status, numMsgs, messages);
}

void WriteMsgs(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t numMsgs = ctx.request.u32();
    const uint32_t timeout = ctx.request.u32();
    if (!ctx.request.ok()) return;
    std::vector<PtMessage> messages;
    for (uint32_t i = 0; i < numMsgs; ++i) {
        PtMessage m;
        if (!TakeMessage(ctx.request, &m)) {
            if (!ctx.request.ok()) return;
            TheVehicle(ctx).SetLastError("Message data longer than 4128 bytes");
            ctx.response.u32(pt::kErrInvalidMsg);
            return;
        }
        messages.push_back(std::move(m));
    }
    uint32_t sent = 0;
    const uint32_t status = TheVehicle(ctx).WriteMsgs(channelId, messages, timeout, &sent);
    messages.resize(std::min<size_t>(sent, messages.size()));
    PutMessages(ctx, status, numMsgs, messages);
}

void StartPeriodic(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t interval = ctx.request.u32();
    PtMessage m;
    const bool valid = TakeMessage(ctx.request, &m);
    if (!ctx.request.ok()) return;
    if (!valid) {
        ctx.response.u32(pt::kErrInvalidMsg);
        return;
    }
    uint32_t msgId = 0;
    const uint32_t status = TheVehicle(ctx).StartPeriodicMsg(channelId, m, interval, &msgId);
    ctx.response.u32(status);
    if (status != pt::kNoError) return;
    ctx.response.u32(msgId);
    PutMessage(ctx.response, ctx.Hostile() ? HostileMessage(m.protocolId) : m);
}

void StopPeriodic(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t msgId = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(TheVehicle(ctx).StopPeriodicMsg(channelId, msgId));
}

void StartFilter(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t type = ctx.request.u32();
    const uint8_t present = ctx.request.u8();
    PtMessage msgs[3];
    bool valid = true;
    for (int i = 0; i < 3; ++i)
        if (present & (1u << i)) valid = TakeMessage(ctx.request, &msgs[i]) && valid;
    if (!ctx.request.ok()) return;
    if (!valid) {
        ctx.response.u32(pt::kErrInvalidMsg);
        return;
    }
    auto role = [&](int i) { return (present & (1u << i)) ? &msgs[i] : nullptr; };
    uint32_t filterId = 0;
    const uint32_t status = TheVehicle(ctx).StartMsgFilter(channelId, type, role(0), role(1), role(2), &filterId);
    ctx.response.u32(status);
    if (status != pt::kNoError) return;
    ctx.response.u32(filterId).u8(present);
    for (int i = 0; i < 3; ++i)
        if (present & (1u << i)) PutMessage(ctx.response, ctx.Hostile() ? HostileMessage(msgs[i].protocolId) : msgs[i]);
}

void StopFilter(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t filterId = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(TheVehicle(ctx).StopMsgFilter(channelId, filterId));
}

void SetProgVoltage(CommandContext& ctx) {
    const uint32_t pin = ctx.request.u32();
    const uint32_t voltage = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(TheVehicle(ctx).SetProgrammingVoltage(pin, voltage));
}

void ReadVersion(CommandContext& ctx) {
    ctx.response.u32(pt::kNoError);
    PutText(ctx.response, Vehicle::FirmwareVersion(), ctx.Hostile());
    PutText(ctx.response, kDeviceDllVersion, ctx.Hostile());
    PutText(ctx.response, Vehicle::ApiVersion(), ctx.Hostile());
}

void GetLastError(CommandContext& ctx) {
    ctx.response.u32(pt::kNoError);
    PutText(ctx.response, TheVehicle(ctx).LastError(), ctx.Hostile());
}

// ---- Ioctl ----------------------------------------------------------------------------

void Ioctl(CommandContext& ctx) {
    const uint32_t channelId = ctx.request.u32();
    const uint32_t ioctlId = ctx.request.u32();
    if (!ctx.request.ok()) return;
    Vehicle& vehicle = TheVehicle(ctx);
    WireIn& in = ctx.request;
    WireOut out;  // the output form, after the echoed ID
    uint32_t status = pt::kNoError;
    const bool hasInput = in.remaining() > 0;

    switch (ioctlId) {
    case pt::kGetConfig:
    case pt::kSetConfig: {
        if (!hasInput) {
            status = pt::kErrNullParameter;
            vehicle.SetLastError("The Ioctl needs its input");
            break;
        }
        const uint32_t count = in.u32();
        if (!in.ok() || in.remaining() < static_cast<uint64_t>(count) * (ioctlId == pt::kGetConfig ? 4 : 8)) {
            in.bytes(in.remaining() + 1);
            return;
        }
        std::vector<PtConfig> params(count);
        for (PtConfig& p : params) {
            p.parameter = in.u32();
            if (ioctlId == pt::kSetConfig) p.value = in.u32();
        }
        if (ioctlId == pt::kSetConfig) {
            status = vehicle.SetConfig(channelId, params);
            break;
        }
        status = vehicle.GetConfig(channelId, &params);
        if (status != pt::kNoError) break;
        const uint32_t extra = ctx.Hostile() ? 3 : 0;
        out.u32(count + extra);
        for (const PtConfig& p : params) out.u32(p.parameter).u32(p.value);
        for (uint32_t i = 0; i < extra; ++i) out.u32(0xEE00 + i).u32(0xDEAD0000 + i);
        break;
    }
    case pt::kReadVbatt:
    case pt::kReadProgVoltage: {
        uint32_t mv = 0;
        status = ioctlId == pt::kReadVbatt ? vehicle.ReadBatteryVoltage(&mv) : vehicle.ReadProgrammingVoltage(&mv);
        out.u32(mv);
        break;
    }
    case pt::kFiveBaudInit: {
        if (!hasInput) {
            status = pt::kErrNullParameter;
            vehicle.SetLastError("The Ioctl needs its input");
            break;
        }
        const uint32_t n = in.u32();
        const std::vector<uint8_t> address = in.bytes(n);
        uint32_t capacity = 0xFFFFFFFF;
        if (in.remaining() >= 4) capacity = in.u32();
        if (!in.ok()) return;
        std::vector<uint8_t> keyBytes;
        status = vehicle.FiveBaudInit(channelId, address, &keyBytes);
        if (status != pt::kNoError) break;
        if (ctx.Hostile()) keyBytes.resize(std::min<uint32_t>(capacity, 64) + 8, 0x5A);
        out.u32(static_cast<uint32_t>(keyBytes.size())).bytes(keyBytes);
        break;
    }
    case pt::kFastInit: {
        if (!hasInput) {
            status = pt::kErrNullParameter;
            vehicle.SetLastError("The Ioctl needs its input");
            break;
        }
        PtMessage request;
        const bool valid = TakeMessage(in, &request);
        if (!in.ok()) return;
        if (!valid) {
            status = pt::kErrInvalidMsg;
            break;
        }
        PtMessage answer;
        status = vehicle.FastInit(channelId, request, &answer);
        if (status == pt::kNoError) PutMessage(out, ctx.Hostile() ? HostileMessage(answer.protocolId) : answer);
        break;
    }
    case pt::kClearTxBuffer:
    case pt::kClearRxBuffer:
    case pt::kClearPeriodicMsgs:
    case pt::kClearMsgFilters:
        status = vehicle.Clear(channelId, ioctlId);
        break;
    case pt::kClearFunctMsgLookupTable:
        status = vehicle.FunctMsgLookup(channelId, ioctlId, {});
        break;
    case pt::kAddToFunctMsgLookupTable:
    case pt::kDeleteFromFunctMsgLookupTable: {
        if (!hasInput) {
            status = pt::kErrNullParameter;
            vehicle.SetLastError("The Ioctl needs its input");
            break;
        }
        const uint32_t n = in.u32();
        const std::vector<uint8_t> addresses = in.bytes(n);
        if (!in.ok()) return;
        status = vehicle.FunctMsgLookup(channelId, ioctlId, addresses);
        break;
    }
    default:
        status = pt::kErrInvalidIoctlId;
        vehicle.SetLastError("Invalid Ioctl ID " + std::to_string(ioctlId));
        break;
    }
    ctx.response.u32(status);
    if (status != pt::kNoError) return;
    ctx.response.u32(ioctlId);
    ctx.response.bytes(out.data());
}

// The device-mode command (code 2) of the status services ends a pass-thru
// session with mode 0 and starts one with mode 9: either way the vehicle side
// starts afresh, with no channel of an earlier session left open and the
// programming voltage off. The status services register first; their
// handler stays in charge of the mode itself.
constexpr uint32_t kCodeChangeMode = 0x02;

void ExtendModeChange(ServiceTable& table) {
    const Handler* registered = table.Find(kCodeChangeMode);
    if (!registered) return;
    const Handler original = *registered;
    table.Register(kCodeChangeMode, [original](CommandContext& ctx) {
        WireIn peek = ctx.request;
        const uint32_t mode = peek.u32();
        original(ctx);
        const std::vector<uint8_t>& answer = ctx.response.data();
        const bool accepted = !ctx.refused && answer.size() >= 4 && answer[0] == 0 && answer[1] == 0 &&
                              answer[2] == 0 && answer[3] == 0;
        if (peek.ok() && accepted && (mode == 0 || mode == 9)) ctx.Family<Vehicle>().Reset();
    });
}

}  // namespace

void RegisterJ2534Services(ServiceTable& table) {
    ExtendModeChange(table);
    table.Register(kCodeConnect, Connect);
    table.Register(kCodeDisconnect, Disconnect);
    table.Register(kCodeReadMsgs, ReadMsgs);
    table.Register(kCodeWriteMsgs, WriteMsgs);
    table.Register(kCodeStartPeriodic, StartPeriodic);
    table.Register(kCodeStopPeriodic, StopPeriodic);
    table.Register(kCodeStartFilter, StartFilter);
    table.Register(kCodeStopFilter, StopFilter);
    table.Register(kCodeSetProgVoltage, SetProgVoltage);
    table.Register(kCodeReadVersion, ReadVersion);
    table.Register(kCodeGetLastError, GetLastError);
    table.Register(kCodeIoctl, Ioctl);
}

}  // namespace sim
