// The stdcall pass-thru commands (J2534 version 02.02 style): connect (64),
// disconnect (65), read (66, and 84 without lengths), write (67, and 85 for
// one message at once), the device's error text (73) and Ioctl (75), on the
// simulated vehicle that the J2534 04.04 commands use as well (Sim/Vehicle:
// its channels, filters, loopback, ECUs and error texts). The OEM log and
// version commands register from here too.
//
// What this family adds to the vehicle's behaviour:
//   Connect  the answer always carries a ChannelID (0 when the connect failed).
//   Read     up to NumMsgs messages as the vehicle hands them out (Timeout 0:
//            what is there, ERR_BUFFER_EMPTY when nothing is; otherwise
//            waiting, ERR_TIMEOUT with what came). Code 84 sends DataSize 0 in
//            each message; the Data bytes still travel.
//   Write    the messages go to the vehicle; the answer lists those sent with
//            their header fields, stamped with the device time (microseconds)
//            at which the device took them, and no Data. Each one is also an
//            event "sent" of the OEM log, as connects and disconnects are.
//   Ioctl    GET_CONFIG answers the known parameters only, in the order asked
//            (an unknown one gives ERR_NOT_SUPPORTED and is left out);
//            SET_CONFIG, FIVE_BAUD_INIT, FAST_INIT, CLEAR_TX_BUFFER and
//            CLEAR_RX_BUFFER are the vehicle's; the device's own IDs:
//            0x10000 stores three pin bytes for the channel, 0x10001 answers
//            the supply voltage in mV, 0x10002 stores three timing values and
//            answers the device time in microseconds, 0x10003 stores a value.
//   73       the vehicle's last error text ("No error" before the first).
// Every answer has all its fields, whatever the status.
//
// A hostile device answers reads and writes with three messages more than
// asked, each with 5000 bytes of Data, GET_CONFIG with five pairs more than
// asked, FAST_INIT with 9000 bytes, and a 300-unit error text.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Sim/Core/Services.h"
#include "Sim/Vehicle/PassThruDefs.h"
#include "Sim/Vehicle/Vehicle.h"

namespace sim {

// The OEM log and its services (OemServices.cpp).
void OemLogAppend(DeviceState& device, uint32_t kind, uint32_t channel, uint32_t protocol,
                  const std::vector<uint8_t>& data);
void RegisterOemServices(ServiceTable& table);

namespace {

constexpr uint32_t kCodeConnect = 64;
constexpr uint32_t kCodeDisconnect = 65;
constexpr uint32_t kCodeReadMsgs = 66;
constexpr uint32_t kCodeWriteMsgs = 67;
constexpr uint32_t kCodeGetLastError = 73;
constexpr uint32_t kCodeIoctl = 75;
constexpr uint32_t kCodeReadMsgsNoLength = 84;
constexpr uint32_t kCodeWriteMsgsInterrupt = 85;

constexpr uint32_t kOemEventConnect = 2;
constexpr uint32_t kOemEventDisconnect = 3;
constexpr uint32_t kOemEventSent = 4;

constexpr uint32_t kDevicePins = 0x10000;
constexpr uint32_t kDeviceVoltage = 0x10001;
constexpr uint32_t kDeviceTiming = 0x10002;
constexpr uint32_t kDeviceValue = 0x10003;

// What the device keeps for this family beside the vehicle.
class PassThru0202Family {
public:
    explicit PassThru0202Family(DeviceState&) : m_start(std::chrono::steady_clock::now()) {}

    uint32_t Micros() const {
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_start).count());
    }

    struct Extra {
        uint32_t protocol = 0;
        uint8_t pins[3] = {};
        uint16_t timing[3] = {};
        uint32_t value = 0;
    };
    Extra& Of(uint32_t channel) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_extra[channel];
    }
    void Forget(uint32_t channel) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_extra.erase(channel);
    }

private:
    std::chrono::steady_clock::time_point m_start;
    std::mutex m_lock;
    std::map<uint32_t, Extra> m_extra;
};

Vehicle& TheVehicle(CommandContext& ctx) { return ctx.Family<Vehicle>(); }

// A channel the vehicle knows (it answers a question about its data rate).
bool KnownChannel(Vehicle& vehicle, uint32_t channel) {
    std::vector<PtConfig> probe(1);
    probe[0].parameter = pt::kDataRate;
    return vehicle.GetConfig(channel, &probe) != pt::kErrInvalidChannelId;
}

// A MsgRecord: six u32 and the Data buffer. DataSize travels as its own
// field; the device checks it against the Data that came.
bool ReadMsg(WireIn& in, PtMessage* m, uint32_t* dataSize) {
    m->protocolId = in.u32();
    m->rxStatus = in.u32();
    m->txFlags = in.u32();
    m->timestamp = in.u32();
    *dataSize = in.u32();
    m->extraDataIndex = in.u32();
    m->data = in.buf();
    return in.ok() && *dataSize <= pt::kMaxData && m->data.size() == *dataSize;
}

void PutMsg(WireOut& out, const PtMessage& m, uint32_t dataSize, bool withData) {
    out.u32(m.protocolId).u32(m.rxStatus).u32(m.txFlags).u32(m.timestamp).u32(dataSize).u32(m.extraDataIndex);
    if (withData)
        out.buf(m.data);
    else
        out.u32(0);
}

// Result, NumMsgs and the list (its count, then the elements).
void PutMsgAnswer(WireOut& out, uint32_t result, const std::vector<PtMessage>& msgs, bool noLength, bool withData) {
    out.u32(result).u32(static_cast<uint32_t>(msgs.size())).u32(static_cast<uint32_t>(msgs.size()));
    for (const PtMessage& m : msgs)
        PutMsg(out, m, noLength ? 0 : static_cast<uint32_t>(m.data.size()), withData);
}

std::vector<PtMessage> HostileMsgs(uint32_t asked) {
    std::vector<PtMessage> msgs(HostileCount(asked, 3));
    for (PtMessage& m : msgs) {
        m.protocolId = pt::kCan;
        m.data.assign(5000, 0xB6);
    }
    return msgs;
}

void Connect(CommandContext& ctx) {
    const uint32_t protocol = ctx.request.u32();
    const uint32_t flags = ctx.request.u32();
    if (!ctx.request.ok()) return;
    uint32_t channel = 0;
    const uint32_t result = TheVehicle(ctx).Connect(protocol, flags, &channel);
    if (result != pt::kNoError) channel = 0;
    if (result == pt::kNoError) {
        ctx.Family<PassThru0202Family>().Of(channel) = PassThru0202Family::Extra();
        ctx.Family<PassThru0202Family>().Of(channel).protocol = protocol;
        OemLogAppend(*ctx.device, kOemEventConnect, channel, protocol, {});
    }
    ctx.response.u32(result).u32(channel);
}

void Disconnect(CommandContext& ctx) {
    const uint32_t channel = ctx.request.u32();
    if (!ctx.request.ok()) return;
    const uint32_t result = TheVehicle(ctx).Disconnect(channel);
    if (result == pt::kNoError) {
        PassThru0202Family& family = ctx.Family<PassThru0202Family>();
        OemLogAppend(*ctx.device, kOemEventDisconnect, channel, family.Of(channel).protocol, {});
        family.Forget(channel);
    }
    ctx.response.u32(result);
}

void Read(CommandContext& ctx, bool noLength) {
    const uint32_t channel = ctx.request.u32();
    const uint32_t asked = ctx.request.u32();
    const uint32_t timeout = ctx.request.u32();
    // The caller's headers (a list of MsgRecords) say nothing the device needs.
    const uint32_t count = ctx.request.u32();
    for (uint32_t i = 0; i < count && ctx.request.ok(); ++i) {
        PtMessage ignored;
        uint32_t dataSize = 0;
        ReadMsg(ctx.request, &ignored, &dataSize);
    }
    if (!ctx.request.ok()) return;
    if (ctx.Hostile()) {
        PutMsgAnswer(ctx.response, pt::kNoError, HostileMsgs(asked), false, true);
        return;
    }
    std::vector<PtMessage> msgs;
    const uint32_t result = TheVehicle(ctx).ReadMsgs(channel, asked, timeout, &msgs);
    PutMsgAnswer(ctx.response, result, msgs, noLength, true);
}

void Write(CommandContext& ctx) {
    const uint32_t channel = ctx.request.u32();
    const uint32_t numMsgs = ctx.request.u32();
    const uint32_t timeout = ctx.request.u32();
    const uint32_t count = ctx.request.u32();
    std::vector<PtMessage> msgs;
    bool valid = true;
    for (uint32_t i = 0; i < count && ctx.request.ok(); ++i) {
        PtMessage m;
        uint32_t dataSize = 0;
        valid = ReadMsg(ctx.request, &m, &dataSize) && valid;
        msgs.push_back(std::move(m));
    }
    if (!ctx.request.ok()) return;
    if (ctx.Hostile()) {
        PutMsgAnswer(ctx.response, pt::kNoError, HostileMsgs(numMsgs), false, true);
        return;
    }
    Vehicle& vehicle = TheVehicle(ctx);
    if (!valid || count != numMsgs) {
        vehicle.SetLastError("Message list does not match NumMsgs, or a DataSize does not match its data");
        PutMsgAnswer(ctx.response, pt::kErrInvalidMsg, {}, false, false);
        return;
    }
    PassThru0202Family& family = ctx.Family<PassThru0202Family>();
    const uint32_t taken = family.Micros();
    uint32_t sent = 0;
    const uint32_t result = vehicle.WriteMsgs(channel, msgs, timeout, &sent);
    msgs.resize(std::min<size_t>(sent, msgs.size()));
    for (PtMessage& m : msgs) {
        OemLogAppend(*ctx.device, kOemEventSent, channel, m.protocolId, m.data);
        m.rxStatus = 0;
        m.timestamp = taken;
    }
    PutMsgAnswer(ctx.response, result, msgs, false, false);
}

void GetLastError(CommandContext& ctx) {
    if (ctx.Hostile()) {
        ctx.response.u32(pt::kNoError).wstr(std::u16string(300, u'E'));
        return;
    }
    std::string text = TheVehicle(ctx).LastError();
    if (text.empty()) text = "No error";
    ctx.response.u32(pt::kNoError).wstr(ToUtf16(text));
}

// GET_CONFIG and SET_CONFIG: u32 NumOfParams, then the list of pairs.
bool ReadPairs(WireIn& in, std::vector<PtConfig>* pairs) {
    in.u32();  // NumOfParams; the list carries its own count
    const uint32_t count = in.u32();
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        PtConfig p;
        p.parameter = in.u32();
        p.value = in.u32();
        pairs->push_back(p);
    }
    return in.ok();
}

void Ioctl(CommandContext& ctx) {
    const uint32_t channel = ctx.request.u32();
    const uint32_t ioctl = ctx.request.u32();
    if (!ctx.request.ok()) return;
    Vehicle& vehicle = TheVehicle(ctx);
    PassThru0202Family& family = ctx.Family<PassThru0202Family>();
    WireOut tail;
    uint32_t result = pt::kNoError;
    switch (ioctl) {
        case pt::kGetConfig: {
            std::vector<PtConfig> asked;
            if (!ReadPairs(ctx.request, &asked)) return;
            std::vector<PtConfig> known;
            for (const PtConfig& p : asked) {
                std::vector<PtConfig> one(1, p);
                const uint32_t status = vehicle.GetConfig(channel, &one);
                if (status == pt::kNoError)
                    known.push_back(one[0]);
                else if (result == pt::kNoError)
                    result = status;
            }
            if (ctx.Hostile())
                for (int i = 0; i < 5; ++i) known.push_back(PtConfig{0xEE, 0xEE});
            tail.u32(static_cast<uint32_t>(known.size())).u32(static_cast<uint32_t>(known.size()));
            for (const PtConfig& p : known) tail.u32(p.parameter).u32(p.value);
            break;
        }
        case pt::kSetConfig: {
            std::vector<PtConfig> pairs;
            if (!ReadPairs(ctx.request, &pairs)) return;
            result = vehicle.SetConfig(channel, pairs);
            break;
        }
        case pt::kFiveBaudInit: {
            const uint8_t address = ctx.request.u8();
            if (!ctx.request.ok()) return;
            std::vector<uint8_t> keys;
            result = vehicle.FiveBaudInit(channel, {address}, &keys);
            keys.resize(2, 0);
            tail.u8(keys[0]).u8(keys[1]);
            break;
        }
        case pt::kFastInit: {
            PtMessage in;
            uint32_t dataSize = 0;
            const bool valid = ReadMsg(ctx.request, &in, &dataSize);
            if (!ctx.request.ok()) return;
            PtMessage out;
            if (!valid) {
                vehicle.SetLastError("The fast init message is not valid");
                result = pt::kErrInvalidMsg;
            } else {
                result = vehicle.FastInit(channel, in, &out);
            }
            if (ctx.Hostile()) out.data.assign(9000, 0x5F);
            PutMsg(tail, out, static_cast<uint32_t>(out.data.size()), true);
            break;
        }
        case pt::kClearTxBuffer:
        case pt::kClearRxBuffer:
            result = vehicle.Clear(channel, ioctl);
            break;
        case kDevicePins: {
            uint8_t pins[3];
            for (uint8_t& b : pins) b = ctx.request.u8();
            if (!ctx.request.ok()) return;
            if (KnownChannel(vehicle, channel))
                std::copy(pins, pins + 3, family.Of(channel).pins);
            else
                result = pt::kErrInvalidChannelId;
            break;
        }
        case kDeviceVoltage: {
            uint32_t millivolts = 0;
            result = vehicle.ReadBatteryVoltage(&millivolts);
            tail.u16(static_cast<uint16_t>(millivolts));
            break;
        }
        case kDeviceTiming: {
            uint16_t timing[3];
            for (uint16_t& t : timing) t = ctx.request.u16();
            if (!ctx.request.ok()) return;
            if (KnownChannel(vehicle, channel))
                std::copy(timing, timing + 3, family.Of(channel).timing);
            else
                result = pt::kErrInvalidChannelId;
            tail.u32(family.Micros());
            break;
        }
        case kDeviceValue: {
            const uint32_t value = ctx.request.u32();
            if (!ctx.request.ok()) return;
            if (KnownChannel(vehicle, channel))
                family.Of(channel).value = value;
            else
                result = pt::kErrInvalidChannelId;
            break;
        }
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "Ioctl 0x%08X is not supported", ioctl);
            vehicle.SetLastError(text);
            result = pt::kErrNotSupported;
            break;
        }
    }
    if (result == pt::kErrInvalidChannelId && (ioctl >= kDevicePins && ioctl <= kDeviceValue)) {
        char text[64];
        std::snprintf(text, sizeof text, "Invalid channel ID %u", channel);
        vehicle.SetLastError(text);
    }
    ctx.response.u32(result).u32(ioctl).bytes(tail.data());
}

}  // namespace

void RegisterPassThru0202Services(ServiceTable& table) {
    table.Register(kCodeConnect, Connect);
    table.Register(kCodeDisconnect, Disconnect);
    table.Register(kCodeReadMsgs, [](CommandContext& ctx) { Read(ctx, false); });
    table.Register(kCodeReadMsgsNoLength, [](CommandContext& ctx) { Read(ctx, true); });
    table.Register(kCodeWriteMsgs, Write);
    table.Register(kCodeWriteMsgsInterrupt, Write);
    table.Register(kCodeGetLastError, GetLastError);
    table.Register(kCodeIoctl, Ioctl);
    RegisterOemServices(table);
}

}  // namespace sim
