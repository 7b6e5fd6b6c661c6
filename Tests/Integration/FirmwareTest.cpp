// Firmware update through the exports, against the simulated device: whole
// transfers of every awkward size, resuming from the device's received size
// after lost chunks, the checksum comparison that guards the write command,
// and every failure KovVupPutFile reports itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/TransferProgress.h"
#include "Sim/Services/FileServices.h"
#include "Sim/Services/FirmwareServices.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/HostFiles.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_errors.h"
#include "vantro/vantro_firmware.h"

namespace fs = std::filesystem;

namespace {

// A UTF-16 literal as the exports take it (VWCHAR is wchar_t on Windows).
inline const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }


constexpr uint32_t kChunk = 2538;
constexpr uint8_t kCodeCreate = 16;
constexpr uint8_t kCodeTransmit = 17;
constexpr uint8_t kCodeInfo = 18;
constexpr uint8_t kCodeWrite = 19;
constexpr uint8_t kCodeFree = 20;
const char kPath[] = "Pc/MsgCtrl/PcMsgCtrlAPI";

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 7) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        v[i] = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

uint8_t Sum8(const std::vector<uint8_t>& v) {
    uint8_t s = 0;
    for (uint8_t b : v) s = static_cast<uint8_t>(s + b);
    return s;
}

using vtest::ReadBytes;

class FirmwareTest : public ::testing::Test {
public:  // the progress callbacks reach the device through the fixture
    ~FirmwareTest() override {
        SetTransferProgressCallback(nullptr, nullptr);
        vtest::RemoveTree(pcDir);
    }

    sim::FirmwareFamily& Firmware() { return sim.Device().State().Family<sim::FirmwareFamily>(); }
    fs::path Root() { return sim.Device().State().Family<sim::FileFamily>().Root(); }

    std::string MakePcFile(const std::vector<uint8_t>& data) {
        std::string path = (fs::path(pcDir) / "image.bin").string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return path;
    }

    // The data bytes of a TransmitData request: code, u32 Length, u32 size, bytes.
    static std::vector<uint8_t> ChunkOf(const std::vector<uint8_t>& request) {
        return std::vector<uint8_t>(request.begin() + 9, request.end());
    }

    vtest::InProcessSim sim;
    std::string pcDir = vtest::MakeTempDir("vantro-fw-pc");
};

TEST_F(FirmwareTest, WholeChunksAreSentExactlyOnceAndTheImageIsWritten) {
    const std::vector<uint8_t> data = Pattern(4 * kChunk);
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile(MakePcFile(data).c_str(), W(u"\\Firmware\\app.bin"), 0x5A), 0u);

    auto chunks = capture.Requests(kCodeTransmit);
    ASSERT_EQ(chunks.size(), 4u);  // the read that returns 0 bytes sends nothing
    for (size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(ChunkOf(chunks[i]), std::vector<uint8_t>(data.begin() + i * kChunk, data.begin() + (i + 1) * kChunk));
    auto create = capture.Requests(kCodeCreate);
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0][create[0].size() - 4], static_cast<uint8_t>(data.size()));  // Size, low byte
    EXPECT_EQ(capture.Requests(kCodeInfo).size(), 1u);
    auto write = capture.Requests(kCodeWrite);
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(write[0], (std::vector<uint8_t>{19, 0, 0, 0, 0, 0x5A, 0, 0, 0}));
    EXPECT_EQ(Firmware().CommandCount(kCodeFree), 0u);  // releasing is the caller's step
    EXPECT_TRUE(capture.Reports().empty());

    EXPECT_EQ(ReadBytes(Root() / "Firmware" / "app.bin"), data);
    auto current = Firmware().Current();
    EXPECT_EQ(current.state, sim::kVupStateWritten);
    EXPECT_EQ(current.lastParam2, 0x5Au);
    EXPECT_EQ(KovVupFileFree(), 0u);
    EXPECT_FALSE(Firmware().Current().active);
}

TEST_F(FirmwareTest, AnEmptyFileSendsNoDataAndIsWritten) {
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile(MakePcFile({}).c_str(), W(u"\\empty.bin"), 1), 0u);
    EXPECT_TRUE(capture.Requests(kCodeTransmit).empty());
    auto create = capture.Requests(kCodeCreate);
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(create[0].end() - 4, create[0].end()), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(capture.Requests(kCodeWrite).size(), 1u);
    EXPECT_TRUE(fs::exists(Root() / "empty.bin"));
    EXPECT_EQ(fs::file_size(Root() / "empty.bin"), 0u);
}

TEST_F(FirmwareTest, AChecksumMismatchSendsNoWriteCommand) {
    Firmware().corruptChecksum = 1;
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile(MakePcFile(Pattern(3000)).c_str(), W(u"\\fw.bin"), 0), QXR_ERROR_FILE_TRANSFER);
    EXPECT_EQ(capture.Count(QXR_ERROR_FILE_TRANSFER, kPath, 2000), 1u);
    EXPECT_EQ(capture.Reports().size(), 1u);
    EXPECT_TRUE(capture.Requests(kCodeWrite).empty());
    EXPECT_FALSE(fs::exists(Root() / "fw.bin"));
}

TEST_F(FirmwareTest, LostChunksResumeFromTheDevicesReceivedSize) {
    const std::vector<uint8_t> data = Pattern(5 * kChunk + 11);
    Firmware().failTransmits = 3;  // three in a row, each keeping half its chunk
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile(MakePcFile(data).c_str(), W(u"\\fw.bin"), 0), 0u);
    EXPECT_EQ(ReadBytes(Root() / "fw.bin"), data);

    auto chunks = capture.Requests(kCodeTransmit);
    ASSERT_GE(chunks.size(), 4u);
    // Each lost chunk left half of itself on the device; each retry starts
    // where the device's count ends, not where the PC had read to.
    size_t received = 0;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> sent = ChunkOf(chunks[static_cast<size_t>(i)]);
        ASSERT_LE(received + sent.size(), data.size());
        EXPECT_EQ(sent, std::vector<uint8_t>(data.begin() + received, data.begin() + received + sent.size()))
            << "chunk " << i;
        received += i < 3 ? sent.size() / 2 : sent.size();
    }
    EXPECT_EQ(capture.Requests(kCodeInfo).size(), 3u + 1u);
    EXPECT_TRUE(capture.Reports().empty());
}

TEST_F(FirmwareTest, TheFourthFailureInARowEndsTheTransfer) {
    Firmware().failTransmits = 4;
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile(MakePcFile(Pattern(3 * kChunk)).c_str(), W(u"\\fw.bin"), 0), QXR_ERROR_FILE_TRANSFER);
    EXPECT_EQ(capture.Count(QXR_ERROR_FILE_TRANSFER, kPath, 1928), 1u);
    EXPECT_EQ(capture.Requests(kCodeTransmit).size(), 4u);
    EXPECT_TRUE(capture.Requests(kCodeWrite).empty());
}

TEST_F(FirmwareTest, IsolatedFailuresAcrossALongTransferNeverExhaustTheRetries) {
    const std::vector<uint8_t> data = Pattern(20 * kChunk + 5);
    struct Ctx {
        FirmwareTest* self;
        bool failNext;
        uint64_t lastDone;
        uint64_t total;
        bool monotonic;
    } ctx{this, true, 0, 0, true};
    SetTransferProgressCallback(
        [](void* user, uint64_t done, uint64_t total) {
            auto* c = static_cast<Ctx*>(user);
            if (done < c->lastDone) c->monotonic = false;
            c->lastDone = done;
            c->total = total;
            if (c->failNext) c->self->Firmware().failTransmits = 1;
            c->failNext = !c->failNext;
        },
        &ctx);
    EXPECT_EQ(KovVupPutFile(MakePcFile(data).c_str(), W(u"\\fw.bin"), 0), 0u);
    SetTransferProgressCallback(nullptr, nullptr);
    EXPECT_EQ(ReadBytes(Root() / "fw.bin"), data);
    EXPECT_EQ(ctx.total, data.size());
    EXPECT_EQ(ctx.lastDone, data.size());
    EXPECT_TRUE(ctx.monotonic);
}

TEST_F(FirmwareTest, MissingPcFileIsReportedAndSendsNothing) {
    vtest::ReportCapture capture;
    EXPECT_EQ(KovVupPutFile((fs::path(pcDir) / "none.bin").string().c_str(), W(u"\\fw.bin"), 0), QXR_ERROR_FILE_OPEN);
    EXPECT_EQ(capture.Count(QXR_ERROR_FILE_OPEN, kPath, 1883), 1u);
    EXPECT_TRUE(capture.Traces().empty());
}

TEST_F(FirmwareTest, DeviceResultsArePassedThroughUnreported) {
    vtest::ReportCapture capture;
    // An announcement the device rejects: its result, nothing else sent.
    EXPECT_EQ(KovVupPutFile(MakePcFile(Pattern(10)).c_str(), W(u""), 0), sim::kVupBadName);
    EXPECT_TRUE(capture.Requests(kCodeTransmit).empty());

    // A refusal of the file-info query during a resync ends the transfer with it.
    Firmware().failTransmits = 1;
    sim.Faults().Add("refuse=0x4242@code=18,times=3");
    EXPECT_EQ(KovVupPutFile(MakePcFile(Pattern(10)).c_str(), W(u"\\fw.bin"), 0), 0x4242u);
    EXPECT_TRUE(capture.Requests(kCodeWrite).empty());

    // The write command's own result.
    sim.Faults().Add("refuse=0x77@code=19");
    EXPECT_EQ(KovVupPutFile(MakePcFile(Pattern(10)).c_str(), W(u"\\fw.bin"), 0), 0x77u);
    EXPECT_TRUE(capture.Reports().empty());
}

TEST_F(FirmwareTest, GetFileInfoDescribesWhatArrived) {
    const std::vector<uint8_t> part = Pattern(700);
    ASSERT_EQ(KovVupCreateFile(W(u"\\a.bin"), 1000), 0u);
    ASSERT_EQ(KovVupTransmitData(part.data(), 700), 0u);
    std::vector<uint8_t> name(8, 0xEE);  // room for "\a" and two zero bytes
    uint32_t info1 = 0, received = 0, info2 = 0;
    uint8_t sum = 0;
    EXPECT_EQ(KovVupGetFileInfo(name.data(), 8, &info1, &received, &sum, &info2), 0u);
    EXPECT_EQ(info1, 1000u);
    EXPECT_EQ(received, 700u);
    EXPECT_EQ(sum, Sum8(part));
    EXPECT_EQ(info2, sim::kVupStateReceiving);
    EXPECT_EQ(name, (std::vector<uint8_t>{'\\', 0, 'a', 0, '.', 0, 0, 0}));
    EXPECT_EQ(KovVupWriteFile(0, 0), sim::kVupIncomplete);
    EXPECT_EQ(KovVupTransmitData(part.data(), 700), sim::kVupOverflow);
    EXPECT_EQ(KovVupFileFree(), 0u);
    EXPECT_EQ(KovVupFileFree(), sim::kVupNoFile);
    EXPECT_EQ(KovVupGetFileInfo(name.data(), 8, &info1, &received, &sum, &info2), sim::kVupNoFile);
}

TEST_F(FirmwareTest, AHostileNameLengthNeverOverrunsTheNameBuffer) {
    ASSERT_EQ(KovVupCreateFile(W(u"\\a-rather-long-image-name.bin"), 0), 0u);
    sim.Faults().Add("oversize@code=18");
    std::vector<uint8_t> name(6, 0xEE);  // heap block of exactly NameBufSize: ASan checks
    uint32_t info1 = 0, received = 0, info2 = 0;
    uint8_t sum = 0;
    EXPECT_EQ(KovVupGetFileInfo(name.data(), 6, &info1, &received, &sum, &info2), 0u);
    EXPECT_EQ(name, (std::vector<uint8_t>{'\\', 0, 'a', 0, 0, 0}));
}

}  // namespace
