// ECU reprogramming (codes 96 to 101 and 0x407F to 0x4D7F).
//
// The simulated vehicle has three reprogrammable systems:
//     1 ENGINE ECM (two software numbers), 2 TRANSMISSION TCM (needs the
//     parent software information before it is reprogrammed), 3 BRAKE ABS.
// A reprogramming session: the supply voltage must be between 11.0 and
// 15.5 V and the reprogramming control line switched on (Control 1); then a
// reprogramming run (ReproReprogramming with a data set name, or
// ReproReprogrammingOs with stored program information) or a verification run
// starts. A run's progress goes from 0 to 100 over kProgramRunMs (kVerifyRunMs
// for verification) of device time. When a reprogramming run is done, the
// system's first software number is saved (ReproDeleteSaveSoftwareNumberOs
// hands the saved numbers out and forgets them) and replaced by the data
// set's name, and the data set is stored as program information. A
// verification run compares its data set with the last one programmed; the
// outcome is the Detail of ReproGetProgressOs.
//
// Records (opaque to the PC):
//   SystemListEntry   44 bytes: u32 system, u32 flags (1 reprogrammable,
//                     2 needs parent information), 36 bytes ASCII name
//   SoftwareNumberEntry 36 bytes: ASCII, zero-padded
//   ProgramInfoEntry  3712 bytes: u32 system, u32 index, 64 bytes ASCII data
//                     set name, u32 image size, then the image's first bytes
//   VehicleIdNumber   36 bytes: the simulated vehicle's VIN (17 characters),
//                     zero-padded (Selector1 1 asks for the characters alone)
// Lists: Capacity is the PC's room in records; EntryCount is always the full
// count, and the records travel only when they fit. While a run is active the
// list commands answer kReproBusy, with the lists as they were before it.
// Progress Detail: 0 no run, 1 erasing, 2 writing, 3 checking, 4 done,
// 5 verification found a mismatch.
//
// Results: 0 success, or the device codes kRepro* below.
// A hostile device reports exactly the capacity but sends records beyond it,
// and a VIN of 5000 bytes.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Sim/Core/Services.h"
#include "Sim/Vehicle/Vehicle.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kReproLowVoltage = 0x0301;
constexpr uint32_t kReproLineOff = 0x0302;
constexpr uint32_t kReproBusy = 0x0303;
constexpr uint32_t kReproUnknownSystem = 0x0304;
constexpr uint32_t kReproBadName = 0x0305;
constexpr uint32_t kReproNoRun = 0x0306;
constexpr uint32_t kReproNoProgramInfo = 0x0308;
constexpr uint32_t kReproNeedParent = 0x0309;
constexpr uint32_t kReproBadArgument = 0x0310;

constexpr uint32_t kProgramRunMs = 2000;
constexpr uint32_t kVerifyRunMs = 800;
constexpr uint16_t kMinMillivolts = 11000;
constexpr uint16_t kMaxMillivolts = 15500;

constexpr size_t kSoftwareNumberSize = 36;
constexpr size_t kSystemEntrySize = 44;
constexpr size_t kProgramInfoSize = 3712;
constexpr size_t kVinRecordSize = 36;

enum Detail : uint32_t { kDetailNone = 0, kDetailErasing, kDetailWriting, kDetailChecking, kDetailDone, kDetailMismatch };

struct ProgramInfo {
    std::string name;
    uint32_t imageSize = 0;
};

struct EcuSystem {
    EcuSystem(uint32_t i, std::string n, std::vector<std::string> numbers, bool parent)
        : id(i), name(std::move(n)), softwareNumbers(std::move(numbers)), needsParent(parent) {}
    uint32_t id;
    std::string name;
    std::vector<std::string> softwareNumbers;
    bool needsParent;
    bool parentSet = false;
    uint32_t parentValue = 0;
    std::vector<ProgramInfo> programInfo;
    std::string lastProgrammed;
};

struct Run {
    bool active = false;   // a run was started (and may be done)
    bool verify = false;
    uint32_t system = 0;
    std::string name;
    Clock::time_point start;
    uint32_t durationMs = 0;
    bool finished = false;
    bool mismatch = false;
};

class ReproFamily {
public:
    explicit ReproFamily(DeviceState& device) : m_device(device) {
        m_systems.push_back(EcuSystem(1, "ENGINE ECM", {"23710-ECM-0001", "CAL-ECM-0001"}, false));
        m_systems.push_back(EcuSystem(2, "TRANSMISSION TCM", {"31036-TCM-0007"}, true));
        m_systems.push_back(EcuSystem(3, "BRAKE ABS", {"47660-ABS-0003"}, false));
        m_systems[0].programInfo.push_back({"ECM-UPDATE-0002", 262144});
        m_systems[1].programInfo.push_back({"TCM-UPDATE-0008", 131072});
    }

    uint32_t CheckVoltage() const {
        const uint16_t mv = m_device.voltage;
        return (mv >= kMinMillivolts && mv <= kMaxMillivolts) ? 0 : kReproLowVoltage;
    }

    uint32_t ControlLine(uint32_t control) {
        if (control > 1) return kReproBadArgument;
        m_lineOn = control == 1;
        return 0;
    }

    EcuSystem* Find(uint32_t id) {
        for (EcuSystem& s : m_systems)
            if (s.id == id) return &s;
        return nullptr;
    }
    std::vector<EcuSystem>& Systems() { return m_systems; }
    std::vector<std::string>& Saved() { return m_saved; }

    // Starts a run on a system with a data set.
    uint32_t Start(uint32_t systemId, const std::string& name, bool verify) {
        Update();
        if (m_run.active && !m_run.finished) return kReproBusy;
        EcuSystem* system = Find(systemId);
        if (!system) return kReproUnknownSystem;
        if (name.empty()) return kReproBadName;
        if (uint32_t v = CheckVoltage()) return v;
        if (!m_lineOn) return kReproLineOff;
        if (!verify && system->needsParent && !system->parentSet) return kReproNeedParent;
        m_run = Run();
        m_run.active = true;
        m_run.verify = verify;
        m_run.system = systemId;
        m_run.name = name;
        m_run.start = Clock::now();
        m_run.durationMs = verify ? kVerifyRunMs : kProgramRunMs;
        return 0;
    }

    bool Busy() {
        Update();
        return m_run.active && !m_run.finished;
    }

    // The run's progress (0..100) and detail; false when no run was started.
    bool Progress(uint32_t* progress, uint32_t* detail) {
        Update();
        *progress = 0;
        *detail = kDetailNone;
        if (!m_run.active) return false;
        *progress = Percent();
        if (m_run.finished)
            *detail = m_run.mismatch ? kDetailMismatch : kDetailDone;
        else if (m_run.verify || *progress >= 90)
            *detail = kDetailChecking;
        else
            *detail = *progress < 20 ? kDetailErasing : kDetailWriting;
        return true;
    }

private:
    uint32_t Percent() const {
        if (m_run.finished) return 100;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_run.start).count();
        const uint64_t percent = static_cast<uint64_t>(elapsed) * 100 / m_run.durationMs;
        return percent >= 100 ? 100 : static_cast<uint32_t>(percent);
    }

    // Finishes a run whose time is up.
    void Update() {
        if (!m_run.active || m_run.finished || Percent() < 100) return;
        m_run.finished = true;
        EcuSystem* system = Find(m_run.system);
        if (!system) return;
        if (m_run.verify) {
            m_run.mismatch = system->lastProgrammed != m_run.name;
            return;
        }
        if (!system->softwareNumbers.empty()) {
            m_saved.push_back(system->softwareNumbers[0]);
            system->softwareNumbers[0] = m_run.name.substr(0, kSoftwareNumberSize - 1);
        }
        system->lastProgrammed = m_run.name;
        bool known = false;
        for (const ProgramInfo& info : system->programInfo) known = known || info.name == m_run.name;
        if (!known) system->programInfo.push_back({m_run.name, 65536});
    }

    DeviceState& m_device;
    std::vector<EcuSystem> m_systems;
    std::vector<std::string> m_saved;
    bool m_lineOn = false;
    Run m_run;
};


void PutPadded(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    const size_t n = std::min(text.size(), size - 1);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), size - n, 0);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Sends a list: the full count, the records only when they fit. A hostile
// device claims exactly the capacity and sends records beyond it (up to
// kHostileAskedMax bytes).

void PutList(CommandContext& ctx, uint32_t capacity, const std::vector<std::vector<uint8_t>>& records,
             size_t recordSize) {
    std::vector<uint8_t> bytes;
    uint32_t count = static_cast<uint32_t>(records.size());
    if (ctx.Hostile()) {
        count = capacity;
        bytes.assign(std::min((static_cast<size_t>(capacity) + 8) * recordSize, kHostileAskedMax), 0xA5);
    } else if (count <= capacity) {
        for (const auto& r : records) bytes.insert(bytes.end(), r.begin(), r.end());
    }
    ctx.response.u32(count).u32(0).buf(bytes);
}

std::vector<std::vector<uint8_t>> SoftwareNumberRecords(const std::vector<std::string>& numbers) {
    std::vector<std::vector<uint8_t>> records;
    for (const std::string& n : numbers) {
        std::vector<uint8_t> r;
        PutPadded(r, n, kSoftwareNumberSize);
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<uint8_t> ProgramInfoRecord(const EcuSystem& system, uint32_t index) {
    const ProgramInfo& info = system.programInfo[index];
    std::vector<uint8_t> r;
    PutU32(r, system.id);
    PutU32(r, index);
    PutPadded(r, info.name, 64);
    PutU32(r, info.imageSize);
    for (size_t i = r.size(); i < kProgramInfoSize; ++i) r.push_back(static_cast<uint8_t>(i * 7 + system.id));
    return r;
}

std::string Utf8Name(const std::u16string& name) { return ToUtf8(name); }

// ---- codes 96 to 101 -------------------------------------------------------------

void CheckVoltage(CommandContext& ctx) { ctx.response.u32(ctx.Family<ReproFamily>().CheckVoltage()); }

void ControlWfseLine(CommandContext& ctx) {
    const uint32_t control = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<ReproFamily>().ControlLine(control));
}

// Software numbers of a system: code 98 (Selector, Capacity, Option) and
// 0x457F (Selector1, Selector2 0 current / 1 saved, Capacity).
void SoftwareNumbers(CommandContext& ctx, uint32_t system, uint32_t which, uint32_t capacity) {
    ReproFamily& family = ctx.Family<ReproFamily>();
    EcuSystem* s = family.Find(system);
    uint32_t result = 0;
    std::vector<std::string> numbers;
    if (!s)
        result = kReproUnknownSystem;
    else if (which == 0)
        numbers = s->softwareNumbers;
    else if (which == 1)
        numbers = family.Saved();
    else
        result = kReproBadArgument;
    // Status: 1 = read from the ECU, 2 = the numbers known before the
    // running reprogramming.
    uint32_t status = result == 0 ? 1 : 0;
    if (result == 0 && family.Busy()) {
        result = kReproBusy;
        status = 2;
    }
    ctx.response.u32(result);
    PutList(ctx, capacity, SoftwareNumberRecords(numbers), kSoftwareNumberSize);
    ctx.response.u32(status);
}

void ReadSoftwareNumber(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    const uint32_t capacity = ctx.request.u32();
    const uint32_t option = ctx.request.u32();
    if (!ctx.request.ok()) return;
    SoftwareNumbers(ctx, selector, option, capacity);
}

void NamedRun(CommandContext& ctx, bool verify) {
    ctx.request.u32();  // spare
    const std::u16string name = ctx.request.wstr();
    const uint32_t system = ctx.request.u32();
    ctx.request.u32();
    ctx.request.u32();
    if (!ctx.request.ok()) return;
    ctx.response.u32(ctx.Family<ReproFamily>().Start(system, Utf8Name(name), verify));
}

void Reprogramming(CommandContext& ctx) { NamedRun(ctx, false); }
void Verify(CommandContext& ctx) { NamedRun(ctx, true); }

void GetProgress(CommandContext& ctx) {
    uint32_t progress = 0, detail = 0;
    const bool running = ctx.Family<ReproFamily>().Progress(&progress, &detail);
    ctx.response.u32(running ? 0 : kReproNoRun).u32(progress);
}

// ---- codes 0x407F to 0x4D7F ----------------------------------------------------------

void GetSystemList(CommandContext& ctx) {
    const uint32_t capacity = ctx.request.u32();
    if (!ctx.request.ok()) return;
    std::vector<std::vector<uint8_t>> records;
    for (const EcuSystem& s : ctx.Family<ReproFamily>().Systems()) {
        std::vector<uint8_t> r;
        PutU32(r, s.id);
        PutU32(r, 1u | (s.needsParent ? 2u : 0u));
        PutPadded(r, s.name, kSystemEntrySize - 8);
        records.push_back(std::move(r));
    }
    ctx.response.u32(ctx.Family<ReproFamily>().Busy() ? kReproBusy : 0);
    PutList(ctx, capacity, records, kSystemEntrySize);
}

void CheckProgramInfo(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    if (!ctx.request.ok()) return;
    EcuSystem* s = ctx.Family<ReproFamily>().Find(selector);
    ctx.response.u32(!s ? kReproUnknownSystem : s->programInfo.empty() ? kReproNoProgramInfo : 0);
}

void DeleteProgramInfo(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    if (!ctx.request.ok()) return;
    EcuSystem* s = ctx.Family<ReproFamily>().Find(selector);
    if (!s) {
        ctx.response.u32(kReproUnknownSystem);
        return;
    }
    const bool had = !s->programInfo.empty();
    s->programInfo.clear();
    ctx.response.u32(had ? 0 : kReproNoProgramInfo);
}

void ReadSoftwareNumberOs(CommandContext& ctx) {
    const uint32_t selector1 = ctx.request.u32();
    const uint32_t selector2 = ctx.request.u32();
    const uint32_t capacity = ctx.request.u32();
    if (!ctx.request.ok()) return;
    SoftwareNumbers(ctx, selector1, selector2, capacity);
}

// Selector: a system, or 0xFFFFFFFF for all. Status: the number of records
// stored over all systems.
void GetAllProgramInfo(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    const uint32_t capacity = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ReproFamily& family = ctx.Family<ReproFamily>();
    std::vector<std::vector<uint8_t>> records;
    uint32_t total = 0;
    bool known = selector == 0xFFFFFFFFu;
    for (const EcuSystem& s : family.Systems()) {
        total += static_cast<uint32_t>(s.programInfo.size());
        if (selector != 0xFFFFFFFFu && s.id != selector) continue;
        known = true;
        for (uint32_t i = 0; i < s.programInfo.size(); ++i) records.push_back(ProgramInfoRecord(s, i));
    }
    ctx.response.u32(!known ? kReproUnknownSystem : family.Busy() ? kReproBusy : 0);
    PutList(ctx, capacity, records, kProgramInfoSize);
    ctx.response.u32(total);
}

// Param1 the system, Param2 the index of its stored program information.
void ReprogrammingOs(CommandContext& ctx) {
    const uint32_t system = ctx.request.u32();
    const uint32_t index = ctx.request.u32();
    for (int i = 0; i < 3; ++i) ctx.request.u32();
    if (!ctx.request.ok()) return;
    ReproFamily& family = ctx.Family<ReproFamily>();
    EcuSystem* s = family.Find(system);
    if (!s) {
        ctx.response.u32(kReproUnknownSystem);
        return;
    }
    if (index >= s->programInfo.size()) {
        ctx.response.u32(kReproNoProgramInfo);
        return;
    }
    ctx.response.u32(family.Start(system, s->programInfo[index].name, false));
}

void GetProgressOs(CommandContext& ctx) {
    uint32_t progress = 0, detail = 0;
    const bool running = ctx.Family<ReproFamily>().Progress(&progress, &detail);
    ctx.response.u32(running ? 0 : kReproNoRun).u32(progress).u32(detail);
}

// Hands the saved software numbers out and forgets them (only when they fit).
void DeleteSaveSoftwareNumber(CommandContext& ctx) {
    const uint32_t capacity = ctx.request.u32();
    if (!ctx.request.ok()) return;
    ReproFamily& family = ctx.Family<ReproFamily>();
    const std::vector<std::string> saved = family.Saved();
    const bool busy = family.Busy();
    ctx.response.u32(busy ? kReproBusy : 0);
    PutList(ctx, capacity, SoftwareNumberRecords(saved), kSoftwareNumberSize);
    if (!busy && saved.size() <= capacity) family.Saved().clear();
}

void GetToolCondition(CommandContext& ctx) {
    ReproFamily& family = ctx.Family<ReproFamily>();
    uint32_t result = family.CheckVoltage();
    if (result == 0 && family.Busy()) result = kReproBusy;
    ctx.response.u32(result);
}

void CheckNeedParent(CommandContext& ctx) {
    const uint32_t selector = ctx.request.u32();
    if (!ctx.request.ok()) return;
    EcuSystem* s = ctx.Family<ReproFamily>().Find(selector);
    ctx.response.u32(!s ? kReproUnknownSystem : (s->needsParent && !s->parentSet) ? 1 : 0);
}

void SetParent(CommandContext& ctx) {
    const uint32_t system = ctx.request.u32();
    const uint32_t value = ctx.request.u32();
    if (!ctx.request.ok()) return;
    EcuSystem* s = ctx.Family<ReproFamily>().Find(system);
    if (!s) {
        ctx.response.u32(kReproUnknownSystem);
        return;
    }
    s->parentSet = true;
    s->parentValue = value;
    ctx.response.u32(0);
}

// Selector1 0: the 36-byte record; 1: the VIN's characters alone.
void ReadVehicleIdNumber(CommandContext& ctx) {
    const uint32_t selector1 = ctx.request.u32();
    ctx.request.u32();
    if (!ctx.request.ok()) return;
    const std::string vin = ctx.Family<Vehicle>().Data().vin;
    std::vector<uint8_t> data;
    uint32_t result = 0;
    if (ctx.Hostile()) {
        data.assign(5000, 'V');
    } else if (selector1 == 0) {
        PutPadded(data, vin, kVinRecordSize);
    } else if (selector1 == 1) {
        data.assign(vin.begin(), vin.end());
    } else {
        result = kReproBadArgument;
    }
    ctx.response.u32(result).buf(data);
}

}  // namespace

void RegisterReproServices(ServiceTable& table) {
    table.Register(96, CheckVoltage);
    table.Register(97, ControlWfseLine);
    table.Register(98, ReadSoftwareNumber);
    table.Register(99, Reprogramming);
    table.Register(100, Verify);
    table.Register(101, GetProgress);
    table.Register(0x407F, CheckVoltage);
    table.Register(0x417F, ControlWfseLine);
    table.Register(0x427F, GetSystemList);
    table.Register(0x437F, CheckProgramInfo);
    table.Register(0x447F, DeleteProgramInfo);
    table.Register(0x457F, ReadSoftwareNumberOs);
    table.Register(0x467F, GetAllProgramInfo);
    table.Register(0x477F, ReprogrammingOs);
    table.Register(0x487F, GetProgressOs);
    table.Register(0x497F, DeleteSaveSoftwareNumber);
    table.Register(0x4A7F, GetToolCondition);
    table.Register(0x4B7F, CheckNeedParent);
    table.Register(0x4C7F, SetParent);
    table.Register(0x4D7F, ReadVehicleIdNumber);
}

}  // namespace sim
