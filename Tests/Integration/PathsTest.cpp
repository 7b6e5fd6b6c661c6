// Paths and files: where the library and the simulator may read and write.
//
//   - The simulated device never lets a device path leave its root folder:
//     links to the root itself followed by "..", dangling links leading out
//     (a file created through one would be created outside), links to single
//     files outside, destinations of copies, moves and new folders behind a
//     link, the firmware and log files the device writes, the file-version
//     query (a service of its own), and every slash form. The plain ".." and
//     drive cases are in FileSystemTest. After each case nothing new exists
//     outside the root.
//   - The ports directory opens only character devices: a link to a folder, to
//     a regular file, to a FIFO, a dangling link, a regular file in the folder
//     and names that are paths are all refused, and a refused file is left as
//     it was; a link to a pty opens.
//   - The trace log, the error reports and the call log write only where they
//     are told to: nowhere by default, the debugger output file when
//     $VANTRO_DEBUG_OUTPUT names one, the call log's file when its mode and
//     file are set; never a file of their own beside the program, the
//     settings file or the working folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Lib/Omnel/Omnel.h"
#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Log/CallLog.h"
#include "Pc/Log/Lifecycle.h"
#include "Pc/Log/TraceLog.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsFile.h"
#include "Pc/Os/OsSerial.h"
#include "Pc/Os/OsSettings.h"
#include "Sim/Core/SimDevice.h"
#include "Sim/Transport/UsbBusServer.h"
#include "Tests/Support/HostFiles.h"
#include "Tests/Support/InProcessLink.h"
#include "vantro/j2534.h"
#include "vantro/vantro_devlog.h"
#include "vantro/vantro_files.h"
#include "vantro/vantro_firmware.h"
#include "vantro/vantro_link.h"
#include "vantro/vantro_status.h"

namespace fs = std::filesystem;

namespace {

inline const VWCHAR* W(const char16_t* text) { return reinterpret_cast<const VWCHAR*>(text); }

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kInvalid = 0xFFFFFFFFu;

// Every path below dir (relative), except those below the excluded folder.
std::set<std::string> Listing(const fs::path& dir, const fs::path& excluded = fs::path()) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!excluded.empty() && it->path() == excluded) {
            it.disable_recursion_pending();
            continue;
        }
        out.insert(fs::relative(it->path(), dir).generic_string());
    }
    return out;
}

using vtest::ReadText;
using vtest::WriteText;

// ---- device paths ----------------------------------------------------------------------------

// A device whose root is base/root; base also holds the files a path might
// reach if it left the root.
class DevicePaths : public ::testing::Test {
protected:
    static sim::SimConfig Config(const fs::path& base) {
        sim::SimConfig config;
        config.rootDir = (base / "root").string();
        return config;
    }

    DevicePaths() : base(MakeBase()), sim(Config(base)) {}
    ~DevicePaths() override {
        KovDirFree();
        vtest::RemoveTree(base.string());
    }

    static fs::path MakeBase() {
        const fs::path b = fs::canonical(vtest::MakeTempDir("vantro-paths-"));
        fs::create_directories(b / "root" / "Inner");
        fs::create_directories(b / "outside");
        WriteText(b / "secret.txt", "secret");
        WriteText(b / "outside" / "secret.txt", "secret");
        WriteText(b / "root" / "in.txt", "inside");
        return b;
    }

    fs::path Root() const { return base / "root"; }
    bool Link(const fs::path& target, const fs::path& link) {
        std::error_code ec;
        fs::create_symlink(target, link, ec);
        return !ec;
    }
    // Nothing was added, removed or changed outside the root.
    void ExpectOutsideUnchanged(const std::set<std::string>& before) {
        EXPECT_EQ(Listing(base, Root()), before);
        EXPECT_EQ(ReadText(base / "secret.txt"), "secret");
        EXPECT_EQ(ReadText(base / "outside" / "secret.txt"), "secret");
    }

    const fs::path base;
    vtest::InProcessSim sim;
};

TEST_F(DevicePaths, DotDotThroughALinkToTheRootStaysInside) {
    // root/self -> root: "self\.." is the root when ".." is taken by name, the
    // root's parent when the link is followed first. Neither may reach base.
    if (!Link(Root(), Root() / "self")) GTEST_SKIP() << "no symlinks here";
    const auto before = Listing(base, Root());
    for (const char16_t* path : {u"\\self\\..\\secret.txt", u"/self/../secret.txt", u"\\self\\self\\..\\..\\secret.txt"}) {
        SCOPED_TRACE(std::string(path, path + std::char_traits<char16_t>::length(path)));
        EXPECT_EQ(KovGetFileAttributes(W(path)), kInvalid);
        EXPECT_EQ(KovCreateFile(W(path), kGenericRead, 1, nullptr, kOpenExisting, 0x80, 0), kInvalid);
        EXPECT_EQ(KovDeleteFile(W(path)), 0u);
    }
    // The link itself, followed forward, stays inside.
    EXPECT_EQ(KovGetFileAttributes(W(u"\\self\\in.txt")), 0x20u);
    ExpectOutsideUnchanged(before);
}

TEST_F(DevicePaths, DanglingLinkOutIsNeverCreatedThrough) {
    if (!Link(base / "outside" / "new.txt", Root() / "dangling")) GTEST_SKIP() << "no symlinks here";
    Link(base / "outside" / "newdir", Root() / "danglingdir");
    const auto before = Listing(base, Root());
    EXPECT_EQ(KovCreateFile(W(u"\\dangling"), kGenericWrite, 0, nullptr, kCreateAlways, 0x80, 0), kInvalid);
    EXPECT_EQ(KovCreateDirectory(W(u"\\danglingdir"), nullptr), 0u);
    EXPECT_EQ(KovCopyFile(W(u"\\in.txt"), W(u"\\dangling"), 0), 0u);
    EXPECT_FALSE(fs::exists(base / "outside" / "new.txt"));
    EXPECT_FALSE(fs::exists(base / "outside" / "newdir"));
    ExpectOutsideUnchanged(before);
}

TEST_F(DevicePaths, LinkToAFileOutsideIsNeitherReadNorWrittenNorStated) {
    if (!Link(base / "outside" / "secret.txt", Root() / "secret.lnk")) GTEST_SKIP() << "no symlinks here";
    const auto before = Listing(base, Root());
    EXPECT_EQ(KovCreateFile(W(u"\\secret.lnk"), kGenericRead, 1, nullptr, kOpenExisting, 0x80, 0), kInvalid);
    EXPECT_EQ(KovCreateFile(W(u"\\secret.lnk"), kGenericWrite, 0, nullptr, kCreateAlways, 0x80, 0), kInvalid);
    EXPECT_EQ(KovGetFileAttributes(W(u"\\secret.lnk")), kInvalid);
    EXPECT_EQ(KovSetFileAttributes(W(u"\\secret.lnk"), 0x01), 0u);
    EXPECT_EQ(KovCopyFile(W(u"\\secret.lnk"), W(u"\\copy.txt"), 0), 0u);
    EXPECT_FALSE(fs::exists(Root() / "copy.txt"));
    // The file-version query looks files up itself: it finds nothing there
    // either.
    uint32_t version[VANTRO_FILE_VERSION_COUNT] = {};
    EXPECT_EQ(KovGetFileVersion(W(u"\\secret.lnk"), version), 2u);
    EXPECT_EQ(KovGetFileVersion(W(u"\\..\\secret.txt"), version), 2u);
    ExpectOutsideUnchanged(before);
    EXPECT_EQ(fs::status(base / "outside" / "secret.txt").permissions() & fs::perms::owner_write,
              fs::perms::owner_write)
        << "the attributes of the file outside are untouched";
}

TEST_F(DevicePaths, DestinationsBehindALinkOutAreRefused) {
    if (!Link(base / "outside", Root() / "out")) GTEST_SKIP() << "no symlinks here";
    const auto before = Listing(base, Root());
    EXPECT_EQ(KovCopyFile(W(u"\\in.txt"), W(u"\\out\\copy.txt"), 0), 0u);
    EXPECT_EQ(KovMoveFile(W(u"\\in.txt"), W(u"\\out\\moved.txt")), 0u);
    EXPECT_EQ(KovCreateDirectory(W(u"\\out\\newdir"), nullptr), 0u);
    EXPECT_EQ(KovRemoveDirectory(W(u"\\out")), 0u);
    EXPECT_EQ(KovDeleteFile(W(u"\\out\\secret.txt")), 0u);
    EXPECT_EQ(KovMoveFile(W(u"\\out\\secret.txt"), W(u"\\stolen.txt")), 0u);
    EXPECT_TRUE(fs::exists(Root() / "in.txt")) << "the source of the refused move stays";
    EXPECT_FALSE(fs::exists(Root() / "stolen.txt"));
    ExpectOutsideUnchanged(before);
}

TEST_F(DevicePaths, SlashFormsAndStreamsStayInside) {
    const auto before = Listing(base, Root());
    for (const char16_t* path : {u"/../secret.txt", u"\\Inner/../../secret.txt", u"\\\\server\\share\\x.txt",
                                 u"..", u"\\in.txt:stream", u"\\in.txt::$DATA", u"C:in.txt"}) {
        SCOPED_TRACE(std::string(path, path + std::char_traits<char16_t>::length(path)));
        EXPECT_EQ(KovCreateFile(W(path), kGenericWrite, 0, nullptr, kCreateAlways, 0x80, 0), kInvalid);
        EXPECT_EQ(KovCreateDirectory(W(path), nullptr), 0u);
    }
    // Either slash names the same file inside.
    EXPECT_EQ(KovGetFileAttributes(W(u"/Inner/../in.txt")), 0x20u);
    ExpectOutsideUnchanged(before);
}

TEST_F(DevicePaths, FirmwareAndLogFilesStayInside) {
    const auto before = Listing(base, Root());
    // A firmware file named outside the root is refused at its announcement;
    // nothing is written however far the update goes.
    EXPECT_NE(KovVupCreateFile(W(u"..\\fw.bin"), 4), 0u);
    const uint8_t data[4] = {1, 2, 3, 4};
    KovVupTransmitData(data, sizeof data);
    KovVupWriteFile(0, 0);
    KovVupFileFree();
    // The log written out to a file outside the root: refused.
    ASSERT_EQ(KovLogInit(W(u"paths")), 0u);
    const uint8_t message[3] = {'a', 'b', 'c'};
    ASSERT_EQ(KovLogPutMsg(message, sizeof message), 0u);
    EXPECT_NE(KovLogFlash(W(u"\\..\\log.txt")), 0u);
    EXPECT_NE(KovLogFlash(W(u"\\Inner\\..\\..\\outside\\log.txt")), 0u);
    EXPECT_EQ(KovLogFlash(W(u"\\log.txt")), 0u);  // inside works
    EXPECT_TRUE(fs::exists(Root() / "log.txt"));
    EXPECT_EQ(KovLogClose(), 0u);
    ExpectOutsideUnchanged(before);
}

// ---- the ports directory ----------------------------------------------------------------------

#if !defined(_WIN32)

class PortsDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::canonical(vtest::MakeTempDir("vantro-portsdir-"));
        const char* old = std::getenv("VANTRO_PORTS_DIR");
        m_hadOld = old != nullptr;
        if (old) m_old = old;
        vtest::SetEnv("VANTRO_PORTS_DIR", (m_dir / "ports").c_str());
        fs::create_directories(m_dir / "ports");
        fs::create_directories(m_dir / "folder");
        WriteText(m_dir / "plain.txt", "untouched");
    }
    void TearDown() override {
        vtest::SetEnv("VANTRO_PORTS_DIR", m_hadOld ? m_old.c_str() : nullptr);
        vtest::RemoveTree(m_dir.string());
    }
    fs::path Ports() const { return m_dir / "ports"; }
    fs::path m_dir;

private:
    std::string m_old;
    bool m_hadOld = false;
};

TEST_F(PortsDirectory, OnlyCharacterDevicesOpen) {
    fs::create_symlink(m_dir / "folder", Ports() / "COM1");
    fs::create_symlink(m_dir / "plain.txt", Ports() / "COM2");
    fs::create_symlink(m_dir / "nothing", Ports() / "COM3");
    ASSERT_EQ(mkfifo((m_dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "fifo", Ports() / "COM4");
    WriteText(Ports() / "COM5", "a regular file in the folder");
    for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5"}) {
        vos::OsHandle port = vos::SerialOpen(name);
        EXPECT_FALSE(vos::IsValidHandle(port)) << name;
        if (vos::IsValidHandle(port)) vos::SerialClose(port);
    }
    EXPECT_EQ(ReadText(m_dir / "plain.txt"), "untouched");
    EXPECT_EQ(ReadText(Ports() / "COM5"), "a regular file in the folder");

    // Names are names in the folder, never paths.
    const std::string absolute = (m_dir / "plain.txt").string();
    for (const char* name : {"../plain.txt", "..", ".", "/dev/tty", absolute.c_str(), "COM2/", ""}) {
        vos::OsHandle port = vos::SerialOpen(name);
        EXPECT_FALSE(vos::IsValidHandle(port)) << name;
        if (vos::IsValidHandle(port)) vos::SerialClose(port);
    }

    // A pty is a character device: it opens.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    fs::create_symlink(ptsname(master), Ports() / "COM6");
    vos::OsHandle port = vos::SerialOpen("COM6");
    EXPECT_TRUE(vos::IsValidHandle(port));
    if (vos::IsValidHandle(port)) vos::SerialClose(port);
    close(master);
}

#endif  // !_WIN32

// ---- log sinks -------------------------------------------------------------------------------------

// The library with every trace level, error reports and exchange traces
// switched on in its settings file, run from a working folder of the test,
// against a device on the simulated USB bus (the USB link writes trace lines)
// and with a J2534 session (call-log lines).
class LogSinks : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = fs::canonical(vtest::MakeTempDir("vantro-sinks-"));
        fs::create_directories(m_base / "work");
        fs::create_directories(m_base / "settings");
        fs::create_directories(m_base / "root");
        fs::create_directories(m_base / "ports");
        m_settings = m_base / "settings" / "host.SETTING";
        WriteText(m_settings, "[LOGSETTING]\r\nLOGLEVEL=0xFFFFFFFF\r\nERRREPORT=1\r\nCOMREPORT=1\r\n");
        vos::SetSettingsPathOverride(m_settings.string());
        TraceLogResetForTest();
        omnel::ResetSettings();
        m_oldCwd = fs::current_path();
        fs::current_path(m_base / "work");
        Save("VANTRO_DEBUG_OUTPUT", &m_hadDebug, &m_oldDebug);
        Save("VANTRO_USB_BUS", &m_hadBus, &m_oldBus);
        Save("VANTRO_PORTS_DIR", &m_hadPorts, &m_oldPorts);
        vtest::SetEnv("VANTRO_DEBUG_OUTPUT", nullptr);
        vtest::SetEnv("VANTRO_PORTS_DIR", (m_base / "ports").string().c_str());

        sim::SimConfig config;
        config.rootDir = (m_base / "root").string();
        m_device.reset(new sim::SimDevice(config));
        m_bus.reset(new sim::UsbBusServer(*m_device, 0x1D50, 13));
        m_device->Start();
        ASSERT_TRUE(m_bus->Start());
        vtest::SetEnv("VANTRO_USB_BUS", std::to_string(m_bus->Port()).c_str());
        m_oldFactory = SetLinkFactory(nullptr);
        ReleaseDeviceLink();
        m_oldMode = TheCallLog().SetMode(0);
        m_oldFile = TheCallLog().SetFile(vos::InvalidHandle());
    }

    void TearDown() override {
        ReleaseDeviceLink();
        TheCallLog().SetMode(m_oldMode);
        TheCallLog().SetFile(m_oldFile);
        if (m_bus) m_bus->Stop();
        if (m_device) m_device->Stop();
        SetLinkFactory(m_oldFactory);
        fs::current_path(m_oldCwd);
        vos::SetSettingsPathOverride("");
        TraceLogResetForTest();
        omnel::ResetSettings();
        vtest::SetEnv("VANTRO_DEBUG_OUTPUT", m_hadDebug ? m_oldDebug.c_str() : nullptr);
        vtest::SetEnv("VANTRO_USB_BUS", m_hadBus ? m_oldBus.c_str() : nullptr);
        vtest::SetEnv("VANTRO_PORTS_DIR", m_hadPorts ? m_oldPorts.c_str() : nullptr);
        vtest::RemoveTree(m_base.string());
    }

    // Calls that trace, report and log: an exchange over USB, a failing
    // argument check, a J2534 session, a refused file.
    void Work() {
        uint16_t mv = 0;
        EXPECT_EQ(KovGetVoltage(0, &mv), 0u);
        EXPECT_EQ(KovGetAppPath(nullptr, nullptr), 0x900d0028u);
        uint32_t device = 0, channel = 0;
        EXPECT_EQ(PassThruOpen(nullptr, &device), 0u);
        EXPECT_EQ(PassThruConnect(device, CAN, 0, 500000, &channel), 0u);
        EXPECT_EQ(PassThruDisconnect(channel), 0u);
        EXPECT_EQ(PassThruClose(device), 0u);
        EXPECT_EQ(KovCreateFile(W(u"\\..\\x"), kGenericRead, 1, nullptr, kOpenExisting, 0x80, 0), kInvalid);
    }

    std::set<std::string> Everything() const { return Listing(m_base, m_base / "root"); }
    fs::path Base() const { return m_base; }

private:
    static void Save(const char* name, bool* had, std::string* value) {
        const char* v = std::getenv(name);
        *had = v != nullptr;
        *value = v ? v : "";
    }

    fs::path m_base, m_settings, m_oldCwd;
    std::string m_oldDebug, m_oldBus, m_oldPorts;
    bool m_hadDebug = false, m_hadBus = false, m_hadPorts = false;
    std::unique_ptr<sim::SimDevice> m_device;
    std::unique_ptr<sim::UsbBusServer> m_bus;
    LinkFactory m_oldFactory = nullptr;
    uint32_t m_oldMode = 0;
    vos::OsHandle m_oldFile = nullptr;
};

TEST_F(LogSinks, ByDefaultNothingIsWrittenAnywhere) {
    // As after the library was loaded afresh.
    ProcessDetach();
    ProcessAttach();
    EXPECT_EQ(TheCallLog().GetMode(), 0u) << "every call-log sink is off after process attach";
    EXPECT_FALSE(vos::IsValidHandle(TheCallLog().GetFile()));
    const auto before = Everything();
    Work();
    EXPECT_EQ(Everything(), before) << "no file beside the settings, in the working folder or elsewhere";
}

#if !defined(_WIN32)
TEST_F(LogSinks, TraceAndReportsGoOnlyToTheNamedDebugOutput) {
    const fs::path debug = Base() / "debug.txt";
    vtest::SetEnv("VANTRO_DEBUG_OUTPUT", debug.c_str());
    auto before = Everything();
    before.insert("debug.txt");
    Work();
    EXPECT_EQ(Everything(), before) << "the debugger output file and nothing else";
    const std::string text = ReadText(debug);
    EXPECT_NE(text.find("CUsbIf::Open"), std::string::npos) << "trace lines of the USB link";
    EXPECT_NE(text.find("[PC]Pc/MsgCtrl/PcMsgCtrlAPI"), std::string::npos) << "the argument check's report";
    EXPECT_EQ(text.find("J2534Open"), std::string::npos) << "the call log's sinks are off";
}
#endif

TEST_F(LogSinks, CallLogWritesOnlyToTheFileItIsGiven) {
    const fs::path file = Base() / "call.txt";
    vos::OsHandle handle = vos::FileCreate(file.string().c_str(), vos::kGenericWrite, 0, vos::kCreateAlways, vos::kFileAttributeNormal);
    ASSERT_TRUE(vos::IsValidHandle(handle));
    TheCallLog().SetFile(handle);
    TheCallLog().SetMode(kCallLogFile);
    auto before = Everything();
    Work();
    TheCallLog().SetMode(0);
    TheCallLog().SetFile(vos::InvalidHandle());
    vos::FileClose(handle);
    EXPECT_EQ(Everything(), before) << "the call log's file and nothing else";
    const std::string text = ReadText(file);
    EXPECT_NE(text.find("J2534Open( pName"), std::string::npos);
    EXPECT_NE(text.find("J2534Close - return[0x00000000]"), std::string::npos);
}

}  // namespace
