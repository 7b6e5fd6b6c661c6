// The reprogramming exports against the simulated device: a whole session
// (voltage, control line, reprogramming and verification runs followed to
// 100), the list commands' copy conditions, the pointer checks, failed
// exchanges, and answers larger than the caller's memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Sim/Vehicle/Vehicle.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/ReportCapture.h"
#include "Tests/Support/WideText.h"
#include "vantro/vantro.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kApi[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

using vtest::Wide;
constexpr uint32_t kBusy = 0x0303;
constexpr uint32_t kUnknownSystem = 0x0304;
constexpr uint32_t kNoRun = 0x0306;
constexpr uint32_t kNeedParent = 0x0309;
constexpr uint32_t kLowVoltage = 0x0301;
constexpr uint32_t kLineOff = 0x0302;
constexpr uint32_t kEcm = 1, kTcm = 2;
constexpr uint8_t kFill = 0xAA;
constexpr uint32_t kFill32 = 0xAAAAAAAA;

std::string Ascii(const uint8_t* bytes, size_t max) {
    std::string s;
    for (size_t i = 0; i < max && bytes[i] != 0; ++i) s.push_back(static_cast<char>(bytes[i]));
    return s;
}

uint32_t U32At(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

class ReproTest : public ::testing::Test {
protected:
    // Polls the progress until it reaches 100 (or the deadline passes);
    // the values seen, in order.
    std::vector<uint32_t> FollowProgress(bool os, uint32_t* detail = nullptr) {
        std::vector<uint32_t> seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            uint32_t progress = kFill32, d = kFill32;
            uint32_t result = os ? ReproGetProgressOs(&progress, &d) : ReproGetProgress(&progress);
            EXPECT_EQ(result, 0u);
            if (result != 0) break;
            seen.push_back(progress);
            if (detail) *detail = d;
            if (progress >= 100) break;
        }
        return seen;
    }

    void StartSession() {
        ASSERT_EQ(ReproCheckVoltage(), 0u);
        ASSERT_EQ(ReproControlWfseLine(1), 0u);
    }

    vtest::InProcessSim sim;
    vtest::ReportCapture capture;
};

TEST_F(ReproTest, AReprogrammingSessionRunsToTheEnd) {
    EXPECT_EQ(ReproGetProgress(nullptr), kNoRun);
    EXPECT_EQ(ReproReprogramming(Wide(u"ECM-NEW-0100").c_str(), kEcm, 0, 0), kLineOff);
    StartSession();

    EXPECT_EQ(ReproReprogramming(Wide(u"ECM-NEW-0100").c_str(), kEcm, 0, 0), 0u);
    EXPECT_EQ(ReproReprogramming(Wide(u"ECM-NEW-0100").c_str(), kEcm, 0, 0), kBusy);
    EXPECT_EQ(ReproGetToolConditionOs(), kBusy);
    std::vector<uint32_t> seen = FollowProgress(false);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100u);
    EXPECT_GT(seen.size(), 2u);  // it advanced over time
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
    EXPECT_EQ(ReproGetToolConditionOs(), 0u);

    // The new number replaced the first one; the old one was saved.
    SoftwareNumberEntry a, b;
    SoftwareNumberEntry* entries[2] = {&a, &b};
    uint32_t count = 2, status = 0;
    EXPECT_EQ(ReproReadSoftwareNumber(kEcm, entries, &count, &status, 0), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(Ascii(a.Bytes, 36), "ECM-NEW-0100");
    EXPECT_EQ(Ascii(b.Bytes, 36), "CAL-ECM-0001");

    // Verification of what was programmed.
    EXPECT_EQ(ReproVerify(Wide(u"ECM-NEW-0100").c_str(), kEcm, 0, 0), 0u);
    uint32_t detail = 0;
    seen = FollowProgress(true, &detail);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100u);
    EXPECT_EQ(detail, 4u);  // done, matching

    SoftwareNumberEntry saved;
    SoftwareNumberEntry* savedPtr[1] = {&saved};
    count = 1;
    EXPECT_EQ(ReproDeleteSaveSoftwareNumberOs(savedPtr, &count), 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(Ascii(saved.Bytes, 36), "23710-ECM-0001");
    count = 1;
    EXPECT_EQ(ReproDeleteSaveSoftwareNumberOs(savedPtr, &count), 0u);
    EXPECT_EQ(count, 0u);
}

TEST_F(ReproTest, RequestsCarryTheArgumentsUnchanged) {
    ReproControlWfseLine(0x01020304);
    ReproReprogramming(Wide(u"X").c_str(), 5, 6, 7);
    ReproGetToolConditionOs();
    ReproSetParentSoftwareInfoOs(9, 10);
    auto traces = capture.Traces();
    ASSERT_EQ(traces.size(), 8u);
    EXPECT_EQ(traces[0], (Bytes{0x61, 4, 3, 2, 1}));
    EXPECT_EQ(traces[2], (Bytes{0x63, 0, 0, 0, 0, 4, 0, 0, 0, 'X', 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(traces[4], (Bytes{0x7F, 0x4A}));
    EXPECT_EQ(traces[6], (Bytes{0x7F, 0x4C, 9, 0, 0, 0, 10, 0, 0, 0}));
}

TEST_F(ReproTest, VoltageOutsideTheRangeIsRefusedByTheDevice) {
    sim.Device().State().voltage = 9000;
    EXPECT_EQ(ReproCheckVoltage(), kLowVoltage);
    EXPECT_EQ(ReproCheckVoltageOs(), kLowVoltage);
    EXPECT_EQ(ReproGetToolConditionOs(), kLowVoltage);
}

TEST_F(ReproTest, SoftwareNumbersBeyondTheCapacityAreCountedNotWritten) {
    SoftwareNumberEntry a;
    std::memset(&a, kFill, sizeof a);
    SoftwareNumberEntry* entries[1] = {&a};
    uint32_t count = 1, status = kFill32;
    EXPECT_EQ(ReproReadSoftwareNumber(kEcm, entries, &count, &status, 0), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(a.Bytes[0], kFill);

    count = 1;
    EXPECT_EQ(ReproReadSoftwareNumberOs(kEcm, 0, entries, &count, &status), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(a.Bytes[0], kFill);

    // A nonzero Result: count and status still written, no record.
    count = 1;
    status = kFill32;
    EXPECT_EQ(ReproReadSoftwareNumber(99, entries, &count, &status, 0), kUnknownSystem);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(a.Bytes[0], kFill);
}

TEST_F(ReproTest, WhichListsAreCopiedWhileTheDeviceIsBusy) {
    StartSession();
    ASSERT_EQ(ReproReprogramming(Wide(u"ECM-BUSY-0001").c_str(), kEcm, 0, 0), 0u);

    // Software numbers: copied whatever Result says (the Os form) ...
    SoftwareNumberEntry a, b;
    std::memset(&a, kFill, sizeof a);
    std::memset(&b, kFill, sizeof b);
    SoftwareNumberEntry* entries[2] = {&a, &b};
    uint32_t count = 2, status = 0;
    EXPECT_EQ(ReproReadSoftwareNumberOs(kEcm, 0, entries, &count, &status), kBusy);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status, 2u);
    EXPECT_EQ(Ascii(a.Bytes, 36), "23710-ECM-0001");

    // ... but only on Result 0 in the first generation.
    std::memset(&a, kFill, sizeof a);
    count = 2;
    EXPECT_EQ(ReproReadSoftwareNumber(kEcm, entries, &count, &status, 0), kBusy);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(a.Bytes[0], kFill);

    // System list and program information: only on Result 0.
    SystemListEntry systems[3];
    std::memset(systems, kFill, sizeof systems);
    count = 3;
    EXPECT_EQ(ReproGetSystemListOs(systems, &count), kBusy);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(systems[0].Bytes[0], kFill);
    std::unique_ptr<ProgramInfoEntry[]> info(new ProgramInfoEntry[4]);
    std::memset(info.get(), kFill, 4 * sizeof(ProgramInfoEntry));
    count = 4;
    EXPECT_EQ(ReproGetAllProgramInfoOs(0xFFFFFFFF, info.get(), &count, &status), kBusy);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(info[0].Bytes[0], kFill);

    // Progress of the Os form is written whatever Result says.
    FollowProgress(true);
}

TEST_F(ReproTest, SystemListAndProgramInformation) {
    SystemListEntry systems[4];
    std::memset(systems, kFill, sizeof systems);
    uint32_t count = 4;
    EXPECT_EQ(ReproGetSystemListOs(systems, &count), 0u);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(U32At(systems[1].Bytes), kTcm);
    EXPECT_EQ(U32At(systems[1].Bytes + 4), 3u);  // reprogrammable, needs parent information
    EXPECT_EQ(Ascii(systems[1].Bytes + 8, 36), "TRANSMISSION TCM");
    EXPECT_EQ(systems[3].Bytes[0], kFill);

    count = 2;
    EXPECT_EQ(ReproGetSystemListOs(systems, &count), 0u);
    EXPECT_EQ(count, 3u);

    std::unique_ptr<ProgramInfoEntry[]> info(new ProgramInfoEntry[1]);
    uint32_t status = 0;
    count = 1;
    EXPECT_EQ(ReproGetAllProgramInfoOs(kEcm, info.get(), &count, &status), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(status, 2u);  // stored over all systems
    EXPECT_EQ(U32At(info[0].Bytes), kEcm);
    EXPECT_EQ(Ascii(info[0].Bytes + 8, 64), "ECM-UPDATE-0002");

    EXPECT_EQ(ReproCheckProgramInfoOs(3), 0x0308u);
    EXPECT_EQ(ReproCheckProgramInfoOs(kEcm), 0u);
    EXPECT_EQ(ReproDeleteProgramInfoOs(kEcm), 0u);
    EXPECT_EQ(ReproCheckProgramInfoOs(kEcm), 0x0308u);
    EXPECT_EQ(ReproCheckProgramInfoOs(77), kUnknownSystem);
}

TEST_F(ReproTest, ParentInformationIsNeededBeforeTheTcmIsReprogrammed) {
    StartSession();
    EXPECT_EQ(ReproCheckNeedParentSoftwareInfoOs(kTcm), 1u);
    EXPECT_EQ(ReproCheckNeedParentSoftwareInfoOs(kEcm), 0u);
    EXPECT_EQ(ReproReprogrammingOs(kTcm, 0, 0, 0, 0), kNeedParent);
    EXPECT_EQ(ReproSetParentSoftwareInfoOs(kTcm, 0x2371), 0u);
    EXPECT_EQ(ReproCheckNeedParentSoftwareInfoOs(kTcm), 0u);
    EXPECT_EQ(ReproReprogrammingOs(kTcm, 0, 0, 0, 0), 0u);
    uint32_t detail = 0;
    std::vector<uint32_t> seen = FollowProgress(true, &detail);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100u);
    EXPECT_EQ(detail, 4u);

    SoftwareNumberEntry n;
    SoftwareNumberEntry* entries[1] = {&n};
    uint32_t count = 1, status = 0;
    EXPECT_EQ(ReproReadSoftwareNumberOs(kTcm, 0, entries, &count, &status), 0u);
    EXPECT_EQ(Ascii(n.Bytes, 36), "TCM-UPDATE-0008");
}

TEST_F(ReproTest, ProgressIsLeftAloneOnANonzeroResult) {
    uint32_t progress = kFill32, detail = kFill32;
    EXPECT_EQ(ReproGetProgress(&progress), kNoRun);
    EXPECT_EQ(progress, kFill32);
    EXPECT_EQ(ReproGetProgressOs(&progress, &detail), kNoRun);
    EXPECT_EQ(progress, 0u);
    EXPECT_EQ(detail, 0u);
}

TEST_F(ReproTest, VehicleIdNumber) {
    VehicleIdNumber vin;
    std::memset(&vin, kFill, sizeof vin);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, &vin), 0u);
    EXPECT_EQ(Ascii(vin.Bytes, 36), "1VNTR5SM7PA000042");
    EXPECT_EQ(vin.Bytes[35], 0);

    // The bare 17 characters: the rest of the record is zeroed, and the
    // short answer is reported.
    std::memset(&vin, kFill, sizeof vin);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(1, 0, &vin), 0u);
    EXPECT_EQ(Ascii(vin.Bytes, 36), "1VNTR5SM7PA000042");
    for (size_t i = 17; i < 36; ++i) EXPECT_EQ(vin.Bytes[i], 0) << i;
    EXPECT_EQ(capture.Count(0x900d0030, kApi, 6230), 1u);

    // It is the simulated vehicle's.
    sim.Device().State().Family<sim::Vehicle>().UpdateData([](sim::VehicleData& d) { d.vin = "WVWZZZ1KZAW000001"; });
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, &vin), 0u);
    EXPECT_EQ(Ascii(vin.Bytes, 36), "WVWZZZ1KZAW000001");

    // A nonzero Result with no data still writes the record.
    std::memset(&vin, kFill, sizeof vin);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(9, 0, &vin), 0x0310u);
    EXPECT_EQ(vin.Bytes[0], 0);
}

TEST_F(ReproTest, NullPointersAreReportedWithoutAnExchange) {
    SoftwareNumberEntry* entries[1] = {nullptr};
    SystemListEntry systems[1];
    ProgramInfoEntry* info = nullptr;
    uint32_t count = 1, status = 0, progress = 0;
    EXPECT_EQ(ReproGetSystemListOs(nullptr, &count), 0x900d0028u);
    EXPECT_EQ(ReproGetSystemListOs(systems, nullptr), 0x900d0028u);
    EXPECT_EQ(ReproReadSoftwareNumberOs(1, 0, nullptr, &count, &status), 0x900d0028u);
    EXPECT_EQ(ReproReadSoftwareNumberOs(1, 0, entries, nullptr, &status), 0x900d0028u);
    EXPECT_EQ(ReproReadSoftwareNumberOs(1, 0, entries, &count, nullptr), 0x900d0028u);
    EXPECT_EQ(ReproGetAllProgramInfoOs(1, info, &count, &status), 0x900d0028u);
    EXPECT_EQ(ReproGetProgressOs(nullptr, &progress), 0x900d0028u);
    EXPECT_EQ(ReproGetProgressOs(&progress, nullptr), 0x900d0028u);
    EXPECT_EQ(ReproDeleteSaveSoftwareNumberOs(nullptr, &count), 0x900d0028u);
    EXPECT_EQ(ReproDeleteSaveSoftwareNumberOs(entries, nullptr), 0x900d0028u);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, nullptr), 0x900d0028u);
    EXPECT_TRUE(capture.Traces().empty());
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 4210), 2u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 4320), 3u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 4383), 1u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 4469), 2u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 4513), 2u);
    EXPECT_EQ(capture.Count(0x900d0028, kApi, 6213), 1u);
}

TEST_F(ReproTest, AFailedExchangeTouchesNoOutput) {
    sim.Faults().Add("refuse=0x0777@code=98");
    SoftwareNumberEntry a;
    SoftwareNumberEntry* entries[1] = {&a};
    uint32_t count = 1, status = kFill32;
    EXPECT_EQ(ReproReadSoftwareNumber(kEcm, entries, &count, &status, 0), 0x0777u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(status, kFill32);
    // One attempt only.
    EXPECT_EQ(capture.Traces().size(), 2u);

    sim.Faults().Add("refuse=0x0778@code=0x487F");
    uint32_t progress = kFill32, detail = kFill32;
    EXPECT_EQ(ReproGetProgressOs(&progress, &detail), 0x0778u);
    EXPECT_EQ(progress, kFill32);
    EXPECT_EQ(detail, kFill32);

    sim.Faults().Add("refuse=0x0779@code=0x4D7F");
    VehicleIdNumber vin;
    std::memset(&vin, kFill, sizeof vin);
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, &vin), 0x0779u);
    EXPECT_EQ(vin.Bytes[0], kFill);
}

TEST_F(ReproTest, AnOversizedAnswerNeverOverrunsTheCaller) {
    // The device claims exactly the capacity and sends records beyond it.
    std::unique_ptr<SystemListEntry[]> systems(new SystemListEntry[2]);
    uint32_t count = 2;
    sim.Faults().Add("oversize@code=0x427F");
    EXPECT_EQ(ReproGetSystemListOs(systems.get(), &count), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(systems[1].Bytes[43], 0xA5);

    std::unique_ptr<ProgramInfoEntry[]> info(new ProgramInfoEntry[1]);
    uint32_t status = 0;
    count = 1;
    sim.Faults().Add("oversize@code=0x467F");
    EXPECT_EQ(ReproGetAllProgramInfoOs(kEcm, info.get(), &count, &status), 0u);
    EXPECT_EQ(count, 1u);

    std::unique_ptr<SoftwareNumberEntry> one(new SoftwareNumberEntry);
    SoftwareNumberEntry* entries[1] = {one.get()};
    count = 1;
    sim.Faults().Add("oversize@code=98");
    EXPECT_EQ(ReproReadSoftwareNumber(kEcm, entries, &count, &status, 0), 0u);
    EXPECT_EQ(one->Bytes[35], 0xA5);

    std::unique_ptr<VehicleIdNumber> vin(new VehicleIdNumber);
    sim.Faults().Add("oversize@code=0x4D7F");
    EXPECT_EQ(ReproReadVehicleIdNumberOs(0, 0, vin.get()), 0u);
    EXPECT_EQ(vin->Bytes[35], 'V');
}

}  // namespace
