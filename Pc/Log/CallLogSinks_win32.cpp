// The call log's window and clipboard sinks on Windows.
//
// Window sinks: the text of a window (an edit control, typically) is replaced,
// prefixed or extended with the line and scrolled; redrawing is off while
// they run. Clipboard sinks: CF_TEXT data in a GlobalAlloc block, replaced or
// extended with the line. A buffer that cannot be had skips its sink.
#include "Pc/Log/CallLogSinks.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "Pc/Log/CallLog.h"

namespace callog_sinks {

namespace {

// Reads the window's text into a heap block with room for extra more bytes
// (and the terminator); *oldLength receives the text's length. Null when the
// block cannot be had.
char* ReadWindowText(HWND window, size_t extra, size_t* oldLength) {
    LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    size_t old = length > 0 ? static_cast<size_t>(length) : 0;
    char* text = static_cast<char*>(std::malloc(old + extra + 1));
    if (!text) return nullptr;
    text[0] = 0;
    if (old) {
        LRESULT got = SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(old + 1),
                                   reinterpret_cast<LPARAM>(text));
        old = got > 0 ? static_cast<size_t>(got) : 0;
        text[old] = 0;
    }
    *oldLength = old;
    return text;
}

void SetTextAndScroll(HWND window, const char* text, int scroll) {
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(window, WM_VSCROLL, static_cast<WPARAM>(scroll), 0);
}

// Window text becomes line + old (atEnd false) or old + line (atEnd true).
void WindowAdd(HWND window, const char* line, bool atEnd) {
    size_t lineLength = std::strlen(line);
    size_t oldLength = 0;
    char* text = ReadWindowText(window, lineLength, &oldLength);
    if (!text) return;
    if (atEnd) {
        std::memcpy(text + oldLength, line, lineLength + 1);
    } else {
        std::memmove(text + lineLength, text, oldLength + 1);
        std::memcpy(text, line, lineLength);
    }
    SetTextAndScroll(window, text, atEnd ? SB_BOTTOM : SB_TOP);
    std::free(text);
}

// A CF_TEXT block holding first + second.
HGLOBAL MakeTextBlock(const char* first, size_t firstLength, const char* second, size_t secondLength) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, firstLength + secondLength + 1);
    if (!block) return nullptr;
    char* p = static_cast<char*>(GlobalLock(block));
    if (!p) {
        GlobalFree(block);
        return nullptr;
    }
    if (firstLength) std::memcpy(p, first, firstLength);
    if (secondLength) std::memcpy(p + firstLength, second, secondLength);
    p[firstLength + secondLength] = 0;
    GlobalUnlock(block);
    return block;
}

// Empties the clipboard and hands it the block (freed here when refused).
void PutOnClipboard(HGLOBAL block) {
    EmptyClipboard();
    if (!SetClipboardData(CF_TEXT, block)) GlobalFree(block);
}

}  // namespace

void WindowOutput(void* window, uint32_t mask, const char* line) {
    HWND hwnd = static_cast<HWND>(window);
    SendMessageA(hwnd, WM_SETREDRAW, FALSE, 0);
    if (mask & kCallLogWindowReplace) SetTextAndScroll(hwnd, line, SB_BOTTOM);
    if (mask & kCallLogWindowPrepend) WindowAdd(hwnd, line, false);
    if (mask & kCallLogWindowAppend) WindowAdd(hwnd, line, true);
    SendMessageA(hwnd, WM_SETREDRAW, TRUE, 0);
}

void ClipboardReplace(const char* line) {
    if (!line || !*line) return;
    if (!OpenClipboard(nullptr)) return;
    HGLOBAL block = MakeTextBlock(line, std::strlen(line), nullptr, 0);
    if (block) PutOnClipboard(block);
    CloseClipboard();
}

void ClipboardAdd(const char* line, bool atEnd) {
    if (!line || !*line) return;
    if (!IsClipboardFormatAvailable(CF_TEXT)) {
        ClipboardReplace(line);
        return;
    }
    if (!OpenClipboard(nullptr)) return;
    HANDLE current = GetClipboardData(CF_TEXT);
    const char* old = current ? static_cast<const char*>(GlobalLock(current)) : nullptr;
    if (!old) {
        // The text went away between the check and the open: start anew.
        CloseClipboard();
        ClipboardReplace(line);
        return;
    }
    size_t oldLength = std::strlen(old);
    size_t lineLength = std::strlen(line);
    HGLOBAL block = atEnd ? MakeTextBlock(old, oldLength, line, lineLength)
                          : MakeTextBlock(line, lineLength, old, oldLength);
    GlobalUnlock(current);
    if (block) PutOnClipboard(block);
    CloseClipboard();
}

}  // namespace callog_sinks
