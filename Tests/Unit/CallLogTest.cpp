// The call log: mode masks, the add and remove masks of PrintfEx, the
// 4095-character cut, the debugger and file sinks, and on Windows the window
// and clipboard sinks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Pc/Log/CallLog.h"
#include "Pc/Os/OsDebug.h"
#include "Pc/Os/OsFile.h"
#include "Tests/Support/DebugLines.h"
#include "Tests/Support/HostFiles.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using DebuggerCapture = vtest::DebugLines;

// A temporary PC file opened for writing, and its content read back.
class TempFile {
public:
    explicit TempFile(const char* tag) {
        m_path = ::testing::TempDir() + "calllog_" + tag + ".txt";
        m_handle = vos::FileCreate(m_path.c_str(), vos::kGenericWrite | vos::kGenericRead, vos::kFileShareRead,
                                   vos::kCreateAlways, vos::kFileAttributeNormal);
    }
    ~TempFile() {
        Close();
        std::remove(m_path.c_str());
    }
    vos::OsHandle Handle() const { return m_handle; }
    uint32_t Size() const { return vos::FileGetSize(m_handle, nullptr); }
    void Close() {
        if (vos::IsValidHandle(m_handle)) vos::FileClose(m_handle);
        m_handle = vos::InvalidHandle();
    }
    std::string Content() {
        Close();
        return vtest::ReadText(m_path);
    }

private:
    std::string m_path;
    vos::OsHandle m_handle;
};

TEST(CallLog, StartsWithEverySinkOffAndAccessorsReturnThePreviousValue) {
    CallLog log;
    EXPECT_EQ(log.GetMode(), 0u);
    EXPECT_EQ(log.GetFile(), vos::InvalidHandle());
    EXPECT_EQ(log.GetWindow(), nullptr);

    EXPECT_EQ(log.SetMode(0x21), 0u);
    EXPECT_EQ(log.SetMode(0), 0x21u);
    int marker = 0;
    EXPECT_EQ(log.SetFile(&marker), vos::InvalidHandle());
    EXPECT_EQ(log.SetFile(vos::InvalidHandle()), static_cast<vos::OsHandle>(&marker));
    EXPECT_EQ(log.SetWindow(&marker), nullptr);
    EXPECT_EQ(log.SetWindow(nullptr), static_cast<void*>(&marker));
}

TEST(CallLog, ModeZeroDropsEveryLine) {
    DebuggerCapture debugger;
    TempFile file("mode0");
    ASSERT_TRUE(vos::IsValidHandle(file.Handle()));
    CallLog log;
    log.SetFile(file.Handle());
    log.Printf("[0x%08X] KovGetLastError - return[0x%X] -\r\n", 0x1234u, 0u);
    log.Output(0, 0, "plain line\r\n");
    EXPECT_TRUE(debugger.Lines().empty());
    EXPECT_EQ(file.Content(), "");
}

TEST(CallLog, MasksAddAndRemoveSinksPerLine) {
    DebuggerCapture debugger;
    CallLog log;
    // The add mask reaches the debugger although the mode is 0.
    log.PrintfEx(kCallLogDebugger, 0, "[0x%08X] added %d\r\n", 0xABCu, 7);
    ASSERT_EQ(debugger.Lines().size(), 1u);
    EXPECT_EQ(debugger.Lines()[0], "[0x00000ABC] added 7\r\n");

    // A remove mask equal to the mode silences the line; Printf follows the mode.
    log.SetMode(kCallLogDebugger);
    log.PrintfEx(0, kCallLogDebugger, "silenced\r\n");
    log.Printf("kept %s\r\n", "line");
    // Remove wins over add.
    log.PrintfEx(kCallLogDebugger, kCallLogDebugger, "also silenced\r\n");
    ASSERT_EQ(debugger.Lines().size(), 2u);
    EXPECT_EQ(debugger.Lines()[1], "kept line\r\n");
}

TEST(CallLog, LinesAreCutAfter4095Characters) {
    DebuggerCapture debugger;
    TempFile file("cut");
    ASSERT_TRUE(vos::IsValidHandle(file.Handle()));
    CallLog log;
    log.SetMode(kCallLogDebugger | kCallLogFile);
    log.SetFile(file.Handle());
    std::string longLine(5000, 'a');
    for (size_t i = 0; i < longLine.size(); i += 100) longLine[i] = static_cast<char>('0' + (i / 100) % 10);
    log.Printf("%s", longLine.c_str());
    log.PrintfEx(0, 0, "%s", longLine.c_str());
    ASSERT_EQ(debugger.Lines().size(), 2u);
    EXPECT_EQ(debugger.Lines()[0], longLine.substr(0, 4095));
    EXPECT_EQ(debugger.Lines()[1], longLine.substr(0, 4095));
    EXPECT_EQ(file.Content(), longLine.substr(0, 4095) + longLine.substr(0, 4095));
}

TEST(CallLog, FileSinkWritesTheCharactersAfterTheDebuggerSink) {
    TempFile file("file");
    ASSERT_TRUE(vos::IsValidHandle(file.Handle()));
    CallLog log;
    log.SetMode(kCallLogDebugger | kCallLogFile);
    log.SetFile(file.Handle());
    // When the debugger sees a line, the file does not hold it yet.
    std::vector<uint32_t> sizeAtDebugger;
    vos::SetDebugOutputHook([&](const char*) { sizeAtDebugger.push_back(file.Size()); });
    log.Printf("[0x%08X] first\r\n", 1u);
    log.Output(0, 0, "second\r\n");
    vos::SetDebugOutputHook(nullptr);
    EXPECT_EQ(sizeAtDebugger, (std::vector<uint32_t>{0u, 20u}));
    EXPECT_EQ(file.Content(), "[0x00000001] first\r\nsecond\r\n");
}

TEST(CallLog, FileSinkSkipsNullAndInvalidHandles) {
    DebuggerCapture debugger;
    CallLog log;
    log.SetMode(kCallLogDebugger | kCallLogFile);
    log.SetFile(nullptr);
    log.Printf("one\r\n");
    log.SetFile(vos::InvalidHandle());
    log.Printf("two\r\n");
    // The file sink did nothing; the debugger sink still ran for both lines.
    EXPECT_EQ(debugger.Lines(), (std::vector<std::string>{"one\r\n", "two\r\n"}));
}

TEST(CallLog, TheLibraryLogIsOneObjectWithEverySinkOff) {
    EXPECT_EQ(&TheCallLog(), &TheCallLog());
    EXPECT_EQ(TheCallLog().GetFile(), vos::InvalidHandle());
    EXPECT_EQ(TheCallLog().GetWindow(), nullptr);
}

#if defined(_WIN32)

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// A message-only window that keeps its text (DefWindowProc) and records the
// redraw and scroll messages it receives.
struct WindowLog {
    std::vector<std::string> events;
};
WindowLog* g_windowLog = nullptr;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_windowLog) {
        if (message == WM_SETREDRAW) g_windowLog->events.push_back(wParam ? "redraw on" : "redraw off");
        if (message == WM_VSCROLL) g_windowLog->events.push_back(wParam == SB_TOP ? "top" : "bottom");
        if (message == WM_SETTEXT) g_windowLog->events.push_back("set");
    }
    if (message == WM_SETREDRAW || message == WM_VSCROLL) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeRecordingWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VantroCallLogTestWindow";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, "old", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

TEST(CallLogWindows, WindowSinksReplacePrependAndAppend) {
    HWND window = MakeRecordingWindow();
    if (!window) GTEST_SKIP() << "no window can be created here";
    WindowLog events;
    g_windowLog = &events;
    CallLog log;
    log.SetWindow(window);

    // No window bit: redrawing goes off and on, the text stays.
    log.Output(0, 0, "ignored");
    EXPECT_EQ(WindowText(window), "old");
    EXPECT_EQ(events.events, (std::vector<std::string>{"redraw off", "redraw on"}));

    events.events.clear();
    log.Output(kCallLogWindowAppend, 0, "+end");
    EXPECT_EQ(WindowText(window), "old+end");
    EXPECT_EQ(events.events, (std::vector<std::string>{"redraw off", "set", "bottom", "redraw on"}));
    events.events.clear();
    log.Output(kCallLogWindowPrepend, 0, "start+");
    EXPECT_EQ(WindowText(window), "start+old+end");
    EXPECT_EQ(events.events, (std::vector<std::string>{"redraw off", "set", "top", "redraw on"}));
    log.Output(kCallLogWindowReplace, 0, "new");
    EXPECT_EQ(WindowText(window), "new");
    // The three bits together run in table order: replace, prepend, append.
    events.events.clear();
    log.Output(kCallLogWindowReplace | kCallLogWindowPrepend | kCallLogWindowAppend, 0, "x");
    EXPECT_EQ(WindowText(window), "xxx");
    EXPECT_EQ(events.events, (std::vector<std::string>{"redraw off", "set", "bottom", "set", "top", "set",
                                                       "bottom", "redraw on"}));
    // Without a valid window nothing reaches it.
    events.events.clear();
    log.SetWindow(vos::InvalidHandle());
    log.Output(kCallLogWindowReplace, 0, "lost");
    EXPECT_TRUE(events.events.empty());
    g_windowLog = nullptr;
    DestroyWindow(window);
}

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST(CallLogWindows, ClipboardSinksReplacePrependAndAppend) {
    if (!OpenClipboard(nullptr)) GTEST_SKIP() << "no clipboard";
    EmptyClipboard();
    CloseClipboard();
    CallLog log;

    // Adding to an empty clipboard puts the line there.
    log.Output(kCallLogClipAppend, 0, "mid");
    EXPECT_EQ(ClipboardText(), "mid");
    log.Output(kCallLogClipPrepend, 0, "<");
    log.Output(kCallLogClipAppend, 0, ">");
    EXPECT_EQ(ClipboardText(), "<mid>");
    // An empty line changes nothing.
    log.Output(kCallLogClipReplace, 0, "");
    EXPECT_EQ(ClipboardText(), "<mid>");
    log.Output(kCallLogClipReplace, 0, "fresh");
    EXPECT_EQ(ClipboardText(), "fresh");
}

#endif  // _WIN32

}  // namespace
