// What the library writes with OutputDebugStringA, seen as a debugger sees it:
// this test process starts its own executable again under
// DEBUG_ONLY_THIS_PROCESS and collects every OUTPUT_DEBUG_STRING_EVENT with
// its thread. Covered: the call log's debugger sink, the trace log driven by
// the settings file next to the executable (C:\...\name.SETTING), and the
// product DLL, which writes nothing there with every sink off. The call
// log's file sink is checked in process with a Win32 file handle.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/Log/Lifecycle.h"
#include "Pc/Log/TraceLog.h"
#include "Pc/MsgCtrl/PassThruState.h"
#include "Pc/Os/OsSettings.h"
#include "Tests/Support/ChildProcess.h"
#include "Tests/Support/InProcessLink.h"
#include "Tests/Windows/WinSupport.h"
#include "vantro/j2534.h"

namespace {

std::string Tid(DWORD id) {
    char text[16];
    std::snprintf(text, sizeof text, "[0x%08X]", static_cast<unsigned>(id));
    return text;
}

std::string Hex32(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

struct DebugString {
    DWORD threadId;
    std::string text;
};

struct DebuggedRun {
    bool started = false;
    bool ended = false;
    DWORD exitCode = 0xFFFFFFFF;
    DWORD mainThread = 0;
    std::vector<DebugString> strings;
};

std::string ReadRemote(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    std::string text;
    if (info.fUnicode || !info.nDebugStringLength) return text;
    std::vector<char> buffer(info.nDebugStringLength);
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, info.lpDebugStringData, buffer.data(), buffer.size(), &got)) return text;
    text.assign(buffer.data(), got);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

// Runs this executable in a child role under this process as its debugger,
// at most timeoutMs of real time.
DebuggedRun RunUnderDebugger(const std::string& role, uint32_t timeoutMs = 30000) {
    DebuggedRun run;
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (n == 0 || n >= sizeof exe) return run;
    std::string line = "\"" + std::string(exe) + "\" --vtest-child " + role;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(exe, &line[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &si, &pi))
        return run;
    run.started = true;
    run.mainThread = pi.dwThreadId;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool firstBreak = true;
    while (std::chrono::steady_clock::now() < end) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, 200)) continue;
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
                break;
            case OUTPUT_DEBUG_STRING_EVENT:
                run.strings.push_back({ev.dwThreadId, ReadRemote(pi.hProcess, ev.u.DebugString)});
                break;
            case EXCEPTION_DEBUG_EVENT:
                // The loader's first breakpoint is ours to pass; any other
                // exception goes back to the child.
                if (firstBreak && ev.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                    firstBreak = false;
                } else {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.ended = true;
                run.exitCode = ev.u.ExitProcess.dwExitCode;
                break;
            default:
                break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
        if (run.ended) break;
    }
    if (!run.ended) {
        TerminateProcess(pi.hProcess, 137);
        DebugActiveProcessStop(pi.dwProcessId);
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

// The settings file of this executable, removed again at the end.
class SettingsBesideExe {
public:
    explicit SettingsBesideExe(const std::string& text) : m_path(vos::SettingsFilePath()) {
        m_written = wintest::WriteWholeFile(m_path, text);
    }
    ~SettingsBesideExe() { DeleteFileA(m_path.c_str()); }
    bool ok() const { return m_written; }

private:
    std::string m_path;
    bool m_written = false;
};

// ---- child roles -------------------------------------------------------------------------

// The call log with its debugger sink on: a call of a J2534 entry point, a
// line of 5000 characters, and the process detach line. Then the product
// DLL is loaded and freed: it writes nothing.
VTEST_CHILD_ROLE(callLogToDebugger) {
    (void)args;
    ResetPassThruState();
    TheCallLog().SetMode(kCallLogDebugger);
    char text[80];
    PassThruGetLastError(text);
    TheCallLog().Printf("%s", std::string(5000, 'x').c_str());
    ProcessDetach();
    TheCallLog().SetMode(0);
    TheCallLog().Printf("not written\r\n");
    wintest::LoadedDll dll;
    if (!dll.ok() || !dll.Free()) return 3;
    return 0;
}

// Trace lines under the settings file beside the executable: levels 256 and
// 128 on, 16 off; the first call only reads the file.
VTEST_CHILD_ROLE(traceBySettings) {
    (void)args;
    TraceLog(kTraceLevel256, "first %d", 1);
    TraceLog(kTraceLevel256, "kept %d", 2);
    TraceLog(kTraceLevel16, "dropped %d", 3);
    TraceLog(kTraceLevel128, "kept %s", "too");
    return 0;
}

// ---- tests -------------------------------------------------------------------------------

std::vector<std::string> TextsOf(const DebuggedRun& run, DWORD threadId) {
    std::vector<std::string> out;
    for (const DebugString& s : run.strings)
        if (s.threadId == threadId) out.push_back(s.text);
    return out;
}

TEST(WinDebuggerOutput, CallLogDebuggerSinkReachesADebugger) {
    DebuggedRun run = RunUnderDebugger("callLogToDebugger");
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.ended) << "the child did not end in time";
    EXPECT_EQ(run.exitCode, 0u);
    const std::string tid = Tid(run.mainThread);
    std::vector<std::string> texts = TextsOf(run, run.mainThread);
    ASSERT_EQ(texts.size(), 4u) << (texts.empty() ? "" : texts[0]);
    EXPECT_EQ(texts[0].rfind(tid + " J2534GetLastError( pErrorDescription[0x", 0), 0u) << texts[0];
    EXPECT_EQ(texts[0].substr(texts[0].size() - 5), "] )\r\n");
    EXPECT_EQ(texts[1].rfind(tid + " J2534GetLastError - return[0x00000000], ErrorDescription[", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2], std::string(4095, 'x'));
    EXPECT_EQ(texts[3], tid + " DllMain DLL_PROCESS_DETACH\r\n");
    // Nothing from other threads either (the DLL's attach and detach lines
    // are dropped: its sinks are off).
    EXPECT_EQ(run.strings.size(), texts.size());
}

TEST(WinDebuggerOutput, TraceLogFollowsTheSettingsFileBesideTheExecutable) {
    const std::string path = vos::SettingsFilePath();
    ASSERT_GT(path.size(), 12u);
    EXPECT_EQ(path.substr(path.size() - 8), ".SETTING");
    EXPECT_EQ(path[1], ':');  // a drive-letter path, as GetModuleFileNameA gives it
    EXPECT_EQ(path.substr(0, path.size() - 8), wintest::ExeDirectory() + "vantro_windows_tests");

    {
        SettingsBesideExe settings("[LogSetting]\r\nLOGLEVEL=384\r\n");
        ASSERT_TRUE(settings.ok());
        DebuggedRun run = RunUnderDebugger("traceBySettings");
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 0u);
        std::vector<std::string> texts = TextsOf(run, run.mainThread);
        ASSERT_EQ(texts.size(), 2u);
        char id[16];
        std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(run.mainThread));
        const std::string lines[2] = {"kept 2\r\n", "kept too\r\n"};
        for (int i = 0; i < 2; ++i) {
            // "HH:MM:SS.mmm:TTTTTTTT" and two spaces, the text at column 23.
            ASSERT_EQ(texts[i].size(), 23 + lines[i].size()) << texts[i];
            EXPECT_EQ(texts[i][2], ':');
            EXPECT_EQ(texts[i][8], '.');
            EXPECT_EQ(texts[i].substr(12, 11), ":" + std::string(id) + "  ");
            EXPECT_EQ(texts[i].substr(23), lines[i]);
        }
    }
    // Without the file nothing is written.
    DebuggedRun quiet = RunUnderDebugger("traceBySettings");
    ASSERT_TRUE(quiet.ended);
    EXPECT_TRUE(TextsOf(quiet, quiet.mainThread).empty());
}

TEST(WinCallLog, FileSinkAppendsTheLinesToAWin32File) {
    wintest::UsbBusDevice usb;
    ASSERT_TRUE(usb.ok());
    ResetPassThruState();
    const std::string dir = vtest::MakeTempDir("vantro-calllog-");
    const std::string path = dir + "\\calls.log";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "header\r\n", 8, &written, nullptr));

    TheCallLog().SetFile(file);
    TheCallLog().SetMode(kCallLogFile);
    uint32_t device = 0;
    const uint32_t openResult = PassThruOpen(nullptr, &device);
    const uint32_t closeResult = PassThruClose(device);
    TheCallLog().SetMode(0);
    TheCallLog().Printf("dropped\r\n");
    TheCallLog().SetFile(vos::InvalidHandle());
    CloseHandle(file);
    EXPECT_EQ(openResult, 0u);
    EXPECT_EQ(closeResult, 0u);

    const std::string tid = Tid(GetCurrentThreadId());
    const std::string expected = "header\r\n" + tid + " J2534Open( pName[0x00000000], pDeviceID[0x" +
                                 Hex32(&device) + "] )\r\n" + tid + " J2534Open - return[0x00000000] -\r\n";
    const std::string got = wintest::ReadWholeFile(path);
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    EXPECT_NE(got.find(tid + " J2534Close("), std::string::npos) << got;
    EXPECT_EQ(got.find('\0'), std::string::npos);  // the characters only
    EXPECT_EQ(got.find("dropped"), std::string::npos);
    EXPECT_EQ(got.substr(got.size() - 2), "\r\n");
    vtest::RemoveTree(dir);
}

}  // namespace
