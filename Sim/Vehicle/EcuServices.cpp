#include "Sim/Vehicle/EcuServices.h"

#include <algorithm>

namespace sim {

namespace {

// UDS negative response codes.
constexpr uint8_t kNrcServiceNotSupported = 0x11;
constexpr uint8_t kNrcSubFunctionNotSupported = 0x12;
constexpr uint8_t kNrcIncorrectLength = 0x13;
constexpr uint8_t kNrcRequestOutOfRange = 0x31;

const uint8_t kEnginePids[] = {0x01, 0x04, 0x05, 0x0C, 0x0D, 0x0F, 0x10, 0x11,
                               0x1C, 0x1F, 0x2F, 0x42};
const uint8_t kTransmissionPids[] = {0x0D};

uint8_t Percent(uint32_t pct) { return static_cast<uint8_t>(std::min<uint32_t>(pct, 100) * 255 / 100); }
uint8_t Celsius(int32_t c) { return static_cast<uint8_t>(std::max(-40, std::min(215, c)) + 40); }

void Put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v));
}

// A text in a field of fixed size, padded with zeros.
void PutText(std::vector<uint8_t>* out, const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i) out->push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

bool Negative(bool functional, uint8_t sid, uint8_t nrc, std::vector<uint8_t>* out) {
    // Functional requests get no "not supported" or "out of range" answers.
    if (functional && (nrc == kNrcServiceNotSupported || nrc == kNrcSubFunctionNotSupported ||
                       nrc == kNrcRequestOutOfRange))
        return false;
    *out = {0x7F, sid, nrc};
    return true;
}

}  // namespace

bool EcuServices::SupportsPid(uint8_t pid) const {
    const uint8_t* first = m_role == EcuRole::Engine ? std::begin(kEnginePids) : std::begin(kTransmissionPids);
    const uint8_t* last = m_role == EcuRole::Engine ? std::end(kEnginePids) : std::end(kTransmissionPids);
    // A "supported PIDs" PID (0x00, 0x20, ...) is there when a later PID is.
    if (pid % 0x20 == 0) return pid == 0 || std::any_of(first, last, [pid](uint8_t p) { return p > pid; });
    return std::find(first, last, pid) != last;
}

bool EcuServices::SupportsInfoType(uint8_t infoType) const {
    switch (infoType) {
    case 0x00:
    case 0x0A:
        return true;
    case 0x02:
    case 0x04:
        return m_role == EcuRole::Engine;
    default:
        return false;
    }
}

void EcuServices::PidValue(const VehicleData& d, uint8_t pid, std::vector<uint8_t>* out) const {
    if (pid % 0x20 == 0) {
        uint32_t bits = 0;
        for (uint32_t i = 1; i <= 0x20; ++i)
            if (SupportsPid(static_cast<uint8_t>(pid + i))) bits |= 1u << (32 - i);
        for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(bits >> shift));
        return;
    }
    switch (pid) {
    case 0x01: {  // monitor status since DTCs cleared
        const uint8_t count = static_cast<uint8_t>(std::min<size_t>(d.storedDtcs.size(), 0x7F));
        out->push_back(static_cast<uint8_t>((d.storedDtcs.empty() ? 0 : 0x80) | count));
        out->push_back(0x07);
        out->push_back(0x65);
        out->push_back(0x00);
        break;
    }
    case 0x04: out->push_back(Percent(d.engineLoadPct)); break;
    case 0x05: out->push_back(Celsius(d.coolantC)); break;
    case 0x0C: Put16(out, std::min<uint32_t>(d.engineRpm, 16383) * 4); break;
    case 0x0D: out->push_back(static_cast<uint8_t>(std::min<uint32_t>(d.speedKmh, 255))); break;
    case 0x0F: out->push_back(Celsius(d.intakeAirC)); break;
    case 0x10: Put16(out, std::min<uint32_t>(d.mafCentiGs, 0xFFFF)); break;
    case 0x11: out->push_back(Percent(d.throttlePct)); break;
    case 0x1C: out->push_back(0x01); break;  // OBD-II as defined by CARB
    case 0x1F: Put16(out, std::min<uint32_t>(d.runTimeS, 0xFFFF)); break;
    case 0x2F: out->push_back(Percent(d.fuelLevelPct)); break;
    case 0x42: Put16(out, std::min<uint32_t>(d.controlModuleMv, 0xFFFF)); break;
    default: break;
    }
}

bool EcuServices::Obd01(const VehicleData& data, const std::vector<uint8_t>& req, std::vector<uint8_t>* out) const {
    if (req.size() < 2 || req.size() > 7) return false;
    *out = {0x41};
    for (size_t i = 1; i < req.size(); ++i) {
        if (!SupportsPid(req[i])) continue;
        out->push_back(req[i]);
        PidValue(data, req[i], out);
    }
    return out->size() > 1;
}

bool EcuServices::Obd09(const VehicleData& data, const std::vector<uint8_t>& req, std::vector<uint8_t>* out) const {
    if (req.size() != 2 || !SupportsInfoType(req[1])) return false;
    *out = {0x49, req[1]};
    switch (req[1]) {
    case 0x00: {
        uint32_t bits = 0;
        for (uint32_t i = 1; i <= 0x20; ++i)
            if (SupportsInfoType(static_cast<uint8_t>(i))) bits |= 1u << (32 - i);
        for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(bits >> shift));
        break;
    }
    case 0x02:
        out->push_back(0x01);  // one data item
        PutText(out, data.vin, 17);
        break;
    case 0x04:
        out->push_back(0x01);
        PutText(out, data.calibrationId, 16);
        break;
    case 0x0A:
        out->push_back(0x01);
        PutText(out, m_role == EcuRole::Engine ? data.engineEcuName : data.transmissionEcuName, 20);
        break;
    default:
        return false;
    }
    return true;
}

bool EcuServices::Uds22(const VehicleData& d, const std::vector<uint8_t>& req, bool functional,
                        std::vector<uint8_t>* out) const {
    if (req.size() < 3 || (req.size() - 1) % 2 != 0) return Negative(functional, 0x22, kNrcIncorrectLength, out);
    std::vector<uint8_t> answer = {0x62};
    for (size_t i = 1; i + 1 < req.size(); i += 2) {
        const uint16_t did = static_cast<uint16_t>((req[i] << 8) | req[i + 1]);
        std::vector<uint8_t> value;
        switch (did) {
        case 0xF190: PutText(&value, d.vin, 17); break;
        case 0xF18C: PutText(&value, d.ecuSerial, d.ecuSerial.size()); break;
        case 0xF187: PutText(&value, d.sparePartNumber, d.sparePartNumber.size()); break;
        case 0xF189: PutText(&value, d.softwareVersion, d.softwareVersion.size()); break;
        case 0xF186: value.push_back(m_session); break;
        case 0xF197: {
            const std::string& name = m_role == EcuRole::Engine ? d.engineEcuName : d.transmissionEcuName;
            PutText(&value, name, name.size());
            break;
        }
        default: continue;  // unsupported identifiers are left out
        }
        answer.push_back(req[i]);
        answer.push_back(req[i + 1]);
        answer.insert(answer.end(), value.begin(), value.end());
    }
    if (answer.size() == 1) return Negative(functional, 0x22, kNrcRequestOutOfRange, out);
    *out = std::move(answer);
    return true;
}

bool EcuServices::Handle(VehicleData& data, const std::vector<uint8_t>& req, bool functional,
                         std::vector<uint8_t>* out) {
    if (req.empty()) return false;
    const uint8_t sid = req[0];
    const bool engine = m_role == EcuRole::Engine;
    switch (sid) {
    case 0x01:
        return Obd01(data, req, out);
    case 0x03:
    case 0x07:
    case 0x0A: {
        if (req.size() != 1) return false;
        const std::vector<uint16_t> none;
        const std::vector<uint16_t>& codes =
            !engine || sid == 0x0A ? none : sid == 0x03 ? data.storedDtcs : data.pendingDtcs;
        *out = {static_cast<uint8_t>(sid + 0x40), static_cast<uint8_t>(std::min<size_t>(codes.size(), 255))};
        for (size_t i = 0; i < codes.size() && i < 255; ++i) Put16(out, codes[i]);
        return true;
    }
    case 0x04:
        if (req.size() != 1) return false;
        if (engine) {
            data.storedDtcs.clear();
            data.pendingDtcs.clear();
        }
        *out = {0x44};
        return true;
    case 0x09:
        return Obd09(data, req, out);
    case 0x10: {
        if (req.size() != 2) return Negative(functional, sid, kNrcIncorrectLength, out);
        const uint8_t sub = req[1] & 0x7F;
        if (sub < 1 || sub > 3) return Negative(functional, sid, kNrcSubFunctionNotSupported, out);
        m_session = sub;
        if (req[1] & 0x80) return false;  // positive response suppressed
        *out = {0x50, sub, 0x00, 0x32, 0x01, 0xF4};  // P2 50 ms, P2* 5000 ms
        return true;
    }
    case 0x11: {
        if (req.size() != 2) return Negative(functional, sid, kNrcIncorrectLength, out);
        const uint8_t sub = req[1] & 0x7F;
        if (sub < 1 || sub > 3) return Negative(functional, sid, kNrcSubFunctionNotSupported, out);
        m_session = 1;
        if (req[1] & 0x80) return false;
        *out = {0x51, sub};
        return true;
    }
    case 0x14:
        if (req.size() != 4) return Negative(functional, sid, kNrcIncorrectLength, out);
        if (engine) {
            data.storedDtcs.clear();
            data.pendingDtcs.clear();
        }
        *out = {0x54};
        return true;
    case 0x19: {
        if (req.size() != 3) return Negative(functional, sid, kNrcIncorrectLength, out);
        if ((req[1] & 0x7F) != 0x02) return Negative(functional, sid, kNrcSubFunctionNotSupported, out);
        if (req[1] & 0x80) return false;
        *out = {0x59, 0x02, 0xFF};
        if (engine) {
            for (uint16_t code : data.storedDtcs) {
                const uint8_t status = 0x2F;  // confirmed, test failed
                if (!(status & req[2])) continue;
                Put16(out, code);
                out->push_back(0x00);
                out->push_back(status);
            }
        }
        return true;
    }
    case 0x22:
        return Uds22(data, req, functional, out);
    case 0x3E:
        if (req.size() != 2) return Negative(functional, sid, kNrcIncorrectLength, out);
        if ((req[1] & 0x7F) != 0) return Negative(functional, sid, kNrcSubFunctionNotSupported, out);
        if (req[1] & 0x80) return false;
        *out = {0x7E, 0x00};
        return true;
    default:
        // OBD services below 0x10 the ECU does not know stay unanswered;
        // UDS services get "service not supported" when asked physically.
        if (sid < 0x10) return false;
        return Negative(functional, sid, kNrcServiceNotSupported, out);
    }
}

}  // namespace sim
