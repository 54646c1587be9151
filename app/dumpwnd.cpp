// The hexadecimal dump window "VdumpClass": an MDI child showing a file as
// lines of 16 bytes in a fixed-pitch font, scrolled vertically by lines,
// pages, the keyboard and the mouse wheel. The file stays open and only the
// lines in view are read, so a file of any size opens at once.
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app.h"
#include "hexdump.h"

const char DUMP_CLASS[] = "VdumpClass";

namespace {

constexpr int MARGIN = 4;  // pixels left of the text

// The window's record: the open file and what is in view.
struct DumpData {
    int fd = -1;
    uint64_t length = 0;
    uint64_t lineCount = 0;
    uint64_t first = 0;  // line shown at the top
    int pageLines = 1;   // whole lines the client area holds
    int rows = 0;        // rows it shows, the last one perhaps in part
    HFONT font = nullptr;
    bool ownFont = false;
    int lineHeight = 16;
    int charWidth = 8;
    int wheel = 0;  // wheel movement short of a notch
    ~DumpData() {
        if (ownFont) DeleteObject(font);
        if (fd >= 0) close(fd);
    }
};

// What openDumpWindow hands to WM_CREATE: the window owns the record once taken.
struct DumpCreation {
    DumpData* data;
    bool taken;
};

DumpData* dumpData(HWND hwnd) { return reinterpret_cast<DumpData*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

// A fixed-pitch font and its cell size.
void chooseFont(DumpData* w) {
    w->font = CreateFontA(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    w->ownFont = w->font != nullptr;
    HDC dc = GetDC(nullptr);
    TEXTMETRICA tm;
    HGDIOBJ old = nullptr;
    bool fixed = false;
    if (w->font) {
        old = SelectObject(dc, w->font);
        // The flag is named backwards: set means a variable pitch.
        fixed = GetTextMetricsA(dc, &tm) && !(tm.tmPitchAndFamily & TMPF_FIXED_PITCH);
        SelectObject(dc, old);
    }
    if (!fixed) {
        if (w->ownFont) DeleteObject(w->font);
        w->ownFont = false;
        w->font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
        old = SelectObject(dc, w->font);
        if (!GetTextMetricsA(dc, &tm)) memset(&tm, 0, sizeof tm);
        SelectObject(dc, old);
    }
    ReleaseDC(nullptr, dc);
    if (tm.tmHeight > 0) w->lineHeight = tm.tmHeight + tm.tmExternalLeading;
    if (tm.tmAveCharWidth > 0) w->charWidth = tm.tmAveCharWidth;
}

// Opens the file for reading; false when it cannot be opened or is not a
// plain file (a folder reads nothing and a pipe or device may never end).
bool openFile(const char* path, DumpData* w) {
    std::string unixPath = libraryPath(path);
    if (unixPath.empty()) return false;
    w->fd = open(unixPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (w->fd < 0) return false;
    struct stat st;
    if (fstat(w->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    w->length = static_cast<uint64_t>(st.st_size);
    w->lineCount = hexLineCount(w->length);
    return true;
}

// Reads up to 16 bytes of a line; 0 when nothing is there (the file may have
// become shorter since it was opened).
int readLine(const DumpData* w, uint64_t line, uint8_t* bytes) {
    if (w->fd < 0 || line >= w->lineCount) return 0;
    off_t at = static_cast<off_t>(line * HEX_BYTES_PER_LINE);
    int got = 0;
    while (got < HEX_BYTES_PER_LINE) {
        ssize_t n = pread(w->fd, bytes + got, static_cast<size_t>(HEX_BYTES_PER_LINE - got), at + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<int>(n);
    }
    return got;
}

uint64_t maxFirst(const DumpData* w) { return hexScrollMap(w->lineCount, w->pageLines).maxFirst; }

void updateScrollBar(HWND hwnd, const DumpData* w) {
    HexScrollMap map = hexScrollMap(w->lineCount, w->pageLines);
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = map.range + map.page - 1;  // the largest position is nMax - nPage + 1 = range
    si.nPage = static_cast<UINT>(map.page);
    si.nPos = hexScrollPosition(map, w->first);
    SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
}

void scrollTo(HWND hwnd, DumpData* w, uint64_t first) {
    first = hexMoveFirst(first, 0, maxFirst(w));
    if (first == w->first) return;
    uint64_t distance = first > w->first ? first - w->first : w->first - first;
    if (distance < static_cast<uint64_t>(w->pageLines)) {
        int dy = static_cast<int>(distance) * w->lineHeight;
        ScrollWindowEx(hwnd, 0, first > w->first ? -dy : dy, nullptr, nullptr, nullptr, nullptr,
                       SW_INVALIDATE | SW_ERASE);
    } else {
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    w->first = first;
    updateScrollBar(hwnd, w);
    UpdateWindow(hwnd);
}

void scrollBy(HWND hwnd, DumpData* w, int64_t delta) { scrollTo(hwnd, w, hexMoveFirst(w->first, delta, maxFirst(w))); }

void onVScroll(HWND hwnd, DumpData* w, int code) {
    switch (code) {
    case SB_LINEUP: scrollBy(hwnd, w, -1); break;
    case SB_LINEDOWN: scrollBy(hwnd, w, 1); break;
    case SB_PAGEUP: scrollBy(hwnd, w, -w->pageLines); break;
    case SB_PAGEDOWN: scrollBy(hwnd, w, w->pageLines); break;
    case SB_TOP: scrollTo(hwnd, w, 0); break;
    case SB_BOTTOM: scrollTo(hwnd, w, maxFirst(w)); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        // The message carries 16 bits of the position: the scroll bar has all 32.
        SCROLLINFO si;
        memset(&si, 0, sizeof si);
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        if (!GetScrollInfo(hwnd, SB_VERT, &si)) break;
        scrollTo(hwnd, w, hexFirstForPosition(hexScrollMap(w->lineCount, w->pageLines), si.nTrackPos));
        break;
    }
    }
}

// The scroll action of a key of the dump window; -1 for the others.
int keyAction(WPARAM key) {
    switch (key) {
    case VK_UP: return SB_LINEUP;
    case VK_DOWN: return SB_LINEDOWN;
    case VK_PRIOR: return SB_PAGEUP;
    case VK_NEXT: return SB_PAGEDOWN;
    case VK_HOME: return SB_TOP;
    case VK_END: return SB_BOTTOM;
    }
    return -1;
}

bool onKey(HWND hwnd, WPARAM key) {
    int code = keyAction(key);
    if (code < 0) return false;
    SendMessageA(hwnd, WM_VSCROLL, MAKEWPARAM(code, 0), 0);
    return true;
}

void onWheel(HWND hwnd, DumpData* w, int delta) {
    w->wheel += delta;
    int notches = w->wheel / WHEEL_DELTA;
    w->wheel -= notches * WHEEL_DELTA;
    if (notches == 0) return;
    UINT perNotch = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &perNotch, 0);
    int64_t lines = perNotch == WHEEL_PAGESCROLL ? w->pageLines : static_cast<int64_t>(perNotch);
    scrollBy(hwnd, w, -notches * lines);
}

void onSize(HWND hwnd, DumpData* w, int height) {
    int lines = height / w->lineHeight;
    w->pageLines = lines < 1 ? 1 : lines;
    w->rows = (height + w->lineHeight - 1) / w->lineHeight;
    uint64_t first = hexMoveFirst(w->first, 0, maxFirst(w));
    if (first != w->first) {
        w->first = first;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    updateScrollBar(hwnd, w);
}

// The text of a row of the client area; 0 where no line shows.
size_t rowText(const DumpData* w, int row, char* out, size_t outSize) {
    uint64_t line = 0;
    if (row >= w->rows || hexRowsToLines(w->first, w->lineCount, row, row + 1, &line) == 0) {
        if (outSize) out[0] = '\0';
        return 0;
    }
    uint8_t bytes[HEX_BYTES_PER_LINE];
    int n = readLine(w, line, bytes);
    return n > 0 ? formatHexLineBytes(bytes, n, line, out, outSize) : 0;
}

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    DumpData* w = dumpData(hwnd);
    if (w) {
        HGDIOBJ old = SelectObject(dc, w->font);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkMode(dc, TRANSPARENT);
        int top = ps.rcPaint.top / w->lineHeight;
        int bottom = (ps.rcPaint.bottom + w->lineHeight - 1) / w->lineHeight;
        for (int row = top; row < bottom; ++row) {
            char text[HEX_LINE_MAX + 1];
            size_t n = rowText(w, row, text, sizeof text);
            if (n == 0) break;
            // Every character is ASCII or Latin-1 (hexPrintable), which the
            // code page 1252 and Unicode agree on: widen them as they are.
            WCHAR wide[HEX_LINE_MAX + 1];
            for (size_t i = 0; i < n; ++i) wide[i] = static_cast<unsigned char>(text[i]);
            TextOutW(dc, MARGIN, row * w->lineHeight, wide, static_cast<int>(n));
        }
        SelectObject(dc, old);
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK dumpProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: {
        const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        const MDICREATESTRUCTA* mdi = static_cast<const MDICREATESTRUCTA*>(cs->lpCreateParams);
        DumpCreation* creation = reinterpret_cast<DumpCreation*>(mdi->lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->data));
        creation->taken = true;
        break;
    }
    case WM_PAINT: paint(hwnd); return 0;
    case WM_SIZE:
        if (dumpData(hwnd) && wParam != SIZE_MINIMIZED) onSize(hwnd, dumpData(hwnd), HIWORD(lParam));
        break;  // DefMDIChildProc must see it too
    case WM_VSCROLL:
        if (dumpData(hwnd)) onVScroll(hwnd, dumpData(hwnd), LOWORD(wParam));
        return 0;
    case WM_KEYDOWN:
        if (onKey(hwnd, wParam)) return 0;
        break;
    case WM_MOUSEWHEEL:
        if (dumpData(hwnd)) onWheel(hwnd, dumpData(hwnd), GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    case WM_MDIACTIVATE:
        // No description of an image stays in the status bar.
        if (reinterpret_cast<HWND>(lParam) == hwnd) setStatusText(0, "");
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    case WM_APP_QUERY_COMMAND: return 0;  // no image command applies to a dump
    case WM_APP_QUERY_CLOSE: return 1;
    case WM_COMMAND: return 0;
    case WM_APP_DUMP_STATE: {
        const DumpData* w = dumpData(hwnd);
        if (!w) return 0;
        if (wParam == 0) return static_cast<LRESULT>(w->first);
        if (wParam == 1) return w->pageLines;
        return static_cast<LRESULT>(w->lineCount);
    }
    case WM_APP_DUMP_ROW: {
        const DumpData* w = dumpData(hwnd);
        if (!w || !lParam || wParam > 0x7FFFFFFF) return 0;
        return static_cast<LRESULT>(
            rowText(w, static_cast<int>(wParam), reinterpret_cast<char*>(lParam), HEX_LINE_MAX + 1));
    }
    case WM_CLOSE: SendMessageA(g_frame.client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0); return 0;
    case WM_NCDESTROY:
        delete dumpData(hwnd);  // the file is closed with it
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        setStatusText(0, "");
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    }
    return DefMDIChildProcA(hwnd, msg, wParam, lParam);
}

bool registerDumpClass() {
    WNDCLASSA wc;
    if (GetClassInfoA(g_frame.instance, DUMP_CLASS, &wc)) return true;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = dumpProc;
    wc.hInstance = g_frame.instance;
    wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = DUMP_CLASS;
    return RegisterClassA(&wc) != 0;
}

}  // namespace

bool dumpWindowTakesKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || keyAction(msg.wParam) < 0 || !msg.hwnd) return false;
    char name[32];
    return GetClassNameA(msg.hwnd, name, sizeof name) > 0 && strcmp(name, DUMP_CLASS) == 0;
}

HWND openDumpWindow(const char* path) {
    if (!path || !path[0] || !g_frame.client) return nullptr;
    DumpData* w = new (std::nothrow) DumpData;
    if (!w) return nullptr;
    if (!openFile(path, w) || !registerDumpClass()) {
        delete w;
        return nullptr;
    }
    chooseFont(w);

    BOOL activeMaximized = FALSE;
    SendMessageA(g_frame.client, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&activeMaximized));
    RECT area;
    GetClientRect(g_frame.client, &area);
    // Wide enough for a whole line and the scroll bar when the client area allows.
    RECT r = {0, 0, 2 * MARGIN + HEX_LINE_LENGTH * w->charWidth + GetSystemMetrics(SM_CXVSCROLL), 100};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_MDICHILD);
    std::string title = std::string("Dump: ") + path;
    DumpCreation creation = {w, false};
    MDICREATESTRUCTA mcs;
    memset(&mcs, 0, sizeof mcs);
    mcs.szClass = DUMP_CLASS;
    mcs.szTitle = title.c_str();
    mcs.hOwner = g_frame.instance;
    mcs.x = mcs.y = mcs.cy = CW_USEDEFAULT;
    mcs.cx = r.right - r.left;
    if (mcs.cx >= area.right) {
        // A small frame: the window takes the client's whole width from its
        // left edge, rather than a default size cut off on the right.
        mcs.x = mcs.y = 0;
        mcs.cx = area.right;
    }
    mcs.style = WS_VSCROLL | (activeMaximized ? WS_MAXIMIZE : 0);
    mcs.lParam = reinterpret_cast<LPARAM>(&creation);
    HWND child = reinterpret_cast<HWND>(SendMessageA(g_frame.client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    if (!child) {
        if (!creation.taken) delete w;  // otherwise WM_NCDESTROY freed it
        return nullptr;
    }
    SetFocus(child);
    return child;
}
