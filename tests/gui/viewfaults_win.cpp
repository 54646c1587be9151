// Win32 side of the helpers of viewfaults_gui.h.
#include <windows.h>
#include <commctrl.h>

#include "app.h"
#include "viewfaults_gui.h"

namespace viewgui {

namespace {

Box boxOf(const RECT& r) {
    Box b;
    b.left = r.left;
    b.top = r.top;
    b.right = r.right;
    b.bottom = r.bottom;
    return b;
}

int visibleHeight(HWND w) {
    if (!w || !IsWindowVisible(w)) return 0;
    RECT r;
    GetWindowRect(w, &r);
    return r.bottom - r.top;
}

}  // namespace

Box clientArea() {
    RECT r = {};
    if (!g_frame.client) return Box();
    GetWindowRect(g_frame.client, &r);
    MapWindowPoints(nullptr, g_frame.frame, reinterpret_cast<POINT*>(&r), 2);
    return boxOf(r);
}

Box frameClient() {
    RECT r = {};
    if (g_frame.frame) GetClientRect(g_frame.frame, &r);
    return boxOf(r);
}

int toolBarHeight() { return visibleHeight(g_frame.toolBar); }
int statusBarHeight() { return visibleHeight(g_frame.statusBar); }

Box activeChildOnScreen() {
    HWND child = activeChild();
    RECT r = {};
    if (!child) return Box();
    GetClientRect(child, &r);
    MapWindowPoints(child, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return boxOf(r);
}

int screenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int screenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

bool clientHasEdge() {
    return g_frame.client && (GetWindowLongA(g_frame.client, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
}

int toolBarImageCount() {
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(SendMessageA(g_frame.toolBar, TB_GETIMAGELIST, 0, 0));
    return list ? ImageList_GetImageCount(list) : 0;
}

unsigned frameColour(int x, int y) {
    POINT p = {x, y};
    ClientToScreen(g_frame.frame, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return static_cast<unsigned>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

int toolBarDisabledImageCount() {
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(SendMessageA(g_frame.toolBar, TB_GETDISABLEDIMAGELIST, 0, 0));
    return list ? ImageList_GetImageCount(list) : 0;
}

namespace {
struct Search {
    int id;
    HWND found;
};
BOOL CALLBACK findControl(HWND w, LPARAM datum) {
    auto* s = reinterpret_cast<Search*>(datum);
    if (GetDlgCtrlID(w) != s->id) return TRUE;
    s->found = w;
    return FALSE;
}
}  // namespace

namespace {
BOOL CALLBACK collectLabel(HWND w, LPARAM datum) {
    auto* clipped = reinterpret_cast<std::vector<std::string>*>(datum);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    LONG style = GetWindowLongA(w, GWL_STYLE);
    int kind = style & SS_TYPEMASK;
    if (lstrcmpiA(cls, "Static") != 0 || (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT)) return TRUE;
    char text[512] = {};
    int n = GetWindowTextA(w, text, sizeof text);
    if (n <= 0) return TRUE;
    RECT box;
    GetClientRect(w, &box);
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)));
    RECT need = box;
    DrawTextA(dc, text, n, &need, DT_CALCRECT | DT_WORDBREAK | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    if (need.right > box.right || need.bottom > box.bottom) clipped->push_back(text);
    return TRUE;
}
}  // namespace

std::vector<std::string> clippedLabels(void* dialog) {
    std::vector<std::string> clipped;
    EnumChildWindows(static_cast<HWND>(dialog), collectLabel, reinterpret_cast<LPARAM>(&clipped));
    return clipped;
}

std::string imageMenuText(int id) {
    WCHAR wide[128];
    int n = GetMenuStringW(g_frame.imageMenu, static_cast<UINT>(id), wide, 128, MF_BYCOMMAND);
    if (n <= 0) return "";
    char text[512];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, n, text, sizeof text, nullptr, nullptr);
    return bytes > 0 ? std::string(text, static_cast<size_t>(bytes)) : "";
}

void pressButton(void* dialog, int id) {
    Search s = {id, nullptr};
    EnumChildWindows(static_cast<HWND>(dialog), findControl, reinterpret_cast<LPARAM>(&s));
    if (s.found) SendMessageA(s.found, BM_CLICK, 0, 0);
}

bool dialogOnTop(void* dialog) {
    HWND d = static_cast<HWND>(dialog);
    if (GetActiveWindow() != d) return false;
    // Walking down the z-order from the dialog meets the frame.
    for (HWND w = GetWindow(d, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == g_frame.frame) return true;
    return false;
}

}  // namespace viewgui
