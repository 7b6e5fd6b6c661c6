// The device file system through the exports, against the simulated device:
// single commands on the device's folder, paths that try to leave it, KovDir
// listings, whole-file copies of every awkward size, copies that survive
// failing chunks and stop after the fourth failure in a row, and a hostile
// device whose answers exceed the caller's buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/MsgCtrl/TransferProgress.h"
#include "Sim/Services/FileServices.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Support/HostFiles.h"
#include "Tests/Support/ReportCapture.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_link.h"

namespace fs = std::filesystem;

namespace {

// A UTF-16 literal as the exports take it (VWCHAR is wchar_t on Windows).
inline const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }


constexpr uint32_t kChunk = 2538;
constexpr uint32_t kCodeCreateFile = 33;
constexpr uint32_t kCodeReadFile = 35;
constexpr uint32_t kCodeWriteFile = 36;
constexpr uint32_t kCodeSetFilePointer = 46;
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345;
        v[i] = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

void WriteHostFile(const fs::path& path, const std::vector<uint8_t>& data) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

using vtest::ReadBytes;

std::u16string Utf16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class FileSystemTest : public ::testing::Test {
public:  // the progress callbacks reach the device through the fixture
    explicit FileSystemTest(sim::SimConfig config = sim::SimConfig()) : sim(config) {}
    ~FileSystemTest() override {
        SetTransferProgressCallback(nullptr, nullptr);
        KovDirFree();
        vtest::RemoveTree(pcDir);
    }

    sim::FileFamily& Files() { return sim.Device().State().Family<sim::FileFamily>(); }
    fs::path Root() { return Files().Root(); }
    std::string PcPath(const char* name) { return (fs::path(pcDir) / name).string(); }

    vtest::InProcessSim sim;
    std::string pcDir = vtest::MakeTempDir("vantro-files-pc");
};

// ---- single commands -------------------------------------------------------------------

TEST_F(FileSystemTest, FilesAreCreatedWrittenSoughtAndReadBack) {
    EXPECT_EQ(KovCreateDirectory(W(u"\\Temp"), nullptr), 1u);
    EXPECT_EQ(KovCreateDirectory(W(u"\\Temp"), nullptr), 0u);  // exists already
    uint32_t h = KovCreateFile(W(u"\\Temp\\a.txt"), kGenericRead | kGenericWrite, 0, nullptr, 2, 0x80, 0);
    ASSERT_NE(h, 0u);
    ASSERT_NE(h, 0xFFFFFFFFu);
    const uint8_t text[] = "hello, device";
    uint32_t written = 0;
    EXPECT_EQ(KovWriteFile(h, text, 13, &written, nullptr), 1u);
    EXPECT_EQ(written, 13u);
    EXPECT_EQ(KovSetFilePointer(h, -6, nullptr, 2), 7u);  // from the end
    uint8_t back[32] = {};
    uint32_t n = 0;
    EXPECT_EQ(KovReadFile(h, back, sizeof back, &n, nullptr), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), n), "device");
    EXPECT_EQ(KovReadFile(h, back, sizeof back, &n, nullptr), 1u);  // at the end: 0 bytes
    EXPECT_EQ(n, 0u);
    int32_t high = 0;
    EXPECT_EQ(KovSetFilePointer(h, 0, &high, 1), 13u);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(KovSetFilePointer(h, -1, nullptr, 0), 0xFFFFFFFFu);  // before the start
    EXPECT_EQ(KovCloseHandle(h), 1u);
    EXPECT_EQ(KovCloseHandle(h), 0u);
    EXPECT_EQ(Files().OpenHandles(), 0u);
    EXPECT_EQ(ReadBytes(Root() / "Temp" / "a.txt"), std::vector<uint8_t>(text, text + 13));

    // Names are matched without regard to case; forward slashes work too.
    h = KovCreateFile(W(u"/TEMP/A.TXT"), kGenericRead, 1, nullptr, 3, 0x80, 0);
    ASSERT_NE(h, 0xFFFFFFFFu);
    EXPECT_EQ(KovCloseHandle(h), 1u);
    EXPECT_EQ(KovCreateFile(W(u"\\Temp\\missing.txt"), kGenericRead, 1, nullptr, 3, 0x80, 0), 0xFFFFFFFFu);
    EXPECT_EQ(KovCreateFile(W(u"\\Temp\\a.txt"), kGenericWrite, 0, nullptr, 1, 0x80, 0), 0xFFFFFFFFu);  // CREATE_NEW
}

TEST_F(FileSystemTest, AttributesCopiesMovesAndDeletes) {
    WriteHostFile(Root() / "Data" / "x.bin", Pattern(100));
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data")), 0x10u);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data\\x.bin")), 0x20u);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data\\none")), 0xFFFFFFFFu);

    EXPECT_EQ(KovCopyFile(W(u"\\Data\\x.bin"), W(u"\\Data\\y.bin"), 1), 1u);
    EXPECT_EQ(KovCopyFile(W(u"\\Data\\x.bin"), W(u"\\Data\\y.bin"), 1), 0u);  // fail if it exists
    EXPECT_EQ(KovCopyFile(W(u"\\Data\\x.bin"), W(u"\\Data\\y.bin"), 0), 1u);
    EXPECT_EQ(ReadBytes(Root() / "Data" / "y.bin"), Pattern(100));

    EXPECT_EQ(KovSetFileAttributes(W(u"\\Data\\y.bin"), 0x01), 1u);  // read-only
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data\\y.bin")), 0x01u);
    EXPECT_EQ(KovDeleteFile(W(u"\\Data\\y.bin")), 0u);
    EXPECT_EQ(KovCreateFile(W(u"\\Data\\y.bin"), kGenericWrite, 0, nullptr, 3, 0x80, 0), 0xFFFFFFFFu);
    EXPECT_EQ(KovMoveFile(W(u"\\Data\\y.bin"), W(u"\\Data\\z.bin")), 1u);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data\\z.bin")), 0x01u);  // attributes move along
    EXPECT_EQ(KovSetFileAttributes(W(u"\\Data\\z.bin"), 0x80), 1u);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Data\\z.bin")), 0x80u);
    EXPECT_EQ(KovMoveFile(W(u"\\Data\\z.bin"), W(u"\\Data\\x.bin")), 0u);  // target exists
    EXPECT_EQ(KovDeleteFile(W(u"\\Data\\z.bin")), 1u);
    EXPECT_FALSE(fs::exists(Root() / "Data" / "z.bin"));

    EXPECT_EQ(KovRemoveDirectory(W(u"\\Data")), 0u);  // not empty
    EXPECT_EQ(KovDeleteFile(W(u"\\Data\\x.bin")), 1u);
    EXPECT_EQ(KovRemoveDirectory(W(u"\\Data")), 1u);
    EXPECT_EQ(KovRemoveDirectory(W(u"\\")), 0u);  // never the root
}

TEST_F(FileSystemTest, DiskSpaceAndProcessesComeFromTheDevice) {
    uint64_t avail = 0, total = 0, free = 0;
    EXPECT_EQ(KovGetDiskFreeSpace(W(u"\\"), &avail, &total, &free), 1u);
    EXPECT_GT(total, 0u);
    EXPECT_LE(avail, total);
    EXPECT_EQ(KovGetDiskFreeSpace(W(u"\\NoSuchFolder"), &avail, &total, &free), 0u);

    uint32_t info[4] = {};
    EXPECT_EQ(KovCreateProcess(W(u"\\Windows\\app.exe"), W(u"-x 1"), nullptr, nullptr, 0, 0x10, nullptr, nullptr, nullptr,
                               info),
              1u);
    auto processes = Files().Processes();
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(processes[0].imageName, u"\\Windows\\app.exe");
    EXPECT_EQ(processes[0].commandLine, u"-x 1");
    EXPECT_EQ(processes[0].creationFlags, 0x10u);
    EXPECT_EQ(info[2], processes[0].processId);
    EXPECT_EQ(info[3], processes[0].threadId);
}

TEST_F(FileSystemTest, PathsNeverLeaveTheRoot) {
    WriteHostFile(fs::path(pcDir) / "secret.txt", Pattern(10));
    // A host path is taken as a path below the root, where it names nothing.
    const std::u16string hostPath = Utf16(fs::path(pcDir).generic_string()) + u"/secret.txt";
    VFIND_DATAW find;
    for (const std::u16string& path : std::vector<std::u16string>{
             u"\\..\\secret.txt", u"\\Temp\\..\\..\\secret.txt", u"C:\\secret.txt", hostPath}) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_EQ(KovCreateFile(W(path.c_str()), kGenericRead, 1, nullptr, 3, 0x80, 0), 0xFFFFFFFFu);
        EXPECT_EQ(KovGetFileAttributes(W(path.c_str())), 0xFFFFFFFFu);
        EXPECT_EQ(KovDeleteFile(W(path.c_str())), 0u);
    }
    EXPECT_EQ(KovFindFirstFile(W(u"\\..\\*"), &find), 0xFFFFFFFFu);
    // ".." inside the root stays inside it.
    WriteHostFile(Root() / "in.txt", Pattern(3));
    EXPECT_EQ(KovGetFileAttributes(W(u"\\Temp\\..\\in.txt")), 0x20u);

    // A symlink that leads out is refused, one that stays inside is followed.
    std::error_code ec;
    fs::create_directory_symlink(pcDir, Root() / "out", ec);
    if (ec) GTEST_SKIP() << "no symlinks here";
    fs::create_directory_symlink(Root() / "Inner", Root() / "in", ec);
    fs::create_directories(Root() / "Inner");
    WriteHostFile(Root() / "Inner" / "ok.txt", Pattern(4));
    EXPECT_EQ(KovCreateFile(W(u"\\out\\secret.txt"), kGenericRead, 1, nullptr, 3, 0x80, 0), 0xFFFFFFFFu);
    EXPECT_EQ(KovFindFirstFile(W(u"\\out\\*"), &find), 0xFFFFFFFFu);
    EXPECT_EQ(KovCopyFile(W(u"\\out\\secret.txt"), W(u"\\copy.txt"), 0), 0u);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\in\\ok.txt")), 0x20u);
    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    ASSERT_EQ(KovDir(W(u"\\*"), &count, &list), 1u);
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_NE(std::u16string(reinterpret_cast<const char16_t*>(list[i].cFileName)), u"out");
}

// ---- KovDir -----------------------------------------------------------------------------------

TEST_F(FileSystemTest, DirWithNoMatchLeavesCountZeroAndNoList) {
    uint32_t count = 77;
    VFIND_DATAW* list = reinterpret_cast<VFIND_DATAW*>(this);
    EXPECT_EQ(KovDir(W(u"\\*.none"), &count, &list), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, reinterpret_cast<VFIND_DATAW*>(this));  // not written
    EXPECT_EQ(g_pDirList, nullptr);
    EXPECT_EQ(KovDirFree(), 0u);
}

TEST_F(FileSystemTest, DirListsManyFilesAndTheNextDirReplacesTheList) {
    constexpr int kFiles = 120;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.log", i);
        WriteHostFile(Root() / "Logs" / name, Pattern(static_cast<size_t>(i)));
    }
    WriteHostFile(Root() / "Logs" / "other.txt", Pattern(5));
    fs::create_directories(Root() / "Logs" / "sub");

    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    ASSERT_EQ(KovDir(W(u"\\Logs\\F*.LOG"), &count, &list), 1u);
    ASSERT_EQ(count, static_cast<uint32_t>(kFiles));
    EXPECT_EQ(list, g_pDirList);
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.log", i);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(list[i].cFileName)), Utf16(name));
        EXPECT_EQ(list[i].nFileSizeLow, static_cast<uint32_t>(i));
        EXPECT_EQ(list[i].dwFileAttributes, 0x20u);
    }
    // The device's FILETIME (100 ns since 1601) is the file's time of now.
    const uint64_t ft = (static_cast<uint64_t>(list[0].ftLastWriteTime.dwHighDateTime) << 32) |
                        list[0].ftLastWriteTime.dwLowDateTime;
    const int64_t unixSeconds = static_cast<int64_t>((ft - 116444736000000000ULL) / 10000000ULL);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LT(std::llabs(unixSeconds - now), 600) << "FILETIME " << ft;
    EXPECT_EQ(list[0].ftCreationTime.dwHighDateTime, list[0].ftLastWriteTime.dwHighDateTime);
    EXPECT_EQ(Files().OpenHandles(), 0u);  // the search was closed

    uint32_t count2 = 0;
    VFIND_DATAW* list2 = nullptr;
    ASSERT_EQ(KovDir(W(u"\\Logs\\*.*"), &count2, &list2), 1u);
    EXPECT_EQ(count2, static_cast<uint32_t>(kFiles + 2));
    EXPECT_EQ(g_pDirList, list2);
    bool sawDir = false;
    for (uint32_t i = 0; i < count2; ++i)
        if (std::u16string(reinterpret_cast<const char16_t*>(list2[i].cFileName)) == u"sub")
            sawDir = (list2[i].dwFileAttributes & 0x10) != 0;
    EXPECT_TRUE(sawDir);

    EXPECT_EQ(KovDirFree(), 1u);
    EXPECT_EQ(g_pDirList, nullptr);
    EXPECT_EQ(KovDirFree(), 0u);
}

TEST_F(FileSystemTest, DisconnectFreesTheList) {
    WriteHostFile(Root() / "one.txt", Pattern(1));
    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    ASSERT_EQ(KovDir(W(u"\\*"), &count, &list), 1u);
    EXPECT_EQ(count, 1u);
    KovDisconnect();
    EXPECT_EQ(g_pDirList, nullptr);
    EXPECT_EQ(KovDirFree(), 0u);
}

// ---- KovGetFile and KovPutFile ----------------------------------------------------------------

class FileCopySizes : public FileSystemTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FileCopySizes, PutThenGetGivesTheSameBytes) {
    const size_t size = GetParam();
    const std::vector<uint8_t> data = Pattern(size, static_cast<uint32_t>(size));
    WriteHostFile(PcPath("up.bin"), data);
    fs::create_directories(Root() / "Temp");

    ASSERT_EQ(KovPutFile(PcPath("up.bin").c_str(), W(u"\\Temp\\copy.bin")), 1u);
    EXPECT_EQ(ReadBytes(Root() / "Temp" / "copy.bin"), data);
    EXPECT_EQ(Files().CommandCount(kCodeWriteFile), (size + kChunk - 1) / kChunk);

    ASSERT_EQ(KovGetFile(W(u"\\Temp\\copy.bin"), PcPath("down.bin").c_str()), 1u);
    EXPECT_EQ(ReadBytes(PcPath("down.bin")), data);
    // One read per chunk and the read that returns 0 bytes.
    EXPECT_EQ(Files().CommandCount(kCodeReadFile), size / kChunk + 1 + (size % kChunk ? 1 : 0));
    EXPECT_EQ(Files().OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileCopySizes,
                         ::testing::Values(size_t(0), size_t(1), size_t(kChunk), size_t(3 * kChunk),
                                           size_t(3 * kChunk + 1), size_t(1) << 20));

TEST_F(FileSystemTest, PutFileOfAMissingPcFileSendsNothing) {
    vtest::ReportCapture capture;
    EXPECT_EQ(KovPutFile(PcPath("absent.bin").c_str(), W(u"\\x.bin")), 0u);
    EXPECT_TRUE(capture.Traces().empty());
    EXPECT_FALSE(fs::exists(Root() / "x.bin"));
}

TEST_F(FileSystemTest, GetFileOfAMissingDeviceFileFails) {
    EXPECT_EQ(KovGetFile(W(u"\\absent.bin"), PcPath("never.bin").c_str()), 0u);
    EXPECT_EQ(Files().OpenHandles(), 0u);
}

TEST_F(FileSystemTest, GetFileRetriesAFailingFirstReadThreeTimesFromPositionZero) {
    const std::vector<uint8_t> data = Pattern(2 * kChunk + 100);
    WriteHostFile(Root() / "g.bin", data);
    vtest::ReportCapture capture;
    Files().failReads = 3;
    ASSERT_EQ(KovGetFile(W(u"\\g.bin"), PcPath("g.bin").c_str()), 1u);
    EXPECT_EQ(ReadBytes(PcPath("g.bin")), data);
    // Each retry first brings the device file back to what the PC holds: 0.
    auto seeks = capture.Requests(kCodeSetFilePointer);
    ASSERT_EQ(seeks.size(), 3u);
    for (const auto& s : seeks) {
        ASSERT_EQ(s.size(), 17u);
        EXPECT_EQ(std::vector<uint8_t>(s.begin() + 5, s.end()), std::vector<uint8_t>(12, 0));
    }
}

TEST_F(FileSystemTest, GetFileResumesMidFileAndStopsAfterTheFourthFailureInARow) {
    const std::vector<uint8_t> data = Pattern(5 * kChunk);
    WriteHostFile(Root() / "g.bin", data);
    // Fail three reads in a row after the second chunk: the copy completes.
    struct Arm {
        FileSystemTest* self;
        bool armed;
        uint64_t total;
    } arm{this, false, 1};
    SetTransferProgressCallback(
        [](void* user, uint64_t done, uint64_t total) {
            auto* a = static_cast<Arm*>(user);
            a->total = total;
            if (done == 2 * kChunk && !a->armed) {
                a->armed = true;
                a->self->Files().failReads = 3;
            }
        },
        &arm);
    ASSERT_EQ(KovGetFile(W(u"\\g.bin"), PcPath("g.bin").c_str()), 1u);
    SetTransferProgressCallback(nullptr, nullptr);
    EXPECT_TRUE(arm.armed);
    EXPECT_EQ(arm.total, 0u);  // the device file's size is not known
    EXPECT_EQ(ReadBytes(PcPath("g.bin")), data);

    Files().failReads = 4;
    EXPECT_EQ(KovGetFile(W(u"\\g.bin"), PcPath("g2.bin").c_str()), 0u);
    EXPECT_EQ(Files().failReads.load(), 0u);
    EXPECT_TRUE(fs::exists(PcPath("g2.bin")));  // the partial target stays
    EXPECT_EQ(Files().OpenHandles(), 0u);
}

TEST_F(FileSystemTest, PutFileResyncsFromTheDevicesPositionAfterHalfWrittenChunks) {
    const std::vector<uint8_t> data = Pattern(4 * kChunk + 7);
    WriteHostFile(PcPath("p.bin"), data);
    vtest::ReportCapture capture;
    Files().failWrites = 3;  // each keeps half its chunk on the device
    ASSERT_EQ(KovPutFile(PcPath("p.bin").c_str(), W(u"\\p.bin")), 1u);
    EXPECT_EQ(ReadBytes(Root() / "p.bin"), data);
    auto seeks = capture.Requests(kCodeSetFilePointer);
    ASSERT_EQ(seeks.size(), 3u);  // FILE_CURRENT queries of the device's position
    EXPECT_EQ(seeks[0][13], 1u);  // MoveMethod FILE_CURRENT

    Files().failWrites = 4;
    EXPECT_EQ(KovPutFile(PcPath("p.bin").c_str(), W(u"\\p2.bin")), 0u);
    EXPECT_EQ(Files().OpenHandles(), 0u);
}

TEST_F(FileSystemTest, IsolatedFailuresNeverExhaustTheRetries) {
    const std::vector<uint8_t> data = Pattern(12 * kChunk + 3);
    WriteHostFile(PcPath("i.bin"), data);
    struct Ctx {
        FileSystemTest* self;
        bool failNext;
        int calls;
        uint64_t total;
    } ctx{this, true, 0, 0};
    // Every other chunk fails once: progress is reported after each attempt.
    auto rearm = [](void* user, uint64_t, uint64_t total) {
        auto* c = static_cast<Ctx*>(user);
        ++c->calls;
        c->total = total;
        if (c->failNext) {
            c->self->Files().failWrites = 1;
            c->self->Files().failReads = 1;
        }
        c->failNext = !c->failNext;
    };
    SetTransferProgressCallback(rearm, &ctx);
    ASSERT_EQ(KovPutFile(PcPath("i.bin").c_str(), W(u"\\i.bin")), 1u);
    EXPECT_EQ(ctx.total, data.size());
    EXPECT_GE(ctx.calls, 13);
    Files().failWrites = 0;
    EXPECT_EQ(ReadBytes(Root() / "i.bin"), data);

    Files().failReads = 0;
    ASSERT_EQ(KovGetFile(W(u"\\i.bin"), PcPath("i2.bin").c_str()), 1u);
    SetTransferProgressCallback(nullptr, nullptr);
    EXPECT_EQ(ReadBytes(PcPath("i2.bin")), data);
}

TEST_F(FileSystemTest, RefusedExchangesCountAsFailedChunks) {
    const std::vector<uint8_t> data = Pattern(3 * kChunk);
    WriteHostFile(Root() / "r.bin", data);
    sim.Faults().Add("refuse=0x55@code=35,times=3");
    ASSERT_EQ(KovGetFile(W(u"\\r.bin"), PcPath("r.bin").c_str()), 1u);
    EXPECT_EQ(ReadBytes(PcPath("r.bin")), data);

    sim.Faults().Add("refuse=0x55@code=33");
    EXPECT_EQ(KovGetFile(W(u"\\r.bin"), PcPath("r2.bin").c_str()), 0u);
    EXPECT_FALSE(fs::exists(PcPath("r2.bin")));  // the PC file is made only after the open
}

// ---- a hostile device -------------------------------------------------------------------------

sim::SimConfig HostileConfig() {
    sim::SimConfig c;
    c.hostile = true;
    return c;
}

class HostileFileSystemTest : public FileSystemTest {
protected:
    HostileFileSystemTest() : FileSystemTest(HostileConfig()) {}
};

TEST_F(FileSystemTest, LongerAnswersThanTheCallersBuffersAreNeverWrittenPastThem) {
    WriteHostFile(Root() / "h.bin", Pattern(50));
    uint32_t h = KovCreateFile(W(u"\\h.bin"), kGenericRead, 1, nullptr, 3, 0x80, 0);
    ASSERT_NE(h, 0xFFFFFFFFu);
    // The device sends more than asked for: the read fails, nothing is written.
    sim.Faults().Add("oversize@code=35");
    std::vector<uint8_t> buffer(10, 0xEE);
    uint32_t n = 0x5555;
    EXPECT_EQ(KovReadFile(h, buffer.data(), 10, &n, nullptr), 0u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(10, 0xEE));
    EXPECT_EQ(n, 0x5555u);
    KovCloseHandle(h);

    // A name longer than cFileName is cut in the record.
    sim.Faults().Add("oversize@code=38");
    auto* find = new VFIND_DATAW;
    std::memset(find, 0xCD, sizeof *find);
    uint32_t search = KovFindFirstFile(W(u"\\h.bin"), find);
    ASSERT_NE(search, 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<uint16_t>(find->cFileName[259]), 0u);
    EXPECT_EQ(static_cast<uint16_t>(find->cAlternateFileName[0]), 0xCDCDu);
    KovFindClose(search);
    delete find;
}

TEST_F(HostileFileSystemTest, DirAndCopiesStayWithinTheirBuffers) {
    WriteHostFile(Root() / "a.txt", Pattern(30));
    WriteHostFile(Root() / "b.txt", Pattern(40));
    uint32_t count = 0;
    VFIND_DATAW* list = nullptr;
    ASSERT_EQ(KovDir(W(u"\\*.txt"), &count, &list), 1u);
    ASSERT_EQ(count, 2u);
    for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(static_cast<uint16_t>(list[i].cFileName[259]), 0u);
    // Every read answers too much: the copy gives up after its retries.
    EXPECT_EQ(KovGetFile(W(u"\\a.txt"), PcPath("a.txt").c_str()), 0u);
}

}  // namespace
