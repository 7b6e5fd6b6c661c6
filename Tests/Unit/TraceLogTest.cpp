// The trace log (level bits from the settings file, the first-call rule, the
// line's layout) and the process attach and detach steps.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "Pc/FrameCtrl/FrameCtrl.h"
#include "Pc/Log/CallLog.h"
#include "Pc/Log/Lifecycle.h"
#include "Pc/Log/TraceLog.h"
#include "Pc/Message/Message.h"
#include "Pc/MsgCtrl/CommExchange.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/MsgCtrl/ProcessState.h"
#include "Pc/Os/OsClock.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsMemory.h"
#include "Pc/Os/OsSettings.h"
#include "Pc/Os/OsThread.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/LinkDouble.h"
#include "Tests/Support/ReportCapture.h"

namespace {

using DebugCapture = vtest::DebugLines;

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = (std::filesystem::temp_directory_path() /
                  ("vantro-trace-" + std::to_string(std::random_device{}()) + ".SETTING"))
                     .string();
        TraceLogResetForTest();
        vos::OsSetTickCount(12345678);  // below 100 hours
    }
    void TearDown() override {
        vos::SetSettingsPathOverride("");
        TraceLogResetForTest();
        std::remove(m_path.c_str());
    }
    void UseSettings(const std::string& text) {
        std::ofstream(m_path, std::ios::binary) << text;
        vos::SetSettingsPathOverride(m_path);
    }
    std::string Expected(const char* time, const char* text) {
        char id[16];
        std::snprintf(id, sizeof id, "%08X", vos::ThreadCurrentId());
        return std::string(time) + ":" + id + "  " + text + "\r\n";
    }

    DebugCapture debug;
    std::string m_path;
};

TEST_F(TraceLogTest, LevelBitsSelectTheLinesAndTheFirstCallWritesNothing) {
    UseSettings("[LOGSETTING]\r\nLOGLEVEL=384\r\n");
    vos::OsSetTickCount(3723004);  // 01:02:03.004
    TraceLog(256, "first %d", 1);
    EXPECT_TRUE(debug.Lines().empty()) << "the first call only reads the level";
    TraceLog(256, "CUsbIf::Open-Out(%s)", "QXR_ERROR_NONE");
    TraceLog(16, "level 16 is off");
    TraceLog(128, "value %u", 42u);
    TraceLog(64 | 2048, "neither bit is on");
    auto lines = debug.Lines();
    ASSERT_EQ(2u, lines.size());
    std::regex stamp(R"(^01:02:03\.0[0-9]{2}:[0-9A-F]{8}  )");
    EXPECT_TRUE(std::regex_search(lines[0], stamp)) << lines[0];
    EXPECT_EQ(Expected(lines[0].substr(0, 12).c_str(), "CUsbIf::Open-Out(QXR_ERROR_NONE)"), lines[0]);
    EXPECT_EQ(Expected(lines[1].substr(0, 12).c_str(), "value 42"), lines[1]);
}

TEST_F(TraceLogTest, TheLevelIsReadOnceOnly) {
    UseSettings("[LOGSETTING]\r\nLOGLEVEL=16\r\n");
    TraceLog(256, "reads the level");
    UseSettings("[LOGSETTING]\r\nLOGLEVEL=256\r\n");
    TraceLog(256, "still off");
    TraceLog(512, "off too");
    TraceLog(16, "on");
    auto lines = debug.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("  on\r\n"));
}

TEST_F(TraceLogTest, NothingIsWrittenWithoutALevel) {
    for (const char* settings : {"[LOGSETTING]\r\nLOGLEVEL=0\r\n", "[LOGSETTING]\r\nOTHER=5\r\n", "[OTHER]\r\nLOGLEVEL=255\r\n", ""}) {
        TraceLogResetForTest();
        if (*settings)
            UseSettings(settings);
        else
            vos::SetSettingsPathOverride(m_path + ".missing");
        for (uint32_t level : {16u, 64u, 128u, 256u, 512u, 2048u, 0xFFFFFFFFu}) TraceLog(level, "x");
    }
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TraceLogTest, HoursAreNotWrappedAndTheTextStaysAtColumn23) {
    UseSettings("[LOGSETTING]\r\nLOGLEVEL=0xFFFF\r\n");
    TraceLog(0x10000, "read");
    vos::OsSetTickCount(25u * 3600000u + 59u * 60000u + 58000u + 7u);  // 25:59:58.007
    TraceLog(16, "A");
    vos::OsSetTickCount(100u * 3600000u);  // 100 hours: one character wider
    TraceLog(16, "B");
    vos::OsSetTickCount(1000u * 3600000u + 1000u);
    TraceLog(16, "C");
    auto lines = debug.Lines();
    ASSERT_EQ(3u, lines.size());
    char id[16];
    std::snprintf(id, sizeof id, "%08X", vos::ThreadCurrentId());
    EXPECT_EQ("25:59:58.0", lines[0].substr(0, 10));
    EXPECT_EQ(std::string(id) + "  A\r\n", lines[0].substr(13));
    // "100:00:00.000:" then the id; the text overwrites the prefix from 23 on.
    EXPECT_EQ("100:00:00.0", lines[1].substr(0, 11));
    EXPECT_EQ(std::string(id) + " B\r\n", lines[1].substr(14));
    EXPECT_EQ("1000:00:01.0", lines[2].substr(0, 12));
    EXPECT_EQ(std::string(id) + "C\r\n", lines[2].substr(15));
}

TEST_F(TraceLogTest, OverlongTextIsCutToFitTheLine) {
    UseSettings("[LOGSETTING]\r\nLOGLEVEL=16\r\n");
    TraceLog(256, "read");
    std::string text(2000, 'x');
    text[997] = 'L';
    TraceLog(16, "%s", text.c_str());
    std::string exact(998, 'y');
    TraceLog(16, "%s", exact.c_str());
    auto lines = debug.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(1023u, lines[0].size()) << "1024 bytes with the terminating zero";
    EXPECT_EQ(std::string(997, 'x') + "L\r\n", lines[0].substr(23));
    EXPECT_EQ(1023u, lines[1].size());
    EXPECT_EQ(exact + "\r\n", lines[1].substr(23));
}

// ---- process attach and detach -----------------------------------------------------------

class LifecycleTest : public ::testing::Test {
protected:
    std::string Line(const char* what) {
        char line[80];
        std::snprintf(line, sizeof line, "[0x%08X] DllMain %s\r\n", vos::ThreadCurrentId(), what);
        return line;
    }
    DebugCapture debug{DebugCapture::kCallLog};
};

TEST_F(LifecycleTest, DetachReleasesEveryObjectAndAttachStartsEmpty) {
    vtest::LinkBench bench;
    vtest::ScopedPortsDir noPorts{};
    CCmdBase request(0), response(0);
    ASSERT_EQ(0u, ExecuteCommand(1, &request, &response, 0, 0));
    ASSERT_NE(nullptr, g_pMessage);
    ASSERT_NE(nullptr, g_pFrameCtrl);
    ASSERT_NE(nullptr, g_hCommMutex);
    g_pDirList = static_cast<VFIND_DATAW*>(vos::MemAlloc(sizeof(VFIND_DATAW)));
    MapExchangeResult(0x900d0017);
    ASSERT_NE(0, WideLastError[0]);

    ProcessDetach();
    EXPECT_EQ(nullptr, g_pFrameCtrl);
    EXPECT_EQ(nullptr, g_pMessage);
    EXPECT_EQ(nullptr, g_pDirList);
    EXPECT_EQ(nullptr, g_hCommMutex);
    EXPECT_EQ(1u, bench.Usb().Closed()) << "the link was closed with the frame controller";
    EXPECT_NE(0, WideLastError[0]) << "left at detach";
    // A second detach finds nothing to free.
    ProcessDetach();

    ProcessAttach();
    EXPECT_EQ(0, WideLastError[0]);
    EXPECT_EQ(0u, TheCallLog().GetMode());
    TheCallLog().SetMode(kCallLogDebugger);
    ThreadAttach();
    ThreadDetach();
    OtherNotification(7);

    auto lines = debug.Lines();
    ASSERT_EQ(5u, lines.size()) << "the attach line is dropped: the mode is 0 by then";
    EXPECT_EQ(Line("DLL_PROCESS_DETACH"), lines[0]);
    EXPECT_EQ(Line("DLL_PROCESS_DETACH"), lines[1]);
    EXPECT_EQ(Line("DLL_THREAD_ATTACH"), lines[2]);
    EXPECT_EQ(Line("DLL_THREAD_DETACH"), lines[3]);
    EXPECT_EQ(Line("[0x00000007]"), lines[4]);

    // The library works again after attach: the next exchange builds all anew.
    ASSERT_EQ(0u, ExecuteCommand(1, &request, &response, 0, 0));
    EXPECT_NE(nullptr, g_pMessage);
    EXPECT_EQ(2u, bench.Usb().Opened());
}

TEST_F(LifecycleTest, AProcessWithoutExchangesHasNothingToRelease) {
    vtest::ReportCapture reports;
    ReleaseDeviceLink();
    ProcessDetach();
    ProcessDetach();
    EXPECT_EQ(nullptr, g_hCommMutex);
    ProcessAttach();
    EXPECT_EQ(nullptr, g_pMessage);
    EXPECT_EQ(nullptr, g_pFrameCtrl);
    EXPECT_TRUE(reports.Reports().empty());
    EXPECT_EQ(2u, debug.Lines().size());
}

}  // namespace
