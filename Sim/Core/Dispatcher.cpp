#include "Sim/Core/Dispatcher.h"

#include <exception>

namespace sim {

std::vector<uint8_t> EncodeRefusal(uint32_t code, uint32_t refusalCode) {
    std::vector<uint8_t> out = EncodeCode(code);
    out.push_back(kStatusRefused);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(refusalCode >> (8 * i)));
    return out;
}

DispatchResult Dispatch(const ServiceTable& table, DeviceState& device, const uint8_t* request,
                        size_t size) {
    DispatchResult result;
    uint32_t code = 0;
    const size_t used = DecodeCode(request, size, &code);
    result.code = code;
    auto refuse = [&](uint32_t why) {
        result.refused = true;
        result.refusalCode = why;
        result.response = EncodeRefusal(code, why);
        result.workMs = 0;
        device.lastError = why;
        return result;
    };
    if (used == 0) return refuse(kRefuseBadRequest);
    const Handler* handler = table.Find(code);
    if (!handler) return refuse(kRefuseUnknownCommand);

    CommandContext ctx;
    ctx.code = code;
    ctx.request = WireIn(request + used, size - used);
    ctx.device = &device;
    try {
        (*handler)(ctx);
    } catch (const std::exception&) {
        return refuse(kRefuseDeviceFault);
    }
    if (ctx.refused) return refuse(ctx.refusalCode);
    if (!ctx.request.ok()) return refuse(kRefuseBadRequest);

    result.response = EncodeCode(code);
    result.response.push_back(kStatusAccepted);
    const std::vector<uint8_t>& record = ctx.response.data();
    result.response.insert(result.response.end(), record.begin(), record.end());
    result.workMs = ctx.workMs;
    return result;
}

Handler CutShortWhenHostile(void (*handler)(CommandContext&)) {
    return [handler](CommandContext& ctx) {
        handler(ctx);
        if (ctx.Hostile() && !ctx.refused) ctx.response.data().resize(ctx.response.size() / 2);
    };
}

void RegisterAllServices(ServiceTable& table) {
    RegisterStatusServices(table);
    RegisterFileServices(table);
    RegisterRegistryServices(table);
    RegisterClockServices(table);
    RegisterLogServices(table);
    RegisterFirmwareServices(table);
    RegisterJ2534Services(table);
    RegisterPassThru0202Services(table);
    RegisterReproServices(table);
    RegisterMonitorServices(table);
}

}  // namespace sim
