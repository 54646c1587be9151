// Win32 side of the helpers of viewfaults_gui.h.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstring>

#include "app.h"
#include "gui.h"
#include "viewfaults_gui.h"

namespace viewgui {

using gui::pump;

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

void dropOnFrame(const std::vector<std::string>& paths) {
    size_t chars = 1;
    for (const std::string& p : paths) chars += p.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + chars);
    if (!block) return;
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& p : paths) {
        memcpy(at, p.c_str(), p.size() + 1);
        at += p.size() + 1;
    }
    *at = '\0';
    GlobalUnlock(block);
    PostMessageA(g_frame.frame, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);  // the frame frees it
    pump(150);
}

bool frameAcceptsFiles() { return (GetWindowLongA(g_frame.frame, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0; }

void pressButton(void* dialog, int id) {
    Search s = {id, nullptr};
    EnumChildWindows(static_cast<HWND>(dialog), findControl, reinterpret_cast<LPARAM>(&s));
    if (s.found) SendMessageA(s.found, BM_CLICK, 0, 0);
}

namespace {
HWND findControl(void* dialog, int id) {
    Search s = {id, nullptr};
    EnumChildWindows(static_cast<HWND>(dialog), findControl, reinterpret_cast<LPARAM>(&s));
    return s.found;
}
}  // namespace

std::string controlText(void* dialog, int id) {
    HWND w = findControl(dialog, id);
    char text[512] = {};
    if (w) GetWindowTextA(w, text, sizeof text);
    return text;
}

bool controlChecked(void* dialog, int id) {
    HWND w = findControl(dialog, id);
    return w && SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void selectInOpenDialog(void* dialog, const std::string& name) {
    HWND d = static_cast<HWND>(dialog);
    HWND edit = GetDlgItem(d, cmb13);
    if (!edit) edit = GetDlgItem(d, edt1);
    if (edit) SetWindowTextA(edit, name.c_str());
    HWND preview = findControl(dialog, IDC_OPEN_PREVIEW);
    if (!preview) return;
    NMHDR header;
    header.hwndFrom = d;
    header.idFrom = 0;
    header.code = CDN_SELCHANGE;
    SendMessageA(GetParent(preview), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    pump(50);
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
