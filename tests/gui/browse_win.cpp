// Win32 side of the browser's GUI test helpers: reads the browser back
// through browserState and drives it without the folder picker.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "browse.h"
#include "browse_gui.h"
#include "gui.h"

namespace browsegui {

namespace {

Box boxOf(const RECT& r) {
    Box b;
    b.left = r.left;
    b.top = r.top;
    b.right = r.right;
    b.bottom = r.bottom;
    return b;
}

HWND listWindow() { return g_frame.browser ? GetDlgItem(g_frame.browser, IDC_BROWSE_LIST) : nullptr; }

}  // namespace

State state() {
    State s;
    BrowserState b;
    if (!browserState(&b)) return s;
    s.exists = true;
    s.folder = b.folder;
    char title[600];
    int n = GetWindowTextA(g_frame.browser, title, sizeof title);
    s.title.assign(title, n > 0 ? static_cast<size_t>(n) : 0);
    s.names = b.names;
    s.largeThumb = b.largeThumb;
    s.smallThumb = b.smallThumb;
    for (uint8_t f : b.flags) s.flags.push_back(f);
    s.descriptions = b.descriptions;
    s.firstRow = b.columnTexts;
    switch (b.viewStyle) {
    case LVS_ICON: s.viewStyle = "icon"; break;
    case LVS_REPORT: s.viewStyle = "report"; break;
    case LVS_LIST: s.viewStyle = "list"; break;
    default: s.viewStyle = "small"; break;
    }
    s.selected = b.selectedCount;
    s.building = b.building;
    s.tree = boxOf(b.tree);
    s.list = boxOf(b.list);
    s.preview = boxOf(b.preview);
    s.previewEntry = b.previewEntry;
    s.bubble = b.bubbleText;
    s.previewWidth = b.previewWidth;
    s.previewHeight = b.previewHeight;
    s.previewZoom = b.previewZoom;
    return s;
}

bool waitForThumbnails(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        gui::pump(20);
        BrowserState b;
        if (browserState(&b) && !b.building) return true;
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
    return false;
}

void select(const std::vector<int>& positions) {
    browserSelect(positions);
    gui::pump(200);  // the preview follows a moment later
}

int positionOf(const std::string& name) {
    State s = state();
    for (size_t i = 0; i < s.names.size(); ++i)
        if (s.names[i] == name) return static_cast<int>(i);
    return -1;
}

int copyTo(const std::string& folder, bool move) { return browserCopyTo(folder, move); }
bool rename(int position, const std::string& name) { return browserRename(position, name); }
bool describe(int position, const std::string& text) { return browserDescribe(position, text); }

void open(int position) {
    browserOpenPosition(position);
    gui::pump(200);
}

std::string readFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

long long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool setHidden(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && SetFileAttributesA(path.c_str(), a | FILE_ATTRIBUTE_HIDDEN);
}

std::vector<std::string> headings() {
    std::vector<std::string> out;
    HWND header = listWindow() ? reinterpret_cast<HWND>(SendMessageA(listWindow(), LVM_GETHEADER, 0, 0)) : nullptr;
    if (!header || !(GetWindowLongA(listWindow(), GWL_STYLE) & LVS_REPORT)) return out;
    int n = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char text[128] = "";
        HDITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        out.push_back(text);
    }
    return out;
}

std::string statusText() { return gui::statusText(0); }

std::string windowsPathOf(const std::string& unixPath) {
    WCHAR* wide = wine_get_dos_file_name(unixPath.c_str());
    if (!wide) return std::string();
    char path[MAX_PATH + 1];
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return n > 0 ? std::string(path) : std::string();
}

void dropOnBrowser(const std::vector<std::string>& paths) {
    size_t chars = 1;
    for (const std::string& p : paths) chars += p.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + chars);
    if (!block || !g_frame.browser) return;
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
    PostMessageA(g_frame.browser, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);  // the browser frees it
    gui::pump(300);
}

void dragOutToToolBar() {
    RECT r;
    GetWindowRect(g_frame.toolBar, &r);
    browserDragOut(r.right - 8, (r.top + r.bottom) / 2);
    gui::pump(300);
}

void hover(int position) { browserHover(position); }

bool linkCopies(const std::string& file, const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "p%03d.bmp", i);
        if (!CreateHardLinkA((folder + name).c_str(), file.c_str(), nullptr)) return false;
    }
    return true;
}

bool isReadOnly(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

bool isHidden(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN);
}

bool itemEnabled(void* dialog, int id) { return IsWindowEnabled(GetDlgItem(static_cast<HWND>(dialog), id)) != 0; }

namespace {
HWND treeWindow() { return g_frame.browser ? GetDlgItem(g_frame.browser, IDC_BROWSE_TREE) : nullptr; }

std::string treeText(HWND tree, HTREEITEM item) {
    char text[MAX_PATH + 1] = "";
    TVITEMA it;
    memset(&it, 0, sizeof it);
    it.mask = TVIF_TEXT;
    it.hItem = item;
    it.pszText = text;
    it.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return text;
}
}  // namespace

bool selectInTree(const std::string& name) {
    HWND tree = treeWindow();
    if (!tree) return false;
    HTREEITEM current = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!current) return false;
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(current));
    for (HTREEITEM child = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(current)));
         child; child = reinterpret_cast<HTREEITEM>(
                    SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        if (treeText(tree, child) != name) continue;
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
        gui::pump(200);
        return true;
    }
    return false;
}

std::string treeSelectionText() {
    HWND tree = treeWindow();
    HTREEITEM current = tree ? reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) : nullptr;
    return current ? treeText(tree, current) : std::string();
}

bool makeFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

void setItemText(void* dialog, int id, const std::string& text) {
    SetDlgItemTextA(static_cast<HWND>(dialog), id, text.c_str());
}

}  // namespace browsegui
