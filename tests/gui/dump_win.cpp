// Win32 side of the dump window's GUI test helpers: posts the frame's
// requests and reads back what the active dump window shows.
#include <windows.h>
#include <dlgs.h>

#include <cstring>

#include "app.h"
#include "dump_gui.h"
#include "gui.h"
#include "hexdump.h"

namespace dumpgui {

namespace {

std::string classOf(HWND w) {
    char name[64];
    int n = w ? GetClassNameA(w, name, sizeof name) : 0;
    return std::string(name, n > 0 ? static_cast<size_t>(n) : 0);
}

HWND activeDump() {
    HWND child = activeChild();
    return classOf(child) == DUMP_CLASS ? child : nullptr;
}

long long state(WPARAM which) {
    HWND w = activeDump();
    return w ? static_cast<long long>(SendMessageA(w, WM_APP_DUMP_STATE, which, 0)) : -1;
}

void typeNameAndConfirm(void* dialog, void* datum) {
    HWND d = static_cast<HWND>(dialog);
    const std::string* path = static_cast<const std::string*>(datum);
    // The file name box: a combo box in the explorer style, an edit box in the old one.
    SetDlgItemTextA(d, cmb13, path->c_str());
    SetDlgItemTextA(d, edt1, path->c_str());
    PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(d, IDOK)));
}

SCROLLINFO scrollInfo() {
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    HWND w = activeDump();
    if (!w || !GetScrollInfo(w, SB_VERT, &si)) si.nPos = si.nMax = -1;
    return si;
}

}  // namespace

void postOpenHexa(const std::string& path) {
    PostMessageA(g_frame.frame, WM_OPEN_HEXA, 0, reinterpret_cast<LPARAM>(heapCopy(path.c_str())));
    gui::pump(200);
}

bool viewHexThroughOpenDialog(const std::string& path) {
    std::string copy = path;
    bool shown = gui::withDialog(CMD_VIEW_HEX, loadText(IDS_OPEN_PICTURES), typeNameAndConfirm, &copy);
    gui::pump(200);
    return shown;
}

int dumpWindowCount() {
    int n = 0;
    for (HWND w = GetWindow(g_frame.client, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
        if (classOf(w) == DUMP_CLASS) ++n;
    return n;
}

std::string activeChildClass() { return classOf(activeChild()); }

std::string activeChildTitle() {
    char title[600];
    HWND child = activeChild();
    int n = child ? GetWindowTextA(child, title, sizeof title) : 0;
    return std::string(title, n > 0 ? static_cast<size_t>(n) : 0);
}

bool activeChildMaximized() {
    BOOL maximized = FALSE;
    SendMessageA(g_frame.client, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&maximized));
    return maximized != FALSE;
}

void maximizeActiveChild() {
    HWND child = activeChild();
    if (child) SendMessageA(g_frame.client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0);
    gui::pump(100);
}

bool dumpWindowHasFocus() {
    HWND w = activeDump();
    return w && GetFocus() == w;
}

long long firstLine() { return state(0); }
long long pageLines() { return state(1); }
long long lineCount() { return state(2); }

std::vector<std::string> visibleLines() {
    std::vector<std::string> lines;
    HWND w = activeDump();
    if (!w) return lines;
    for (int row = 0; row < 10000; ++row) {
        char text[HEX_LINE_MAX + 1];
        LRESULT n = SendMessageA(w, WM_APP_DUMP_ROW, row, reinterpret_cast<LPARAM>(text));
        if (n <= 0) break;
        lines.emplace_back(text, static_cast<size_t>(n));
    }
    return lines;
}

int scrollPosition() { return scrollInfo().nPos; }

int scrollLimit() {
    SCROLLINFO si = scrollInfo();
    if (si.nMax < 0) return -1;
    int page = si.nPage > 0 ? static_cast<int>(si.nPage) : 1;
    return si.nMax - page + 1 > 0 ? si.nMax - page + 1 : 0;
}

void pressKey(Key key) {
    static const WPARAM KEYS[] = {VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END};
    HWND w = activeDump();
    if (!w) return;
    // Through the message loop, as a key press arrives.
    PostMessageA(w, WM_KEYDOWN, KEYS[key], 1);
    PostMessageA(w, WM_KEYUP, KEYS[key], 0xC0000001);
    gui::pump(30);
}

void turnWheel(int delta) {
    HWND w = activeDump();
    if (!w) return;
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))), 0);
    gui::pump(30);
}

int wheelLines() {
    UINT lines = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    return static_cast<int>(lines);
}

void dragThumb(int position) {
    HWND w = activeDump();
    if (!w) return;
    // A drag leaves the thumb there; the messages carry only 16 bits of it.
    SetScrollPos(w, SB_VERT, position, FALSE);
    WORD low = static_cast<WORD>(position & 0xFFFF);
    SendMessageA(w, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, low), 0);
    SendMessageA(w, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, low), 0);
    SendMessageA(w, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    gui::pump(30);
}

bool writeSparse(const std::string& path, long long size, const std::string& tail) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size - static_cast<long long>(tail.size());
    DWORD written = 0;
    bool ok = SetFilePointerEx(f, at, nullptr, FILE_BEGIN) &&
              WriteFile(f, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr) && written == tail.size();
    CloseHandle(f);
    return ok;
}

bool activeChildSpan(int* left, int* right, int* clientWidth) {
    HWND w = activeDump();
    if (!w) return false;
    RECT r, area;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, g_frame.client, reinterpret_cast<POINT*>(&r), 2);
    GetClientRect(g_frame.client, &area);
    *left = r.left;
    *right = r.right;
    *clientWidth = area.right;
    return true;
}

}  // namespace dumpgui
